// Which of a profile's cookies go with one local-copy download, and their Cookie header.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A cookie as the web view's cookie store reports it.
struct CookieRecord {
    std::string name;
    std::string value;
    std::string domain; // with or without a leading "."
    std::string path; // "" means "/"
    bool hostOnly = false; // set without a Domain attribute: only its exact host
    bool secure = false;
    std::optional<double> expires; // seconds since the Unix epoch; none for a session cookie
};

// The cookies a browser sends with a request for url at time `now`: host-only ones to their
// exact host, domain ones to the domain and its sub-domains (never for an IP address host),
// path on a "/" boundary ("/a" covers "/a" and "/a/b", not "/ab"), secure ones only over https,
// expired ones never. Longer paths first, otherwise in the store's order.
std::vector<CookieRecord> cookiesForURL(
    const std::vector<CookieRecord>& cookies, std::string_view url, double now);

// "a=1; b=2"; a cookie whose name or value could break the header (CR, LF, NUL, ";") is left
// out. Empty when nothing is left: then no Cookie header is set.
std::string cookieHeaderValue(const std::vector<CookieRecord>& cookies);

} // namespace qv

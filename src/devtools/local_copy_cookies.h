// Which of a profile's cookies go with one local-copy download, and their Cookie header.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A cookie's SameSite attribute as the store reports it.
enum class CookieSameSite { None, Lax, Strict };

// A cookie as the web view's cookie store reports it.
struct CookieRecord {
    std::string name;
    std::string value;
    std::string domain; // with or without a leading "."
    std::string path; // "" means "/"
    bool hostOnly = false; // set without a Domain attribute: only its exact host
    bool secure = false;
    std::optional<double> expires; // seconds since the Unix epoch; none for a session cookie
    CookieSameSite sameSite = CookieSameSite::Lax;
};

// Whether a request goes to the site of the page that names it.
enum class RequestSite { Same, Cross };

// The registrable domain of a host ("example.co.uk" for "a.b.example.co.uk"), or nothing when
// it has none (an IP address, "localhost", a public suffix itself).
using RegistrableDomainOf = std::function<std::optional<std::string>(std::string_view host)>;

// Same site when both addresses are http(s) with the same scheme and their hosts share a
// registrable domain (a host without one only matches itself); anything else is cross-site.
RequestSite requestSite(std::string_view requestURL, std::string_view pageURL,
    const RegistrableDomainOf& registrableDomain);

// The cookies a browser sends with a request for url at time `now` from a page of `site`:
// host-only ones to their exact host, domain ones to the domain and its sub-domains (never for
// an IP address host), path on a "/" boundary ("/a" covers "/a" and "/a/b", not "/ab"), secure
// ones only over https, expired ones never. Strict and Lax cookies only go to the page's own
// site; to another site only SameSite=None cookies that are Secure. Longer paths first,
// otherwise in the store's order.
std::vector<CookieRecord> cookiesForURL(
    const std::vector<CookieRecord>& cookies, std::string_view url, double now, RequestSite site);

// The Referer a page's sub-resource request carries under the engine's default policy: the
// page's address (without fragment) to its own origin, only its origin ("https://host/") to
// another one, and nothing from an https page to an http address or for a page that is not
// http(s).
std::optional<std::string> refererFor(std::string_view requestURL, std::string_view pageURL);

// "a=1; b=2"; a cookie whose name or value could break the header (CR, LF, NUL, ";") is left
// out. Empty when nothing is left: then no Cookie header is set.
std::string cookieHeaderValue(const std::vector<CookieRecord>& cookies);

} // namespace qv

// A strict reading of http(s) and file addresses: the parts the local copy and editor use.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

struct WebAddress {
    std::string scheme; // lower-cased
    std::string host; // lower-cased, without brackets for an IPv6 literal; may be empty
    std::string port; // digits, or empty
    std::string path; // as written, still percent-encoded
    std::optional<std::string> query; // as written, without "?"; empty when "?" ends the path
    std::optional<std::string> fragment;

    bool isHTTP() const { return scheme == "http" || scheme == "https"; }
};

// An absolute "scheme://authority/path?query#fragment" or "file:" address. Nothing for text
// holding spaces or control bytes, and for a host with anything but letters, digits and
// "-._~:" (so a host can never be "..", hold "/" or "%").
std::optional<WebAddress> parseWebAddress(std::string_view text);

// The address without its fragment.
std::string withoutFragment(std::string_view text);

// "b.css" for "/a/b.css", "a" for "/a/", "/" for "" or "/".
std::string lastURLPathComponent(std::string_view path);

} // namespace qv

// The one URL parser, percent-encoder and decoder; every layer reads addresses through them.
#include "base/url.h"

#include "base/text_util.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isHex(char c) { return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isUnreserved(char c) { return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

bool isSubDelim(char c) { return c != '\0' && std::strchr("!$&'()*+,;=", c); }

bool isDigits(std::string_view s)
{
    for (char c : s)
        if (!isAsciiDigit(c))
            return false;
    return true;
}

bool isEscapeAt(std::string_view s, size_t i)
{
    return s[i] == '%' && i + 2 < s.size() && isHex(s[i + 1]) && isHex(s[i + 2]);
}

// Every character is allowed by the predicate or is a complete "%XX" escape.
template <class Allowed> bool isEscapedRun(std::string_view s, Allowed allowed)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            if (!isEscapeAt(s, i))
                return false;
            i += 2;
        } else if (!allowed(s[i])) {
            return false;
        }
    }
    return true;
}

bool isPchar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@'; }
bool isPathChar(char c) { return isPchar(c) || c == '/'; }
bool isQueryChar(char c) { return isPchar(c) || c == '/' || c == '?'; }
bool isUserInfoChar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; }
bool isRegNameChar(char c) { return isUnreserved(c) || isSubDelim(c); }

bool isIPv4Literal(std::string_view s)
{
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        while (i < s.size() && isAsciiDigit(s[i]) && i - start < 4)
            ++i;
        size_t len = i - start;
        if (len == 0 || len > 3 || (len > 1 && s[start] == '0'))
            return false;
        int value = 0;
        for (size_t k = start; k < i; ++k)
            value = value * 10 + (s[k] - '0');
        if (value > 255)
            return false;
        ++parts;
        if (i == s.size())
            return parts == 4;
        if (s[i] != '.' || parts == 4)
            return false;
        ++i;
    }
}

bool isBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
}

bool parseAuthority(std::string_view authority, URLParts& parts, bool strict)
{
    if (!strict && authority.find('\\') != std::string_view::npos)
        return false;
    // The last "@" ends the user info; Strict refuses a second one as a user info byte.
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        if (strict && !isEscapedRun(userInfo, isUserInfoChar))
            return false;
        parts.userInfo = std::string(userInfo);
        authority.remove_prefix(at + 1);
    }
    std::string_view rest;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos
            || (strict && !isIPv6Literal(authority.substr(1, close - 1))))
            return false;
        parts.host = std::string(authority.substr(1, close - 1));
        parts.hostIsIPv6 = true;
        rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return false;
    } else {
        size_t colon = authority.find(':');
        std::string_view host = authority.substr(0, colon);
        if (strict && !isEscapedRun(host, isRegNameChar))
            return false;
        parts.host = std::string(host);
        rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    if (!rest.empty()) {
        std::string_view port = rest.substr(1);
        if (strict && !isURLPort(port))
            return false;
        parts.port = std::string(port);
    }
    return true;
}

// What follows the first `mark` moves from rest into part (fragment and query share one byte
// set); false when Strict refuses its bytes.
bool splitOff(std::string_view& rest, char mark, std::optional<std::string>& part, bool strict)
{
    size_t at = rest.find(mark);
    if (at == std::string_view::npos)
        return true;
    std::string_view text = rest.substr(at + 1);
    if (strict && !isEscapedRun(text, isQueryChar))
        return false;
    part = std::string(text);
    rest = rest.substr(0, at);
    return true;
}

bool isPlainHostByte(char c)
{
    return isAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':';
}

bool isKept(char c, URLComponent component)
{
    auto byte = static_cast<unsigned char>(c);
    switch (component) {
    case URLComponent::SearchQuery:
        if (c == '+' || c == '&' || c == '=')
            return false;
        return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/' || c == '?';
    case URLComponent::Fragment:
        return isQueryChar(c);
    case URLComponent::Path:
        return isPathChar(c);
    case URLComponent::LinkSegment:
        return isPathChar(c) && c != '/' && c != ':';
    case URLComponent::RelativePath:
        // ":" would make the first segment a scheme; "\" is a separator in file addresses.
        return byte > 0x20 && byte < 0x7F && c != '%' && c != '#' && c != '?' && c != '\\'
            && c != ':';
    case URLComponent::FileName:
        return byte >= 0x20 && byte != 0x7F;
    case URLComponent::PortableFileName:
        return isAsciiAlnum(c) || c == '-' || c == '_' || c == '.';
    }
    return false;
}

int hexValue(char c) { return isAsciiDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

} // namespace

std::string URLParts::lowerScheme() const { return toLowerAscii(scheme); }

std::string URLParts::lowerHost() const { return toLowerAscii(host); }

bool URLParts::isHTTP() const
{
    std::string lower = lowerScheme();
    return lower == "http" || lower == "https";
}

std::string URLParts::hostText() const { return hostIsIPv6 ? "[" + host + "]" : host; }

std::string URLParts::effectivePort() const
{
    if (port && !port->empty())
        return *port;
    return lowerScheme() == "https" ? "443" : "80";
}

std::string URLParts::absoluteString() const
{
    std::string out;
    if (!scheme.empty())
        out += scheme + ":";
    if (hasAuthority) {
        out += "//";
        if (userInfo)
            out += *userInfo + "@";
        out += hostText();
        if (port)
            out += ":" + *port;
    }
    out += path;
    if (query)
        out += "?" + *query;
    if (fragment)
        out += "#" + *fragment;
    return out;
}

bool isIPv6Literal(std::string_view s)
{
    if (s.empty())
        return false;
    int groups = 0;
    bool compressed = false;
    size_t i = 0;
    if (startsWith(s, "::")) {
        compressed = true;
        i = 2;
        if (i == s.size())
            return true;
    } else if (s[0] == ':') {
        return false;
    }
    while (i < s.size()) {
        size_t start = i;
        while (i < s.size() && isHex(s[i]))
            ++i;
        if (i < s.size() && s[i] == '.') {
            // An IPv4 tail fills the last two groups.
            if (!isIPv4Literal(s.substr(start)))
                return false;
            groups += 2;
            break;
        }
        size_t len = i - start;
        if (len == 0 || len > 4)
            return false;
        ++groups;
        if (i == s.size())
            break;
        if (s[i] != ':')
            return false;
        ++i;
        if (i < s.size() && s[i] == ':') {
            if (compressed)
                return false;
            compressed = true;
            ++i;
            if (i == s.size())
                break;
        } else if (i == s.size()) {
            return false;
        }
    }
    return compressed ? groups <= 7 : groups == 8;
}

bool isURLPort(std::string_view s)
{
    if (!isDigits(s))
        return false;
    size_t first = s.find_first_not_of('0');
    if (first == std::string_view::npos)
        return true;
    std::string_view significant = s.substr(first);
    return significant.size() < 5 || (significant.size() == 5 && significant <= "65535");
}

std::optional<URLParts> parseURL(std::string_view text, URLSyntax syntax)
{
    bool strict = syntax == URLSyntax::Strict;
    if (!strict) {
        for (char c : text)
            if (isBlankOrControl(c))
                return std::nullopt;
    }
    URLParts parts;
    std::string_view rest = text;
    size_t colon = text.find(':');
    size_t delimiter = text.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0
        && (delimiter == std::string_view::npos || colon < delimiter) && isAsciiAlpha(text[0])) {
        std::string_view scheme = text.substr(0, colon);
        bool valid = true;
        for (char c : scheme)
            valid = valid && (isAsciiAlnum(c) || c == '+' || c == '-' || c == '.');
        if (valid) {
            parts.scheme = std::string(scheme);
            rest = text.substr(colon + 1);
        }
    }
    if (!strict && parts.scheme.empty())
        return std::nullopt;
    if (startsWith(rest, "//")) {
        rest.remove_prefix(2);
        size_t end = rest.find_first_of("/?#");
        parts.hasAuthority = true;
        if (!parseAuthority(rest.substr(0, end), parts, strict))
            return std::nullopt;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    if (!splitOff(rest, '#', parts.fragment, strict) || !splitOff(rest, '?', parts.query, strict))
        return std::nullopt;
    if (strict && !isEscapedRun(rest, isPathChar))
        return std::nullopt;
    // Without a scheme, a colon in the first segment would read as one.
    if (parts.scheme.empty() && !parts.hasAuthority) {
        std::string_view first = rest.substr(0, rest.find('/'));
        if (first.find(':') != std::string_view::npos)
            return std::nullopt;
    }
    parts.path = std::string(rest);
    return parts;
}

bool isHTTPURLWithHost(std::string_view text)
{
    auto parts = parseURL(text, URLSyntax::Loose);
    return parts && parts->isHTTP() && !parts->host.empty();
}

std::optional<URLParts> parsePlainAddress(std::string_view text)
{
    auto parts = parseURL(text, URLSyntax::Loose);
    if (!parts || (parts->isHTTP() && !parts->hasAuthority))
        return std::nullopt;
    if (parts->port && !isDigits(*parts->port))
        return std::nullopt;
    bool onlyDots = true;
    for (char c : parts->host) {
        if (!isPlainHostByte(c))
            return std::nullopt;
        onlyDots = onlyDots && c == '.';
    }
    if (!parts->host.empty() && onlyDots)
        return std::nullopt;
    parts->scheme = parts->lowerScheme();
    parts->host = parts->lowerHost();
    return parts;
}

namespace {

// RFC 3986 5.2.4: "." and ".." segments go, ".." taking the segment before it along.
std::string withoutDotSegments(std::string_view path)
{
    std::vector<std::string_view> kept;
    bool absolute = startsWith(path, "/");
    std::size_t start = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        std::string_view segment
            = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        bool last = end == std::string_view::npos;
        if (segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            if (!kept.empty())
                kept.pop_back();
            trailingSlash = last;
        } else {
            kept.push_back(segment);
            trailingSlash = false;
        }
        if (last)
            break;
        start = end + 1;
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            out += '/';
        out += kept[i];
    }
    if (trailingSlash && !kept.empty())
        out += '/';
    return out;
}

// What a browser does to a written reference before parsing it: blanks around it and tabs or
// line breaks inside go, "\" is "/", other bytes outside the URL set are escaped.
std::string cleanedReference(std::string_view reference)
{
    while (!reference.empty() && static_cast<unsigned char>(reference.front()) <= 0x20)
        reference.remove_prefix(1);
    while (!reference.empty() && static_cast<unsigned char>(reference.back()) <= 0x20)
        reference.remove_suffix(1);
    std::string out;
    static const char* hex = "0123456789ABCDEF";
    for (char c : reference) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '\\') {
            out += '/';
        } else if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>`{}|^[]", c)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::optional<std::string> resolveURLReference(std::string_view base, std::string_view reference)
{
    auto from = parseURL(base, URLSyntax::Strict);
    std::string cleaned = cleanedReference(reference);
    auto ref = parseURL(cleaned, URLSyntax::Strict);
    if (!from || !from->isHTTP() || !from->hasAuthority || !ref)
        return std::nullopt;
    URLParts target;
    if (!ref->scheme.empty()) {
        target = *ref;
        target.path = withoutDotSegments(ref->path);
    } else {
        target.scheme = from->scheme;
        if (ref->hasAuthority) {
            target.hasAuthority = true;
            target.userInfo = ref->userInfo;
            target.host = ref->host;
            target.hostIsIPv6 = ref->hostIsIPv6;
            target.port = ref->port;
            target.path = withoutDotSegments(ref->path);
            target.query = ref->query;
        } else {
            target.hasAuthority = true;
            target.userInfo = from->userInfo;
            target.host = from->host;
            target.hostIsIPv6 = from->hostIsIPv6;
            target.port = from->port;
            if (ref->path.empty()) {
                target.path = from->path;
                target.query = ref->query ? ref->query : from->query;
            } else {
                if (startsWith(ref->path, "/")) {
                    target.path = withoutDotSegments(ref->path);
                } else {
                    std::string merged = from->path.empty() ? "/" : from->path;
                    merged = merged.substr(0, merged.rfind('/') + 1) + ref->path;
                    target.path = withoutDotSegments(merged);
                }
                target.query = ref->query;
            }
        }
        target.fragment = ref->fragment;
    }
    target.scheme = target.lowerScheme();
    target.host = target.lowerHost();
    if (target.isHTTP() && target.hasAuthority) {
        if (target.path.empty())
            target.path = "/";
        if (target.port && (target.port->empty() || (target.scheme == "http" && *target.port == "80")
                || (target.scheme == "https" && *target.port == "443")))
            target.port.reset();
    }
    return target.absoluteString();
}

std::string withoutFragment(std::string_view text)
{
    return std::string(text.substr(0, text.find('#')));
}

std::string lastURLPathComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path.empty() || path == "/")
        return "/";
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string percentEncode(std::string_view text, URLComponent component, ExistingEscapes escapes)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if ((escapes == ExistingEscapes::Keep && isEscapeAt(text, i)) || isKept(c, component)) {
            out += c;
        } else {
            auto byte = static_cast<uint8_t>(c);
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text, MalformedEscapes malformed)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
        } else if (isEscapeAt(text, i)) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (malformed == MalformedEscapes::Keep) {
            out += text[i];
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::string fileURLFromPath(const fs::path& path)
{
    return "file://" + percentEncode(path.string(), URLComponent::Path);
}

std::optional<fs::path> pathFromFileURL(std::string_view text)
{
    auto url = parseURL(text, URLSyntax::Loose);
    if (!url || url->lowerScheme() != "file")
        return std::nullopt;
    if (!url->host.empty() && url->lowerHost() != "localhost")
        return std::nullopt;
    std::string path = *percentDecode(url->path, MalformedEscapes::Keep);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return std::nullopt;
    return fs::path(path);
}

} // namespace qv

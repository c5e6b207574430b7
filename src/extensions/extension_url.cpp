// URL parsing, percent-coding and path containment for the extension system.
#include "extensions/extension_url.h"

#include "base/text_util.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool isPathSafeURLByte(unsigned char c)
{
    if (isAlpha(static_cast<char>(c)) || isDigit(static_cast<char>(c)))
        return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '/':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case '@':
    case ':':
        return true;
    default:
        return false;
    }
}

std::optional<URLSchemeSplit> splitURLScheme(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return std::nullopt;
    }
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0]))
        return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    return URLSchemeSplit { toLowerAscii(text.substr(0, colon)), text.substr(colon + 1) };
}

std::optional<ParsedURL> parseAbsoluteURL(std::string_view text)
{
    auto split = splitURLScheme(text);
    if (!split)
        return std::nullopt;
    ParsedURL url;
    url.scheme = std::move(split->scheme);
    std::string_view rest = split->rest;
    if (startsWith(rest, "//")) {
        rest.remove_prefix(2);
        size_t end = rest.find_first_of("/?#");
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        size_t at = authority.rfind('@');
        if (at != std::string_view::npos)
            authority.remove_prefix(at + 1);
        if (startsWith(authority, "[")) {
            size_t close = authority.find(']');
            if (close == std::string_view::npos)
                return std::nullopt;
            url.host = std::string(authority.substr(1, close - 1));
            std::string_view after = authority.substr(close + 1);
            if (!after.empty() && after[0] != ':')
                return std::nullopt;
        } else {
            url.host = std::string(authority.substr(0, authority.find(':')));
        }
    }
    url.path = std::string(rest.substr(0, rest.find_first_of("?#")));
    return url;
}

bool isHTTPURLWithHost(std::string_view text)
{
    auto url = parseAbsoluteURL(text);
    return url && (url->scheme == "http" || url->scheme == "https") && !url->host.empty();
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int high = hexValue(text[i + 1]);
            int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string fileURLFromPath(const fs::path& path)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path.string()) {
        if (isPathSafeURLByte(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::optional<fs::path> pathFromFileURL(std::string_view text)
{
    auto url = parseAbsoluteURL(text);
    if (!url || url->scheme != "file")
        return std::nullopt;
    if (!url->host.empty() && toLowerAscii(url->host) != "localhost")
        return std::nullopt;
    std::string path = percentDecode(url->path);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return std::nullopt;
    return fs::path(path);
}

fs::path standardizedPath(const fs::path& path)
{
    fs::path normal = path.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return fs::path(text);
}

namespace {

bool isStandardizedPathStrictlyInside(const std::string& p, const std::string& r)
{
    if (r == "/")
        return p.size() > 1 && p[0] == '/';
    return p.size() > r.size() && startsWith(p, r) && p[r.size()] == '/';
}

} // namespace

bool isPathInsideOrEqual(const fs::path& path, const fs::path& root)
{
    std::string p = standardizedPath(path).string();
    std::string r = standardizedPath(root).string();
    return p == r || isStandardizedPathStrictlyInside(p, r);
}

bool isPathStrictlyInside(const fs::path& path, const fs::path& root)
{
    return isStandardizedPathStrictlyInside(
        standardizedPath(path).string(), standardizedPath(root).string());
}

} // namespace qv

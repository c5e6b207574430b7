// Address parsing for the page source editor and the local copy.
#include "devtools/web_address.h"

#include "base/text_util.h"
#include "extensions/extension_url.h"

namespace qv {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHostByte(char c)
{
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':';
}

} // namespace

std::optional<WebAddress> parseWebAddress(std::string_view text)
{
    auto split = splitURLScheme(text);
    if (!split)
        return std::nullopt;
    WebAddress address;
    address.scheme = std::move(split->scheme);
    std::string_view rest = split->rest;

    size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        address.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    size_t question = rest.find('?');
    if (question != std::string_view::npos) {
        address.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }

    if (startsWith(rest, "//")) {
        rest.remove_prefix(2);
        size_t end = rest.find('/');
        std::string_view authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        size_t at = authority.rfind('@');
        if (at != std::string_view::npos)
            authority.remove_prefix(at + 1);
        std::string_view host;
        std::string_view port;
        if (startsWith(authority, "[")) {
            size_t close = authority.find(']');
            if (close == std::string_view::npos)
                return std::nullopt;
            host = authority.substr(1, close - 1);
            std::string_view after = authority.substr(close + 1);
            if (!after.empty() && after[0] != ':')
                return std::nullopt;
            port = after.empty() ? after : after.substr(1);
        } else {
            size_t portColon = authority.find(':');
            host = authority.substr(0, portColon);
            port = portColon == std::string_view::npos ? std::string_view()
                                                       : authority.substr(portColon + 1);
        }
        for (char c : port) {
            if (!isDigit(c))
                return std::nullopt;
        }
        bool onlyDots = true;
        for (char c : host) {
            if (!isHostByte(c))
                return std::nullopt;
            onlyDots = onlyDots && c == '.';
        }
        if (!host.empty() && onlyDots)
            return std::nullopt;
        address.host = toLowerAscii(host);
        address.port = std::string(port);
    } else if (address.isHTTP()) {
        return std::nullopt;
    }
    address.path = std::string(rest);
    return address;
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

} // namespace qv

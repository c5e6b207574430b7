// Cookie selection for local-copy downloads.
#include "devtools/local_copy_cookies.h"

#include "base/text_util.h"
#include "devtools/web_address.h"

#include <algorithm>

namespace qv {

namespace {

bool isIPAddress(std::string_view host)
{
    if (host.find(':') != std::string_view::npos)
        return true;
    if (host.empty())
        return false;
    for (char c : host) {
        if (!(c >= '0' && c <= '9') && c != '.')
            return false;
    }
    return true;
}

bool domainMatches(std::string_view host, const CookieRecord& cookie)
{
    std::string domain = toLowerAscii(cookie.domain);
    if (cookie.hostOnly)
        return host == domain;
    if (startsWith(domain, "."))
        domain.erase(0, 1);
    if (domain.empty())
        return false;
    if (host == domain)
        return true;
    return !isIPAddress(host) && host.size() > domain.size() + 1 && endsWith(host, domain)
        && host[host.size() - domain.size() - 1] == '.';
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath)
{
    if (requestPath.empty() || requestPath[0] != '/')
        requestPath = "/";
    if (cookiePath.empty() || cookiePath[0] != '/')
        cookiePath = "/";
    if (requestPath == cookiePath)
        return true;
    if (!startsWith(requestPath, cookiePath))
        return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

bool breaksHeader(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0;", 4)) != std::string_view::npos;
}

} // namespace

std::vector<CookieRecord> cookiesForURL(
    const std::vector<CookieRecord>& cookies, std::string_view url, double now)
{
    std::vector<CookieRecord> matches;
    auto address = parseWebAddress(url);
    if (!address || !address->isHTTP() || address->host.empty())
        return matches;
    for (const CookieRecord& cookie : cookies) {
        if (cookie.expires && !(*cookie.expires > now))
            continue;
        if (cookie.secure && address->scheme != "https")
            continue;
        if (!domainMatches(address->host, cookie) || !pathMatches(address->path, cookie.path))
            continue;
        matches.push_back(cookie);
    }
    std::stable_sort(matches.begin(), matches.end(),
        [](const CookieRecord& a, const CookieRecord& b) { return a.path.size() > b.path.size(); });
    return matches;
}

std::string cookieHeaderValue(const std::vector<CookieRecord>& cookies)
{
    std::string header;
    for (const CookieRecord& cookie : cookies) {
        if (breaksHeader(cookie.name) || breaksHeader(cookie.value)
            || cookie.name.find('=') != std::string::npos
            || (cookie.name.empty()
                && (cookie.value.empty() || cookie.value.find('=') != std::string::npos)))
            continue;
        if (!header.empty())
            header += "; ";
        header += cookie.name.empty() ? cookie.value : cookie.name + "=" + cookie.value;
    }
    return header;
}

} // namespace qv

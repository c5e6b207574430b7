// Cookie selection for local-copy downloads.
#include "devtools/local_copy_cookies.h"

#include "base/text_util.h"
#include "base/url.h"

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

bool sendsTo(const CookieRecord& cookie, RequestSite site)
{
    if (site == RequestSite::Same)
        return true;
    // A page never hands another site's Strict or Lax cookies to it, nor a None one in clear.
    return cookie.sameSite == CookieSameSite::None && cookie.secure;
}

std::string origin(const URLParts& address)
{
    bool ipv6 = address.host.find(':') != std::string::npos;
    std::string text = address.scheme + "://" + (ipv6 ? "[" + address.host + "]" : address.host);
    std::string port = address.effectivePort();
    if (port != (address.scheme == "https" ? "443" : "80"))
        text += ":" + port;
    return text + "/";
}

} // namespace

std::optional<std::string> refererFor(std::string_view requestURL, std::string_view pageURL)
{
    auto request = parsePlainAddress(requestURL);
    auto page = parsePlainAddress(pageURL);
    if (!request || !page || !request->isHTTP() || !page->isHTTP() || page->host.empty())
        return std::nullopt;
    if (page->scheme == "https" && request->scheme == "http")
        return std::nullopt;
    bool sameOrigin = request->scheme == page->scheme && request->host == page->host
        && request->effectivePort() == page->effectivePort();
    if (sameOrigin)
        return withoutFragment(pageURL);
    return origin(*page);
}

RequestSite requestSite(std::string_view requestURL, std::string_view pageURL,
    const RegistrableDomainOf& registrableDomain)
{
    auto request = parsePlainAddress(requestURL);
    auto page = parsePlainAddress(pageURL);
    if (!request || !page || !request->isHTTP() || !page->isHTTP() || request->host.empty()
        || page->host.empty() || request->scheme != page->scheme)
        return RequestSite::Cross;
    std::string requestHost = toLowerAscii(request->host);
    std::string pageHost = toLowerAscii(page->host);
    if (requestHost == pageHost)
        return RequestSite::Same;
    if (!registrableDomain)
        return RequestSite::Cross;
    auto requestDomain = registrableDomain(requestHost);
    auto pageDomain = registrableDomain(pageHost);
    if (!requestDomain || !pageDomain || requestDomain->empty())
        return RequestSite::Cross;
    return toLowerAscii(*requestDomain) == toLowerAscii(*pageDomain) ? RequestSite::Same
                                                                      : RequestSite::Cross;
}

std::vector<CookieRecord> cookiesForURL(
    const std::vector<CookieRecord>& cookies, std::string_view url, double now, RequestSite site)
{
    std::vector<CookieRecord> matches;
    auto address = parsePlainAddress(url);
    if (!address || !address->isHTTP() || address->host.empty())
        return matches;
    for (const CookieRecord& cookie : cookies) {
        if (cookie.expires && !(*cookie.expires > now))
            continue;
        if (cookie.secure && address->scheme != "https")
            continue;
        if (!sendsTo(cookie, site))
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

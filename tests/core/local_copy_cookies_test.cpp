// Which cookies go with a local-copy download, and the Cookie header made from them.
#include "devtools/local_copy_cookies.h"

#include <gtest/gtest.h>

#include <map>

namespace qv {

namespace {

constexpr double kNow = 1700000000;

CookieRecord cookie(std::string domain, std::string path, bool hostOnly = false,
    bool secure = false, std::optional<double> expires = std::nullopt)
{
    return { "n", "v", std::move(domain), std::move(path), hostOnly, secure, expires };
}

} // namespace

TEST(LocalCopyCookies, MatchingRules)
{
    struct Case {
        CookieRecord cookie;
        std::string url;
        bool sent;
    };
    const std::vector<Case> cases {
        { cookie("example.com", "/", true), "https://example.com/x", true },
        { cookie("example.com", "/", true), "https://www.example.com/x", false },
        { cookie("Example.COM", "/", true), "https://example.com/x", true },
        { cookie(".example.com", "/"), "https://www.example.com/x", true },
        { cookie("example.com", "/"), "https://a.b.example.com/x", true },
        { cookie("example.com", "/"), "https://example.com/x", true },
        { cookie("example.com", "/"), "https://badexample.com/x", false },
        { cookie("example.com", "/"), "https://example.com.evil.org/x", false },
        { cookie("0.1", "/"), "https://10.0.0.1/x", false },
        { cookie("10.0.0.1", "/"), "https://10.0.0.1/x", true },
        { cookie("", "/"), "https://example.com/x", false },
        { cookie("example.com", "/a", true), "https://example.com/a", true },
        { cookie("example.com", "/a", true), "https://example.com/a/b", true },
        { cookie("example.com", "/a", true), "https://example.com/ab", false },
        { cookie("example.com", "/a/", true), "https://example.com/a/b", true },
        { cookie("example.com", "/a/", true), "https://example.com/a", false },
        { cookie("example.com", "", true), "https://example.com/any", true },
        { cookie("example.com", "/", true), "https://example.com", true },
        { cookie("example.com", "/", true, true), "https://example.com/", true },
        { cookie("example.com", "/", true, true), "http://example.com/", false },
        { cookie("example.com", "/", true, false, kNow + 60), "http://example.com/", true },
        { cookie("example.com", "/", true, false, kNow), "http://example.com/", false },
        { cookie("example.com", "/", true, false, kNow - 60), "http://example.com/", false },
        { cookie("example.com", "/", true), "file:///example.com/", false },
    };
    for (const Case& c : cases) {
        bool sent = !cookiesForURL({ c.cookie }, c.url, kNow, RequestSite::Same).empty();
        EXPECT_EQ(sent, c.sent) << c.cookie.domain << " " << c.cookie.path << " " << c.url;
    }
}

TEST(LocalCopyCookies, HeaderListsLongerPathsFirstAndDropsUnsafeCookies)
{
    std::vector<CookieRecord> store {
        { "site", "1", "example.com", "/", true, false, std::nullopt },
        { "deep", "2", ".example.com", "/a/b", false, false, std::nullopt },
        { "evil", "x\r\nHost: other", "example.com", "/", true, false, std::nullopt },
        { "semi", "a;b", "example.com", "/", true, false, std::nullopt },
        { "", "bare", "example.com", "/", true, false, std::nullopt },
        { "other", "3", "other.org", "/", true, false, std::nullopt },
    };
    auto sent = cookiesForURL(store, "https://example.com/a/b/c", kNow, RequestSite::Same);
    EXPECT_EQ(cookieHeaderValue(sent), "deep=2; site=1; bare");
    EXPECT_EQ(
        cookieHeaderValue(cookiesForURL(store, "https://none.net/", kNow, RequestSite::Same)), "");
}

TEST(LocalCopyCookies, AnotherSiteGetsOnlySecureSameSiteNoneCookies)
{
    // What the engine sends with a page's sub-resource request to that cookie's host.
    auto make = [](CookieSameSite sameSite, bool secure) {
        CookieRecord c { "n", "v", ".bank.example", "/", false, secure, std::nullopt };
        c.sameSite = sameSite;
        return c;
    };
    struct Case {
        CookieRecord cookie;
        RequestSite site;
        bool sent;
    };
    const std::vector<Case> cases {
        { make(CookieSameSite::Strict, true), RequestSite::Same, true },
        { make(CookieSameSite::Lax, true), RequestSite::Same, true },
        { make(CookieSameSite::None, true), RequestSite::Same, true },
        { make(CookieSameSite::Lax, false), RequestSite::Same, true },
        { make(CookieSameSite::Strict, true), RequestSite::Cross, false },
        { make(CookieSameSite::Strict, false), RequestSite::Cross, false },
        { make(CookieSameSite::Lax, true), RequestSite::Cross, false },
        { make(CookieSameSite::Lax, false), RequestSite::Cross, false },
        { make(CookieSameSite::None, false), RequestSite::Cross, false },
        { make(CookieSameSite::None, true), RequestSite::Cross, true },
    };
    for (const Case& c : cases) {
        bool sent = !cookiesForURL({ c.cookie }, "https://www.bank.example/a.png", kNow, c.site)
                         .empty();
        EXPECT_EQ(sent, c.sent) << static_cast<int>(c.cookie.sameSite) << " secure "
                                << c.cookie.secure << " cross "
                                << (c.site == RequestSite::Cross);
    }
}

TEST(LocalCopyCookies, RefererCarriesThePageOnlyToItsOwnOrigin)
{
    const std::string page = "https://shop.example/account/orders?token=s3cret#top";
    struct Case {
        std::string request;
        std::optional<std::string> referer;
    };
    const std::vector<Case> cases {
        { "https://shop.example/img/a.png", "https://shop.example/account/orders?token=s3cret" },
        { "https://shop.example:443/a.js", "https://shop.example/account/orders?token=s3cret" },
        { "https://shop.example:8443/a.js", "https://shop.example/" },
        { "https://cdn.shop.example/a.js", "https://shop.example/" },
        { "https://tracker.test/p.gif", "https://shop.example/" },
        { "http://shop.example/a.js", std::nullopt },
        { "http://tracker.test/p.gif", std::nullopt },
        { "file:///etc/passwd", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(refererFor(c.request, page), c.referer) << c.request;
    EXPECT_EQ(refererFor("http://other.test/x", "http://127.0.0.1:8080/a?b"),
        "http://127.0.0.1:8080/");
    EXPECT_EQ(refererFor("http://127.0.0.1:8080/x", "http://127.0.0.1:8080/a?b"),
        "http://127.0.0.1:8080/a?b");
    EXPECT_EQ(refererFor("https://a.test/", "about:blank"), std::nullopt);
}

TEST(LocalCopyCookies, RequestSiteFollowsTheRegistrableDomainAndScheme)
{
    // A stand-in for the public suffix list: "github.io" and "co.uk" are suffixes, so a name
    // right below them is a site of its own; IP addresses and single labels have none.
    const std::map<std::string, std::string> sites {
        { "example.com", "example.com" },
        { "www.example.com", "example.com" },
        { "cdn.example.com", "example.com" },
        { "bank.example", "bank.example" },
        { "evil.example.org", "example.org" },
        { "example.com.evil.org", "evil.org" },
        { "victim.github.io", "victim.github.io" },
        { "evil.github.io", "evil.github.io" },
        { "a.shop.co.uk", "shop.co.uk" },
        { "b.shop.co.uk", "shop.co.uk" },
        { "bank.co.uk", "bank.co.uk" },
        { "evil.co.uk", "evil.co.uk" },
    };
    RegistrableDomainOf domain = [&](std::string_view host) -> std::optional<std::string> {
        auto found = sites.find(std::string(host));
        if (found == sites.end())
            return std::nullopt;
        return found->second;
    };
    struct Case {
        std::string request;
        std::string page;
        RequestSite site;
    };
    const std::vector<Case> cases {
        { "https://example.com/a.js", "https://example.com/", RequestSite::Same },
        { "https://cdn.example.com/a.js", "https://www.example.com/", RequestSite::Same },
        { "https://EXAMPLE.com:8443/a.js", "https://example.com/", RequestSite::Same },
        { "http://example.com/a.js", "https://example.com/", RequestSite::Cross },
        { "https://example.com/a.js", "http://example.com/", RequestSite::Cross },
        { "https://bank.example/a.png", "https://evil.example.org/", RequestSite::Cross },
        { "https://example.com.evil.org/", "https://example.com/", RequestSite::Cross },
        { "https://victim.github.io/a", "https://evil.github.io/", RequestSite::Cross },
        { "https://a.shop.co.uk/x", "https://b.shop.co.uk/", RequestSite::Same },
        { "https://bank.co.uk/x", "https://evil.co.uk/", RequestSite::Cross },
        { "http://127.0.0.1:8080/x", "http://127.0.0.1:9090/", RequestSite::Same },
        { "http://localhost/x", "http://127.0.0.1/", RequestSite::Cross },
        { "file:///etc/passwd", "https://example.com/", RequestSite::Cross },
        { "https://example.com/", "about:blank", RequestSite::Cross },
    };
    for (const Case& c : cases)
        EXPECT_EQ(requestSite(c.request, c.page, domain), c.site) << c.request << " " << c.page;
    EXPECT_EQ(requestSite("https://a.example.com/", "https://b.example.com/", nullptr),
        RequestSite::Cross);
}

} // namespace qv

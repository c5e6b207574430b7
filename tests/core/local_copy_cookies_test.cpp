// Which cookies go with a local-copy download, and the Cookie header made from them.
#include "devtools/local_copy_cookies.h"

#include <gtest/gtest.h>

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
        bool sent = !cookiesForURL({ c.cookie }, c.url, kNow).empty();
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
    auto sent = cookiesForURL(store, "https://example.com/a/b/c", kNow);
    EXPECT_EQ(cookieHeaderValue(sent), "deep=2; site=1; bare");
    EXPECT_EQ(cookieHeaderValue(cookiesForURL(store, "https://none.net/", kNow)), "");
}

} // namespace qv

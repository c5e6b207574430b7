// Favicons: icon sources, the fallback address, the download limit and the bounded cache.
#include "tabs/favicon_rules.h"

#include <gtest/gtest.h>

namespace qv {

struct SourceCase {
    std::string result;
    FaviconSource::Kind kind;
    std::string bytesOrAddress;
};

class FaviconSources : public testing::TestWithParam<SourceCase> { };

TEST_P(FaviconSources, ScriptResultDecidesInlineNetworkOrNothing)
{
    const auto& c = GetParam();
    auto source = faviconSourceFor(c.result);
    EXPECT_EQ(source.kind, c.kind) << c.result.substr(0, 60);
    if (c.kind == FaviconSource::Kind::Inline) {
        EXPECT_EQ(source.bytes, c.bytesOrAddress);
    }
    if (c.kind == FaviconSource::Kind::Network) {
        EXPECT_EQ(source.address, c.bytesOrAddress);
    }
}

INSTANTIATE_TEST_SUITE_P(Results, FaviconSources,
    testing::Values(SourceCase { "data:image/png;base64,iVBO\nRw0K", FaviconSource::Kind::Inline,
                        "\x89PNG\r\n" },
        SourceCase { "data:image/svg+xml,%3Csvg%2F%3E", FaviconSource::Kind::Inline, "<svg/>" },
        SourceCase { "data:image/svg+xml,%3Csvg%ZZ", FaviconSource::Kind::None, "" },
        SourceCase { "data:image/png;base64", FaviconSource::Kind::None, "" },
        SourceCase {
            "data:image/png;base64," + std::string(700001, 'A'), FaviconSource::Kind::None, "" },
        SourceCase { "data:text/html,<b>", FaviconSource::Kind::None, "" },
        SourceCase {
            "HTTPS://Site.test/i.ico", FaviconSource::Kind::Network, "HTTPS://Site.test/i.ico" },
        SourceCase { "http://site.test:8080/a/b.png?x=1", FaviconSource::Kind::Network,
            "http://site.test:8080/a/b.png?x=1" },
        SourceCase { "ftp://site.test/i.ico", FaviconSource::Kind::None, "" },
        SourceCase { "file:///etc/passwd", FaviconSource::Kind::None, "" },
        SourceCase { "https:///nohost.ico", FaviconSource::Kind::None, "" },
        SourceCase { "not an address", FaviconSource::Kind::None, "" }));

TEST(FaviconAddresses, FallbackIsFaviconIcoAtThePageOrigin)
{
    EXPECT_EQ(faviconFallbackAddress("https://user:pw@site.test:8443/a/b?q#f"),
        "https://site.test:8443/favicon.ico");
    EXPECT_EQ(faviconFallbackAddress("http://[::1]/x"), "http://[::1]/favicon.ico");
    EXPECT_FALSE(faviconFallbackAddress("about:blank"));
    EXPECT_FALSE(faviconFallbackAddress("file:///tmp/page.html"));
    EXPECT_EQ(faviconPageHost("https://site.test/x"), "site.test");
    EXPECT_FALSE(faviconPageHost("file:///tmp/page.html"));
}

struct DownloadCase {
    const char* name;
    std::optional<int> status;
    std::optional<std::uint64_t> contentLength;
    std::vector<size_t> chunks;
    size_t chunksTaken; // chunks accepted before the download stops
    bool icon;
};

class FaviconDownloadLimit : public testing::TestWithParam<DownloadCase> { };

TEST_P(FaviconDownloadLimit, StopsAsSoonAsTheLimitIsPassed)
{
    const auto& c = GetParam();
    FaviconDownload download(1000);
    size_t taken = 0;
    if (download.receiveResponse(c.status, c.contentLength)) {
        for (size_t size : c.chunks) {
            if (!download.receiveData(std::string(size, 'x')))
                break;
            ++taken;
        }
    }
    EXPECT_EQ(taken, c.chunksTaken) << c.name;
    EXPECT_EQ(download.finish().has_value(), c.icon) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Transfers, FaviconDownloadLimit,
    testing::Values(DownloadCase { "exactly the limit", 200, 1000, { 600, 400 }, 2, true },
        DownloadCase { "announced too long", 200, 1001, { 10 }, 0, false },
        DownloadCase { "unannounced too long", 200, std::nullopt, { 600, 401, 10 }, 1, false },
        DownloadCase { "lying length", 200, 10, { 999, 2 }, 1, false },
        DownloadCase { "empty body", 200, 0, {}, 0, false },
        DownloadCase { "status 399 accepted", 399, std::nullopt, { 5 }, 1, true },
        DownloadCase { "status 400 refused", 400, std::nullopt, { 5 }, 0, false },
        DownloadCase { "status 199 refused", 199, std::nullopt, { 5 }, 0, false },
        DownloadCase { "not HTTP", std::nullopt, std::nullopt, { 5 }, 1, true }));

TEST(FaviconCacheBound, EvictsTheLeastRecentlyUsedPastCapacity)
{
    FaviconCache<int> cache;
    for (int i = 0; i < 500; ++i)
        cache.insert("https://s.test/" + std::to_string(i), i);
    EXPECT_EQ(cache.size(), 500u);
    EXPECT_EQ(cache.find("https://s.test/0"), 0); // now the most recently used
    cache.insert("https://s.test/500", 500);
    EXPECT_EQ(cache.size(), 500u);
    EXPECT_TRUE(cache.contains("https://s.test/0"));
    EXPECT_FALSE(cache.contains("https://s.test/1"));
    cache.insert("https://s.test/2", -2); // replacing refreshes without evicting
    cache.insert("https://s.test/501", 501);
    EXPECT_EQ(cache.find("https://s.test/2"), -2);
    EXPECT_FALSE(cache.contains("https://s.test/3"));
    EXPECT_EQ(cache.size(), 500u);
}

TEST(FaviconCacheBound, KeysAreTheAddressExactlyAsGiven)
{
    FaviconCache<std::string> cache(2);
    cache.insert("https://s.test/i.ico", "lower");
    EXPECT_FALSE(cache.find("https://S.test/i.ico"));
    cache.insert("https://s.test/a", "a");
    cache.insert("https://s.test/b", "b");
    EXPECT_FALSE(cache.contains("https://s.test/i.ico"));
    EXPECT_EQ(cache.find("https://s.test/b"), "b");
}

} // namespace qv

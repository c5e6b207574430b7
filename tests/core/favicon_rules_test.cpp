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

struct MarkupCase {
    const char* markup;
    std::optional<std::string> address; // nothing: only the script can tell
};

class FaviconMarkup : public testing::TestWithParam<MarkupCase> { };

TEST_P(FaviconMarkup, GivesTheScriptsAnswerOrLeavesItToTheScript)
{
    EXPECT_EQ(faviconFromMarkup(GetParam().markup, "http://site.test:81/a/page.html?q#f"),
        GetParam().address)
        << GetParam().markup;
}

INSTANTIATE_TEST_SUITE_P(Pages, FaviconMarkup,
    testing::Values(MarkupCase { "<title>T</title><p>No icon", "http://site.test:81/favicon.ico" },
        MarkupCase { "<LINK REL='Shortcut ICON' HREF=../i.png?a=1&amp;b=2#x>",
            "http://site.test:81/i.png?a=1&b=2#x" },
        MarkupCase { "<link rel=stylesheet href=s.css><link href='/first.ico' rel=\"icon\">"
                     "<link rel=icon href=second.ico>",
            "http://site.test:81/first.ico" },
        MarkupCase { "<body><p>late</p><link rel=\"apple-touch-icon icon\" href=\"//cdn.test/i\">",
            "http://cdn.test/i" },
        MarkupCase { "<link rel=icon href=' data:image/png;base64,iVBO\nRw0K '>",
            "data:image/png;base64,iVBORw0K" },
        // Text and comments that only look like links.
        MarkupCase { "<!-- <link rel=icon href=c.ico> --><title><link rel=icon href=t.ico>"
                     "</title ><textarea><link rel=icon href=x></TEXTAREA><!--->"
                     "<style>a{}</style><link rel=icon href=real.ico>",
            "http://site.test:81/a/real.ico" },
        MarkupCase { "<title>never closed <link rel=icon href=t.ico>",
            "http://site.test:81/favicon.ico" },
        MarkupCase { "<link rel=icon href=\"cut.ico", "http://site.test:81/favicon.ico" },
        MarkupCase { "<link rel=icon href=a.ico rel=stylesheet href=b.ico>",
            "http://site.test:81/a/a.ico" },
        // What only running the page can tell.
        MarkupCase { "<script>document.head.innerHTML += '<link rel=icon href=s.ico>'</script>",
            std::nullopt },
        MarkupCase { "<body onload=\"go()\"><link rel=icon href=i.ico>", std::nullopt },
        MarkupCase { "<a href=\"JavaScript:void 0\">x</a>", std::nullopt },
        MarkupCase { "<base href=/other/><link rel=icon href=i.ico>", std::nullopt },
        MarkupCase { "<noscript><link rel=icon href=n.ico></noscript>", std::nullopt },
        MarkupCase { "<svg><link rel=icon href=s.ico></svg>", std::nullopt },
        MarkupCase { "<template><link rel=icon href=t.ico></template>", std::nullopt },
        MarkupCase { "<!-- a --!><link rel=icon href=i.ico>", std::nullopt },
        MarkupCase { "<link rel=icon href=\"&copy;.ico\">", std::nullopt },
        MarkupCase { "<link rel=icon href=\"caf\xC3\xA9.ico\">", std::nullopt },
        MarkupCase { "<link rel=icon>", std::nullopt },
        MarkupCase { "<link rel=icon href=\"  \">", std::nullopt }));

TEST(FaviconMarkupLimits, OversizedOrWideTextIsLeftToTheScript)
{
    std::string page = "<link rel=icon href=i.ico>";
    EXPECT_TRUE(faviconFromMarkup(page, "http://site.test/"));
    EXPECT_FALSE(faviconFromMarkup(page + std::string(kMaxFaviconMarkupBytes, ' '), "http://site.test/"));
    EXPECT_FALSE(faviconFromMarkup("\xFF\xFE<\0l\0", "http://site.test/"));
    EXPECT_FALSE(faviconFromMarkup(page, "file:///tmp/page.html"));
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

namespace {

    std::string be32(std::uint32_t v)
    {
        return { char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
    }
    std::string le16(std::uint32_t v) { return { char(v), char(v >> 8) }; }
    std::string le32(std::uint32_t v) { return le16(v) + le16(v >> 16); }
    std::string be16(std::uint32_t v) { return { char(v >> 8), char(v) }; }

    std::string png(std::uint32_t width, std::uint32_t height)
    {
        return std::string("\x89PNG\r\n\x1A\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height)
            + std::string("\x08\x06\0\0\0", 5) + be32(0);
    }

    std::string jpeg(std::uint32_t width, std::uint32_t height, char sof = '\xC0')
    {
        std::string app0 = std::string("\xFF\xE0", 2) + be16(16) + std::string("JFIF\0", 5)
            + std::string(9, '\0');
        std::string frame = std::string("\xFF", 1) + sof + be16(17) + "\x08" + be16(height)
            + be16(width) + "\x03" + std::string(9, '\x11');
        return std::string("\xFF\xD8", 2) + app0 + frame + std::string("\xFF\xDA", 2) + be16(2);
    }

    std::string gifFrame(std::uint32_t left, std::uint32_t top, std::uint32_t w, std::uint32_t h)
    {
        return "," + le16(left) + le16(top) + le16(w) + le16(h)
            + std::string("\0\x02\x02\x4C\x01\0", 6);
    }

    std::string gif(std::uint32_t w, std::uint32_t h, const std::vector<std::string>& frames,
        bool trailer = true)
    {
        std::string bytes = "GIF89a" + le16(w) + le16(h) + std::string("\x80\0\0", 3)
            + std::string(6, '\0'); // a two-colour table
        bytes += std::string("\x21\xF9\x04\0\0\0\0\0", 8); // graphic control extension
        for (const auto& frame : frames)
            bytes += frame;
        return trailer ? bytes + ";" : bytes;
    }

    std::string dib(std::uint32_t width, std::uint32_t height)
    {
        return le32(40) + le32(width) + le32(height) + le16(1) + le16(32) + std::string(24, '\0');
    }

    std::string bmp(std::uint32_t width, std::uint32_t height)
    {
        return "BM" + le32(0) + le32(0) + le32(54) + dib(width, height);
    }

    // An icon file holding the given images, each a PNG or a bitmap header.
    std::string ico(const std::vector<std::string>& images)
    {
        std::string directory = std::string("\0\0\x01\0", 4) + le16(std::uint32_t(images.size()));
        std::string data;
        size_t offset = 6 + 16 * images.size();
        for (const auto& image : images) {
            directory += std::string(8, '\0') + le32(std::uint32_t(image.size()))
                + le32(std::uint32_t(offset + data.size()));
            data += image;
        }
        return directory + data;
    }

    constexpr const char* kSvg
        = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">"
          "<rect width=\"16\" height=\"16\"/></svg>";

    std::string svgWith(const std::string& inside)
    {
        return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\">" + inside
            + "</svg>";
    }

} // namespace

struct HeaderCase {
    const char* name;
    std::string bytes;
    std::optional<FaviconFormat> format; // nothing: refused before decoding
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class FaviconHeaders : public testing::TestWithParam<HeaderCase> { };

TEST_P(FaviconHeaders, DeclaredSizesAreCheckedBeforeAnyDecoder)
{
    const auto& c = GetParam();
    auto header = checkedFaviconHeader(c.bytes);
    ASSERT_EQ(header.has_value(), c.format.has_value()) << c.name;
    if (!header)
        return;
    EXPECT_EQ(header->format, *c.format) << c.name;
    EXPECT_EQ(header->width, c.width) << c.name;
    EXPECT_EQ(header->height, c.height) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Images, FaviconHeaders,
    testing::Values(HeaderCase { "png", png(16, 32), FaviconFormat::Png, 16, 32 },
        HeaderCase { "png at the limit", png(1024, 1024), FaviconFormat::Png, 1024, 1024 },
        HeaderCase { "png 60000 square", png(60000, 60000), std::nullopt },
        HeaderCase { "png one side too wide", png(1025, 1), std::nullopt },
        HeaderCase { "png zero height", png(16, 0), std::nullopt },
        HeaderCase { "png width past 2^31", png(0x80000010u, 16), std::nullopt },
        HeaderCase { "png cut in its header", png(16, 16).substr(0, 20), std::nullopt },
        HeaderCase { "png whose first chunk is not its header",
            std::string("\x89PNG\r\n\x1A\n", 8) + be32(13) + "tEXt" + be32(16) + be32(16),
            std::nullopt },
        HeaderCase { "jpeg", jpeg(48, 32), FaviconFormat::Jpeg, 48, 32 },
        HeaderCase { "progressive jpeg too large", jpeg(65535, 65535, '\xC2'), std::nullopt },
        HeaderCase { "jpeg with no frame before the scan",
            std::string("\xFF\xD8\xFF\xDA", 4) + be16(2), std::nullopt },
        HeaderCase { "jpeg whose segment runs off the end",
            std::string("\xFF\xD8\xFF\xE1", 4) + be16(60000), std::nullopt },
        HeaderCase { "jpeg of height zero", jpeg(16, 0), std::nullopt },
        HeaderCase { "gif", gif(16, 16, { gifFrame(0, 0, 16, 16) }), FaviconFormat::Gif, 16, 16 },
        HeaderCase { "gif without its trailer", gif(16, 16, { gifFrame(0, 0, 8, 8) }, false),
            FaviconFormat::Gif, 16, 16 },
        HeaderCase { "gif screen too large", gif(4000, 4000, {}), std::nullopt },
        HeaderCase { "gif frame larger than its screen",
            gif(16, 16, { gifFrame(0, 0, 16, 16), gifFrame(0, 0, 60000, 60000) }), std::nullopt },
        HeaderCase { "gif frame placed far outside",
            gif(16, 16, { gifFrame(65000, 65000, 16, 16) }), std::nullopt },
        HeaderCase { "gif frames past the pixel total",
            gif(1024, 1024, std::vector<std::string>(4, gifFrame(0, 0, 1024, 1024))),
            std::nullopt },
        HeaderCase { "gif cut inside a frame",
            gif(16, 16, { gifFrame(0, 0, 16, 16).substr(0, 6) }, false), std::nullopt },
        HeaderCase { "bmp", bmp(32, 32), FaviconFormat::Bmp, 32, 32 },
        HeaderCase { "bmp rows top-down", bmp(32, std::uint32_t(-32)), FaviconFormat::Bmp, 32, 32 },
        HeaderCase { "bmp too tall top-down", bmp(16, std::uint32_t(-100000)), std::nullopt },
        HeaderCase { "bmp negative width", bmp(std::uint32_t(-16), 16), std::nullopt },
        HeaderCase { "os/2 bmp",
            "BM" + le32(0) + le32(0) + le32(26) + le32(12) + le16(20) + le16(10),
            FaviconFormat::Bmp, 20, 10 },
        HeaderCase {
            "ico of bitmaps", ico({ dib(16, 32), dib(32, 64) }), FaviconFormat::Ico, 32, 32 },
        HeaderCase {
            "ico holding a png", ico({ dib(16, 32), png(48, 48) }), FaviconFormat::Ico, 48, 48 },
        HeaderCase {
            "ico holding a huge png", ico({ dib(16, 32), png(60000, 60000) }), std::nullopt },
        HeaderCase { "ico holding a huge bitmap", ico({ dib(20000, 40000) }), std::nullopt },
        HeaderCase { "ico entry pointing past the end",
            std::string("\0\0\x01\0\x01\0", 6) + std::string(8, '\0') + le32(40) + le32(9999),
            std::nullopt },
        HeaderCase { "ico without images", std::string("\0\0\x01\0\0\0", 6), std::nullopt },
        HeaderCase { "svg", kSvg, FaviconFormat::Svg, 0, 0 },
        HeaderCase { "svg after a declaration",
            std::string("\xEF\xBB\xBF <?xml version=\"1.0\"?>\n") + kSvg, FaviconFormat::Svg, 0,
            0 },
        HeaderCase { "svg declaring entities",
            std::string("<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY a \"aaaa\">]>") + kSvg,
            std::nullopt },
        HeaderCase { "svg embedding an image", svgWith("<image href=\"i.png\"/>"), std::nullopt },
        HeaderCase {
            "svg filter image", svgWith("<filter><feImage href=\"#a\"/></filter>"), std::nullopt },
        HeaderCase { "svg with a data address", svgWith("<use href=\"DATA:image/svg+xml,x\"/>"),
            std::nullopt },
        HeaderCase { "svg including a file",
            svgWith(
                "<i:include xmlns:i=\"http://www.w3.org/2001/XInclude\" href=\"/etc/passwd\"/>"),
            std::nullopt },
        HeaderCase { "compressed svg", std::string("\x1F\x8B\x08\0", 4), std::nullopt },
        HeaderCase {
            "html page", "<!doctype html><html><body>Not found</body></html>", std::nullopt },
        HeaderCase { "webp", "RIFF" + le32(30) + "WEBPVP8X" + std::string(18, '\0'), std::nullopt },
        HeaderCase { "tiff", std::string("II*\0", 4) + le32(8), std::nullopt },
        HeaderCase { "empty", "", std::nullopt }));

TEST(FaviconHeaders, DecoderSizesAreCheckedAndScaledToTheDisplaySize)
{
    EXPECT_TRUE(isAcceptableFaviconSize(1024, 1));
    EXPECT_FALSE(isAcceptableFaviconSize(1025, 1));
    EXPECT_FALSE(isAcceptableFaviconSize(16, 0));
    EXPECT_FALSE(isAcceptableFaviconSize(-16, 16));
    EXPECT_EQ(faviconDisplaySize(16, 16), std::make_pair(16, 16));
    EXPECT_EQ(faviconDisplaySize(1024, 512), std::make_pair(64, 32));
    EXPECT_EQ(faviconDisplaySize(1024, 1), std::make_pair(64, 1));
}

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

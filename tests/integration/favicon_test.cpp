// Favicons in the running browser: an icon from the local server shown in the strip, and icon
// bodies that never end stopped at the size limit.
#include "support/browser_fixture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <fstream>

namespace qv::test {

namespace {

    // The strip's images that show a texture rather than a named symbol.
    int paintedImages(Gtk::Widget& widget)
    {
        int count = 0;
        if (auto* image = dynamic_cast<Gtk::Image*>(&widget); image
            && image->get_storage_type() == Gtk::Image::Type::PAINTABLE && image->get_paintable())
            ++count;
        for (Gtk::Widget* child = widget.get_first_child(); child;
             child = child->get_next_sibling())
            count += paintedImages(*child);
        return count;
    }

    std::uint32_t crc32Of(std::string_view bytes)
    {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char c : bytes) {
            crc ^= c;
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    }

    std::string chunk(const std::string& type, const std::string& data)
    {
        auto be32 = [](std::uint32_t v) {
            return std::string { char(v >> 24), char(v >> 16), char(v >> 8), char(v) };
        };
        return be32(std::uint32_t(data.size())) + type + data + be32(crc32Of(type + data));
    }

    // A well-formed PNG of a few dozen bytes whose header declares side by side pixels: the
    // decoder sizes its buffer from the header before it reads any row.
    std::string pngDeclaring(std::uint32_t side)
    {
        std::string header { char(side >> 24), char(side >> 16), char(side >> 8), char(side),
            char(side >> 24), char(side >> 16), char(side >> 8), char(side) };
        header += std::string("\x08\x06\0\0\0", 5);
        // A stored zlib block of 64 zero bytes: a few rows, then the data ends.
        std::string rows = std::string("\x78\x01\x01\x40\x00\xBF\xFF", 7) + std::string(64, '\0')
            + std::string("\0\x40\0\x01", 4);
        return std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header) + chunk("IDAT", rows)
            + chunk("IEND", "");
    }

    std::string gzipped(const std::string& text)
    {
        GZlibCompressor* compressor = g_zlib_compressor_new(G_ZLIB_COMPRESSOR_FORMAT_GZIP, -1);
        std::string out(text.size() + 256, '\0');
        gsize read = 0, written = 0;
        g_converter_convert(G_CONVERTER(compressor), text.data(), text.size(), out.data(),
            out.size(), G_CONVERTER_INPUT_AT_END, &read, &written, nullptr);
        g_object_unref(compressor);
        out.resize(written);
        return out;
    }

    long statusKiB(const char* field)
    {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(field, 0) == 0)
                return std::stol(line.substr(std::strlen(field)));
        }
        return -1;
    }

} // namespace

using FaviconTest = BrowserTest;

TEST_F(FaviconTest, AnIconDeclaringAHugeSizeIsRefusedUnallocatedAndNotFetchedAgain)
{
    // 8000 by 8000 pixels would take 256 MB to decode.
    m_server->route("/huge.png", { 200, "image/png", pngDeclaring(8000), {} });
    m_server->page("/reloading.html", "Reloading", "<link rel=\"icon\" href=\"/huge.png\">");
    // The peak resident size starts again from what is resident now.
    std::ofstream("/proc/self/clear_refs") << "5";
    long residentBefore = statusKiB("VmRSS:");
    ASSERT_GT(residentBefore, 0);

    size_t finished = controller().tabs().faviconLookupsFinished();
    controller().navigation().loadResolvedAddress(m_server->url("/reloading.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 1; }));
    EXPECT_EQ(m_server->requestCount("/huge.png"), 1);
    EXPECT_EQ(controller().tabs().browserTabs()[0].favicon(), nullptr);
    EXPECT_LT(statusKiB("VmHWM:") - residentBefore, 64 * 1024);

    // The page reloads itself: its failed icon is not asked for again.
    webkit_web_view_reload(selectedView());
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 2; }));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().pendingFaviconDownloads() == 0; }));
    EXPECT_EQ(m_server->requestCount("/huge.png"), 1);
    EXPECT_EQ(controller().tabs().browserTabs()[0].favicon(), nullptr);
}

TEST_F(FaviconTest, AnIconFromThePageAppearsInTheStripAndIsCached)
{
    m_server->route("/icon.png", { 200, "image/png", pngIcon(), {} });
    m_server->page("/iconic.html", "Iconic", "<link rel=\"icon\" href=\"/icon.png\">");
    controller().navigation().loadResolvedAddress(m_server->url("/iconic.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[0].favicon() != nullptr; }));
    EXPECT_TRUE(controller().tabs().faviconCache().contains(m_server->url("/icon.png")));
    ASSERT_TRUE(waitUntil([&] { return paintedImages(*controller().tabs().tabStrip()) > 0; }));

    // A second page with the same icon takes it from the cache.
    m_server->page("/again.html", "Again", "<link rel=\"icon\" href=\"/icon.png\">");
    size_t finished = controller().tabs().faviconLookupsFinished();
    controller().navigation().loadResolvedAddress(m_server->url("/again.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 1; }));
    EXPECT_EQ(m_server->requestCount("/icon.png"), 1);
    EXPECT_NE(controller().tabs().browserTabs()[0].favicon(), nullptr);
    // Pages without scripts were read from their markup; nothing ran in them.
    EXPECT_EQ(controller().tabs().faviconScriptLookups(), 0u);

    // An icon a page's script adds is found by asking the page.
    m_server->route("/scripted.png", { 200, "image/png", pngIcon(), {} });
    m_server->page("/scripted.html", "Scripted",
        "<script>const l = document.createElement('link'); l.rel = 'icon';"
        " l.href = '/scripted.png'; document.head.append(l);</script>");
    controller().navigation().loadResolvedAddress(m_server->url("/scripted.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 2; }));
    EXPECT_EQ(m_server->requestCount("/scripted.png"), 1);
    EXPECT_EQ(controller().tabs().faviconScriptLookups(), 1u);
    // A compressed page does not announce its own size: its markup is not read, the page is asked.
    m_server->route("/packed.html", { 200, "text/html", gzipped("<link rel=icon href=/icon.png>"),
        { { "Content-Encoding", "gzip" } } });
    controller().navigation().loadResolvedAddress(m_server->url("/packed.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 3; }));
    EXPECT_EQ(controller().tabs().faviconScriptLookups(), 2u);

    // A page left as soon as it has loaded is not asked for its icon.
    m_server->route("/passed.png", { 200, "image/png", pngIcon(), {} });
    m_server->page("/passed.html", "Passed", "<link rel=\"icon\" href=\"/passed.png\">");
    controller().navigation().loadResolvedAddress(m_server->url("/passed.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/passed.html")));
    controller().navigation().loadResolvedAddress(m_server->url("/again.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().faviconLookupsFinished() == finished + 4; }));
    EXPECT_EQ(m_server->requestCount("/passed.png"), 0);

    // Another host's page drops the icon as it shows, before any icon of its own could come.
    m_server->hang("/slow-icon.png");
    m_server->page("/elsewhere.html", "Elsewhere", "<link rel=\"icon\" href=\"/slow-icon.png\">");
    std::string elsewhere = "http://localhost:" + std::to_string(m_server->port()) + "/elsewhere.html";
    controller().navigation().loadResolvedAddress(elsewhere);
    ASSERT_TRUE(waitForLoad(selectedView(), elsewhere));
    EXPECT_EQ(controller().tabs().browserTabs()[0].favicon(), nullptr);
    EXPECT_EQ(paintedImages(*controller().tabs().tabStrip()), 0);
}

TEST_F(FaviconTest, IconBodiesThatNeverEndStopAtTheLimit)
{
    for (bool announced : { false, true }) {
        std::string path = announced ? "/announced.png" : "/endless.png";
        m_server->endless(path, announced);
        m_server->page(path + ".html", "Endless", "<link rel=\"icon\" href=\"" + path + "\">");
        size_t before = m_server->bytesStreamed();
        controller().navigation().loadResolvedAddress(m_server->url(path + ".html"));
        ASSERT_TRUE(waitUntil([&] { return m_server->requestCount(path) == 1; }));
        ASSERT_TRUE(waitUntil([&] { return controller().tabs().pendingFaviconDownloads() == 0; }));
        // The client stopped reading: what the server sent stays near the limit (socket
        // buffers hold a few MiB at most), far from the 256 MiB it would stream.
        EXPECT_LT(m_server->bytesStreamed() - before, 16u * 1024 * 1024) << path;
        EXPECT_EQ(controller().tabs().browserTabs()[0].favicon(), nullptr) << path;
        EXPECT_FALSE(controller().tabs().faviconCache().contains(m_server->url(path)));
    }
}

} // namespace qv::test

// Favicons in the running browser: an icon from the local server shown in the strip, and icon
// bodies that never end stopped at the size limit.
#include "support/browser_fixture.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace qv::test {

namespace {

    std::string pngIcon()
    {
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
        gdk_pixbuf_fill(pixbuf, 0x3366ccff);
        gchar* buffer = nullptr;
        gsize size = 0;
        gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr);
        std::string bytes(buffer, size);
        g_free(buffer);
        g_object_unref(pixbuf);
        return bytes;
    }

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

} // namespace

using FaviconTest = BrowserTest;

TEST_F(FaviconTest, AnIconFromThePageAppearsInTheStripAndIsCached)
{
    m_server->route("/icon.png", { 200, "image/png", pngIcon(), {} });
    m_server->page("/iconic.html", "Iconic", "<link rel=\"icon\" href=\"/icon.png\">");
    controller().loadResolvedAddress(m_server->url("/iconic.html"));
    ASSERT_TRUE(waitUntil([&] { return controller().browserTabs()[0].favicon != nullptr; }));
    EXPECT_TRUE(controller().faviconCache().contains(m_server->url("/icon.png")));
    ASSERT_TRUE(waitUntil([&] { return paintedImages(*controller().tabStrip()) > 0; }));

    // A second page with the same icon takes it from the cache.
    m_server->page("/again.html", "Again", "<link rel=\"icon\" href=\"/icon.png\">");
    controller().loadResolvedAddress(m_server->url("/again.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/again.html")));
    ASSERT_TRUE(waitUntil([&] { return controller().pendingFaviconDownloads() == 0; }));
    EXPECT_EQ(m_server->requestCount("/icon.png"), 1);
}

TEST_F(FaviconTest, IconBodiesThatNeverEndStopAtTheLimit)
{
    for (bool announced : { false, true }) {
        std::string path = announced ? "/announced.png" : "/endless.png";
        m_server->endless(path, announced);
        m_server->page(path + ".html", "Endless", "<link rel=\"icon\" href=\"" + path + "\">");
        size_t before = m_server->bytesStreamed();
        controller().loadResolvedAddress(m_server->url(path + ".html"));
        ASSERT_TRUE(waitUntil([&] { return m_server->requestCount(path) == 1; }));
        ASSERT_TRUE(waitUntil([&] { return controller().pendingFaviconDownloads() == 0; }));
        // The client stopped reading: what the server sent stays near the limit (socket
        // buffers hold a few MiB at most), far from the 256 MiB it would stream.
        EXPECT_LT(m_server->bytesStreamed() - before, 16u * 1024 * 1024) << path;
        EXPECT_EQ(controller().browserTabs()[0].favicon, nullptr) << path;
        EXPECT_FALSE(controller().faviconCache().contains(m_server->url(path)));
    }
}

} // namespace qv::test

// A small website on the test server for the page source editor and the local copy: nested
// folders, CSS url() links, srcset, a script-inserted image and cookie-protected images.
#pragma once

#include "support/browser_fixture.h"

#include "devtools/page_source_window.h"

#include <glib.h>

#include <cstdlib>
#include <string>

namespace qv::test {

inline std::string tinyPNG()
{
    static const std::string bytes = [] {
        gsize size = 0;
        guchar* data
            = g_base64_decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8"
                              "z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==",
                &size);
        std::string png(reinterpret_cast<const char*>(data), size);
        g_free(data);
        return png;
    }();
    return bytes;
}

class SourceSiteTest : public BrowserTest {
protected:
    // Serves the site; extraBody goes at the end of the page's body.
    void serveSite(const std::string& extraBody = "")
    {
        TestServer& s = *m_server;
        std::string theme = s.url("/site/css/deep/theme.css");
        s.route("/site/index.html",
            { 200, "text/html; charset=utf-8",
                "<!doctype html><html><head><title>Site</title>"
                "<link rel=\"stylesheet\" href=\"/site/css/main.css\">"
                "<link rel=\"stylesheet\" href=\""
                    + theme
                    + "\"></head><body><h1 id=\"title\">Hello</h1>"
                      "<img id=\"small\" src=\"/site/img/small.png\" "
                      "srcset=\"/site/img/small.png 1x, /site/img/large.png 2x\">"
                      "<img id=\"secret\" src=\"/site/private/secret.png\">"
                      "<script src=\"/site/js/app.js\"></script>"
                    + extraBody + "</body></html>",
                { { "Set-Cookie", "session=s3cret; Path=/" } } });
        s.route("/site/css/main.css",
            { 200, "text/css",
                "body { background-image: url(/site/img/bg.png); }\nh1 { color: rgb(1, 2, 3); }\n",
                {} });
        s.route("/site/css/deep/theme.css",
            { 200, "text/css", "#title { background-image: url(\"../../img/bg2.png\"); }\n", {} });
        s.route("/site/js/app.js",
            { 200, "application/javascript",
                "document.cookie = 'jscookie=yes; path=/';\n"
                "for (const name of ['late', 'jsonly']) {\n"
                "  const img = new Image(); img.id = name;\n"
                "  img.src = name === 'late' ? '/site/img/late.png' : '/site/private/jsonly.png';\n"
                "  document.body.appendChild(img);\n"
                "}\n",
                {} });
        for (const char* name : { "small", "large", "bg", "bg2", "late" })
            s.route(std::string("/site/img/") + name + ".png", { 200, "image/png", tinyPNG(), {} });
        s.route("/site/private/secret.png", { 200, "image/png", tinyPNG(), {} });
        s.requireCookie("/site/private/secret.png", "session=s3cret");
        s.route("/site/private/jsonly.png", { 200, "image/png", tinyPNG(), {} });
        s.requireCookie("/site/private/jsonly.png", "jscookie=yes");
    }

    // Loads the site and waits until every image, the script-inserted ones too, has loaded.
    void openSite()
    {
        submitAddress(m_server->url("/site/index.html"));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/site/index.html")));
        ASSERT_TRUE(waitUntil([&] {
            return evaluate(selectedView(),
                       "document.images.length === 4 && Array.from(document.images).every("
                       "i => i.complete && i.naturalWidth > 0)")
                == "true";
        }));
    }

    PageSourceWindow& openEditor()
    {
        controller().devtools().showSourceEditor();
        PageSourceWindow* window = controller().devtools().sourceWindow();
        EXPECT_TRUE(window);
        EXPECT_TRUE(waitUntil([&] { return window->status().rfind("Found ", 0) == 0; }))
            << window->status();
        return *window;
    }

    // For the pictures in docs/: when the variable names a file, the screen is saved there
    // (dark when QV_SCREENSHOT_DARK is set).
    void screenshotIfAsked(Gtk::Window& window, const char* variable)
    {
        const char* file = std::getenv(variable);
        if (!file)
            return;
        if (std::getenv("QV_SCREENSHOT_DARK"))
            controller().shell().setDarkMode(true);
        window.present();
        waitUntil(
            [&] { return window.is_active() && window.get_width() > 0; }, std::chrono::seconds(3));
        // A few frames so the theme and the text are drawn.
        int frames = 0;
        guint tick = window.add_tick_callback([&](const Glib::RefPtr<Gdk::FrameClock>&) {
            ++frames;
            return true;
        });
        waitUntil([&] { return frames > 10; }, std::chrono::seconds(3));
        window.remove_tick_callback(tick);
        std::system((std::string("import -window root ") + file).c_str());
    }

    std::optional<std::size_t> rowOf(PageSourceWindow& window, const std::string& path)
    {
        const auto& list = window.sourceResources();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].url == m_server->url(path))
                return i;
        }
        return std::nullopt;
    }
};

} // namespace qv::test

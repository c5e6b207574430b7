// A browser with extension folders written into its store before launch.
#pragma once

#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "base/user_defaults.h"
#include "platform/log.h"

#include <gdk/x11/gdkx.h>

#include <cstdlib>
#include <map>

namespace qv::test {

namespace fs = std::filesystem;

inline constexpr const char* kBasicPage
    = "<!doctype html><html><head><meta charset=\"utf-8\">"
      "<title>Probe</title></head><body><p>probe</p></body></html>";

inline Json parsedOrNull(const std::string& text) { return parseJson(text).value_or(Json()); }

class ExtensionsTest : public BrowserTest {
protected:
    ExtensionsTest() { m_launchInSetUp = false; }

    void TearDown() override
    {
        setLogObserver(nullptr);
        BrowserTest::TearDown();
    }

    static fs::path store() { return testHome() / ".local/share/QuivelBrowser/Extensions"; }

    // An extension folder in the store: manifest.json plus the given files.
    static fs::path writeExtension(const std::string& folder, const Json& manifest,
        std::map<std::string, std::string> files = { { "index.html", kBasicPage } })
    {
        fs::path dir = store() / folder;
        fs::create_directories(dir);
        EXPECT_TRUE(writeFileAtomically(dir / "manifest.json", dumpJson(manifest, 2)).ok());
        for (const auto& [name, contents] : files) {
            fs::create_directories((dir / name).parent_path());
            EXPECT_TRUE(writeFileAtomically(dir / name, contents).ok());
        }
        return dir;
    }

    // The defaults the controller will read at launch. The built-in extensions are kept out of
    // the store unless a test asks for them.
    void writeDefaults(Json values, bool keepBuiltIns = false)
    {
        if (!keepBuiltIns && !values.contains(kDeletedBundledExtensionsKey))
            values[kDeletedBundledExtensionsKey] = Json::array({ "tab-list", "page-styler" });
        fs::path file = testHome() / ".config/QuivelBrowser/defaults.json";
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(writeFileAtomically(file, dumpJson(values, 2)).ok());
    }

    Json storedDefaults()
    {
        flushFiles();
        FileRead read = readWholeFile(testHome() / ".config/QuivelBrowser/defaults.json");
        return read.status == ReadStatus::Ok ? parsedOrNull(read.contents) : Json::object();
    }

    WebKitWebView* extensionView(const std::string& id)
    {
        auto& views = controller().extensions().extensionWebViews();
        auto it = views.find(id);
        return it == views.end() ? nullptr : it->second.get();
    }

    // Turns the extension on and waits for its page to finish loading.
    WebKitWebView* startExtension(const std::string& id, const std::string& prefix = "file://")
    {
        controller().extensions().openExtension(Sender::identified(id));
        WebKitWebView* view = extensionView(id);
        if (view) {
            EXPECT_TRUE(waitForLoad(view, prefix));
        }
        return view;
    }

    // Runs an async function body in the page and returns its awaited result as JSON.
    Json callAsync(WebKitWebView* view, const std::string& body)
    {
        struct Pending {
            bool done = false;
            Json result;
        };
        // Shared with the callback, which may run after a wait here has given up.
        auto pending = std::make_shared<Pending>();
        webkit_web_view_call_async_javascript_function(
            view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
            +[](GObject* object, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::shared_ptr<Pending>> owned(
                    static_cast<std::shared_ptr<Pending>*>(data));
                Pending* p = owned->get();
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(object), result, &error);
                if (value) {
                    char* json = jsc_value_to_json(value, 0);
                    p->result = json ? parsedOrNull(json) : Json();
                    g_free(json);
                    g_object_unref(value);
                } else {
                    p->result = Json { { "scriptError", error ? error->message : "" } };
                    if (error)
                        g_error_free(error);
                }
                p->done = true;
            },
            new std::shared_ptr<Pending>(pending));
        EXPECT_TRUE(waitUntil([&] { return pending->done; }));
        return pending->result;
    }

    void openServedTab(const std::string& path, const std::string& body)
    {
        m_server->route(path,
            { 200, "text/html; charset=utf-8",
                "<!doctype html><html><head><title>Served</title></head><body>" + body
                    + "</body></html>",
                {} });
        controller().tabs().createBrowserTabWithURL(m_server->url(path));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
    }

    // A click of the real pointer through the X server, which the page sees as trusted. Only
    // tests named "Pointer..." may use it: they run alone on the display.
    void realClickAtCentre(WebKitWebView* view)
    {
        ASSERT_TRUE(waitForLayout());
        GtkNative* native = gtk_widget_get_native(GTK_WIDGET(view));
        ASSERT_TRUE(native && GDK_IS_X11_SURFACE(gtk_native_get_surface(native)));
        graphene_point_t centre = GRAPHENE_POINT_INIT(gtk_widget_get_width(GTK_WIDGET(view)) / 2.0f,
            gtk_widget_get_height(GTK_WIDGET(view)) / 2.0f);
        graphene_point_t inWindow;
        ASSERT_TRUE(
            gtk_widget_compute_point(GTK_WIDGET(view), GTK_WIDGET(native), &centre, &inWindow));
        double dx = 0, dy = 0;
        gtk_native_get_surface_transform(native, &dx, &dy);
        auto xid = gdk_x11_surface_get_xid(gtk_native_get_surface(native));
        // Raised first: without a window manager the extension manager may lie on top.
        std::string window = std::to_string(xid);
        std::string command = "xdotool windowraise " + window + " mousemove --window " + window
            + " "
            + std::to_string(int(inWindow.x + dx)) + " " + std::to_string(int(inWindow.y + dy))
            + " click 1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    static Json fileExtensionManifest(
        const std::string& id, const std::string& name, Json permissions)
    {
        return { { "id", id }, { "name", name }, { "version", "2.1" },
            { "permissions", std::move(permissions) } };
    }
};

} // namespace qv::test

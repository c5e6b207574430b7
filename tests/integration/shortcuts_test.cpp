// Page and tab shortcuts end to end, and the error page of a failed load.
#include "support/browser_fixture.h"

#include "app/find_bar.h"

#include <gdk/x11/gdkx.h>

#include <cstdlib>
#include <set>

namespace qv::test {

namespace {

    // A server that starts answering on a port only when asked.
    class LateServer {
    public:
        explicit LateServer(std::string body)
            : m_body(std::move(body))
        {
        }
        ~LateServer()
        {
            if (m_server) {
                soup_server_disconnect(m_server);
                g_object_unref(m_server);
            }
        }
        bool listen(unsigned port)
        {
            m_server = soup_server_new(nullptr, nullptr);
            soup_server_add_handler(
                m_server, nullptr,
                +[](SoupServer*, SoupServerMessage* message, const char*, GHashTable*,
                     gpointer data) {
                    auto* self = static_cast<LateServer*>(data);
                    ++self->m_requests;
                    soup_server_message_set_status(message, 200, nullptr);
                    soup_server_message_set_response(message, "text/html", SOUP_MEMORY_COPY,
                        self->m_body.data(), self->m_body.size());
                },
                this, nullptr);
            return soup_server_listen_local(m_server, port, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        }
        int requests() const { return m_requests; }

    private:
        std::string m_body;
        SoupServer* m_server = nullptr;
        int m_requests = 0;
    };

} // namespace

class ShortcutsTest : public BrowserTest {
protected:
    void activate(const std::string& action) { m_application->activate_action(action); }
    double zoom() { return webkit_web_view_get_zoom_level(selectedView()); }
    size_t selectedIndex() { return controller().tabs().indexOfSelectedTab().value_or(99); }
    void openPage(const std::string& path, const std::string& title, const std::string& body = "")
    {
        m_server->page(path, title, body);
        controller().tabs().createBrowserTabWithURL(m_server->url(path));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
    }
};

TEST_F(ShortcutsTest, NoTwoActionsShareAKey)
{
    std::set<std::string> seen;
    for (const auto& name : m_application->list_actions()) {
        for (const auto& accel : m_application->get_accels_for_action("app." + name)) {
            guint key = 0;
            GdkModifierType mods {};
            ASSERT_TRUE(gtk_accelerator_parse(accel.c_str(), &key, &mods)) << accel;
            std::string id = std::to_string(gdk_keyval_to_lower(key)) + "/" + std::to_string(mods);
            EXPECT_TRUE(seen.insert(id).second) << accel << " of " << name;
        }
    }
    EXPECT_GE(seen.size(), 40u);
}

TEST_F(ShortcutsTest, FailedLoadShowsErrorPageWhoseButtonTriesAgain)
{
    unsigned port;
    {
        TestServer gone;
        port = gone.port();
    }
    std::string address = "http://127.0.0.1:" + std::to_string(port) + "/back.html";
    controller().tabs().createBrowserTabWithURL(address);
    WebKitWebView* view = selectedView();
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(view, "document.getElementById('try-again') !== null") == "true"; }));
    EXPECT_EQ(uriOf(view), address);
    EXPECT_EQ(
        evaluate(view, "document.getElementById('address').textContent"), "\"" + address + "\"");
    EXPECT_NE(evaluate(view, "document.getElementById('message').textContent"), "\"\"");
    EXPECT_EQ(controller().tabs().browserTabs().back().title(), "This page could not be loaded");
    EXPECT_EQ(controller().window()->get_title().rfind("Load failed: ", 0), 0u);
    for (const auto& entry : controller().history().historyEntries())
        EXPECT_NE(entry.url, address);

    LateServer late("<title>Back again</title><p>answering now");
    ASSERT_TRUE(late.listen(port));
    evaluate(view, "document.getElementById('try-again').click(); true");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().back().title() == "Back again"; }));
    EXPECT_GE(late.requests(), 1);
    EXPECT_EQ(uriOf(view), address);
    EXPECT_FALSE(controller().navigation().showingErrorPage(view));
}

// A load asked for right after a failure can finish before the error page's turn comes; the
// error page must then stay away. The failure's idle turn is held back until the new page is in.
TEST_F(ShortcutsTest, ErrorPageNeverReplacesALoadThatFinishedBeforeIt)
{
    std::string closed;
    {
        TestServer gone;
        closed = gone.url("/x.html");
    }
    m_server->page("/ok.html", "Fine");
    struct Race {
        std::string okURL;
        bool started = false;
    } race { m_server->url("/ok.html") };
    WebKitWebView* view = selectedView();
    gulong handler = g_signal_connect(view, "load-changed",
        G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent event, gpointer data) {
            auto* race = static_cast<Race*>(data);
            if (event != WEBKIT_LOAD_FINISHED || race->started)
                return;
            race->started = true;
            webkit_web_view_load_uri(v, race->okURL.c_str());
            // Just above the default idle priority: ready at every turn, so idle work waits.
            g_idle_add_full(
                G_PRIORITY_DEFAULT_IDLE - 1,
                +[](gpointer view) -> gboolean {
                    auto* v = WEBKIT_WEB_VIEW(view);
                    const char* title = webkit_web_view_get_title(v);
                    return webkit_web_view_is_loading(v) || !title || std::string(title) != "Fine";
                },
                v, nullptr);
        }),
        &race);
    controller().navigation().loadResolvedAddress(closed);
    ASSERT_TRUE(waitUntil([&] { return race.started; }));
    ASSERT_TRUE(waitUntil([&] { return controller().window()->get_title() == "Fine"; }));
    g_signal_handler_disconnect(view, handler);
    ASSERT_TRUE(flushIdleWork());
    EXPECT_FALSE(controller().navigation().showingErrorPage(view));
    EXPECT_EQ(controller().window()->get_title(), "Fine");
    EXPECT_EQ(uriOf(view), race.okURL);
}

TEST_F(ShortcutsTest, FindInPageCountsMatches)
{
    openPage("/fruit.html", "Fruit", "<p>apple pear Apple</p><p>plum apple</p>");
    activate("find");
    FindBar& bar = controller().window()->findBar();
    ASSERT_TRUE(bar.shown());
    bar.entry().set_text("apple");
    ASSERT_TRUE(waitUntil([&] { return bar.statusText() == "3 matches"; }));
    bar.entry().set_text("kiwi");
    ASSERT_TRUE(waitUntil([&] { return bar.statusText() == "No matches"; }));
    // Escape's action is on only while the browser window is active, which another test's
    // window on the shared display can take; the operation behind it is the same.
    controller().closeFindBar();
    EXPECT_FALSE(bar.shown());
    EXPECT_EQ(bar.statusText(), "");
}

TEST_F(ShortcutsTest, ZoomStaysWithItsTabEvenWhenLazy)
{
    openPage("/a.html", "A");
    openPage("/b.html", "B");
    activate("zoom-in");
    activate("zoom-in");
    EXPECT_DOUBLE_EQ(zoom(), 1.25);
    controller().tabs().toggleLazyTabs(Sender::menuItem(2));
    controller().tabs().selectBrowserTabAtIndex(1);
    EXPECT_DOUBLE_EQ(zoom(), 1.0);
    activate("zoom-out");
    EXPECT_DOUBLE_EQ(zoom(), 0.9);
    ASSERT_FALSE(controller().tabs().browserTabs()[2].webView());
    controller().tabs().selectBrowserTabAtIndex(2);
    EXPECT_DOUBLE_EQ(zoom(), 1.25);
    activate("zoom-reset");
    EXPECT_DOUBLE_EQ(zoom(), 1.0);
    controller().tabs().selectBrowserTabAtIndex(1);
    EXPECT_DOUBLE_EQ(zoom(), 0.9);
}

TEST_F(ShortcutsTest, TabShortcutsWalkTheStripInOrder)
{
    openPage("/a.html", "A");
    openPage("/b.html", "B");
    ASSERT_EQ(selectedIndex(), 2u);
    activate("next-tab");
    EXPECT_EQ(selectedIndex(), 0u);
    activate("next-tab");
    EXPECT_EQ(selectedIndex(), 1u);
    activate("previous-tab");
    activate("previous-tab");
    EXPECT_EQ(selectedIndex(), 2u);
    activate("tab-2");
    EXPECT_EQ(selectedIndex(), 1u);
    activate("tab-8");
    EXPECT_EQ(selectedIndex(), 1u);
    activate("last-tab");
    EXPECT_EQ(selectedIndex(), 2u);
}

TEST_F(ShortcutsTest, ReopenClosedTabBringsBackItsAddress)
{
    openPage("/gone.html", "Gone");
    activate("close-tab");
    // Closes once the page agrees.
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 1u; }));
    activate("reopen-closed-tab");
    ASSERT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/gone.html")));
    EXPECT_EQ(m_server->requestCount("/gone.html"), 2);
}

TEST_F(ShortcutsTest, PointerMiddleClickOpensLinkInBackgroundTab)
{
    m_server->page("/target.html", "Target");
    openPage("/links.html", "Links", "<a id='link' href='/target.html'>go</a>");
    WebKitWebView* opener = selectedView();
    ASSERT_TRUE(waitForLayout());
    // A real middle click: page scripts cannot make one.
    double x = std::stod(evaluate(opener,
        "(function(r){return "
        "r.left+r.width/2})(document.getElementById('link').getBoundingClientRect())"));
    double y = std::stod(evaluate(opener,
        "(function(r){return "
        "r.top+r.height/2})(document.getElementById('link').getBoundingClientRect())"));
    Gtk::Window& window = *controller().window();
    graphene_point_t in { static_cast<float>(x), static_cast<float>(y) }, out {};
    ASSERT_TRUE(gtk_widget_compute_point(GTK_WIDGET(opener), GTK_WIDGET(window.gobj()), &in, &out));
    double dx = 0, dy = 0;
    gtk_native_get_surface_transform(GTK_NATIVE(window.gobj()), &dx, &dy);
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
    if (!GDK_IS_X11_SURFACE(surface))
        GTEST_SKIP() << "needs an X display";
    std::string command = "xdotool mousemove --window "
        + std::to_string(gdk_x11_surface_get_xid(surface)) + " "
        + std::to_string(static_cast<int>(out.x + dx)) + " "
        + std::to_string(static_cast<int>(out.y + dy)) + " click 2";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 3; }));
    EXPECT_EQ(selectedView(), opener);
    WebKitWebView* background = controller().tabs().browserTabs().back().webView();
    EXPECT_TRUE(waitForLoad(background, m_server->url("/target.html")));
    EXPECT_EQ(uriOf(opener), m_server->url("/links.html"));
}

} // namespace qv::test

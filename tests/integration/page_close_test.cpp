// Closing asks the page first: a page with a before-unload handler gets its question, a page
// without one closes at once, and a hung page cannot keep its tab open.
#include "support/extensions_fixture.h"

#include "tabs/page_close_asker.h"
#include "tabs/page_close_rules.h"

namespace qv::test {

namespace {

    // A button over the whole page, so a click at the view's centre lands on it and gives the
    // page the user activation the engine wants before it lets a page ask.
    constexpr const char* kAskingPage
        = "<!doctype html><title>Draft</title>"
          "<button id=\"b\" onclick=\"window.clicked = true\" "
          "style=\"position:fixed;left:0;top:0;width:100%;height:100%\">Press</button>"
          "<script>addEventListener('beforeunload', e => {"
          " e.preventDefault(); e.returnValue = 'unsaved'; });</script>";

} // namespace

class PageCloseTest : public ExtensionsTest {
protected:
    PageCloseTest() { m_launchInSetUp = true; }

    size_t tabCount() { return controller().tabs().browserTabs().size(); }
    bool settled() { return !controller().tabs().pageCloseAsker().asking(); }
};

TEST_F(PageCloseTest, PointerPageWithAHandlerAsksAndStayKeepsItWhileLeaveClosesIt)
{
    m_server->page("/plain.html", "Plain");
    controller().tabs().createBrowserTabWithURL(m_server->url("/plain.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/plain.html")));
    m_server->route("/ask.html", { 200, "text/html; charset=utf-8", kAskingPage, {} });
    controller().tabs().createBrowserTabWithURL(m_server->url("/ask.html"));
    WebKitWebView* asking = selectedView();
    ASSERT_TRUE(waitForLoad(asking, m_server->url("/ask.html")));
    realClickAtCentre(asking);
    ASSERT_TRUE(waitUntil([&] { return evaluate(asking, "window.clicked === true") == "true"; }));
    const size_t before = tabCount();

    m_alertAnswer = 1; // "Stay"
    m_application->activate_action("close-tab");
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 1 && settled(); }))
        << tabCount() << " tabs, " << m_alerts.size() << " questions, settled " << settled();
    EXPECT_EQ(m_alerts[0].messageText, "Leave this page?");
    EXPECT_EQ(m_alerts[0].informativeText, "127.0.0.1 may not save the changes you made.");
    EXPECT_EQ(m_alerts[0].buttons, (std::vector<std::string> { "Leave", "Stay" }));
    EXPECT_EQ(tabCount(), before);
    EXPECT_EQ(selectedView(), asking);
    EXPECT_EQ(evaluate(asking, "window.clicked === true"), "true");

    // Closing the window asks too: "Stay" keeps it open on the asking tab.
    controller().tabs().selectBrowserTabAtIndex(before - 2);
    controller().window()->close();
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 2 && settled(); }));
    EXPECT_TRUE(controller().window()->get_visible());
    EXPECT_FALSE(controller().shell().closingApplication());
    EXPECT_EQ(tabCount(), before);
    EXPECT_EQ(selectedView(), asking);

    m_alertAnswer = 0; // "Leave"
    m_application->activate_action("close-tab");
    ASSERT_TRUE(waitUntil([&] { return tabCount() == before - 1; }));
    EXPECT_EQ(m_alerts.size(), 3u);
    EXPECT_EQ(uriOf(controller().tabs().browserTabs().back().webView()), m_server->url("/plain.html"));

    // A page without a handler closes without a question.
    controller().tabs().closeBrowserTab(Sender::button(static_cast<long>(before - 2)));
    ASSERT_TRUE(waitUntil([&] { return tabCount() == before - 2 && settled(); }));
    EXPECT_EQ(m_alerts.size(), 3u);
}

TEST_F(PageCloseTest, HungPageDoesNotKeepItsTabOpenPastTheTimeOut)
{
    // With a handler the engine must ask the page's process; without one it closes at once.
    m_server->page("/busy.html", "Busy",
        "<script>addEventListener('beforeunload', e => e.preventDefault());</script>");
    controller().tabs().createBrowserTabWithURL(m_server->url("/busy.html"));
    WebKitWebView* busy = selectedView();
    ASSERT_TRUE(waitForLoad(busy, m_server->url("/busy.html")));
    const size_t before = tabCount();
    // Kept to end the spinning process afterwards, which would otherwise slow the next test.
    auto held = GObjectPtr<WebKitWebView>::retain(busy);
    // Never answers: the page's one thread spins from now on.
    webkit_web_view_evaluate_javascript(
        busy, "for (;;) {}", -1, nullptr, nullptr, nullptr, nullptr, nullptr);

    // The engine gives up on a silent page by itself after a moment, and the browser's own
    // time-out covers an engine that does not: either way the tab goes within the time-out.
    m_application->activate_action("close-tab");
    ASSERT_TRUE(waitUntil([&] { return tabCount() == before - 1; },
        kPageCloseTimeout + std::chrono::seconds(1)));
    EXPECT_TRUE(settled());
    EXPECT_TRUE(m_alerts.empty());
    webkit_web_view_terminate_web_process(held.get());
}

} // namespace qv::test

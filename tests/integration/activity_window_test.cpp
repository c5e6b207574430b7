// The activity window: all tabs listed, made lazy or active, opened and closed by row.
#include "support/browser_fixture.h"

#include <algorithm>

#include "app/shell.h"
#include "tabs/activity_window.h"
#include "tabs/tab_memory_guard.h"

namespace qv::test {

class ActivityWindowTest : public BrowserTest {
protected:
    // Three more tabs on local pages, each loaded; the last is the selected one.
    void fourTabs()
    {
        for (const char* path : { "/a.html", "/b.html", "/c.html" }) {
            m_server->page(path, std::string("Page ") + path);
            controller().tabs().createBrowserTabWithURL(m_server->url(path));
            ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
        }
        controller().showActivity();
        ASSERT_NE(controller().activityWindow(), nullptr);
    }
    ActivityWindow& window() { return *controller().activityWindow(); }
    const Tab& tab(size_t i) { return controller().tabs().browserTabs().at(i); }
};

TEST_F(ActivityWindowTest, TableFollowsTheTabList)
{
    fourTabs();
    EXPECT_EQ(window().rowCount(), 4u);
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    EXPECT_EQ(window().rowCount(), 5u);
    controller().tabs().closeBrowserTabAtIndex(0);
    EXPECT_EQ(window().rowCount(), 4u);
}

TEST_F(ActivityWindowTest, MakingASelectionLazyUnloadsAllButTheTabOnScreen)
{
    fourTabs();
    WebKitWebView* onScreen = selectedView();
    ASSERT_EQ(tab(3).webView(), onScreen);
    window().selectRows({ 1, 2, 3 });
    controller().activityWindow()->setSelectedTabsLazy(true);
    for (size_t i : { 1u, 2u, 3u })
        EXPECT_TRUE(tab(i).lazy()) << i;
    EXPECT_FALSE(tab(0).lazy());
    EXPECT_EQ(tab(1).webView(), nullptr);
    EXPECT_EQ(tab(2).webView(), nullptr);
    EXPECT_EQ(tab(3).webView(), onScreen);
    EXPECT_NE(tab(0).webView(), nullptr);
    // The rows stay selected across the reload.
    EXPECT_EQ(window().selectedRows(), (std::vector<size_t> { 1, 2, 3 }));
    // Their addresses are kept for the next selection.
    EXPECT_EQ(tab(1).url(), m_server->url("/a.html"));

    // Making them active loads nothing.
    int before = m_server->requestCount("/a.html");
    controller().activityWindow()->setSelectedTabsLazy(false);
    EXPECT_FALSE(tab(1).lazy());
    EXPECT_EQ(tab(1).webView(), nullptr);
    EXPECT_EQ(m_server->requestCount("/a.html"), before);

    // Opening one loads it again.
    controller().activityWindow()->openTab(1);
    ASSERT_NE(tab(1).webView(), nullptr);
    EXPECT_EQ(selectedView(), tab(1).webView());
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/a.html")));
}

TEST_F(ActivityWindowTest, TogglingOneRowAndStaleTags)
{
    fourTabs();
    controller().activityWindow()->toggleTabLazy(0);
    EXPECT_TRUE(tab(0).lazy());
    EXPECT_EQ(tab(0).webView(), nullptr);
    controller().activityWindow()->toggleTabLazy(0);
    EXPECT_FALSE(tab(0).lazy());
    controller().activityWindow()->toggleTabLazy(4);
    controller().activityWindow()->toggleTabLazy(-1);
    controller().activityWindow()->closeTab(9);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 4u);
    controller().activityWindow()->closeTab(1);
    // Closes once the page agrees.
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 3u; }));
    EXPECT_EQ(window().rowCount(), 3u);
}

TEST_F(ActivityWindowTest, ClosingTheSelectionAsksFirst)
{
    fourTabs();
    TabID kept = tab(0).id();
    window().selectRows({ 1, 3 });
    m_alertAnswer = 1; // "Cancel"
    controller().activityWindow()->closeSelectedTabs();
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].buttons.size(), 2u);
    EXPECT_NE(m_alerts[0].messageText.find('2'), std::string::npos);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 4u);

    m_alertAnswer = 0;
    controller().activityWindow()->closeSelectedTabs();
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 2u; }));
    EXPECT_EQ(tab(0).id(), kept);
    EXPECT_EQ(tab(1).url(), m_server->url("/b.html"));
    EXPECT_EQ(window().rowCount(), 2u);

    // Nothing selected: no question.
    window().selectRows({});
    controller().activityWindow()->closeSelectedTabs();
    EXPECT_EQ(m_alerts.size(), 2u);
}

TEST_F(ActivityWindowTest, ClosingEveryRowLeavesOneNewTab)
{
    fourTabs();
    std::vector<TabID> closed;
    for (size_t i = 0; i < 4; ++i)
        closed.push_back(tab(i).id());
    window().selectRows({ 0, 1, 2, 3 });
    controller().activityWindow()->closeSelectedTabs();
    // Each tab closes once its page agrees.
    ASSERT_TRUE(waitUntil([&] {
        const TabList& tabs = controller().tabs().browserTabs();
        return std::none_of(closed.begin(), closed.end(), [&](const TabID& id) { return tabs.tabWithID(id); });
    }));
    ASSERT_EQ(controller().tabs().browserTabs().size(), 1u);
    EXPECT_EQ(window().rowCount(), 1u);
    EXPECT_NE(selectedView(), nullptr);
}

TEST_F(ActivityWindowTest, ClosingSelectedRowsGivesNoClosingLazyTabAPage)
{
    fourTabs();
    // A new tab without a page closes at once; its neighbour is a lazy tab closing with it.
    controller().tabs().createBrowserTabWithURL(std::nullopt);
    window().selectRows({ 1, 2, 3 });
    controller().activityWindow()->setSelectedTabsLazy(true);
    TabID closingLazy = tab(3).id();
    TabID kept = tab(2).id();
    bool loaded = false;
    auto watch = controller().tabs().browserTabs().signalChanged().connect([&] {
        if (const Tab* closing = controller().tabs().browserTabs().tabWithID(closingLazy))
            loaded = loaded || closing->webView();
    });
    window().selectRows({ 3, 4 });
    controller().activityWindow()->closeSelectedTabs();
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 3u; }));
    watch.disconnect();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(tab(2).id(), kept);
    EXPECT_EQ(selectedView(), tab(2).webView());
}

// With the switch on and a limit the browser is always over, each check unloads the least
// recently shown background tab that may go: never the selected one, nor a page holding text
// the user typed and has not sent.
TEST_F(ActivityWindowTest, MemoryPressureUnloadsOldBackgroundTabsButNotUnsentForms)
{
    Shell& shell = controller().shell();
    ASSERT_TRUE(shell.defaults().setBool(kUnloadTabsUnderMemoryPressureKey, true));
    ASSERT_TRUE(shell.defaults().setObject(kTabMemoryLimitKey, Json(1)));
    m_server->page("/form.html", "Form", "<textarea id=t></textarea>");
    controller().tabs().createBrowserTabWithURL(m_server->url("/form.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/form.html")));
    evaluate(selectedView(), "document.getElementById('t').value = 'a draft'");
    for (const char* path : { "/a.html", "/b.html", "/c.html", "/d.html" }) {
        m_server->page(path, path);
        controller().tabs().createBrowserTabWithURL(m_server->url(path));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
    }
    // Oldest first: the start tab, the form, a, b, c; d is on screen.
    TabMemoryGuard& guard = controller().tabs().memoryGuard();
    for (size_t round = 1; round <= 2; ++round) {
        guard.checkNow();
        ASSERT_TRUE(waitUntil([&] { return guard.roundsFinished() == round; })) << round;
    }
    EXPECT_EQ(tab(0).webView(), nullptr);
    EXPECT_NE(tab(1).webView(), nullptr);
    EXPECT_EQ(tab(2).webView(), nullptr);
    for (size_t i : { 3u, 4u, 5u })
        EXPECT_NE(tab(i).webView(), nullptr) << i;
    EXPECT_TRUE(tab(2).lazy() && tab(2).unloadedForMemory());
    EXPECT_FALSE(tab(3).unloadedForMemory());

    // Turned active again from the activity window, it is an ordinary tab.
    controller().showActivity();
    window().toggleTabLazy(2);
    EXPECT_FALSE(tab(2).lazy() || tab(2).unloadedForMemory());
}

} // namespace qv::test

// The session: brought back at launch when chosen and from the menu, offered after the real
// browser is killed, and a damaged file kept.
#include "support/browser_fixture.h"

#include "app/settings_window.h"
#include "base/atomic_file.h"
#include "profiles/profile_service.h"
#include "session/session_file.h"
#include "session/session_service.h"

#include <csignal>
#include <sys/wait.h>

namespace qv::test {

namespace {

namespace fs = std::filesystem;

fs::path dataFolder() { return testHome() / ".local/share/QuivelBrowser"; }

Gtk::Widget* findWidgetByName(Gtk::Widget& root, const std::string& name)
{
    if (root.get_name().raw() == name)
        return &root;
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling())
        if (Gtk::Widget* found = findWidgetByName(*child, name))
            return found;
    return nullptr;
}

class SessionTest : public BrowserTest {
protected:
    // Two pages in the first tab (so it has a back history), a third in a tab of another
    // profile; the first tab is left selected.
    ProfileID openThreePagesOnTwoProfiles()
    {
        m_server->page("/a.html", "A");
        m_server->page("/b.html", "B");
        m_server->route("/icon.png", { 200, "image/png", pngIcon(), {} });
        m_server->page("/c.html", "C", "<link rel=\"icon\" href=\"/icon.png\">");
        submitAddress(m_server->url("/a.html"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/a.html")));
        submitAddress(m_server->url("/b.html"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/b.html")));
        ProfileID work = controller().profiles().createProfile();
        controller().profiles().setCurrentProfile(work, ProfileService::Announce::Yes);
        controller().tabs().createBrowserTabWithURL(m_server->url("/c.html"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/c.html")));
        // The engine reports a title just after the load.
        EXPECT_TRUE(waitUntil([&] {
            const Tab& tab = controller().tabs().browserTabs()[1];
            return tab.title() == "C" && tab.favicon();
        }));
        controller().tabs().selectBrowserTabAtIndex(0);
        return work;
    }

    Glib::RefPtr<Gio::SimpleAction> restoreAction()
    {
        return std::dynamic_pointer_cast<Gio::SimpleAction>(
            m_application->lookup_action("restore-previous-session"));
    }

    std::vector<std::string> tabURLs()
    {
        std::vector<std::string> urls;
        for (const Tab& tab : controller().tabs().browserTabs())
            urls.push_back(tab.webView() && !uriOf(tab.webView()).empty() ? uriOf(tab.webView()) : tab.url());
        return urls;
    }
};

TEST_F(SessionTest, ChosenInSettingsTheTabsComeBackAtLaunchInOrderOnTheirProfilesWithTheirHistory)
{
    ProfileID work = openThreePagesOnTwoProfiles();
    controller().showSettings();
    controller().settingsWindow()->onLaunchChoice().set_selected(1);
    shutDown();
    launch();

    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 2; }));
    const TabList& tabs = controller().tabs().browserTabs();
    EXPECT_EQ(tabURLs(), std::vector<std::string>({ m_server->url("/b.html"), m_server->url("/c.html") }));
    EXPECT_EQ(tabs[1].profileID(), work);
    EXPECT_EQ(tabs[1].title(), "C");
    // Only the selected tab loads; the other waits without a view.
    EXPECT_EQ(controller().tabs().indexOfSelectedTab(), 0u);
    EXPECT_EQ(tabs[1].webView(), nullptr);
    EXPECT_EQ(m_server->requestCount("/c.html"), 1);
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/b.html")));
    // Going back goes through the old history.
    ASSERT_TRUE(webkit_web_view_can_go_back(selectedView()));
    webkit_web_view_go_back(selectedView());
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/a.html")));
    // The other tab loads on its own profile when shown.
    controller().tabs().selectBrowserTabAtIndex(1);
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/c.html")));
    EXPECT_EQ(controller().profiles().currentProfile(), work);
    // A normal quit leaves nothing to offer.
    EXPECT_EQ(controller().session().crashOfferBar(), nullptr);
    EXPECT_FALSE(restoreAction()->get_enabled());
}

TEST_F(SessionTest, WithTheHomePageChosenTheMenuBringsTheLastSessionBackOnce)
{
    openThreePagesOnTwoProfiles();
    shutDown();
    launch();
    ASSERT_EQ(controller().tabs().browserTabs().size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return restoreAction()->get_enabled(); }));
    m_application->activate_action("restore-previous-session");
    EXPECT_EQ(tabURLs().size(), 3u);
    EXPECT_EQ(tabURLs()[1], m_server->url("/b.html"));
    EXPECT_EQ(tabURLs()[2], m_server->url("/c.html"));
    // The tab that waits without a view shows its icon from the session, not fetched again.
    const Tab& waiting = controller().tabs().browserTabs()[2];
    EXPECT_EQ(waiting.webView(), nullptr);
    ASSERT_TRUE(waiting.favicon());
    EXPECT_EQ(waiting.favicon()->get_width(), 16);
    EXPECT_EQ(m_server->requestCount("/icon.png"), 1);
    EXPECT_FALSE(restoreAction()->get_enabled());
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/b.html")));
}

TEST_F(SessionTest, AfterTheRealBrowserIsKilledTheNextLaunchOffersItsSession)
{
    shutDown();
    m_server->page("/kept.html", "Kept");
    std::string error;
    GPid browser = spawnBrowserProgram({ m_server->url("/kept.html") },
        { { "GTK_A11Y", "none" }, { "QV_NETWORK_PROXY", "http://127.0.0.1:9" } }, error);
    ASSERT_TRUE(browser) << error;
    fs::path file = dataFolder() / kSessionFileName;
    bool saved = waitUntil([&] {
        FileRead read = readWholeFile(file);
        return read.status == ReadStatus::Ok && read.contents.find("kept.html") != std::string::npos;
    }, std::chrono::seconds(60));
    kill(browser, SIGKILL);
    waitpid(browser, nullptr, 0);
    g_spawn_close_pid(browser);
    ASSERT_TRUE(saved);

    launch();
    ASSERT_TRUE(waitUntil([&] { return controller().session().crashOfferBar() != nullptr; }));
    Gtk::Revealer* bar = controller().session().crashOfferBar();
    ASSERT_TRUE(bar && bar->get_reveal_child());
    // The window is not held up: the home page tab is there beside the offer.
    EXPECT_EQ(controller().tabs().browserTabs().size(), 1u);
    auto* restore = dynamic_cast<Gtk::Button*>(findWidgetByName(*bar, "session-restore"));
    ASSERT_NE(restore, nullptr);
    g_signal_emit_by_name(restore->gobj(), "clicked");
    EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/kept.html")));
    EXPECT_FALSE(bar->get_reveal_child());
    // A normal quit this time: no offer at the next launch.
    shutDown();
    launch();
    ASSERT_TRUE(waitUntil([&] { return controller().session().lastSessionKnown(); }));
    EXPECT_EQ(controller().session().crashOfferBar(), nullptr);
}

TEST_F(SessionTest, APageThatNeverFinishesLoadingHoldsNoSaveBack)
{
    // Saves wait for loads under way, but not for ever.
    m_server->hang("/slow.png");
    m_server->page("/loading.html", "Loading", "<img src=\"/slow.png\">");
    m_server->page("/a.html", "A");
    submitAddress(m_server->url("/loading.html"));
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/slow.png") == 1; }));
    controller().tabs().createBrowserTabWithURL(m_server->url("/a.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/a.html")));
    ASSERT_TRUE(webkit_web_view_is_loading(controller().tabs().browserTabs()[0].webView()));
    EXPECT_TRUE(waitUntil([&] {
        auto session = parseSession(readWholeFile(dataFolder() / kSessionFileName).contents);
        return session && session.value().tabs.size() == 2;
    }));
}

TEST_F(SessionTest, ADamagedSessionFileIsKeptByteForByteReportedOnceAndTheHomePageOpens)
{
    controller().shell().setDefaultsValue(kRestoreSessionOnLaunchKey, true);
    shutDown();
    const std::string damaged = std::string("{\"version\":1,\"tabs\":[\0\xff", 24);
    ASSERT_TRUE(writeFileAtomically(dataFolder() / kSessionFileName, damaged));
    m_alerts.clear();
    launch();
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 1; }));
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_NE(m_alerts[0].informativeText.find("The last session could not be restored"), std::string::npos)
        << m_alerts[0].informativeText;
    FileRead kept = readWholeFile(dataFolder() / "session.json.bad");
    EXPECT_EQ(kept.contents, damaged);
}

} // namespace

} // namespace qv::test

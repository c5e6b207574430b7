// Content blocking: a filter list added in the profiles window blocks a request and hides an
// element in the profile that uses it and not in another, "Allow on this site" lets it
// through, and a later launch loads the compiled list from the store instead of compiling it
// again.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "platform/storage_locations.h"
#include "contentblocking/content_blocking_button.h"
#include "contentblocking/content_blocking_section.h"
#include "contentblocking/content_blocking_service.h"
#include "profiles/profile_service.h"
#include "profiles/profiles_window.h"
#include "tabs/tab_service.h"

#include <fstream>

namespace qv::test {

namespace {

namespace fs = std::filesystem;

Json storedDefaults()
{
    FileRead read = readWholeFile(defaultsFileURL());
    return read.status == ReadStatus::Ok ? parseJson(read.contents).value_or(Json()) : Json();
}

} // namespace

class ContentBlockingTest : public BrowserTest {
protected:
    void SetUp() override
    {
        BrowserTest::SetUp();
        ASSERT_TRUE(m_server);
        m_server->page("/page.html", "Page",
            "<img src=\"/ad/banner.svg\"><img src=\"/own.svg\"><div id=s class=\"box sponsor\">ad</div>");
        TestServer::Response image;
        image.contentType = "image/svg+xml";
        image.body = "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>";
        m_server->route("/ad/banner.svg", image);
        m_server->route("/own.svg", image);
    }
    // Loads the page in the selected tab; the load ends once its images have loaded or failed.
    void loadPage()
    {
        controller().navigation().loadResolvedAddress(m_server->url("/page.html"));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/page.html")));
    }
    ContentBlockingService& blocking() { return controller().contentBlocking(); }
    // The list's generic hiding reaches the page after it loads, or not at all.
    bool sponsorHidden(bool hidden)
    {
        const char* display = "getComputedStyle(document.getElementById('s')).display";
        if (hidden)
            return waitUntil([&] { return evaluate(selectedView(), display) == "\"none\""; });
        return evaluate(selectedView(), display) == "\"none\"";
    }
};

TEST_F(ContentBlockingTest, AListBlocksInItsProfileOnlyAndAllowingTheSiteLetsItThrough)
{
    fs::path list = testHome() / "ads.txt";
    std::ofstream(list) << "[Adblock Plus 2.0]\n! Test list\n||127.0.0.1^*/ad/$image\n"
                           "/tracker/$redirect=noopjs\n##.sponsor\n";
    controller().showProfiles();
    ProfilesWindow* window = controller().profilesWindow();
    ASSERT_TRUE(window);
    ASSERT_EQ(window->selectedProfileID(), "default");
    window->contentBlockingSection()->addListFile(list);
    ASSERT_TRUE(waitUntil([&] { return blocking().lists().size() == 1; }));
    const ContentBlockerListInfo info = blocking().lists()[0];
    EXPECT_EQ(info.ruleCount, 2u);
    EXPECT_EQ(info.skippedCount, 1u);
    ASSERT_TRUE(blocking().listReady(info.identifier));
    // Added from the default profile's section, the list is used there.
    Gtk::CheckButton* use = window->contentBlockingSection()->useCheck(info.identifier);
    ASSERT_TRUE(use);
    EXPECT_TRUE(use->get_active());
    EXPECT_TRUE(blocking().listUsedInProfile("default", info.identifier));
    window->close();

    loadPage();
    EXPECT_EQ(m_server->requestCount("/own.svg"), 1);
    EXPECT_EQ(m_server->requestCount("/ad/banner.svg"), 0);
    EXPECT_EQ(blocking().attachedLists(selectedView()).size(), 1u);
    EXPECT_TRUE(sponsorHidden(true));
    // The page's report of the blocked image reaches the shield.
    ASSERT_TRUE(waitUntil([&] { return blocking().selectedPageState().blocked == 1; }));
    ContentBlockingButton* shield = blocking().shieldButtonWidget();
    ASSERT_TRUE(shield);
    EXPECT_TRUE(shield->get_visible());
    EXPECT_EQ(shield->countLabel()->get_text(), "1 load blocked on this page");

    // Another profile does not use the list.
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    loadPage();
    EXPECT_EQ(m_server->requestCount("/own.svg"), 2);
    EXPECT_EQ(m_server->requestCount("/ad/banner.svg"), 1);
    EXPECT_TRUE(blocking().attachedLists(selectedView()).empty());
    EXPECT_FALSE(sponsorHidden(false));
    EXPECT_FALSE(shield->get_visible());

    // Allowing the site in the default profile reloads the page without the list.
    controller().tabs().selectBrowserTabAtIndex(0);
    ASSERT_TRUE(shield->get_visible());
    shield->allowSwitch()->set_active(true);
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/ad/banner.svg") == 2; }));
    EXPECT_TRUE(blocking().attachedLists(selectedView()).empty());
    EXPECT_TRUE(blocking().siteAllowed("default", "127.0.0.1"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/page.html")));
    EXPECT_FALSE(sponsorHidden(false));
    flushFiles();
    Json stored = storedDefaults();
    EXPECT_EQ(stored["QuivelContentBlockingAllowedSites"], Json::parse(R"({"default":["127.0.0.1"]})"));
    EXPECT_EQ(stored["QuivelProfiles"][0]["contentBlockers"], Json::array({ info.identifier }));

    // A later launch loads the compiled list from the store.
    shutDown();
    launch();
    ASSERT_TRUE(waitUntil([&] { return controller().contentBlocking().listReady(info.identifier); }));
    EXPECT_GT(controller().contentBlocking().lastLoadMilliseconds(), 0);
    EXPECT_EQ(controller().contentBlocking().lastCompileMilliseconds(), 0);
    controller().contentBlocking().setSiteAllowed("default", "127.0.0.1", false);
    loadPage();
    EXPECT_TRUE(sponsorHidden(true));

    // A store compiled before generic hiding had a file of its own is used, then made anew.
    fs::path hidingFile = dataDirectory() / kContentBlockersFolder / (info.identifier + ".hiding");
    ASSERT_TRUE(fs::exists(hidingFile));
    shutDown();
    fs::remove(hidingFile);
    launch();
    ASSERT_TRUE(waitUntil([&] { return controller().contentBlocking().lastCompileMilliseconds() > 0; }));
    flushFiles();
    EXPECT_TRUE(fs::exists(hidingFile));
}

} // namespace qv::test

// Profiles in the running browser: loading and repair, separate website data that survives a
// restart, using and deleting a profile.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "platform/storage_locations.h"
#include "profiles/clear_browsing_data_window.h"
#include "profiles/profiles_window.h"
#include "profiles/website_data_section.h"
#include "session/session_service.h"

#include <cmath>
#include <fstream>

namespace qv::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kWorkID = "0F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0";

Json storedDefaultsFile()
{
    FileRead read = readWholeFile(defaultsFileURL());
    return read.status == ReadStatus::Ok ? parseJson(read.contents).value_or(Json()) : Json();
}

void writeDefaults(const Json& document)
{
    fs::create_directories(defaultsFileURL().parent_path());
    std::ofstream(defaultsFileURL()) << dumpJson(document, 2);
}

} // namespace

class ProfilesTest : public BrowserTest {
protected:
    Json storedDefaults()
    {
        flushFiles();
        return storedDefaultsFile();
    }
    // Loads the store page in the selected tab and runs a script there.
    std::string onStorePage(const std::string& script)
    {
        controller().navigation().loadResolvedAddress(m_server->url("/store.html"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/store.html")));
        return evaluate(selectedView(), script);
    }
    void SetUp() override
    {
        BrowserTest::SetUp();
        if (m_server) {
            m_server->page("/store.html", "Store");
            m_server->route("/login", { 200, "text/html", "<title>In</title>",
                { { "Set-Cookie", "sid=1; Max-Age=86400; Path=/" } } });
        }
    }
    // Signs the selected tab in (the server sets a cookie) and says whether it is signed in.
    void signIn()
    {
        controller().navigation().loadResolvedAddress(m_server->url("/login"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/login")));
    }
    bool signedIn() { return onStorePage("document.cookie.includes('sid=1')") == "true"; }
    static std::string fileText(const fs::path& file)
    {
        FileRead read = readWholeFile(file);
        return read.status == ReadStatus::Ok ? read.contents : "";
    }
};

class ProfilesBeforeLaunchTest : public ProfilesTest {
protected:
    ProfilesBeforeLaunchTest() { m_launchInSetUp = false; }
};

TEST_F(ProfilesTest, WithoutStoredProfilesOnlyTheBuiltInProfileExistsAndIsStored)
{
    ASSERT_EQ(controller().profiles().profiles().size(), 1u);
    const BrowserProfile& profile = controller().profiles().profiles()[0];
    EXPECT_EQ(profile.id, "default");
    EXPECT_EQ(profile.name, "Default");
    EXPECT_EQ(profile.userAgent, std::string(kSafariUserAgent));
    EXPECT_EQ(profile.searchEngine, "Google");
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    Json stored = storedDefaults();
    ASSERT_TRUE(stored.contains("QuivelProfiles"));
    EXPECT_EQ(stored["QuivelProfiles"].size(), 1u);
    EXPECT_EQ(stored["QuivelProfiles"][0]["id"], "default");
    EXPECT_EQ(stored["QuivelCurrentProfile"], "default");
    // The browser tab sends the profile's User-Agent.
    EXPECT_EQ(onStorePage("navigator.userAgent"), "\"" + std::string(kSafariUserAgent) + "\"");
}

TEST_F(ProfilesBeforeLaunchTest, StoredProfilesAreRepairedAndUnknownCurrentFallsBack)
{
    writeDefaults({ { "QuivelProfiles",
                        Json::array({ { { "id", kWorkID }, { "name", "Work" },
                                          { "searchEngine", "google" }, { "color", "blue" } },
                            { { "name", "no id" } }, 42 }) },
        { "QuivelCurrentProfile", "5A5A5A5A-0000-4000-8000-000000000000" } });
    launch();
    ASSERT_EQ(controller().profiles().profiles().size(), 2u);
    EXPECT_EQ(controller().profiles().profiles()[0].id, "default");
    EXPECT_EQ(controller().profiles().profiles()[1].id, kWorkID);
    EXPECT_EQ(controller().profiles().profiles()[1].searchEngine, "Google");
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    Json stored = storedDefaults();
    EXPECT_EQ(stored["QuivelCurrentProfile"], "default");
    EXPECT_EQ(stored["QuivelProfiles"][1]["color"], "blue");
}

TEST_F(ProfilesBeforeLaunchTest, HomePageAndSearchesUseTheCurrentProfilesEngine)
{
    writeDefaults({ { "QuivelProfiles",
                        Json::array({ { { "id", kWorkID }, { "name", "Work" },
                            { "searchEngine", "DuckDuckGo" } } }) },
        { "QuivelCurrentProfile", kWorkID } });
    launch();
    EXPECT_EQ(controller().tabs().browserTabs()[0].profileID(), kWorkID);
    EXPECT_EQ(controller().profiles().homePageURLForProfile(kWorkID), "https://duckduckgo.com/?q=");
    submitAddress("two words");
    EXPECT_EQ(controller().window()->requestField().get_text().raw(),
        "https://duckduckgo.com/?q=two%20words");
    EXPECT_EQ(
        controller().profiles().searchURLForProfile("default", "x"), "https://www.google.com/search?q=x");
}

// Whether any file below the folder holds the bytes.
bool treeContains(const fs::path& folder, std::string_view bytes)
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (content.find(bytes) != std::string::npos)
            return true;
    }
    return false;
}

bool treeContains(const fs::path& folder, std::u16string_view text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xff));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return treeContains(folder, std::string_view(bytes));
}

TEST_F(ProfilesTest, TwoProfilesKeepSeparateStorageAndCookiesAcrossRestart)
{
    ProfileID work = controller().profiles().createProfile();
    ASSERT_TRUE(isValidProfileID(work));
    controller().profiles().selectCurrentProfile(work);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_EQ(controller().tabs().browserTabs()[1].profileID(), work);
    EXPECT_EQ(controller().profiles().currentProfile(), work);
    EXPECT_EQ(onStorePage("localStorage.setItem('who', 'work');"
                          "document.cookie = 'who=work; max-age=86400; path=/';"
                          "localStorage.getItem('who')"),
        "\"work\"");

    controller().tabs().selectBrowserTabAtIndex(0);
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    EXPECT_EQ(onStorePage("localStorage.getItem('who')"), "null");
    EXPECT_EQ(onStorePage("document.cookie.indexOf('who=work')"), "-1");
    onStorePage("localStorage.setItem('who', 'default'); document.cookie = 'who=default; "
                "max-age=86400; path=/'; true");
    // The network process writes what it keeps to disk on its own schedule: wait until both
    // profiles' stored values and cookies are in their own files.
    fs::path defaultData = testHome() / ".local/share/webkitgtk";
    fs::path workData = profileDataDirectory(work);
    ASSERT_TRUE(waitUntil([&] {
        return treeContains(defaultData / "storage", std::u16string_view(u"default"))
            && treeContains(defaultData, std::string_view("whodefault"))
            && treeContains(workData, std::u16string_view(u"work"))
            && treeContains(workData, std::string_view("whowork"));
    }));

    shutDown();
    launch();
    ASSERT_NE(controller().profiles().profileForID(work), nullptr);
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    EXPECT_EQ(onStorePage("localStorage.getItem('who')"), "\"default\"");
    controller().profiles().selectCurrentProfile(work);
    EXPECT_EQ(controller().tabs().browserTabs()[1].profileID(), work);
    EXPECT_EQ(onStorePage("localStorage.getItem('who')"), "\"work\"");
    EXPECT_EQ(onStorePage("document.cookie"), "\"who=work\"");
}

TEST_F(ProfilesTest, UsingAProfileSelectsItsFirstTab)
{
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    WebKitWebView* workView = selectedView();
    controller().profiles().selectCurrentProfile("default");
    EXPECT_EQ(controller().tabs().indexOfSelectedTab(), 0u);
    controller().profiles().selectCurrentProfile(work);
    EXPECT_EQ(selectedView(), workView);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_EQ(storedDefaults()["QuivelCurrentProfile"], work);
}

TEST_F(ProfilesTest, DeletingProfileClosesItsTabsAndRemovesItsData)
{
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    onStorePage("localStorage.setItem('who', 'work'); true");
    controller().tabs().createBrowserTabWithURL(m_server->url("/store.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/store.html")));
    ASSERT_EQ(controller().tabs().browserTabs().size(), 3u);
    fs::path data = profileDataDirectory(work);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(data); }));

    m_alertAnswer = 0;
    ASSERT_TRUE(controller().profiles().deleteProfile(work));
    ASSERT_FALSE(m_alerts.empty());
    EXPECT_EQ(m_alerts.back().messageText, "Delete New Profile?");
    EXPECT_EQ(m_alerts.back().buttons, (std::vector<std::string> { "Delete Profile", "Cancel" }));
    EXPECT_EQ(controller().profiles().profileForID(work), nullptr);
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    for (const auto& tab : controller().tabs().browserTabs())
        EXPECT_EQ(tab.profileID(), "default");
    // The home tab of launch plus the Default tab opened because the current profile went.
    EXPECT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_EQ(controller().tabs().indexOfSelectedTab(), 1u);
    EXPECT_EQ(controller().profiles().profileDataStores().count(work), 0u);
    // The data goes on a later turn of the main loop.
    EXPECT_TRUE(waitUntil(
        [&] { return !fs::exists(data) && !fs::exists(profileCacheDirectory(work)); }, 10s));
    Json stored = storedDefaults();
    EXPECT_EQ(stored["QuivelProfiles"].size(), 1u);
    EXPECT_EQ(stored["QuivelCurrentProfile"], "default");
}

TEST_F(ProfilesTest, DeletingIsRefusedForDefaultAndWhenCancelled)
{
    EXPECT_FALSE(controller().profiles().deleteProfile("default"));
    EXPECT_TRUE(m_alerts.empty());
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    m_alertAnswer = 1;
    EXPECT_FALSE(controller().profiles().deleteProfile(work));
    EXPECT_NE(controller().profiles().profileForID(work), nullptr);
    EXPECT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_FALSE(controller().profiles().deleteProfile("no such profile"));
}

} // namespace qv::test

namespace qv::test {

TEST_F(ProfilesTest, RemovingOneSitesDataSignsItOutInThatProfileOnly)
{
    signIn();
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    signIn();
    ASSERT_TRUE(signedIn());

    controller().showProfiles();
    ProfilesWindow& window = *controller().profilesWindow();
    window.reloadProfiles(work);
    window.profileSelectionDidChange();
    WebsiteDataSection& section = *window.websiteDataSection();
    ASSERT_TRUE(waitUntil([&] {
        return !section.rows().empty() && section.rows()[0].site == "127.0.0.1"
            && section.rows()[0].kinds & WebsiteDataKind::Cookies;
    }));
    // A new profile prevents tracking until its switch is turned off.
    WebKitNetworkSession* session = controller().profiles().websiteDataStoreForProfile(work);
    EXPECT_TRUE(section.trackingPreventionSwitch()->get_active());
    EXPECT_TRUE(webkit_network_session_get_itp_enabled(session));
    section.trackingPreventionSwitch()->set_active(false);
    EXPECT_FALSE(webkit_network_session_get_itp_enabled(session));
    EXPECT_EQ(storedDefaults()["QuivelProfiles"][1]["trackingPrevention"], false);

    unsigned reads = section.readsFinished();
    ASSERT_TRUE(section.removeSite("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return section.readsFinished() > reads; }));
    EXPECT_TRUE(section.rows().empty() || section.rows()[0].site != "127.0.0.1");
    EXPECT_FALSE(signedIn());
    controller().tabs().selectBrowserTabAtIndex(0);
    EXPECT_TRUE(signedIn());
}

TEST_F(ProfilesTest, APrivateProfileLeavesNothingBehindAndForgetsItsDataWithItsLastTab)
{
    ProfileID hidden = controller().profiles().createProfile(ProfileKind::Private);
    EXPECT_EQ(storedDefaults()["QuivelProfiles"][1]["private"], true);
    controller().profiles().selectCurrentProfile(hidden);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 2u);
    signIn();
    ASSERT_TRUE(signedIn());
    EXPECT_TRUE(onStorePage("localStorage.setItem('who', 'hidden'); true") == "true");

    const std::string site = m_server->url("/");
    for (const HistoryEntry& entry : controller().history().historyEntries())
        EXPECT_NE(entry.url.rfind(site, 0), 0u) << entry.url;
    controller().session().scheduleSave();
    flushFiles();
    fs::path folder = controller().history().historyFileURL().parent_path();
    EXPECT_EQ(fileText(folder / "tab.json").find(site), std::string::npos);
    EXPECT_EQ(fileText(controller().session().sessionFile()).find(site), std::string::npos);
    EXPECT_FALSE(fs::exists(profileDataDirectory(hidden)));
    EXPECT_FALSE(fs::exists(profileCacheDirectory(hidden)));

    // Its last tab closes: a new one starts with nothing stored.
    controller().tabs().closeBrowserTabAtIndex(1);
    controller().profiles().selectCurrentProfile(hidden);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_FALSE(signedIn());
    EXPECT_EQ(evaluate(selectedView(), "localStorage.getItem('who')"), "null");
}

TEST_F(ProfilesBeforeLaunchTest, ClearBrowsingDataRemovesTheRangesVisitsAndTheProfilesSiteData)
{
    const std::string old = "http://127.0.0.1:9/old.html";
    Json day = Json::array({ { { "url", old }, { "title", "Old" }, { "time", "2020-01-02T10:00:00Z" } } });
    Json root = { { "years", { { "2020", { { "Jan", { { "2", day } } } } } } } };
    std::ofstream(testWorkingDirectory() / "history.json") << dumpJson(root, 1);
    launch();
    signIn();
    ASSERT_TRUE(signedIn());
    ASSERT_TRUE(waitUntil([&] { return controller().history().historyEntries().size() >= 3; }));

    controller().showClearBrowsingData("default");
    ClearBrowsingDataWindow& window = *controller().clearBrowsingDataWindow();
    EXPECT_EQ(window.rangeChoice()->get_selected(), 0u); // the last hour
    window.clearData();
    ASSERT_TRUE(waitUntil([&] { return window.clearsFinished() == 1; }));
    EXPECT_FALSE(window.is_visible());
    ASSERT_EQ(controller().history().historyEntries().size(), 1u);
    EXPECT_EQ(controller().history().historyEntries()[0].url, old);
    EXPECT_FALSE(signedIn());
}

} // namespace qv::test

namespace qv::test {

TEST_F(ProfilesTest, DISABLED_WebsiteDataScreenshots)
{
    const char* prefix = std::getenv("QV_WEBSITE_DATA_SHOT");
    ASSERT_TRUE(prefix);
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().renameProfile(work, "Work");
    controller().profiles().selectCurrentProfile(work);
    signIn();
    onStorePage("localStorage.setItem('draft', 'x'); indexedDB.open('mail'); true");
    std::string other = m_server->url("/store.html");
    other.replace(other.find("127.0.0.1"), 9, "localhost");
    controller().navigation().loadResolvedAddress(other);
    ASSERT_TRUE(waitForLoad(selectedView(), other));
    evaluate(selectedView(), "localStorage.setItem('seen', '1'); true");
    for (bool dark : { false, true }) {
        controller().shell().setDarkMode(dark);
        // Shown again, the window takes the theme; then the pane is scrolled to the section.
        controller().showProfiles();
        ProfilesWindow& window = *controller().profilesWindow();
        WebsiteDataSection& section = *window.websiteDataSection();
        ASSERT_TRUE(waitUntil([&] { return section.rows().size() >= 2; }));
        ASSERT_TRUE(waitForLayout());
        // The settings pane scrolled down to the section.
        auto* pane = dynamic_cast<Gtk::ScrolledWindow*>(section.get_ancestor(GTK_TYPE_SCROLLED_WINDOW));
        ASSERT_TRUE(pane);
        // A new theme lays the pane out again, which can scroll it back: set until it stays.
        ASSERT_TRUE(waitUntil([&] {
            double x = 0, y = 0;
            if (!section.translate_coordinates(*pane->get_child(), 0, 0, x, y))
                return false;
            if (std::abs(pane->get_vadjustment()->get_value() - (y - 12)) < 1 && flushIdleWork())
                return std::abs(pane->get_vadjustment()->get_value() - (y - 12)) < 1;
            pane->get_vadjustment()->set_value(y - 12);
            return false;
        }));
        std::string shot = std::string(prefix) + "website-data-" + (dark ? "dark" : "light") + ".png";
        ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);
    }
}

} // namespace qv::test

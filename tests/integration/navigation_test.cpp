// The navigation delegate: finished loads keep the chrome and history in step; new windows,
// downloads, failures and the navigation commands.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "history/history_store.h"
#include "platform/storage_locations.h"

#include <algorithm>

namespace qv::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every visit of the history as the browser reads it at start-up (the file and its journal, so
// what is on disk), oldest first, as (url, title). Only reads: a store that adopted what it read
// would start the journal again whenever it caught a line half written, under the browser.
std::vector<std::pair<std::string, std::string>> historyVisits(const fs::path& file)
{
    std::vector<std::pair<std::string, std::string>> visits;
    HistoryStore::forEachVisit(HistoryStore::read(file),
        [&](std::string_view url, std::string_view title, std::string_view) {
            visits.emplace_back(url, title);
        });
    return visits;
}

} // namespace

class NavigationTest : public BrowserTest {
protected:
    void load(const std::string& path)
    {
        controller().navigation().loadResolvedAddress(m_server->url(path));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url(path)));
    }
    std::string field() { return controller().window()->requestField().get_text().raw(); }
    std::string windowTitle() { return controller().window()->get_title().raw(); }
};

TEST_F(NavigationTest, FinishedLoadUpdatesFieldButtonsTitlesAndHistory)
{
    m_server->page("/one.html", "One");
    m_server->page("/two.html", "Two");
    load("/one.html");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[0].title() == "One"; }));
    EXPECT_FALSE(controller().window()->backButton().get_sensitive());
    load("/two.html");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[0].title() == "Two"; }));
    EXPECT_EQ(field(), m_server->url("/two.html"));
    EXPECT_EQ(windowTitle(), "Two");
    EXPECT_TRUE(controller().window()->backButton().get_sensitive());
    EXPECT_FALSE(controller().window()->forwardButton().get_sensitive());

    ASSERT_TRUE(
        waitUntil([&] { return historyVisits(controller().history().historyFileURL()).size() >= 2; }));
    auto visits = historyVisits(controller().history().historyFileURL());
    EXPECT_EQ(visits[visits.size() - 2],
        std::make_pair(m_server->url("/one.html"), std::string("One")));
    EXPECT_EQ(visits.back(), std::make_pair(m_server->url("/two.html"), std::string("Two")));
    ASSERT_FALSE(controller().history().historyEntries().empty());
    EXPECT_EQ(controller().history().historyEntries().front().url, m_server->url("/two.html"));

    controller().navigation().goBack();
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/one.html")));
    ASSERT_TRUE(waitUntil([&] { return windowTitle() == "One"; }));
    EXPECT_EQ(field(), m_server->url("/one.html"));
    EXPECT_EQ(controller().tabs().browserTabs()[0].title(), "One");
    EXPECT_TRUE(controller().window()->forwardButton().get_sensitive());
    EXPECT_FALSE(controller().window()->backButton().get_sensitive());

    controller().navigation().goForward();
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/two.html")));
    ASSERT_TRUE(waitUntil([&] { return windowTitle() == "Two"; }));
}

TEST_F(NavigationTest, BackgroundTabKeepsItsOwnTitleAndLeavesWindowChromeAlone)
{
    m_server->page("/front.html", "Front");
    m_server->page("/back.html", "Back");
    load("/front.html");
    controller().tabs().createBrowserTabWithURL(m_server->url("/back.html"));
    WebKitWebView* background = selectedView();
    controller().tabs().selectBrowserTabAtIndex(0);
    ASSERT_TRUE(waitForLoad(background, m_server->url("/back.html")));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[1].title() == "Back"; }));
    EXPECT_EQ(windowTitle(), "Front");
    EXPECT_EQ(field(), m_server->url("/front.html"));
    // Background tabs are recorded too.
    ASSERT_TRUE(waitUntil([&] {
        auto visits = historyVisits(controller().history().historyFileURL());
        return !visits.empty() && visits.back().first == m_server->url("/back.html");
    }));
    auto visits = historyVisits(controller().history().historyFileURL());
    EXPECT_EQ(visits.back().first, m_server->url("/back.html"));
}

TEST_F(NavigationTest, PageWithoutTitleShowsHostEverywhere)
{
    m_server->route("/plain.html", { 200, "text/html", "<p>no title</p>", {} });
    load("/plain.html");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[0].title() == "127.0.0.1"; }));
    EXPECT_EQ(windowTitle(), "127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return !historyVisits(controller().history().historyFileURL()).empty(); }));
    EXPECT_EQ(historyVisits(controller().history().historyFileURL()).back().second, "127.0.0.1");
}

TEST_F(NavigationTest, LinkWithBlankTargetOpensAndLoadsNewTab)
{
    m_server->page("/target.html", "Target");
    m_server->page("/links.html", "Links",
        "<a id=l target=_blank href=/target.html>open</a>");
    load("/links.html");
    WebKitWebView* opener = selectedView();
    webkit_settings_set_javascript_can_open_windows_automatically(
        webkit_web_view_get_settings(opener), TRUE);
    evaluate(opener, "document.getElementById('l').click(); true");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 2; }));
    WebKitWebView* opened = selectedView();
    EXPECT_NE(opened, opener);
    ASSERT_TRUE(waitForLoad(opened, m_server->url("/target.html")));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[1].title() == "Target"; }));
    EXPECT_EQ(uriOf(opener), m_server->url("/links.html"));
}

TEST_F(NavigationTest, AttachmentsAndUnshowableContentAreDownloadedNotShown)
{
    m_server->page("/page.html", "Page");
    m_server->route("/report.txt",
        { 200, "text/plain", "attached text",
            { { "Content-Disposition", "Attachment; filename=a.pdf" } } });
    m_server->route("/blob.bin",
        { 200, "application/x-quivel-unknown", std::string(4096, 'x'),
            { { "Content-Disposition", "inline" } } });
    load("/page.html");
    ASSERT_TRUE(waitUntil([&] { return windowTitle() == "Page"; }));
    for (const char* path : { "/report.txt", "/blob.bin" }) {
        controller().navigation().loadResolvedAddress(m_server->url(path));
        ASSERT_TRUE(waitUntil([&] { return m_server->requestCount(path) == 1; })) << path;
        // The refused address may show as provisional for a moment; it must not stay.
        EXPECT_TRUE(waitUntil(
            [&] { return uriOf(selectedView()) == m_server->url("/page.html"); }, 10s))
            << path << " left " << uriOf(selectedView());
        EXPECT_EQ(windowTitle(), "Page") << path;
    }
    ASSERT_TRUE(waitUntil([&] { return controller().downloads().downloadEntries().size() == 2; }));
    std::error_code ec;
    EXPECT_TRUE(fs::exists(downloadsDirectory() / "a.pdf", ec));
    EXPECT_FALSE(fs::exists(downloadsDirectory() / "report.txt", ec));
    EXPECT_TRUE(fs::exists(downloadsDirectory() / "blob.bin", ec));
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(NavigationTest, LoadFailureShowsInWindowTitleOfSelectedTabOnly)
{
    std::string closed;
    {
        TestServer gone;
        closed = gone.url("/x.html");
    }
    controller().navigation().loadResolvedAddress(closed);
    ASSERT_TRUE(waitUntil([&] { return windowTitle().rfind("Load failed: ", 0) == 0; }));
    EXPECT_GT(windowTitle().size(), std::string("Load failed: ").size());

    m_server->page("/ok.html", "Fine");
    load("/ok.html");
    ASSERT_TRUE(waitUntil([&] { return windowTitle() == "Fine"; }));
    controller().tabs().createBrowserTabWithURL(closed);
    WebKitWebView* failing = selectedView();
    controller().tabs().selectBrowserTabAtIndex(0);
    ASSERT_TRUE(waitUntil([&] { return !webkit_web_view_is_loading(failing); }));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(windowTitle(), "Fine");
    EXPECT_NE(failing, selectedView());

    // Its strip item names the error page instead of the load that never came.
    auto stripLabels = [&] {
        std::vector<std::string> texts;
        std::function<void(Gtk::Widget&)> collect = [&](Gtk::Widget& widget) {
            if (auto* label = dynamic_cast<Gtk::Label*>(&widget))
                texts.push_back(label->get_text());
            for (Gtk::Widget* child = widget.get_first_child(); child;
                 child = child->get_next_sibling())
                collect(*child);
        };
        collect(controller().tabs().tabStrip()->bar());
        return texts;
    };
    auto shown = [&](const std::string& text) {
        auto texts = stripLabels();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    };
    EXPECT_TRUE(waitUntil([&] { return shown("This page could not be loaded"); }));
    EXPECT_FALSE(shown("Loading\u2026"));
}

TEST_F(NavigationTest, StoppedLoadLeavesWindowTitleAlone)
{
    m_server->page("/ok.html", "Fine");
    m_server->hang("/slow.html");
    load("/ok.html");
    ASSERT_TRUE(waitUntil([&] { return windowTitle() == "Fine"; }));
    controller().navigation().loadResolvedAddress(m_server->url("/slow.html"));
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/slow.html") == 1; }));
    webkit_web_view_stop_loading(selectedView());
    ASSERT_TRUE(waitUntil([&] { return !webkit_web_view_is_loading(selectedView()); }));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(windowTitle(), "Fine");
}

TEST_F(NavigationTest, ReloadReloadsPageOrGoesHomeWithoutOne)
{
    m_server->page("/r.html", "R");
    load("/r.html");
    controller().navigation().reloadPage();
    ASSERT_TRUE(waitUntil([&] { return m_server->requestCount("/r.html") == 2; }));

    controller().tabs().createBrowserTabWithURL(std::nullopt);
    uint64_t before = controller().navigation().addressLookupGeneration();
    controller().navigation().reloadPage();
    EXPECT_EQ(controller().navigation().addressLookupGeneration(), before + 1);
    EXPECT_EQ(field(), controller().profiles().homePageURLForProfile("default"));
}

TEST_F(NavigationTest, HomePutsHomePageInFieldAndSubmitsIt)
{
    uint64_t before = controller().navigation().addressLookupGeneration();
    controller().navigation().goHome();
    EXPECT_EQ(field(), "https://www.google.com/search?q=");
    EXPECT_EQ(controller().navigation().addressLookupGeneration(), before + 1);
}

TEST_F(NavigationTest, AddressThatIsNoURLGivesAlertAndChangesNothing)
{
    m_server->page("/stay.html", "Stay");
    load("/stay.html");
    using Address = std::optional<std::string>;
    for (const Address& bad :
        { Address(), Address(""), Address("http://exa mple.test/"), Address("no scheme") }) {
        m_alerts.clear();
        controller().navigation().loadResolvedAddress(bad);
        ASSERT_EQ(m_alerts.size(), 1u);
        EXPECT_EQ(m_alerts[0].messageText, "Quivel Browser");
        EXPECT_EQ(m_alerts[0].informativeText, "Could not create a valid URL for this input.");
        EXPECT_EQ(m_alerts[0].buttons, std::vector<std::string> { "OK" });
        EXPECT_EQ(field(), m_server->url("/stay.html"));
    }
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(uriOf(selectedView()), m_server->url("/stay.html"));
}

TEST_F(NavigationTest, FocusAddressBarSelectsItsText)
{
    m_server->page("/f.html", "F");
    load("/f.html");
    controller().window()->set_focus(*controller().window()->get_child());
    controller().navigation().focusAddressBar();
    int start = 0, end = 0;
    ASSERT_TRUE(waitUntil([&] {
        return controller().window()->requestField().get_selection_bounds(start, end);
    }));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, static_cast<int>(m_server->url("/f.html").size()));
}

} // namespace qv::test

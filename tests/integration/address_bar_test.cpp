// The address field end to end: probing candidates, stale and misdirected results, local
// files, immediate searches and hostile input.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"

#include <fstream>

namespace qv::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

int countOf(const std::vector<std::string>& log, const std::string& line)
{
    return static_cast<int>(std::count(log.begin(), log.end(), line));
}

fs::path writePage(const fs::path& path, const std::string& title)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "<!doctype html><title>" << title << "</title><p>" << title;
    return path;
}

} // namespace

class AddressBarTest : public BrowserTest {
protected:
    // Routes "/<status>" answering that status and "/hang" never answering.
    void serveStatuses()
    {
        for (unsigned status : { 200u, 401u, 404u, 410u, 500u })
            m_server->route("/" + std::to_string(status),
                { status, "text/html", "<title>S" + std::to_string(status) + "</title>", {} });
        m_server->hang("/hang");
    }
    // Typed text resolves to these local candidates instead of the real domains.
    void candidatesFor(const std::string& input, std::vector<std::string> paths)
    {
        std::vector<std::string> urls;
        for (const auto& path : paths)
            urls.push_back(m_server->url(path));
        controller().navigation().setAddressCandidateBuilder([input, urls](const std::string& typed) {
            return typed == input ? urls : std::vector<std::string> {};
        });
    }
    std::string field() { return controller().window()->requestField().get_text().raw(); }

    // A first tab showing /first.html and a second, selected one showing /other.html, with
    // "first" set to resolve to a probe that answers and one that hangs.
    void openTwoTabsAndProbeFirst()
    {
        serveStatuses();
        m_server->page("/first.html", "First");
        m_server->page("/other.html", "Other");
        controller().navigation().loadResolvedAddress(m_server->url("/first.html"));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/first.html")));
        controller().tabs().createBrowserTabWithURL(m_server->url("/other.html"));
        ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/other.html")));
        candidatesFor("first", { "/200", "/hang" });
    }
};

TEST_F(AddressBarTest, ProberLoadsFirstAnsweringCandidateInListOrder)
{
    serveStatuses();
    struct Case {
        std::vector<std::string> paths;
        std::string winner;
    };
    const Case cases[] = {
        { { "/404", "/410", "/200", "/500", "/hang" }, "/200" },
        { { "/hang", "/500", "/401", "/200" }, "/401" },
    };
    for (const Case& c : cases) {
        candidatesFor("news", c.paths);
        WebKitWebView* view = selectedView();
        size_t logStart = m_server->requestLog().size();
        submitAddress("news");
        ASSERT_TRUE(waitForLoad(view, m_server->url(c.winner), 10s)) << c.winner;
        EXPECT_EQ(field(), m_server->url(c.winner));
        auto all = m_server->requestLog();
        std::vector<std::string> log(all.begin() + static_cast<long>(logStart), all.end());
        // A probe given up once the winner was certain may never have reached the server.
        for (const auto& path : c.paths) {
            EXPECT_LE(countOf(log, "HEAD " + path), 1) << path;
            if (path != c.winner) {
                EXPECT_EQ(countOf(log, "GET " + path), 0) << path;
            }
        }
    }
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(AddressBarTest, NoAnsweringCandidateSearchesForTheInput)
{
    serveStatuses();
    candidatesFor("news", { "/404", "/410", "/500" });
    submitAddress("news");
    ASSERT_TRUE(waitUntil([&] { return field() == "https://www.google.com/search?q=news"; }, 10s));
    EXPECT_EQ(countOf(m_server->requestLog(), "GET /404"), 0);
}

TEST_F(AddressBarTest, FirstCandidateLoadsWithoutWaitingForASilentLaterOne)
{
    serveStatuses();
    // A minute-long time-out: a decision that waited for "/hang" could not load within the wait.
    controller().navigation().setAddressProbeTimeout(60s);
    candidatesFor("quick", { "/404", "/200", "/hang" });
    WebKitWebView* view = selectedView();
    submitAddress("quick");
    ASSERT_TRUE(waitForLoad(view, m_server->url("/200"), 10s));
    EXPECT_EQ(controller().navigation().pendingAddressProbes(), 0u);
}

TEST_F(AddressBarTest, StaleSubmissionResultIsDroppedWhenNewerOneWasTyped)
{
    serveStatuses();
    candidatesFor("first", { "/200", "/hang" });
    fs::path local = writePage(testWorkingDirectory() / "later.html", "Later");
    WebKitWebView* view = selectedView();
    submitAddress("first");
    uint64_t generation = controller().navigation().addressLookupGeneration();
    submitAddress(local.string());
    EXPECT_EQ(controller().navigation().addressLookupGeneration(), generation + 1);
    ASSERT_TRUE(waitForLoad(view, "file://"));
    // The first submission's probes end with the three-second time-out; their winner is stale.
    ASSERT_TRUE(waitUntil([&] { return controller().navigation().pendingAddressProbes() == 0; }, 10s));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(countOf(m_server->requestLog(), "HEAD /200"), 1);
    EXPECT_EQ(countOf(m_server->requestLog(), "GET /200"), 0);
    EXPECT_EQ(uriOf(view), "file://" + local.string());
    EXPECT_EQ(field(), "file://" + local.string());
}

TEST_F(AddressBarTest, ProbeResultLoadsInSubmittingTabAfterSwitch)
{
    ASSERT_NO_FATAL_FAILURE(openTwoTabsAndProbeFirst());
    WebKitWebView* submitting = selectedView();
    submitAddress("first");
    controller().tabs().selectBrowserTabAtIndex(0);
    WebKitWebView* first = selectedView();
    std::string firstURI = uriOf(first);
    ASSERT_TRUE(waitForLoad(submitting, m_server->url("/200"), 10s));
    EXPECT_EQ(uriOf(first), firstURI);
    EXPECT_EQ(selectedView(), first);
    // The field belongs to the selected tab, which did not submit anything.
    EXPECT_NE(field(), m_server->url("/200"));
}

TEST_F(AddressBarTest, ProbeResultIsDroppedWhenSubmittingTabWasClosed)
{
    ASSERT_NO_FATAL_FAILURE(openTwoTabsAndProbeFirst());
    submitAddress("first");
    controller().tabs().closeBrowserTabAtIndex(1);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 1u);
    WebKitWebView* remaining = selectedView();
    std::string before = uriOf(remaining);
    ASSERT_TRUE(waitUntil([&] { return controller().navigation().pendingAddressProbes() == 0; }, 10s));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(countOf(m_server->requestLog(), "GET /200"), 0);
    EXPECT_EQ(uriOf(remaining), before);
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(AddressBarTest, TypedLocalPathsOpenFilesWithoutProbing)
{
    fs::path page = writePage(testWorkingDirectory() / "site" / "index.html", "Index");
    WebKitWebView* view = selectedView();
    submitAddress("  " + page.string() + "  ");
    ASSERT_TRUE(waitForLoad(view, "file://" + page.string()));
    EXPECT_EQ(field(), "file://" + page.string());

    fs::path inHome = writePage(testHome() / "Sites" / "home.html", "Home File");
    submitAddress("~/Sites/home.html");
    ASSERT_TRUE(waitForLoad(view, "file://" + inHome.string()));
    EXPECT_TRUE(m_server->requestLog().empty());
}

TEST_F(AddressBarTest, FileAddressWithEscapesIsNotEscapedTwice)
{
    fs::path page = writePage(testWorkingDirectory() / "a b.html", "Spaced");
    WebKitWebView* view = selectedView();
    std::string escaped = "file://" + testWorkingDirectory().string() + "/a%20b.html";
    submitAddress(escaped);
    ASSERT_TRUE(waitForLoad(view, escaped));
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs()[0].title() == "Spaced"; }));

    // Typed with a raw blank, the address is escaped once.
    fs::path other = writePage(testWorkingDirectory() / "c d.html", "Other Spaced");
    submitAddress("file://" + other.string());
    std::string expected = "file://" + testWorkingDirectory().string() + "/c%20d.html";
    ASSERT_TRUE(waitForLoad(view, expected));
    EXPECT_EQ(uriOf(view), expected);
}

TEST_F(AddressBarTest, RelativeNameOfExistingFileIsNotOpenedAsFile)
{
    writePage(testWorkingDirectory() / "notes.html", "Notes");
    controller().navigation().setAddressCandidateBuilder(
        [](const std::string&) { return std::vector<std::string> {}; });
    submitAddress("notes.html");
    EXPECT_EQ(field(), "https://www.google.com/search?q=notes.html");
    EXPECT_EQ(uriOf(selectedView()).rfind("file://", 0), std::string::npos);
}

TEST_F(AddressBarTest, ExtensionSubmissionNeverOpensLocalFile)
{
    fs::path page = writePage(testWorkingDirectory() / "secret.html", "Secret");
    WebKitWebView* view = selectedView();
    controller().navigation().setAddressFieldText(page.string());
    controller().navigation().submitAddressFieldFromExtension();
    // It may still be probed as a web address; in the end it is searched.
    EXPECT_TRUE(
        waitUntil([&] { return field().rfind("https://www.google.com/search?q=", 0) == 0; }, 5s))
        << field();
    EXPECT_NE(uriOf(view).rfind("file://", 0), 0u);

    // The same text typed by the user opens the file.
    submitAddress(page.string());
    ASSERT_TRUE(waitForLoad(view, "file://" + page.string()));
}

TEST_F(AddressBarTest, SearchesEncodePlusAmpersandEqualsAndHash)
{
    submitAddress("a+b&c=d#e f");
    EXPECT_EQ(field(), "https://www.google.com/search?q=a%2Bb%26c%3Dd%23e%20f");
    submitAddress("two words");
    EXPECT_EQ(field(), "https://www.google.com/search?q=two%20words");
    submitAddress("stra\xc3\x9f"
                  "e");
    EXPECT_EQ(field(), "https://www.google.com/search?q=stra%C3%9Fe");
    // Immediate searches send nothing to probe.
    EXPECT_TRUE(m_server->requestLog().empty());
}

TEST_F(AddressBarTest, HostileAndHalfTypedInputGivesSearchesWithoutCrash)
{
    controller().navigation().setAddressCandidateBuilder(
        [](const std::string&) { return std::vector<std::string> {}; });
    std::string big;
    while (big.size() < 100 * 1024)
        big += "lorem ipsum ";
    const std::string inputs[] = {
        std::string("\x01\x02"
                    "abc\x7f"),
        big,
        "javascript:alert(1)",
        "data:text/html,<b>x</b>",
        "http://",
        "https://",
        "[",
        "www.",
        "...",
        "@",
        "GET",
    };
    for (const std::string& input : inputs) {
        uint64_t before = controller().navigation().addressLookupGeneration();
        submitAddress(input);
        ASSERT_TRUE(flushIdleWork());
        EXPECT_EQ(controller().navigation().addressLookupGeneration(), before + 1) << input.substr(0, 40);
        EXPECT_EQ(field().rfind("https://www.google.com/search?q=", 0), 0u) << input.substr(0, 40);
        EXPECT_EQ(uriOf(selectedView()).rfind("javascript:", 0), std::string::npos);
        EXPECT_EQ(uriOf(selectedView()).rfind("data:", 0), std::string::npos);
    }
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_TRUE(m_server->requestLog().empty());
}

TEST_F(AddressBarTest, BlankInputChangesNothing)
{
    uint64_t before = controller().navigation().addressLookupGeneration();
    std::string uri = uriOf(selectedView());
    for (const char* blank : { "", "   ", "\t", "#", "  #" })
        submitAddress(blank);
    EXPECT_EQ(controller().navigation().addressLookupGeneration(), before);
    EXPECT_EQ(uriOf(selectedView()), uri);
}

TEST_F(AddressBarTest, TypingFinalHashSubmitsTheTextBeforeIt)
{
    fs::path page = writePage(testWorkingDirectory() / "hash.html", "Hash");
    WebKitWebView* view = selectedView();
    Gtk::Entry* entry = &controller().window()->requestField();
    entry->set_text("");
    int position = 0;
    std::string typed = page.string() + "#";
    // Typing goes through the editable's insert, as the keyboard does.
    entry->insert_text(typed, -1, position);
    ASSERT_TRUE(waitForLoad(view, "file://" + page.string()));
    EXPECT_EQ(field(), "file://" + page.string());
}

TEST_F(AddressBarTest, ProgrammaticFieldChangesDoNotSubmit)
{
    uint64_t before = controller().navigation().addressLookupGeneration();
    controller().navigation().setAddressFieldText("http://127.0.0.1:1/#");
    controller().navigation().updateAddressFieldForURL("http://127.0.0.1:1/page#");
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(controller().navigation().addressLookupGeneration(), before);
}

// A page loading in the tab (a slow or failing home page, say) never replaces what the user is
// typing; once the text is submitted or the field is left, the page's address shows again.
TEST_F(AddressBarTest, PageProgressNeverReplacesTextBeingTyped)
{
    m_server->page("/one.html", "One");
    m_server->page("/two.html", "Two");
    WebKitWebView* view = selectedView();
    Gtk::Entry& entry = controller().window()->requestField();
    entry.grab_focus();
    entry.set_text("");
    int position = 0;
    entry.insert_text("half typ", -1, position);
    webkit_web_view_load_uri(view, m_server->url("/one.html").c_str());
    ASSERT_TRUE(waitForLoad(view, m_server->url("/one.html")));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_EQ(field(), "half typ");

    // Submitting hands the field back to the pages it loads.
    entry.set_text(m_server->url("/two.html"));
    controller().navigation().openRequest();
    ASSERT_TRUE(waitForLoad(view, m_server->url("/two.html")));
    EXPECT_EQ(field(), m_server->url("/two.html"));

    // Text left behind in a field without the focus gives way to the page.
    entry.insert_text("x", -1, position);
    gtk_widget_grab_focus(GTK_WIDGET(view));
    webkit_web_view_load_uri(view, m_server->url("/one.html").c_str());
    ASSERT_TRUE(waitForLoad(view, m_server->url("/one.html")));
    EXPECT_EQ(field(), m_server->url("/one.html"));
}

} // namespace qv::test

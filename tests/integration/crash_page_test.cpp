// A page whose process crashes, hangs or is stopped costs its own tab only; an extension whose
// page crashes is turned off with a note in the manager.
#include "support/extensions_fixture.h"

#include "navigation/unresponsive_page_bar.h"
#include "extensions/extension_runtime_rules.h"

#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/types.h>
#include <unistd.h>

namespace qv::test {

namespace {

// The engine's page processes started by this test process. They run in a sandbox, so the
// engine's own child is the sandbox and the page process lies a few levels below it.
std::set<pid_t> webProcesses()
{
    struct Entry {
        pid_t parent = 0;
        bool pageProcess = false;
    };
    std::map<pid_t, Entry> processes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::string command = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        processes[static_cast<pid_t>(std::stol(name))]
            = { parent, command.rfind("WebKitWebProces", 0) == 0 };
    }
    std::set<pid_t> found;
    for (const auto& [pid, entry] : processes) {
        if (!entry.pageProcess)
            continue;
        pid_t up = entry.parent;
        for (int depth = 0; depth < 4 && up > 1 && up != getpid(); ++depth) {
            auto it = processes.find(up);
            up = it == processes.end() ? 0 : it->second.parent;
        }
        if (up == getpid())
            found.insert(pid);
    }
    return found;
}

// The one page process started since `before`, once there is exactly one.
pid_t newWebProcess(const std::set<pid_t>& before)
{
    pid_t found = 0;
    waitUntil([&] {
        std::vector<pid_t> added;
        for (pid_t pid : webProcesses())
            if (!before.count(pid))
                added.push_back(pid);
        found = added.size() == 1 ? added[0] : 0;
        return found != 0;
    });
    return found;
}

} // namespace

class CrashPageTest : public ExtensionsTest {
protected:
    void launchBrowser()
    {
        writeDefaults(Json::object());
        launch();
        // Every process the launch needs is up before new ones are told apart: the launch
        // tab's page has started and settled.
        ASSERT_TRUE(waitUntil([&] {
            WebKitWebView* view = selectedView();
            return view && !uriOf(view).empty() && !webkit_web_view_is_loading(view);
        }));
    }

    // The title the strip shows for the view's tab.
    std::string titleOf(WebKitWebView* view)
    {
        for (const Tab& tab : controller().tabs().browserTabs())
            if (tab.webView() == view)
                return tab.title();
        return "(no tab)";
    }

    bool crashPageShown(WebKitWebView* view)
    {
        return evaluate(view, "document.getElementById('reload') !== null") == "true";
    }
};

TEST_F(CrashPageTest, CrashedTabShowsCrashPageWhoseReloadBringsThePageBackAndOtherTabsStay)
{
    launchBrowser();
    m_server->page("/one.html", "One", "first");
    m_server->page("/two.html", "Two", "second");
    controller().tabs().createBrowserTabWithURL(m_server->url("/one.html"));
    WebKitWebView* one = selectedView();
    ASSERT_TRUE(waitUntil([&] { return titleOf(one) == "One"; }));
    std::set<pid_t> before = webProcesses();
    std::string address = m_server->url("/two.html");
    controller().tabs().createBrowserTabWithURL(address);
    WebKitWebView* two = selectedView();
    ASSERT_TRUE(waitUntil([&] { return titleOf(two) == "Two"; }));
    pid_t process = newWebProcess(before);
    ASSERT_NE(process, 0);

    ASSERT_EQ(kill(process, SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return crashPageShown(two); }));
    EXPECT_EQ(uriOf(two), address);
    EXPECT_EQ(evaluate(two, "document.getElementById('heading').textContent"),
        "\"This page crashed\"");
    EXPECT_EQ(evaluate(two, "document.getElementById('address').textContent"),
        "\"" + address + "\"");
    EXPECT_EQ(titleOf(two), "Crashed: Two");
    EXPECT_EQ(controller().window()->get_title().raw(), "Crashed: Two");
    EXPECT_TRUE(controller().navigation().showingErrorPage(two));
    for (const auto& entry : controller().history().historyEntries())
        EXPECT_NE(entry.title, "Crashed: Two");
    // The other tab's page lives on.
    EXPECT_EQ(evaluate(one, "document.body.textContent"), "\"first\"");
    EXPECT_EQ(titleOf(one), "One");

    evaluate(two, "document.getElementById('reload').click(); true");
    ASSERT_TRUE(waitUntil([&] { return titleOf(two) == "Two"; }));
    EXPECT_EQ(m_server->requestCount("/two.html"), 2);
    EXPECT_EQ(evaluate(two, "document.body.textContent"), "\"second\"");
    EXPECT_FALSE(controller().navigation().showingErrorPage(two));
    EXPECT_EQ(uriOf(two), address);
}

// The real pointer clicks the page's button, a trusted input the engine waits on.
TEST_F(CrashPageTest, PointerHungSelectedPageOffersStopPageWhichShowsTheStoppedPage)
{
    launchBrowser();
    m_server->route("/busy.html",
        { 200, "text/html; charset=utf-8",
            "<!doctype html><title>Busy</title><body style='margin:0'>"
            "<button id='spin' style='width:100vw;height:100vh' "
            "onclick='for (;;) {}'>spin</button>",
            {} });
    std::string address = m_server->url("/busy.html");
    controller().tabs().createBrowserTabWithURL(address);
    WebKitWebView* view = selectedView();
    ASSERT_TRUE(waitUntil([&] { return titleOf(view) == "Busy"; }));
    UnresponsivePageBar& bar = controller().window()->unresponsivePageBar();
    EXPECT_FALSE(bar.shown());

    realClickAtCentre(view);
    ASSERT_TRUE(waitUntil([&] { return bar.shown(); }, std::chrono::seconds(30)));
    EXPECT_EQ(bar.text(), unresponsivePageMessage("Busy"));
    EXPECT_TRUE(bar.stopButton().get_visible());

    g_signal_emit_by_name(bar.stopButton().gobj(), "clicked");
    EXPECT_FALSE(bar.shown());
    ASSERT_TRUE(waitUntil([&] { return crashPageShown(view); }));
    EXPECT_EQ(evaluate(view, "document.getElementById('heading').textContent"),
        "\"This page was stopped\"");
    EXPECT_EQ(titleOf(view), "Stopped: Busy");
    EXPECT_EQ(uriOf(view), address);
}

TEST_F(CrashPageTest, ExtensionWhosePageCrashesIsTurnedOffWithANoteAndCanStartAgain)
{
    writeExtension("probe", fileExtensionManifest("probe", "Probe", Json::array()));
    launchBrowser();
    controller().showExtensionManager();
    std::set<pid_t> before = webProcesses();
    WebKitWebView* view = startExtension("probe");
    ASSERT_TRUE(view);
    pid_t process = newWebProcess(before);
    ASSERT_NE(process, 0);

    ASSERT_EQ(kill(process, SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return !extensionView("probe"); }));
    EXPECT_FALSE(controller().extensions().enabledExtensionIDs().count("probe"));
    EXPECT_EQ(storedDefaults()[kEnabledExtensionsKey], Json::array());
    controller().extensions().selectExtension(Sender::identified("probe"));
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(),
        extensionPageCrashedMessage("Probe"));

    ASSERT_TRUE(startExtension("probe"));
    EXPECT_TRUE(controller().extensions().extensionStopMessage("probe").empty());
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(),
        "File Extension \u00B7 isolated runtime \u00B7 Quivel API bridge");
}

// Pictures for the docs: QV_CRASH_SHOT=/path/prefix, run with --gtest_also_run_disabled_tests
// on a display of its own; it writes <prefix>crash-page-{light,dark}.png and
// <prefix>hung-page-bar-{light,dark}.png.
TEST_F(CrashPageTest, DISABLED_PointerScreenshots)
{
    const char* prefix = std::getenv("QV_CRASH_SHOT");
    ASSERT_TRUE(prefix);
    launchBrowser();
    m_server->page("/shop.html", "Corner Shop", "<h1>Corner Shop</h1>");
    m_server->route("/busy.html",
        { 200, "text/html; charset=utf-8",
            "<!doctype html><title>Busy Board</title><body style='margin:0'>"
            "<button id='spin' style='width:100vw;height:100vh;font-size:30px' "
            "onclick='for (;;) {}'>Busy Board</button>",
            {} });
    // Every process the launch needs is up before new ones are told apart.
    m_server->page("/first.html", "First");
    controller().tabs().createBrowserTabWithURL(m_server->url("/first.html"));
    WebKitWebView* first = selectedView();
    ASSERT_TRUE(waitUntil([&] { return titleOf(first) == "First"; }));
    // The launch's own tab has nothing to show here.
    controller().tabs().closeBrowserTabAtIndex(0);
    for (bool dark : { false, true }) {
        std::string theme = dark ? "dark" : "light";
        controller().shell().setDarkMode(dark);
        std::set<pid_t> before = webProcesses();
        controller().tabs().createBrowserTabWithURL(m_server->url("/shop.html"));
        WebKitWebView* view = selectedView();
        ASSERT_TRUE(waitUntil([&] { return titleOf(view) == "Corner Shop"; }));
        pid_t process = newWebProcess(before);
        ASSERT_NE(process, 0);
        ASSERT_EQ(kill(process, SIGKILL), 0);
        ASSERT_TRUE(waitUntil([&] { return crashPageShown(view); }));
        ASSERT_TRUE(waitForLoad(view, m_server->url("/shop.html")));
        // Two frames later the page is on screen.
        ASSERT_EQ(callAsync(view,
                      "await new Promise(r => requestAnimationFrame(() => "
                      "requestAnimationFrame(r))); return true;"),
            Json(true));
        ASSERT_TRUE(flushIdleWork());
        std::string shot = std::string(prefix) + "crash-page-" + theme + ".png";
        ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);

        controller().tabs().createBrowserTabWithURL(m_server->url("/busy.html"));
        WebKitWebView* busy = selectedView();
        ASSERT_TRUE(waitUntil([&] { return titleOf(busy) == "Busy Board"; }));
        realClickAtCentre(busy);
        UnresponsivePageBar& bar = controller().window()->unresponsivePageBar();
        ASSERT_TRUE(waitUntil([&] { return bar.shown(); }, std::chrono::seconds(30)));
        // The bar slides in; the shot waits until it is fully there.
        ASSERT_TRUE(waitUntil([&] { return bar.get_child_revealed(); }));
        ASSERT_TRUE(flushIdleWork());
        shot = std::string(prefix) + "hung-page-bar-" + theme + ".png";
        ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);
        g_signal_emit_by_name(bar.stopButton().gobj(), "clicked");
        ASSERT_TRUE(waitUntil([&] { return crashPageShown(busy); }));
    }
}

} // namespace qv::test

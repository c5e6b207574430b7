// How long the UI thread is kept from its main loop while a page animates its title 60 times a
// second and the user switches between two tabs 20 times: the browser, and as its floor a bare
// window switching between two bare web views of the same page, in the same run. Then the
// browser with 500 tabs open while 100 of their titles change, each change rewriting the session.
//
// Every turn of the main loop is timed from the end of one poll to the start of the next: that
// is the time the thread was busy and could not draw or take input. The figures are the longest
// turn and the turns over 16 ms (a missed frame at 60 Hz). Each measured stretch is bracketed
// by an access() of a marker path, so `bench/ui_stall.sh` can count, under strace, the writes,
// fsyncs and renames the UI thread made inside it. Run under a display (Xvfb).
#include "bench_home.h"
#include "main_loop.h"

#include "app/browser_controller.h"
#include "app/browser_window.h"
#include "platform/alerts.h"
#include "platform/renderer_choice.h"
#include "tabs/tab_service.h"
#include "app/shell.h"
#include "session/session_service.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qv::bench::Clock;
using qv::bench::settle;
using qv::bench::waitUntil;

constexpr int kSwitches = 20;
constexpr auto kBetweenSwitches = std::chrono::milliseconds(150);
constexpr double kFrameMs = 16.0;

// The busy time of every turn of the main loop, while recording.
struct TurnTimes {
    bool recording = false;
    Clock::time_point pollReturned = Clock::now();
    std::vector<double> busyMs;
    std::vector<double> drawingMs; // of busyMs, the time spent drawing a frame
    std::vector<Clock::time_point> endedAt;
    double drawingNow = 0;
    Clock::time_point paintStarted;
};
TurnTimes turns;

gint timedPoll(GPollFD* fds, guint count, gint timeout)
{
    auto entered = Clock::now();
    if (turns.recording)
    {
        turns.busyMs.push_back(
            std::chrono::duration<double, std::milli>(entered - turns.pollReturned).count());
        turns.drawingMs.push_back(turns.drawingNow);
        turns.endedAt.push_back(entered);
    }
    turns.drawingNow = 0;
    gint ready = g_poll(fds, count, timeout);
    turns.pollReturned = Clock::now();
    return ready;
}

// Times the drawing of a window's frames into the turn that draws them.
void timeDrawing(GtkWidget* window)
{
    GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
    if (!clock)
        return;
    using PaintHook = void (*)(GdkFrameClock*, gpointer);
    PaintHook before = [](GdkFrameClock*, gpointer) { turns.paintStarted = Clock::now(); };
    PaintHook after = [](GdkFrameClock*, gpointer) {
        turns.drawingNow
            += std::chrono::duration<double, std::milli>(Clock::now() - turns.paintStarted).count();
    };
    g_signal_connect(clock, "before-paint", G_CALLBACK(before), nullptr);
    g_signal_connect(clock, "after-paint", G_CALLBACK(after), nullptr);
}

// strace shows the path of an access() call: the brackets of a measured stretch.
void mark(const std::string& name)
{
    std::string path = "/quivel-bench-mark/" + name;
    (void)access(path.c_str(), F_OK);
}

struct Stalls {
    double longestMs = 0;
    size_t overFrame = 0;
    size_t overFrameAtSwitch = 0; // ended within 50 ms of a switch
    double longestBesidesDrawingMs = 0; // a turn's time minus the frame it drew
    size_t overFrameBesidesDrawing = 0;
    size_t turnCount = 0;
};

// Runs switchTo(i % 2) kSwitches times while recording the loop's turns.
Stalls measure(const std::string& name, const std::function<void(int)>& switchTo)
{
    // A few switches first: the first showing of a view costs what no later one does.
    for (int i = 1; i <= 4; ++i) {
        switchTo(i % 2);
        settle(kBetweenSwitches);
    }
    mark(name + "-start");
    turns.busyMs.clear();
    turns.endedAt.clear();
    turns.drawingMs.clear();
    std::vector<Clock::time_point> switches;
    turns.pollReturned = Clock::now();
    turns.recording = true;
    for (int i = 1; i <= kSwitches; ++i) {
        switches.push_back(Clock::now());
        switchTo(i % 2);
        settle(kBetweenSwitches);
    }
    turns.recording = false;
    mark(name + "-end");
    Stalls stalls;
    stalls.turnCount = turns.busyMs.size();
    for (size_t i = 0; i < turns.busyMs.size(); ++i) {
        stalls.longestMs = std::max(stalls.longestMs, turns.busyMs[i]);
        double besides = turns.busyMs[i] - turns.drawingMs[i];
        stalls.longestBesidesDrawingMs = std::max(stalls.longestBesidesDrawingMs, besides);
        stalls.overFrameBesidesDrawing += besides > kFrameMs ? 1 : 0;
        if (turns.busyMs[i] <= kFrameMs)
            continue;
        ++stalls.overFrame;
        bool atSwitch = std::any_of(switches.begin(), switches.end(), [&](Clock::time_point at) {
            return turns.endedAt[i] >= at && turns.endedAt[i] - at < std::chrono::milliseconds(50);
        });
        stalls.overFrameAtSwitch += atSwitch ? 1 : 0;
    }
    return stalls;
}

void report(const char* name, const Stalls& stalls, const std::string& title)
{
    std::printf("%s: %zu turns of the main loop, longest %.1f ms, %zu over %.0f ms (%zu of them "
                "right after a switch; last title \"%s\")\n",
        name, stalls.turnCount, stalls.longestMs, stalls.overFrame, kFrameMs,
        stalls.overFrameAtSwitch, title.c_str());
    std::printf("%s, not counting the drawing of frames: longest %.1f ms, %zu over %.0f ms\n", name,
        stalls.longestBesidesDrawingMs, stalls.overFrameBesidesDrawing, kFrameMs);
}

bool animating(WebKitWebView* view)
{
    const char* title = view ? webkit_web_view_get_title(view) : nullptr;
    return title && std::string(title).starts_with("Frame ");
}

std::string titleOf(WebKitWebView* view)
{
    const char* title = view ? webkit_web_view_get_title(view) : nullptr;
    return title ? title : "";
}

// The floor: a window holding two web views of the page in a stack, switching the one shown. They
// get the machine's rendering choice the browser makes (no accelerated compositing without a GPU
// device).
Stalls bareSwitching(const std::string& url, std::string& lastTitle)
{
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 768);
    GtkWidget* stack = gtk_stack_new();
    gtk_window_set_child(GTK_WINDOW(window), stack);
    WebKitWebView* views[2];
    for (auto*& view : views) {
        view = WEBKIT_WEB_VIEW(webkit_web_view_new());
        if (!qv::machineHasGpuDevice())
            webkit_settings_set_hardware_acceleration_policy(
                webkit_web_view_get_settings(view), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        gtk_stack_add_child(GTK_STACK(stack), GTK_WIDGET(view));
        webkit_web_view_load_uri(view, url.c_str());
    }
    gtk_window_present(GTK_WINDOW(window));
    if (!waitUntil([&] { return animating(views[0]) && animating(views[1]); },
            std::chrono::seconds(30)))
        std::fprintf(stderr, "bare web views never animated their titles\n");
    settle(std::chrono::milliseconds(500));
    timeDrawing(window);
    Stalls stalls = measure("bare", [&](int index) {
        gtk_stack_set_visible_child(GTK_STACK(stack), GTK_WIDGET(views[index]));
    });
    lastTitle = titleOf(views[0]);
    gtk_window_destroy(GTK_WINDOW(window));
    settle(std::chrono::milliseconds(300));
    return stalls;
}

// The session file of kSessionTabs tabs kept current through a burst of kSessionChanges tab
// changes (titles set 10 ms apart): the building and writing of the file must not show as a stall.
constexpr size_t kSessionTabs = 500;
constexpr int kSessionChanges = 100;

Stalls sessionWrites(const std::string& url, size_t& fileBytes, int& status)
{
    auto application = Gtk::Application::create(
        "org.quivel.UIStallBench.Session", Gio::Application::Flags::NON_UNIQUE);
    application->register_application();
    qv::BrowserController controller(application);
    controller.installMainMenu();
    controller.applicationDidFinishLaunching();
    qv::TabService& tabs = controller.tabs();
    if (!waitUntil([&] { return controller.window() && controller.window()->get_mapped()
                && controller.session().lastSessionKnown(); }, std::chrono::seconds(30))) {
        status = 1;
        return {};
    }
    // Each restored tab carries the back/forward list of a real page.
    WebKitWebView* first = tabs.selectedWebView();
    webkit_web_view_load_uri(first, url.c_str());
    waitUntil([&] { return animating(first); }, std::chrono::seconds(30));
    std::string state = qv::webViewSessionState(first);
    std::vector<qv::RestoredTab> restored;
    for (size_t i = 0; i < kSessionTabs; ++i)
        restored.push_back({ qv::kDefaultProfileID, url + "?n=" + std::to_string(i),
            "Restored " + std::to_string(i), false, 1.0, state, {} });
    tabs.restoreTabs(std::move(restored), 0);
    settle(std::chrono::seconds(2));
    controller.shell().flushFiles();
    Stalls stalls = measure("session", [&](int) {
        for (int change = 0; change < kSessionChanges / kSwitches; ++change) {
            tabs.tabList()[static_cast<size_t>(change + 2)].setTitle(
                "Changed " + std::to_string(g_get_monotonic_time()));
            settle(std::chrono::milliseconds(10));
        }
    });
    controller.shell().flushFiles();
    std::error_code ec;
    fileBytes = std::filesystem::file_size(controller.session().sessionFile(), ec);
    controller.window()->close();
    settle(std::chrono::milliseconds(300));
    return stalls;
}

Stalls browserSwitching(const std::string& url, std::string& lastTitle, int& status)
{
    auto application = Gtk::Application::create(
        "org.quivel.UIStallBench", Gio::Application::Flags::NON_UNIQUE);
    application->register_application();
    qv::BrowserController controller(application);
    controller.installMainMenu();
    controller.applicationDidFinishLaunching();
    qv::TabService& tabs = controller.tabs();
    if (!waitUntil([&] { return controller.window() && controller.window()->get_mapped(); },
            std::chrono::seconds(30))) {
        status = 1;
        return {};
    }
    tabs.createBrowserTabWithURL(url);
    tabs.createBrowserTabWithURL(url);
    // Each is shown once first, so both have a view and a page before the timing starts.
    for (size_t index : { 1, 2 }) {
        tabs.selectBrowserTabAtIndex(index);
        waitUntil([&] { return animating(tabs.selectedWebView()); }, std::chrono::seconds(30));
    }
    auto both = [&] {
        const auto& list = tabs.browserTabs();
        return list.size() >= 3 && animating(list[1].webView()) && animating(list[2].webView());
    };
    if (!waitUntil(both, std::chrono::seconds(30))) {
        std::fprintf(stderr, "the browser's tabs never animated their titles\n");
        status = 1;
    }
    settle(std::chrono::milliseconds(500));
    timeDrawing(GTK_WIDGET(controller.window()->gobj()));
    Stalls stalls = measure("browser",
        [&](int index) { tabs.selectBrowserTabAtIndex(static_cast<size_t>(1 + index)); });
    lastTitle = tabs.browserTabs()[1].title();
    controller.window()->close();
    settle(std::chrono::milliseconds(300));
    return stalls;
}

} // namespace

int main(int argc, char** argv)
{
    // --only=session measures just the 500 tabs; the switches are measured otherwise too.
    bool onlySession = argc > 1 && std::string(argv[1]) == "--only=session";
    auto home = qv::bench::enterBenchHome();
    if (!home)
        return 2;
    fs::path page = *home / "work/animated.html";
    std::ofstream(page) << "<!doctype html><title>Frame 0</title><body><p id=n></p><script>"
                           "let n = 0; setInterval(() => { n++; document.title = 'Frame ' + n; "
                           "document.getElementById('n').textContent = n; }, 1000 / 60);"
                           "</script></body>";
    std::string url = "file://" + page.string();

    qv::setAlertResponder([](const qv::AlertSpec& alert) -> std::optional<int> {
        std::fprintf(stderr, "alert: %s %s\n", alert.messageText.c_str(),
            alert.informativeText.c_str());
        return 0;
    });
    qv::chooseRendererForMachine();
    gtk_init();
    // The bare views use the engine's default session before the browser sets it up: it too
    // reaches nothing but a closed local port.
    WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new("http://127.0.0.1:9", nullptr);
    webkit_network_session_set_proxy_settings(
        webkit_network_session_get_default(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);
    g_main_context_set_poll_func(nullptr, timedPoll);
    std::printf("ui thread: %d\n", static_cast<int>(getpid()));

    std::string bareTitle, browserTitle;
    int status = 0;
    if (!onlySession) {
        Stalls bare = bareSwitching(url, bareTitle);
        Stalls browser = browserSwitching(url, browserTitle, status);
        std::printf("%d tab switches, %lld ms apart, a title change every 16.7 ms:\n", kSwitches,
            static_cast<long long>(kBetweenSwitches.count()));
        report("bare web views (floor)", bare, bareTitle);
        report("browser", browser, browserTitle);
    }
    size_t sessionBytes = 0;
    Stalls session = sessionWrites(url, sessionBytes, status);
    std::printf("%d changes of tabs, 10 ms apart, with %zu tabs open (session file %zu bytes):\n",
        kSessionChanges, kSessionTabs, sessionBytes);
    report("session", session, "");
    std::error_code ec;
    fs::remove_all(*home, ec);
    return status;
}

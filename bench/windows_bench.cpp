// Opening the history window over 100,000 visits and the activity window over 200 tabs:
// time from the show operation to the model being filled and to the first frame, and the
// growth of the process's resident memory. Run under a display (Xvfb); prints its figures.
#include "bench_home.h"
#include "main_loop.h"

#include "app/browser_controller.h"
#include "app/shell.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "history/history_window.h"
#include "platform/alerts.h"
#include "platform/renderer_choice.h"
#include "tabs/activity_window.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using qv::bench::Clock;
using qv::bench::waitUntil;
using qv::bench::msSince;
using qv::bench::settle;

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Milliseconds from start until the window has drawn its first frame after being shown.
double untilFirstFrame(Gtk::Window& window, Clock::time_point start)
{
    bool painted = false;
    double at = -1;
    GdkFrameClock* clock = nullptr;
    gulong handler = 0;
    waitUntil(
        [&] { return window.get_mapped() && window.get_frame_clock(); }, std::chrono::seconds(20));
    clock = window.get_frame_clock()->gobj();
    struct Seen {
        bool* painted;
        double* at;
        Clock::time_point start;
    } seen { &painted, &at, start };
    handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer data) {
        auto* s = static_cast<Seen*>(data);
        if (!*s->painted) {
            *s->painted = true;
            *s->at = msSince(s->start);
        }
    }),
        &seen);
    window.queue_draw();
    waitUntil([&] { return painted; }, std::chrono::seconds(20));
    g_signal_handler_disconnect(clock, handler);
    return at;
}

void writeHistory(const fs::path& file, int visits)
{
    std::ofstream out(file);
    out << "{\"years\": {\"2026\": {\"Dec\": {\"6\": [\n";
    for (int i = 0; i < visits; ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-06T%02d:%02d:%02dZ", (i / 3600) % 24,
            (i / 60) % 60, i % 60);
        out << (i ? ",\n" : "") << "{\"url\": \"http://127.0.0.1:9/page/" << i
            << "\", \"title\": \"Visited page number " << i << "\", \"time\": \"" << time << "\"}";
    }
    out << "]}}}}\n";
}

} // namespace

// "--shots DIR": the three windows over a short history, captured light and dark with
// ImageMagick's import from the X root window, one window on screen at a time.
int takeScreenshots(qv::BrowserController& controller, const std::string& dir)
{
    for (int i = 1; i < 12; ++i)
        controller.tabs().createBrowserTabWithURL(std::nullopt);
    for (int i = 0; i < 8; ++i)
        controller.tabs().toggleLazyTabs(qv::Sender::menuItem(i));
    controller.window()->set_visible(false);
    struct Shot {
        const char* name;
        std::function<Gtk::Window*()> show;
    };
    const Shot shots[] = {
        { "settings",
            [&] {
                controller.showSettings();
                return (Gtk::Window*)controller.settingsWindow();
            } },
        { "history",
            [&] {
                controller.showHistory();
                return (Gtk::Window*)controller.historyWindow();
            } },
        { "activity",
            [&] {
                controller.showActivity();
                return (Gtk::Window*)controller.activityWindow();
            } },
    };
    for (bool dark : { false, true }) {
        controller.shell().setDarkMode(dark);
        for (const Shot& shot : shots) {
            Gtk::Window* window = shot.show();
            untilFirstFrame(*window, Clock::now());
            settle(std::chrono::milliseconds(700));
            std::string file = dir + "/" + shot.name + (dark ? "-dark.png" : "-light.png");
            std::string command = "import -window root -crop " + std::to_string(window->get_width())
                + "x" + std::to_string(window->get_height()) + "+0+0 " + file;
            if (std::system(command.c_str()) != 0)
                return 1;
            window->set_visible(false);
            settle(std::chrono::milliseconds(200));
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    std::string shotsDir = argc > 2 && std::string(argv[1]) == "--shots" ? argv[2] : "";
    int visits = !shotsDir.empty() ? 40 : argc > 1 ? std::atoi(argv[1]) : 100000;
    int tabs = argc > 2 ? std::atoi(argv[2]) : 200;
    int lazy = argc > 3 ? std::atoi(argv[3]) : 190;

    auto home = qv::bench::enterBenchHome();
    if (!home)
        return 2;
    fs::path root = *home;
    writeHistory(root / "work/history.json", visits);

    qv::setAlertResponder([](const qv::AlertSpec& alert) -> std::optional<int> {
        std::fprintf(
            stderr, "alert: %s %s\n", alert.messageText.c_str(), alert.informativeText.c_str());
        return 0;
    });
    qv::chooseRendererForMachine();
    auto application
        = Gtk::Application::create("org.quivel.WindowsBench", Gio::Application::Flags::NON_UNIQUE);
    application->register_application();

    // Every page request goes to a closed local port, so the home page never leaves the host.
    WebKitNetworkProxySettings* proxy
        = webkit_network_proxy_settings_new("http://127.0.0.1:9", nullptr);
    webkit_network_session_set_proxy_settings(
        webkit_network_session_get_default(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);

    int status = 0;
    {
        qv::BrowserController controller(application);
        controller.extensions().loadExtensions();
        controller.installMainMenu();
        auto loadStart = Clock::now();
        controller.applicationDidFinishLaunching();
        double launchMs = msSince(loadStart);
        waitUntil([&] { return controller.window() && controller.window()->get_mapped(); },
            std::chrono::seconds(30));
        settle(std::chrono::milliseconds(500));
        if (!shotsDir.empty()) {
            status = takeScreenshots(controller, shotsDir);
            controller.window()->close();
            settle(std::chrono::milliseconds(100));
            std::error_code ec;
            fs::remove_all(root, ec);
            return status;
        }
        std::printf("history: %zu visits loaded at launch (launch %.1f ms)\n",
            controller.history().historyEntries().size(), launchMs);

        long before = residentKiB();
        auto start = Clock::now();
        controller.showHistory();
        double filledMs = msSince(start);
        double frameMs = untilFirstFrame(*controller.historyWindow(), start);
        settle(std::chrono::milliseconds(300));
        long after = residentKiB();
        std::printf("history window: rows %u, model filled %.1f ms, first frame %.1f ms, "
                    "RSS +%ld KiB (%ld -> %ld KiB)\n",
            controller.historyWindow()->rowCount(), filledMs, frameMs, after - before, before,
            after);
        if (controller.historyWindow()->rowCount() != controller.history().historyEntries().size())
            status = 1;

        // Showing it again reloads every row.
        start = Clock::now();
        controller.showHistory();
        std::printf("history window shown again: %.1f ms\n", msSince(start));

        for (int i = 1; i < tabs; ++i)
            controller.tabs().createBrowserTabWithURL(std::nullopt);
        for (int i = 0; i < lazy; ++i)
            controller.tabs().toggleLazyTabs(qv::Sender::menuItem(i));
        settle(std::chrono::milliseconds(300));
        int views = 0;
        for (const auto& tab : controller.tabs().browserTabs())
            views += tab.webView() ? 1 : 0;
        before = residentKiB();
        start = Clock::now();
        controller.showActivity();
        filledMs = msSince(start);
        frameMs = untilFirstFrame(*controller.activityWindow(), start);
        settle(std::chrono::milliseconds(300));
        after = residentKiB();
        std::printf("activity window: %zu tabs (%d with a web view), model filled %.1f ms, first "
                    "frame %.1f ms, RSS +%ld KiB\n",
            controller.tabs().browserTabs().size(), views, filledMs, frameMs, after - before);

        // A tab change with the window open: the strip and the table follow it. Each round
        // moves the last tab to the front.
        start = Clock::now();
        const int rounds = 20;
        for (int i = 0; i < rounds; ++i) {
            const auto& list = controller.tabs().browserTabs();
            controller.tabs().moveBrowserTabWithID(list.back().id(), list[0].id(), false);
        }
        std::printf("tab move with the activity window open: %.2f ms each\n",
            msSince(start) / rounds);
        start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            controller.activityWindow()->reload();
        std::printf("activity table reload alone: %.2f ms each\n", msSince(start) / rounds);
        controller.window()->close();
        settle(std::chrono::milliseconds(100));
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}

// 100 navigations between local pages in one tab against the same navigations in a bare web
// view (its floor), in the same run: each load started on the view itself, and in the browser
// also typed into the address field, where the address resolver first probes the address.
//
// Every view loads in the same place: the browser window's content area, shown there in its
// turn, so each draws the same area of the same window. The floor gets the machine's rendering
// choice the browser makes (no accelerated compositing without a GPU device); a second bare view
// with the engine's default is shown beside it for comparison. Each load starts once the
// previous one has been drawn and the loop is quiet, and the kinds of load take turns in blocks of ten, so a slow
// moment of the machine falls on all alike. Run under a display (Xvfb).
#include "bench_home.h"
#include "main_loop.h"

#include "app/browser_controller.h"
#include "app/browser_window.h"
#include "platform/alerts.h"
#include "platform/renderer_choice.h"
#include "tabs/tab_service.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using qv::bench::Clock;
using qv::bench::msSince;
using qv::bench::settle;
using qv::bench::waitUntil;

constexpr int kNavigations = 100;
constexpr int kRounds = 3;
// Time for the view just shown, and the previous load, to be drawn before the next load starts.
constexpr auto kQuiet = std::chrono::milliseconds(50);

// Pages /p/<n>: a heading, some text and a table, like the other benchmarks' page. Served from a
// thread of its own, as a server elsewhere would: the UI thread's work then delays only what
// the browser does, not the server's answers too.
class PageServer {
public:
    PageServer()
    {
        std::promise<std::string> origin;
        auto listening = origin.get_future();
        m_thread = std::thread([this, &origin] { serve(origin); });
        m_origin = listening.get();
    }
    ~PageServer()
    {
        // Queued on the server's context, so it ends the loop even before the loop has started.
        if (m_loop)
            g_main_context_invoke(m_context, +[](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            }, m_loop.load());
        m_thread.join();
    }

    std::string page(int n) const { return m_origin + "/p/" + std::to_string(n); }
    bool listening() const { return !m_origin.empty(); }

private:
    void serve(std::promise<std::string>& origin)
    {
        GMainContext* context = m_context = g_main_context_new();
        g_main_context_push_thread_default(context);
        SoupServer* server = soup_server_new("server-header", "QuivelBench", nullptr);
        std::string address;
        if (soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr)) {
            GSList* uris = soup_server_get_uris(server);
            if (uris)
                address = "http://127.0.0.1:"
                    + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
            g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        }
        soup_server_add_handler(
            server, "/p/",
            [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer) {
                std::string n = std::string(path).substr(3);
                std::string body = "<!doctype html><title>Page " + n + "</title><h1>Page " + n
                    + "</h1>";
                for (int i = 0; i < 20; ++i)
                    body += "<p>Paragraph " + std::to_string(i)
                        + ": the quick brown fox jumps over the lazy dog.</p>";
                body += "<table>";
                for (int row = 0; row < 10; ++row)
                    body += "<tr><td>" + std::to_string(row) + "</td><td>cell</td></tr>";
                body += "</table>";
                soup_server_message_set_status(message, 200, nullptr);
                soup_server_message_set_response(message, "text/html; charset=utf-8",
                    SOUP_MEMORY_COPY, body.data(), body.size());
            },
            nullptr, nullptr);
        m_loop = g_main_loop_new(context, FALSE);
        origin.set_value(address);
        if (!address.empty())
            g_main_loop_run(m_loop);
        g_main_loop_unref(m_loop);
        g_object_unref(server);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::thread m_thread;
    std::atomic<GMainLoop*> m_loop { nullptr };
    GMainContext* m_context = nullptr;
    std::string m_origin;
};

// Counts the finished loads of a view.
struct LoadCounter {
    explicit LoadCounter(WebKitWebView* view)
        : view(view)
    {
        handler = g_signal_connect(view, "load-changed",
            G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                auto* counter = static_cast<LoadCounter*>(self);
                if (event == WEBKIT_LOAD_STARTED)
                    counter->started = Clock::now();
                else if (event == WEBKIT_LOAD_COMMITTED)
                    counter->committed = Clock::now();
                else if (event == WEBKIT_LOAD_FINISHED)
                    ++counter->finished;
            }),
            this);
    }
    ~LoadCounter() { g_signal_handler_disconnect(view, handler); }

    WebKitWebView* view;
    gulong handler = 0;
    int finished = 0;
    Clock::time_point started, committed;
};

struct Phases {
    std::vector<double> toStart, toCommit, toFinish;
};

// Frames the window has drawn.
int g_frames = 0;

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Milliseconds from go(n) to the view's next finished load; negative when none comes. `cpu`
// gets the UI thread's own time over the load.
double loadOnce(WebKitWebView* view, const std::function<void(int)>& go, int n, double& cpu,
    Phases* phases = nullptr)
{
    LoadCounter loads(view);
    double cpuStart = threadCpuMs();
    auto start = Clock::now();
    go(n);
    if (!waitUntil([&] { return loads.finished > 0; }, std::chrono::seconds(20)))
        return -1;
    cpu = threadCpuMs() - cpuStart;
    auto end = Clock::now();
    if (phases) {
        using Ms = std::chrono::duration<double, std::milli>;
        phases->toStart.push_back(Ms(loads.started - start).count());
        phases->toCommit.push_back(Ms(loads.committed - loads.started).count());
        phases->toFinish.push_back(Ms(end - loads.committed).count());
    }
    return msSince(start);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main()
{
    auto home = qv::bench::enterBenchHome();
    if (!home)
        return 2;
    qv::setAlertResponder([](const qv::AlertSpec& alert) -> std::optional<int> {
        std::fprintf(stderr, "alert: %s %s\n", alert.messageText.c_str(),
            alert.informativeText.c_str());
        return 0;
    });
    qv::chooseRendererForMachine();
    auto application = Gtk::Application::create(
        "org.quivel.PageLoadBench", Gio::Application::Flags::NON_UNIQUE);
    application->register_application();
    PageServer server;
    if (!server.listening())
        return 2;

    // The floor's views use the engine's default session, which reaches only the loopback
    // (anything else goes to a closed port).
    const char* loopback[] = { "127.0.0.1", nullptr };
    WebKitNetworkProxySettings* proxy
        = webkit_network_proxy_settings_new("http://127.0.0.1:9", loopback);
    webkit_network_session_set_proxy_settings(
        webkit_network_session_get_default(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);

    int status = 0;
    std::vector<double> bareLoads, defaultLoads, browserLoads, typedLoads;
    {
        qv::BrowserController controller(application);
        controller.installMainMenu();
        controller.applicationDidFinishLaunching();
        if (!waitUntil([&] { return controller.window() && controller.window()->get_mapped(); },
                std::chrono::seconds(30)))
            return 1;
        settle(std::chrono::milliseconds(500));
        WebKitWebView* tab = controller.tabs().selectedWebView();
        g_signal_connect(gtk_widget_get_frame_clock(GTK_WIDGET(controller.window()->gobj())), "after-paint",
            G_CALLBACK(+[](GdkFrameClock*, gpointer) { ++g_frames; }), nullptr);
        // The bare views go beside the tab's view in the content area, in the same session as
        // the floor above; only one of the three is shown at a time.
        auto bareView = [&](bool machineChoice) {
            WebKitSettings* settings = webkit_settings_new();
            if (machineChoice && !qv::machineHasGpuDevice())
                webkit_settings_set_hardware_acceleration_policy(
                    settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
            auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
                webkit_network_session_get_default(), "settings", settings, nullptr));
            g_object_unref(settings);
            gtk_widget_set_vexpand(GTK_WIDGET(view), TRUE);
            gtk_widget_set_visible(GTK_WIDGET(view), FALSE);
            gtk_box_append(GTK_BOX(gtk_widget_get_parent(GTK_WIDGET(tab))), GTK_WIDGET(view));
            return view;
        };
        WebKitWebView* bare = bareView(true);
        WebKitWebView* engineDefault = bareView(false);
        WebKitWebView* views[] = { bare, engineDefault, tab };
        auto show = [&](WebKitWebView* shown) {
            for (WebKitWebView* view : views)
                gtk_widget_set_visible(GTK_WIDGET(view), view == shown);
            settle(kQuiet);
        };
        // As a user types an address and presses Return.
        auto typed = [&](int n) {
            Gtk::Entry& field = controller.window()->requestField();
            field.set_text(server.page(n));
            g_signal_emit_by_name(field.gobj(), "activate");
        };
        auto direct = [&](WebKitWebView* view) {
            return [&server, view](int n) { webkit_web_view_load_uri(view, server.page(n).c_str()); };
        };
        // Each kind loads a block of pages with its view shown throughout; the first load of a
        // block, which pays for showing the view again, is not counted.
        struct Kind {
            WebKitWebView* view;
            std::function<void(int)> go;
            std::vector<double>* loads;
            std::vector<double> cpu = {};
            std::vector<double> frames = {};
            Phases phases = {};
        };
        Kind kinds[] = { { bare, direct(bare), &bareLoads },
            { engineDefault, direct(engineDefault), &defaultLoads }, { tab, direct(tab), &browserLoads },
            { tab, typed, &typedLoads } };
        // All start on a page of the server.
        for (WebKitWebView* view : { bare, engineDefault })
            webkit_web_view_load_uri(view, server.page(0).c_str());
        typed(0);
        waitUntil([&] {
            return std::none_of(std::begin(views), std::end(views), webkit_web_view_is_loading);
        }, std::chrono::seconds(20));
        constexpr int kBlock = 10;
        int page = 1;
        for (int block = 0; block < kNavigations * kRounds / kBlock && status == 0; ++block) {
            for (Kind& kind : kinds) {
                show(kind.view);
                for (int i = 0; i <= kBlock; ++i) {
                    double cpu = 0;
                    int framesBefore = g_frames;
                    Phases scratch;
                    double ms = loadOnce(kind.view, kind.go, page++, cpu, i > 0 ? &kind.phases : &scratch);
                    if (ms < 0) {
                        std::fprintf(stderr, "a page never finished loading\n");
                        status = 1;
                        break;
                    }
                    if (i > 0) {
                        kind.loads->push_back(ms);
                        kind.cpu.push_back(cpu);
                        kind.frames.push_back(g_frames - framesBefore);
                    }
                    settle(kQuiet);
                }
            }
        }
        // What the UI thread itself spends, which the machine's other work does not stretch.
        std::printf("per load (medians): UI thread's own time / frames drawn: bare %.2f ms / %.0f, "
                    "engine default %.2f ms / %.0f, browser tab %.2f ms / %.0f, typed %.2f ms / %.0f\n",
            median(kinds[0].cpu), median(kinds[0].frames), median(kinds[1].cpu), median(kinds[1].frames),
            median(kinds[2].cpu), median(kinds[2].frames), median(kinds[3].cpu), median(kinds[3].frames));
        std::printf("per load (medians): to started / to committed / to finished:");
        for (const Kind& kind : kinds)
            std::printf(" %.2f / %.2f / %.2f;", median(kind.phases.toStart),
                median(kind.phases.toCommit), median(kind.phases.toFinish));
        std::printf("\n");
        controller.window()->close();
        settle(std::chrono::milliseconds(200));
    }
    if (!bareLoads.empty()) {
        auto total = [](const std::vector<double>& loads) {
            double sum = 0;
            for (double ms : loads)
                sum += ms;
            return sum / kRounds; // per kNavigations loads
        };
        double floor = total(bareLoads), ours = total(browserLoads), typedMs = total(typedLoads);
        double defaultMs = total(defaultLoads);
        std::printf("%d navigations between local pages (%d of each, in blocks taking turns; per %d):\n",
            kNavigations * kRounds, kNavigations * kRounds, kNavigations);
        std::printf("  bare web view (floor):         %8.1f ms (median load %.2f ms)\n", floor,
            median(bareLoads));
        std::printf("  bare web view, engine default: %8.1f ms (median load %.2f ms), %.3fx the "
                    "floor\n",
            defaultMs, median(defaultLoads), defaultMs / floor);
        std::printf("  browser tab:                   %8.1f ms (median load %.2f ms), %.3fx the "
                    "floor (target <= 1.05x)\n",
            ours, median(browserLoads), ours / floor);
        std::printf("  browser tab, typed and probed: %8.1f ms (median load %.2f ms), %.3fx the "
                    "floor\n",
            typedMs, median(typedLoads), typedMs / floor);
    }
    std::error_code ec;
    std::filesystem::remove_all(*home, ec);
    return status;
}

// 100 navigations between local pages in one tab against the same navigations in a bare web
// view (its floor), in the same run: each load started on the view itself, and in the browser
// also typed into the address field, where the address resolver first probes the address.
// The loads take turns so all meet the same machine. Run under a display (Xvfb).
#include "bench_home.h"
#include "main_loop.h"

#include "app/browser_controller.h"
#include "app/browser_window.h"
#include "platform/alerts.h"
#include "platform/renderer_choice.h"
#include "tabs/tab_service.h"

#include <libsoup/soup.h>

#include <algorithm>
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

// Pages /p/<n>: a heading, some text and a table, like the other benchmarks' page.
class PageServer {
public:
    PageServer()
    {
        m_server = soup_server_new("server-header", "QuivelBench", nullptr);
        soup_server_listen_local(m_server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(m_server);
        if (uris)
            m_origin = "http://127.0.0.1:"
                + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        soup_server_add_handler(
            m_server, "/p/",
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
    }
    ~PageServer() { g_object_unref(m_server); }

    std::string page(int n) const { return m_origin + "/p/" + std::to_string(n); }
    bool listening() const { return !m_origin.empty(); }

private:
    SoupServer* m_server = nullptr;
    std::string m_origin;
};

// Counts the finished loads of a view.
struct LoadCounter {
    explicit LoadCounter(WebKitWebView* view)
        : view(view)
    {
        handler = g_signal_connect(view, "load-changed",
            G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                if (event == WEBKIT_LOAD_FINISHED)
                    ++static_cast<LoadCounter*>(self)->finished;
            }),
            this);
    }
    ~LoadCounter() { g_signal_handler_disconnect(view, handler); }

    WebKitWebView* view;
    gulong handler = 0;
    int finished = 0;
};

// Milliseconds from go(n) to the view's next finished load; negative when none comes.
double loadOnce(WebKitWebView* view, const std::function<void(int)>& go, int n)
{
    LoadCounter loads(view);
    auto start = Clock::now();
    go(n);
    if (!waitUntil([&] { return loads.finished > 0; }, std::chrono::seconds(20)))
        return -1;
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

    // The floor: a window holding one web view on the default session, which reaches only the
    // loopback (anything else goes to a closed port).
    const char* loopback[] = { "127.0.0.1", nullptr };
    WebKitNetworkProxySettings* proxy
        = webkit_network_proxy_settings_new("http://127.0.0.1:9", loopback);
    webkit_network_session_set_proxy_settings(
        webkit_network_session_get_default(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);
    GtkWidget* bareWindow = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(bareWindow), 1024, 768);
    auto* bare = WEBKIT_WEB_VIEW(webkit_web_view_new());
    gtk_window_set_child(GTK_WINDOW(bareWindow), GTK_WIDGET(bare));
    gtk_window_present(GTK_WINDOW(bareWindow));

    int status = 0;
    std::vector<double> bareLoads, browserLoads, typedLoads;
    {
        qv::BrowserController controller(application);
        controller.installMainMenu();
        controller.applicationDidFinishLaunching();
        if (!waitUntil([&] { return controller.window() && controller.window()->get_mapped(); },
                std::chrono::seconds(30)))
            return 1;
        settle(std::chrono::milliseconds(500));
        // As a user types an address and presses Return.
        auto typed = [&](int n) {
            Gtk::Entry& field = controller.window()->requestField();
            field.set_text(server.page(n));
            g_signal_emit_by_name(field.gobj(), "activate");
        };
        auto direct = [&](WebKitWebView* view) {
            return [&server, view](int n) { webkit_web_view_load_uri(view, server.page(n).c_str()); };
        };
        WebKitWebView* tab = controller.tabs().selectedWebView();
        // Both start on a page of the server. The three kinds of load take turns, one load
        // each, so a slower moment of the machine falls on all of them alike; the first turns
        // warm up.
        webkit_web_view_load_uri(bare, server.page(0).c_str());
        typed(0);
        waitUntil([&] { return !webkit_web_view_is_loading(bare) && !webkit_web_view_is_loading(tab); },
            std::chrono::seconds(20));
        constexpr int kWarmUp = 10;
        for (int n = 1; n <= kWarmUp + kNavigations * kRounds; ++n) {
            double bareMs = loadOnce(bare, direct(bare), n);
            double browserMs = loadOnce(tab, direct(tab), n + 100000);
            double typedMs = loadOnce(tab, typed, n + 200000);
            if (bareMs < 0 || browserMs < 0 || typedMs < 0) {
                std::fprintf(stderr, "a page never finished loading\n");
                status = 1;
                break;
            }
            if (n <= kWarmUp)
                continue;
            bareLoads.push_back(bareMs);
            browserLoads.push_back(browserMs);
            typedLoads.push_back(typedMs);
        }
        controller.window()->close();
        settle(std::chrono::milliseconds(200));
    }
    gtk_window_destroy(GTK_WINDOW(bareWindow));
    if (!bareLoads.empty()) {
        auto total = [](const std::vector<double>& loads) {
            double sum = 0;
            for (double ms : loads)
                sum += ms;
            return sum / kRounds; // per kNavigations loads
        };
        double floor = total(bareLoads), ours = total(browserLoads), typedMs = total(typedLoads);
        std::printf("%d navigations between local pages (%d of each, taking turns; per %d):\n",
            kNavigations * kRounds, kNavigations * kRounds, kNavigations);
        std::printf("  bare web view (floor):         %8.1f ms (median load %.2f ms)\n", floor,
            median(bareLoads));
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

// A local page with 100 subresources loaded with a generated 50,000-rule list attached against
// the same page without lists (same run, turns alternating, medians), then the first compile of
// the list and a later launch's load of the compiled list, each launch a process of its own.
// The list is made the way the browser makes one: filter text through the converter, the
// engine's store at a path, the filter on the view's content manager, and the generic element
// hiding split out of it and answered per page by class and ID. No blocking rule matches the
// page, so every request is checked and none is spared; one element is hidden. Run under a display (Xvfb); QV_BENCH_FRAMES=n
// makes n of the subresources frames.
#include "bench_home.h"
#include "main_loop.h"

#include "contentblocking/element_hiding.h"
#include "contentblocking/element_hiding_script.h"
#include "contentblocking/filter_list_converter.h"

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using qv::bench::Clock;
using qv::bench::msSince;
using qv::bench::waitUntil;

constexpr int kRules = 50000;
constexpr int kSubresources = 100;
constexpr int kRounds = 40;
constexpr int kLaterLaunches = 5;
constexpr const char* kListID = "bench-list";

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// Host anchors, path patterns, party and domain conditions, and element hiding, in the
// proportions a real list has.
std::string generatedFilterList()
{
    std::string text = "[Adblock Plus 2.0]\n! Generated\n";
    for (int i = 0; i < kRules; ++i) {
        std::string n = std::to_string(i);
        switch (i % 5) {
        case 0: text += "||ads" + n + ".example.net^\n"; break;
        case 1: text += "/banner-" + n + "/*.gif\n"; break;
        case 2: text += "||tracker" + n + ".example.org^$third-party,script\n"; break;
        case 3: text += "/pixel-" + n + ".png$image,domain=site" + n + ".example.com\n"; break;
        case 4: text += "##.sponsored-" + n + "\n"; break;
        }
    }
    return text;
}

// A port bound but never listening: every request sent to it as a proxy is refused.
int closedLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}

// Loads the compiled list from the store at `path`; milliseconds, or negative on failure.
double timeStoreLoad(const char* path)
{
    struct Load {
        bool done = false;
        bool ok = false;
    } load;
    WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(path);
    auto start = Clock::now();
    webkit_user_content_filter_store_load(store, kListID, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* load = static_cast<Load*>(data);
            WebKitUserContentFilter* filter = webkit_user_content_filter_store_load_finish(
                WEBKIT_USER_CONTENT_FILTER_STORE(source), result, nullptr);
            load->ok = filter != nullptr;
            if (filter)
                webkit_user_content_filter_unref(filter);
            load->done = true;
        },
        &load);
    waitUntil([&] { return load.done; }, std::chrono::seconds(30));
    double ms = msSince(start);
    g_object_unref(store);
    return load.ok ? ms : -1;
}

void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer)
{
    std::string p = path;
    std::string type = "text/html; charset=utf-8";
    std::string body;
    if (p == "/page") {
        body = "<!doctype html><title>Page</title><link rel=stylesheet href=/r/base.css>";
        // Images, scripts and style sheets in turn; QV_BENCH_FRAMES of them frames instead, each
        // a document of its own that takes the list's element hiding too.
        const char* framesText = std::getenv("QV_BENCH_FRAMES");
        int frames = framesText ? std::atoi(framesText) : 0;
        for (int i = 0; i < kSubresources; ++i) {
            std::string n = std::to_string(i);
            if (i < frames) {
                body += "<iframe src=/r/frame" + n + ".html width=8 height=8></iframe>";
                continue;
            }
            switch (i % 3) {
            case 0: body += "<img src=/r/image" + n + ".svg width=8 height=8>"; break;
            case 1: body += "<script src=/r/script" + n + ".js></script>"; break;
            case 2: body += "<link rel=stylesheet href=/r/style" + n + ".css>"; break;
            }
        }
        // Elements with classes and IDs of their own, as pages have, and one the list hides.
        for (int i = 0; i < 50; ++i)
            body += "<div class='item-" + std::to_string(i) + " box' id=cell" + std::to_string(i) + ">cell</div>";
        body += "<div id=ad class='sponsored-4 box'>ad</div>";
        body += "<p class=content>The page's own text.</p>";
    } else if (p.ends_with(".svg")) {
        type = "image/svg+xml";
        body = "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'><rect width='8' height='8'/></svg>";
    } else if (p.ends_with(".js")) {
        type = "text/javascript";
        body = "window.loaded = (window.loaded || 0) + 1;";
    } else if (p.ends_with(".css")) {
        type = "text/css";
        body = ".content { color: #333; }";
    } else {
        body = "<!doctype html><p>frame</p>";
    }
    soup_server_message_set_status(message, 200, nullptr);
    // Every load asks the server again, as a first visit would.
    soup_message_headers_replace(soup_server_message_get_response_headers(message),
        "Cache-Control", "no-store");
    soup_server_message_set_response(message, type.c_str(), SOUP_MEMORY_COPY, body.data(), body.size());
}

// The result of a script in the view's page, as JSON text.
std::string evaluate(WebKitWebView* view, const char* script)
{
    struct Run {
        bool done = false;
        std::string json;
    } run;
    webkit_web_view_evaluate_javascript(view, script, -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* run = static_cast<Run*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr)) {
                char* json = jsc_value_to_json(value, 0);
                run->json = json ? json : "";
                g_free(json);
                g_object_unref(value);
            }
            run->done = true;
        },
        &run);
    waitUntil([&] { return run.done; }, std::chrono::seconds(10));
    return run.json;
}

double loadOnce(WebKitWebView* view, const std::string& uri)
{
    int finished = 0;
    gulong handler = g_signal_connect(view, "load-changed",
        G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer count) {
            if (event == WEBKIT_LOAD_FINISHED)
                ++*static_cast<int*>(count);
        }),
        &finished);
    auto start = Clock::now();
    webkit_web_view_load_uri(view, uri.c_str());
    bool done = waitUntil([&] { return finished > 0; }, std::chrono::seconds(30));
    double ms = msSince(start);
    g_signal_handler_disconnect(view, handler);
    return done ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    // A later launch: only the load from the store, timed in a process of its own.
    if (argc == 3 && std::string(argv[1]) == "--load") {
        double ms = timeStoreLoad(argv[2]);
        std::printf("%.3f\n", ms);
        return ms < 0 ? 1 : 0;
    }
    auto home = qv::bench::enterBenchHome();
    if (!home)
        return 2;
    gtk_init();
    int closedPort = closedLoopbackPort();
    if (closedPort <= 0)
        return 2;
    std::string proxyURI = "http://127.0.0.1:" + std::to_string(closedPort);
    const char* ignore[] = { "127.0.0.1", nullptr };
    WebKitNetworkProxySettings* proxy = webkit_network_proxy_settings_new(proxyURI.c_str(), ignore);
    webkit_network_session_set_proxy_settings(
        webkit_network_session_get_default(), WEBKIT_NETWORK_PROXY_MODE_CUSTOM, proxy);
    webkit_network_proxy_settings_free(proxy);

    SoupServer* server = soup_server_new("server-header", "QuivelBench", nullptr);
    soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
    soup_server_add_handler(server, "/", serve, nullptr, nullptr);
    GSList* uris = soup_server_get_uris(server);
    if (!uris)
        return 2;
    std::string origin = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));

    // The list, converted and written as the browser keeps it.
    auto start = Clock::now();
    auto converted = qv::convertContentBlockerFile(generatedFilterList());
    double convertMs = msSince(start);
    if (!converted) {
        std::fprintf(stderr, "conversion failed: %s\n", converted.error().c_str());
        return 1;
    }
    std::filesystem::path folder = *home / "home/.local/share/QuivelBrowser/ContentBlockers";
    std::filesystem::create_directories(folder / "compiled");
    std::filesystem::path rulesFile = folder / (std::string(kListID) + ".json");
    auto split = qv::splitGenericHiding(qv::dumpJson(converted->rules));
    if (!split) {
        std::fprintf(stderr, "split failed: %s\n", split.error().c_str());
        return 1;
    }
    std::ofstream(rulesFile) << split->engineRules;
    auto hidingTable = qv::ElementHidingTable::fromText(split->hidingSelectors);

    // The first compile.
    WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new((folder / "compiled").c_str());
    WebKitUserContentFilter* filter = nullptr;
    GFile* file = g_file_new_for_path(rulesFile.c_str());
    start = Clock::now();
    bool compiled = false;
    struct Compile {
        WebKitUserContentFilter** filter;
        bool* done;
    } compile { &filter, &compiled };
    webkit_user_content_filter_store_save_from_file(store, kListID, file, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* compile = static_cast<Compile*>(data);
            GError* error = nullptr;
            *compile->filter = webkit_user_content_filter_store_save_from_file_finish(
                WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
            if (error) {
                std::fprintf(stderr, "compile failed: %s\n", error->message);
                g_error_free(error);
            }
            *compile->done = true;
        },
        &compile);
    waitUntil([&] { return compiled; }, std::chrono::minutes(10));
    double compileMs = msSince(start);
    g_object_unref(file);
    if (!filter)
        return 1;

    // Later launches, each its own process loading from the store.
    std::vector<double> loads;
    for (int i = 0; i < kLaterLaunches; ++i) {
        std::string command = std::string("'") + std::filesystem::read_symlink("/proc/self/exe").string() + "' --load '" + (folder / "compiled").string() + "'";
        FILE* child = popen(command.c_str(), "r");
        double ms = -1;
        if (child) {
            if (std::fscanf(child, "%lf", &ms) != 1)
                ms = -1;
            pclose(child);
        }
        if (ms >= 0)
            loads.push_back(ms);
    }

    // The page in two views side by side in one window: one with the list, one without.
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 1000, 700);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_window_set_child(GTK_WINDOW(window), box);
    WebKitUserContentManager* blockingContent = webkit_user_content_manager_new();
    webkit_user_content_manager_add_filter(blockingContent, filter);
    qv::ElementHidingScript hiding(blockingContent, "QuivelContentBlocking",
        [&](WebKitUserContentManager*, const std::vector<std::string>& tokens) {
            std::vector<std::string_view> selectors;
            hidingTable.appendSelectorsFor(tokens, selectors);
            return qv::elementHidingStyle(selectors);
        });
    auto* blocking = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
        webkit_network_session_get_default(), "user-content-manager", blockingContent, nullptr));
    auto* plain = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
        webkit_network_session_get_default(), nullptr));
    for (WebKitWebView* view : { blocking, plain }) {
        gtk_widget_set_hexpand(GTK_WIDGET(view), TRUE);
        gtk_box_append(GTK_BOX(box), GTK_WIDGET(view));
    }
    gtk_window_present(GTK_WINDOW(window));
    waitUntil([&] { return gtk_widget_get_mapped(window); }, std::chrono::seconds(10));
    // Warm both web processes first.
    loadOnce(blocking, origin + "/page?warm");
    loadOnce(plain, origin + "/page?warm");

    std::vector<double> withList, without;
    for (int round = 0; round < kRounds; ++round) {
        std::string uri = origin + "/page?round=" + std::to_string(round);
        // The order alternates, so a slow moment of the machine falls on both alike.
        if (round % 2) {
            without.push_back(loadOnce(plain, uri));
            withList.push_back(loadOnce(blocking, uri));
        } else {
            withList.push_back(loadOnce(blocking, uri));
            without.push_back(loadOnce(plain, uri));
        }
    }
    // The list's element hiding reached the page, and only the page with the list.
    const char* adShown = "getComputedStyle(document.getElementById('ad')).display";
    bool hidden = waitUntil([&] { return evaluate(blocking, adShown) == "\"none\""; }, std::chrono::seconds(10));
    bool shown = evaluate(plain, adShown) == "\"block\"";
    bool failed = !hidden || !shown || std::count(withList.begin(), withList.end(), -1.0)
        + std::count(without.begin(), without.end(), -1.0);
    double ratio = median(withList) / median(without);
    std::printf("converted %zu rules (%zu skipped) in %.0f ms\n", converted->convertedCount,
        converted->skippedCount, convertMs);
    std::printf("generic hiding kept out of the engine's list: %zu selectors; the listed element %s with the list, %s without\n",
        split->moved, hidden ? "hidden" : "NOT hidden", shown ? "shown" : "NOT shown");
    std::printf("first compile: %.0f ms\n", compileMs);
    std::printf("later launch, load of the compiled list (median of %zu launches): %.1f ms (target < 100 ms)\n",
        loads.size(), median(loads));
    std::printf("page with %d subresources, median of %d loads: without lists %.1f ms, with the list %.1f ms, ratio %.3f (target <= 1.1)\n",
        kSubresources, kRounds, median(without), median(withList), ratio);

    gtk_window_destroy(GTK_WINDOW(window));
    g_object_unref(blockingContent);
    webkit_user_content_filter_unref(filter);
    g_object_unref(store);
    g_object_unref(server);
    return failed || loads.size() != kLaterLaunches ? 1 : 0;
}

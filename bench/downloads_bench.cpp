// Twenty parallel 10 MB downloads from a local server through a real controller: the time until
// all are recorded, and the peak memory of this process and of the engine's network process,
// which stay far below the bytes downloaded when the files stream to disk.
// Runs under a display: xvfb-run -a ./bench/downloads_bench
#include "bench_home.h"

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
#include "platform/alerts.h"
#include "platform/storage_locations.h"
#include "process_tree.h"

#include <benchmark/benchmark.h>
#include <libsoup/soup.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kDownloads = 20;
constexpr size_t kDownloadBytes = 10 * 1024 * 1024;

struct Bench {
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<qv::BrowserController> controller;
    SoupServer* server = nullptr;
    unsigned port = 0;
    std::string body;
    int round = 0;
};

Bench* g_bench = nullptr;

bool spinUntil(const std::function<bool()>& condition, std::chrono::seconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    return true;
}

// "VmHWM" of a process in KiB, -1 when unreadable.
long peakResidentKiB(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/status");
    std::string key;
    long value = -1;
    while (in >> key) {
        if (key == "VmHWM:") {
            in >> value;
            return value;
        }
        std::getline(in, key);
    }
    return -1;
}

long networkProcessPeakKiB()
{
    long peak = -1;
    for (pid_t pid : qv::bench::processTree(getpid()))
        if (qv::bench::processName(pid).rfind("WebKitNetworkPr", 0) == 0)
            peak = std::max(peak, peakResidentKiB(std::to_string(pid)));
    return peak;
}

// Every path is a 10 MB attachment served from one shared buffer, so the server adds no copy.
void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer)
{
    std::string name = path && *path ? fs::path(path).filename().string() : "file.bin";
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_append(
        headers, "Content-Disposition", ("attachment; filename=" + name).c_str());
    soup_server_message_set_status(message, 200, nullptr);
    soup_server_message_set_response(message, "application/octet-stream", SOUP_MEMORY_STATIC,
        g_bench->body.data(), g_bench->body.size());
}

bool setUp()
{
    auto home = qv::bench::enterBenchHome();
    if (!home)
        return false;
    fs::path root = *home;
    qv::setAlertResponder([](const qv::AlertSpec& alert) -> std::optional<int> {
        fprintf(stderr, "alert: %s\n", alert.informativeText.c_str());
        return 0;
    });

    g_bench = new Bench;
    g_bench->body.assign(kDownloadBytes, 'q');
    g_bench->server = soup_server_new(nullptr, nullptr);
    GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
    GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
    bool listening = soup_server_listen(
        g_bench->server, address, static_cast<SoupServerListenOptions>(0), nullptr);
    g_object_unref(address);
    g_object_unref(loopback);
    if (!listening)
        return false;
    GSList* uris = soup_server_get_uris(g_bench->server);
    g_bench->port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    soup_server_add_handler(g_bench->server, nullptr, serve, nullptr, nullptr);

    g_bench->application = Gtk::Application::create(
        "org.quivel.DownloadsBench", Gio::Application::Flags::NON_UNIQUE);
    g_bench->application->register_application();
    g_bench->controller = std::make_unique<qv::BrowserController>(g_bench->application);
    qv::BrowserController& controller = *g_bench->controller;
    controller.extensions().loadExtensions();
    controller.installMainMenu();
    controller.applicationDidFinishLaunching();
    return spinUntil([&] { return controller.window() && controller.window()->get_mapped(); },
        std::chrono::seconds(30));
}

void BM_TwentyParallelDownloads(benchmark::State& state)
{
    qv::BrowserController& controller = *g_bench->controller;
    for (auto _ : state) {
        size_t before = controller.downloads().downloadEntries().size();
        int round = ++g_bench->round;
        // One tab per download, each loading an attachment, so all run at once.
        while (controller.tabs().browserTabs().size() < kDownloads)
            controller.tabs().createNewTab();
        if (round == 1)
            state.counters["peakRSSBeforeDownloads_MiB"]
                = static_cast<double>(peakResidentKiB("self")) / 1024.0;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kDownloads; ++i) {
            std::string url = "http://127.0.0.1:" + std::to_string(g_bench->port) + "/r"
                + std::to_string(round) + "/file-" + std::to_string(i) + ".bin";
            webkit_web_view_load_uri(controller.tabs().browserTabs()[i].webView(), url.c_str());
        }
        if (!spinUntil([&] { return controller.downloads().downloadEntries().size() >= before + kDownloads; },
                std::chrono::seconds(300))) {
            state.SkipWithError("the downloads did not all finish");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        for (const auto& entry : fs::directory_iterator(qv::downloadsDirectory()))
            if (entry.file_size() != kDownloadBytes)
                state.SkipWithError("a file has the wrong size");
        fs::remove_all(qv::downloadsDirectory());
    }
    state.SetBytesProcessed(state.iterations() * kDownloads * static_cast<int64_t>(kDownloadBytes));
    state.counters["peakRSS_MiB"] = static_cast<double>(peakResidentKiB("self")) / 1024.0;
    state.counters["networkPeakRSS_MiB"] = static_cast<double>(networkProcessPeakKiB()) / 1024.0;
    state.counters["downloadedMiB"] = kDownloads * 10.0;
}
BENCHMARK(BM_TwentyParallelDownloads)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp()) {
        fprintf(stderr, "downloads_bench: could not start the browser\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_bench->controller->window())
        g_bench->controller->window()->close();
    g_bench->controller.reset();
    soup_server_disconnect(g_bench->server);
    g_object_unref(g_bench->server);
    return 0;
}

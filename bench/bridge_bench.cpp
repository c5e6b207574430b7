// Bridge round trips from a real extension page through the real dispatcher, beside a bare
// reply-capable handler that returns a constant, and one event delivered to ten extensions.
// Runs under a display: xvfb-run -a ./bench/bridge_bench
#include "base/atomic_file.h"
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
#include "base/json_text.h"
#include "platform/alerts.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kExtensions = 10;
constexpr int kSerialBatch = 200;
constexpr int kInFlightBatch = 1000;
constexpr int kEventBatch = 50;

struct Bench {
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<qv::BrowserController> controller;
    std::vector<WebKitWebView*> views;
    long acknowledgements = 0;
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

// Runs an async function body in the page and returns its awaited result as a number.
double runInPage(WebKitWebView* view, const std::string& body)
{
    struct Pending {
        bool done = false;
        double value = -1;
    } pending;
    webkit_web_view_call_async_javascript_function(
        view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
        +[](GObject* object, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                WEBKIT_WEB_VIEW(object), result, &error);
            if (value) {
                p->value = jsc_value_is_number(value) ? jsc_value_to_double(value) : -1;
                g_object_unref(value);
            } else {
                fprintf(stderr, "page script failed: %s\n", error ? error->message : "?");
                if (error)
                    g_error_free(error);
            }
            p->done = true;
        },
        &pending);
    spinUntil([&] { return pending.done; }, std::chrono::seconds(120));
    return pending.value;
}

// The floor: a reply-capable handler that answers every message with the same constant.
gboolean replyConstant(
    WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply, gpointer)
{
    JSCValue* constant = jsc_value_new_boolean(jsc_value_get_context(value), TRUE);
    webkit_script_message_reply_return_value(reply, constant);
    g_object_unref(constant);
    return TRUE;
}

// The same floor answering with the very reply the dispatcher gives "browser.getInfo", so the
// two differ only in the work of the dispatcher itself.
gboolean replyConstantReply(
    WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply, gpointer)
{
    static const char* kReply
        = R"({"ok":true,"value":{"engine":"WebKit","name":"Quivel Browser","version":"1.0"}})";
    JSCValue* constant = jsc_value_new_from_json(jsc_value_get_context(value), kReply);
    webkit_script_message_reply_return_value(reply, constant);
    g_object_unref(constant);
    return TRUE;
}

void acknowledge(WebKitUserContentManager*, JSCValue*, gpointer) { ++g_bench->acknowledgements; }

void writeExtension(const fs::path& store, int index)
{
    std::string id = "bench-" + std::to_string(index);
    fs::create_directories(store / id);
    qv::Json manifest = { { "id", id }, { "name", "Bench " + std::to_string(index) },
        { "permissions", { "browser", "events" } } };
    (void)qv::writeFileAtomically(store / id / "manifest.json", qv::dumpJson(manifest));
    // Every event is acknowledged to the native side so delivery can be timed there.
    (void)qv::writeFileAtomically(store / id / "index.html",
        "<!doctype html><meta charset=utf-8><title>bench</title><script>"
        "qv.on('tabs.removed', () => webkit.messageHandlers.qvAck.postMessage(1));"
        "</script>");
}

bool setUp()
{
    auto home = qv::bench::enterBenchHome();
    if (!home)
        return false;
    fs::path root = *home;

    fs::path store = root / "home/.local/share/QuivelBrowser/Extensions";
    qv::Json granted = qv::Json::object();
    qv::Json enabled = qv::Json::array();
    for (int i = 0; i < kExtensions; ++i) {
        writeExtension(store, i);
        granted["bench-" + std::to_string(i)] = { "browser", "events" };
    }
    fs::create_directories(root / "home/.config/QuivelBrowser");
    (void)qv::writeFileAtomically(root / "home/.config/QuivelBrowser/defaults.json",
        qv::dumpJson({ { qv::kExtensionPermissionsKey, granted },
            { qv::kDeletedBundledExtensionsKey, { "tab-list", "page-styler" } } }));
    qv::setAlertResponder([](const qv::AlertSpec&) -> std::optional<int> { return 1; });

    g_bench = new Bench;
    g_bench->application
        = Gtk::Application::create("org.quivel.BridgeBench", Gio::Application::Flags::NON_UNIQUE);
    g_bench->application->register_application();
    g_bench->controller = std::make_unique<qv::BrowserController>(g_bench->application);
    qv::BrowserController& controller = *g_bench->controller;
    controller.extensions().loadExtensions();
    controller.installMainMenu();
    controller.applicationDidFinishLaunching();
    for (int i = 0; i < kExtensions; ++i) {
        qv::Sender sender = qv::Sender::button(-1);
        sender.identifier = "bench-" + std::to_string(i);
        controller.extensions().openExtension(sender);
        auto it = controller.extensions().extensionWebViews().find(sender.identifier);
        if (it == controller.extensions().extensionWebViews().end())
            return false;
        WebKitWebView* view = it->second.get();
        WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
        webkit_user_content_manager_register_script_message_handler_with_reply(
            content, "qvFloor", nullptr);
        g_signal_connect(content, "script-message-with-reply-received::qvFloor",
            G_CALLBACK(replyConstant), nullptr);
        webkit_user_content_manager_register_script_message_handler_with_reply(
            content, "qvFloorReply", nullptr);
        g_signal_connect(content, "script-message-with-reply-received::qvFloorReply",
            G_CALLBACK(replyConstantReply), nullptr);
        webkit_user_content_manager_register_script_message_handler(content, "qvAck", nullptr);
        g_signal_connect(
            content, "script-message-received::qvAck", G_CALLBACK(acknowledge), nullptr);
        g_bench->views.push_back(view);
    }
    for (WebKitWebView* view : g_bench->views) {
        if (!spinUntil([&] { return !webkit_web_view_is_loading(view); }, std::chrono::seconds(60)))
            return false;
    }
    // Every page has subscribed once its listener is registered.
    return spinUntil(
        [] {
            for (int i = 0; i < kExtensions; ++i) {
                if (!g_bench->controller->extensions().extensionEventSubscriptions().isSubscribed(
                        "bench-" + std::to_string(i), "tabs.removed"))
                    return false;
            }
            return true;
        },
        std::chrono::seconds(60));
}

// One timed batch in the page: returns milliseconds by the page clock.
std::string serialBatch(const std::string& post)
{
    return "const t0 = performance.now(); for (let i = 0; i < " + std::to_string(kSerialBatch)
        + "; ++i) await " + post + "; return performance.now() - t0;";
}

std::string inFlightBatch(const std::string& post)
{
    return "const t0 = performance.now(); const all = []; for (let i = 0; i < "
        + std::to_string(kInFlightBatch) + "; ++i) all.push(" + post
        + "); await Promise.all(all); return performance.now() - t0;";
}

const std::string kFloorPost
    = "webkit.messageHandlers.qvFloor.postMessage({action: 'browser.getInfo', args: {}})";
const std::string kFloorReplyPost
    = "webkit.messageHandlers.qvFloorReply.postMessage({action: 'browser.getInfo', args: {}})";
const std::string kBridgePost
    = "webkit.messageHandlers.qvBridge.postMessage({action: 'browser.getInfo', args: {}})";
const std::string kClientPost = "qv.request('browser.getInfo')";

void runBatches(benchmark::State& state, const std::string& body, int batch)
{
    WebKitWebView* view = g_bench->views.front();
    runInPage(view, body); // warm-up
    for (auto _ : state) {
        double ms = runInPage(view, body);
        if (ms < 0) {
            state.SkipWithError("page script failed");
            return;
        }
        state.SetIterationTime(std::max(ms, 1.0) / 1000.0);
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void BM_FloorSerial(benchmark::State& state)
{
    runBatches(state, serialBatch(kFloorPost), kSerialBatch);
}
void BM_FloorReplySerial(benchmark::State& state)
{
    runBatches(state, serialBatch(kFloorReplyPost), kSerialBatch);
}
void BM_DispatcherSerial(benchmark::State& state)
{
    runBatches(state, serialBatch(kBridgePost), kSerialBatch);
}
void BM_ClientSerial(benchmark::State& state)
{
    runBatches(state, serialBatch(kClientPost), kSerialBatch);
}
void BM_FloorInFlight(benchmark::State& state)
{
    runBatches(state, inFlightBatch(kFloorPost), kInFlightBatch);
}
void BM_FloorReplyInFlight(benchmark::State& state)
{
    runBatches(state, inFlightBatch(kFloorReplyPost), kInFlightBatch);
}
void BM_DispatcherInFlight(benchmark::State& state)
{
    runBatches(state, inFlightBatch(kBridgePost), kInFlightBatch);
}
void BM_ClientInFlight(benchmark::State& state)
{
    runBatches(state, inFlightBatch(kClientPost), kInFlightBatch);
}

// Time from emitting an event until all ten subscribed pages have run their listener.
void BM_EventToTenExtensions(benchmark::State& state)
{
    qv::BrowserController& controller = *g_bench->controller;
    for (auto _ : state) {
        long target = g_bench->acknowledgements + long(kEventBatch) * kExtensions;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kEventBatch; ++i)
            controller.extensions().emitExtensionEvent("tabs.removed", { { "tabId", "BENCH" } });
        if (!spinUntil(
                [&] { return g_bench->acknowledgements >= target; }, std::chrono::seconds(60))) {
            state.SkipWithError("events were not acknowledged");
            return;
        }
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count() / kEventBatch);
    }
    state.counters["extensions"] = kExtensions;
}

BENCHMARK(BM_FloorSerial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_FloorReplySerial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_DispatcherSerial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_ClientSerial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_FloorInFlight)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_FloorReplyInFlight)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_DispatcherInFlight)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_ClientInFlight)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_EventToTenExtensions)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp()) {
        fprintf(stderr, "bridge_bench: could not start the extensions\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_bench->controller->window())
        g_bench->controller->window()->close();
    g_bench->controller.reset();
    return 0;
}

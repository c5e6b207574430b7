// The one toolkit for WebKit plumbing: letting a view go, its address and title, signals
// routed to member functions, and the data handed to asynchronous engine calls.
#pragma once

#include "extensions/bridge_page_scripts.h"
#include "platform/gobject_ptr.h"

#include <webkit/webkit.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qv {

// The view's current address, or "" without a view or an address.
std::string webViewURI(WebKitWebView* view);
// The view's page title, or "" when it has none.
std::string webViewTitle(WebKitWebView* view);
// The host of an address, or "" when it has none or does not parse.
std::string hostOfURI(const std::string& uri);

// Stops the view, disconnects every handler `owner` connected to it, takes it out of its
// container and drops the reference `view` holds, in that order. Its content manager may be
// shared with other views, so its handlers are the caller's to disconnect.
void releaseWebView(GObjectPtr<WebKitWebView>& view, gpointer owner);
// The same for a view whose reference stays with its record a little longer.
void detachWebView(WebKitWebView* view, gpointer owner);

// Gives a network session the process's proxy override, if there is one.
void applyNetworkProxy(WebKitNetworkSession* session);

// The size of a script's result as the engine holds it, counted in UTF-16 code units the way
// pageReadSize counts bytes, before anything is copied out of it; counting stops once past
// `stopAfter`. A page can answer with hundreds of megabytes, so every bounded read measures
// here first and converts only what is within its limit.
std::size_t scriptValueLength(JSCValue* value, std::size_t stopAfter);

// Settings for a new web view of ours (a tab or an extension): scripts and the web inspector on,
// and without a GPU device no hardware acceleration, whose software GL would otherwise be
// loaded into every web process for nothing.
WebKitSettings* newBrowserWebSettings();

// The size a response announces for its body as it is handed over, decoded: nothing when it
// announces none or its encoding (gzip and the like) makes the announced size the encoded one.
std::optional<std::uint64_t> announcedDecodedLength(WebKitURIResponse* response);

// The view's back/forward list in the engine's own serialised form ("" when it has none).
std::string webViewSessionState(WebKitWebView* view);
// Gives a view without a page the serialised list and loads its current item; false when the
// bytes are not such a list or its current item is not a web or file page, and nothing loads.
bool restoreWebViewSessionState(WebKitWebView* view, const std::string& state);

// How long an owner of asynchronous callbacks lives. The owner holds one as its last member
// (or ends it first thing when it goes); its callbacks carry the token and are dropped once the
// owner has gone. The one rule for every answer that comes back later from the engine.
class Lifetime {
public:
    using Token = std::weak_ptr<const void>;
    Token token() const { return m_alive; }
    void end() { m_alive.reset(); }
    // For answers that must be handled whatever window asked, as long as the process runs.
    static Token ofProcess();

private:
    std::shared_ptr<const void> m_alive = std::make_shared<char>(0);
};

// Runs `run` on the main loop, unless the owner has gone by then. Safe from any thread: how a
// worker or the file writer reports back.
void runOnMainLoop(Lifetime::Token owner, std::function<void()> run);

// Runs `run` once the window's next frame is on screen (the low-priority idle after the tick
// that comes just before it is drawn), unless the owner has gone by then.
void runAfterNextFrame(GtkWidget* window, Lifetime::Token owner, std::function<void()> run);

// How a script is run in a view's main frame: as an expression or the body of an async
// function (PageScriptKind), in a world (nullptr: the page's own), named in error messages by
// sourceName when given.
struct PageScriptRun {
    PageScriptKind kind = PageScriptKind::Expression;
    const char* world = nullptr;
    const char* sourceName = nullptr;
};

// The engine's answer, valid only while the callback runs: a value, or an error.
using PageScriptAnswer = std::function<void(JSCValue* value, const GError* error)>;

// The one way the browser runs a script in a page. The script always runs; `answer` runs once on
// the main loop, and only while `owner` lives.
void runPageScript(WebKitWebView* view, std::string_view source, const PageScriptRun& how,
    Lifetime::Token owner, PageScriptAnswer answer);
// Nothing is waited for.
void runPageScript(WebKitWebView* view, std::string_view source, const PageScriptRun& how);
// A bridge script: its Isolated world is the browser's own.
void runPageScript(
    WebKitWebView* view, const PageScript& script, Lifetime::Token owner, PageScriptAnswer answer);

// What a page script gave back: a string as it is, true and false as "true" and "false";
// anything else as an empty text with isString false. Failures carry the error's message.
// tooLong: the string was longer than the read's limit and was left unread.
struct ScriptAnswer {
    bool ok = false;
    bool isString = false;
    bool tooLong = false;
    std::string text;
};
using BrowserScriptCompletion = std::function<void(ScriptAnswer)>;

// Runs the expression in the browser's world; `done` runs as runPageScript's answer does. A
// string answer of more than `maxLength` code units comes back as tooLong.
void evaluateBrowserScript(WebKitWebView* view, const std::string& script, Lifetime::Token owner,
    BrowserScriptCompletion done, std::size_t maxLength = SIZE_MAX);

namespace detail {

template <auto Method>
struct SignalTrampoline;

template <class Owner, class R, class... Args, R (Owner::*Method)(Args...)>
struct SignalTrampoline<Method> {
    static R call(Args... args, gpointer self)
    {
        return (static_cast<Owner*>(self)->*Method)(args...);
    }
};

} // namespace detail

// Connects a GObject signal to a member function whose parameters are the signal's own
// (without the trailing user data); `owner` is what releaseWebView later disconnects by.
template <auto Method, class Owner>
gulong connectSignal(gpointer instance, const char* signal, Owner* owner)
{
    return g_signal_connect(instance, signal,
        G_CALLBACK(&detail::SignalTrampoline<Method>::call), static_cast<gpointer>(owner));
}

// Owns the state of one asynchronous engine call until its callback runs: hand `release()`
// to the call and `take(data)` inside the callback, which frees it whatever happens next.
template <class State>
class AsyncCall {
public:
    explicit AsyncCall(State state)
        : m_state(std::make_unique<State>(std::move(state)))
    {
    }
    gpointer release() { return m_state.release(); }
    static std::unique_ptr<State> take(gpointer data)
    {
        return std::unique_ptr<State>(static_cast<State*>(data));
    }

private:
    std::unique_ptr<State> m_state;
};

namespace detail {
    template <class Result> struct BackgroundJob {
        std::function<Result()> work;
        std::function<void(Result)> done;
        Result result {};
    };
} // namespace detail

// Runs `work` on a worker thread and hands its result to `done` on the main loop.
template <class Result>
void runInBackground(std::function<Result()> work, std::function<void(Result)> done)
{
    using Job = detail::BackgroundJob<Result>;
    GTask* task = g_task_new(
        nullptr, nullptr,
        +[](GObject*, GAsyncResult* result, gpointer) {
            // The task's return orders the worker's write before this read.
            g_task_propagate_boolean(G_TASK(result), nullptr);
            auto* job = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
            job->done(std::move(job->result));
        },
        nullptr);
    g_task_set_task_data(task, new Job { std::move(work), std::move(done) },
        +[](gpointer data) { delete static_cast<Job*>(data); });
    g_task_run_in_thread(task, +[](GTask* task, gpointer, gpointer data, GCancellable*) {
        auto* job = static_cast<Job*>(data);
        job->result = job->work();
        g_task_return_boolean(task, true);
    });
    g_object_unref(task);
}

} // namespace qv

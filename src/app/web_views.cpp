// Letting web views go, their address and title, and the browser's own page scripts.
#include "app/web_views.h"

#include "base/url.h"

#include "platform/network_proxy.h"
#include "platform/renderer_choice.h"

#include <algorithm>
#include <vector>

namespace qv {

std::string webViewURI(WebKitWebView* view)
{
    const char* uri = view ? webkit_web_view_get_uri(view) : nullptr;
    return uri ? uri : "";
}

std::string webViewTitle(WebKitWebView* view)
{
    const char* title = view ? webkit_web_view_get_title(view) : nullptr;
    return title ? title : "";
}

std::string hostOfURI(const std::string& uri)
{
    if (uri.empty())
        return {};
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return {};
    const char* host = g_uri_get_host(parsed);
    std::string out = host ? host : "";
    g_uri_unref(parsed);
    return out;
}

void applyNetworkProxy(WebKitNetworkSession* session)
{
    const auto& proxy = networkProxyOverride();
    if (!proxy || !session)
        return;
    std::vector<const char*> ignore = proxy->ignoreHostList();
    WebKitNetworkProxySettings* settings
        = webkit_network_proxy_settings_new(proxy->uri.c_str(), ignore.data());
    webkit_network_session_set_proxy_settings(
        session, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
    webkit_network_proxy_settings_free(settings);
}

void detachWebView(WebKitWebView* view, gpointer owner)
{
    if (!view)
        return;
    webkit_web_view_stop_loading(view);
    g_signal_handlers_disconnect_by_data(view, owner);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_find_controller(view), owner);
    GtkWidget* widget = GTK_WIDGET(view);
    if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
        if (GTK_IS_BOX(parent))
            gtk_box_remove(GTK_BOX(parent), widget);
        else
            gtk_widget_unparent(widget);
    }
}

void releaseWebView(GObjectPtr<WebKitWebView>& view, gpointer owner)
{
    detachWebView(view.get(), owner);
    view.reset();
}

namespace {

// Runs in the browser process's own context of the result, which no page can reach.
constexpr const char* kMeasureFunction = R"JS((function (value, stopAfter) {
    var total = 0;
    var pending = [value];
    while (pending.length && total <= stopAfter) {
        var item = pending.pop();
        if (typeof item === 'string') {
            total += item.length;
        } else if (item !== null && typeof item === 'object') {
            var isArray = Array.isArray(item);
            for (var key in item) {
                if (!Object.prototype.hasOwnProperty.call(item, key))
                    continue;
                total += isArray ? 1 : key.length + 1;
                pending.push(item[key]);
                if (total > stopAfter)
                    break;
            }
        } else {
            total += 1;
        }
    }
    return total;
}))JS";

} // namespace

std::size_t scriptValueLength(JSCValue* value, std::size_t stopAfter)
{
    if (!value)
        return 0;
    JSCContext* context = jsc_value_get_context(value);
    JSCValue* measure = jsc_context_evaluate(context, kMeasureFunction, -1);
    // Past 2^53 a double is no longer exact; no read allows anything near that.
    double bound = static_cast<double>(std::min<std::size_t>(stopAfter, std::size_t(1) << 52));
    JSCValue* result = jsc_value_is_function(measure)
        ? jsc_value_function_call(
              measure, JSC_TYPE_VALUE, value, G_TYPE_DOUBLE, bound, G_TYPE_NONE)
        : nullptr;
    double length = result && jsc_value_is_number(result) ? jsc_value_to_double(result) : -1;
    if (result)
        g_object_unref(result);
    g_object_unref(measure);
    jsc_context_clear_exception(context);
    // A value that could not be measured is refused, never read unmeasured.
    if (!(length >= 0) || length > bound)
        return stopAfter == SIZE_MAX ? SIZE_MAX : stopAfter + 1;
    return static_cast<std::size_t>(length);
}

WebKitSettings* newBrowserWebSettings()
{
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    if (!machineHasGpuDevice())
        webkit_settings_set_hardware_acceleration_policy(
            settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    return settings;
}

std::optional<std::uint64_t> announcedDecodedLength(WebKitURIResponse* response)
{
    guint64 announced = response ? webkit_uri_response_get_content_length(response) : 0;
    SoupMessageHeaders* headers = response ? webkit_uri_response_get_http_headers(response) : nullptr;
    const char* encoding
        = headers ? soup_message_headers_get_one(headers, "Content-Encoding") : nullptr;
    if (announced == 0 || (encoding && g_ascii_strcasecmp(encoding, "identity") != 0))
        return std::nullopt;
    return announced;
}

std::string webViewSessionState(WebKitWebView* view)
{
    if (!view)
        return {};
    WebKitWebViewSessionState* state = webkit_web_view_get_session_state(view);
    if (!state)
        return {};
    GBytes* bytes = webkit_web_view_session_state_serialize(state);
    webkit_web_view_session_state_unref(state);
    if (!bytes)
        return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string serialised(data ? data : "", data ? size : 0);
    g_bytes_unref(bytes);
    return serialised;
}

bool restoreWebViewSessionState(WebKitWebView* view, const std::string& state)
{
    if (!view || state.empty())
        return false;
    GBytes* bytes = g_bytes_new(state.data(), state.size());
    WebKitWebViewSessionState* session = webkit_web_view_session_state_new(bytes);
    g_bytes_unref(bytes);
    if (!session)
        return false;
    webkit_web_view_restore_session_state(view, session);
    webkit_web_view_session_state_unref(session);
    WebKitBackForwardListItem* current
        = webkit_back_forward_list_get_current_item(webkit_web_view_get_back_forward_list(view));
    // Bytes from a file can name any address; the tab goes only to a web or file page.
    const char* uri = current ? webkit_back_forward_list_item_get_uri(current) : nullptr;
    auto parts = uri ? parseURL(uri) : std::nullopt;
    if (!parts || !((parts->isHTTP() && !parts->host.empty()) || parts->lowerScheme() == "file"))
        return false;
    webkit_web_view_go_to_back_forward_list_item(view, current);
    return true;
}

void runOnMainLoop(Lifetime::Token owner, std::function<void()> run)
{
    struct Call {
        Lifetime::Token owner;
        std::function<void()> run;
    };
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto* call = static_cast<Call*>(data);
            if (call->owner.lock())
                call->run();
            return G_SOURCE_REMOVE;
        },
        new Call { std::move(owner), std::move(run) },
        [](gpointer data) { delete static_cast<Call*>(data); });
}

void runAfterNextFrame(GtkWidget* window, Lifetime::Token owner, std::function<void()> run)
{
    struct Call {
        Lifetime::Token owner;
        std::function<void()> run;
    };
    gtk_widget_add_tick_callback(
        window,
        +[](GtkWidget*, GdkFrameClock*, gpointer data) -> gboolean {
            auto* call = static_cast<Call*>(data);
            g_idle_add_full(
                G_PRIORITY_LOW,
                +[](gpointer data) -> gboolean {
                    auto* call = static_cast<Call*>(data);
                    if (call->owner.lock())
                        call->run();
                    return G_SOURCE_REMOVE;
                },
                new Call(std::move(*call)), +[](gpointer data) { delete static_cast<Call*>(data); });
            return G_SOURCE_REMOVE;
        },
        new Call { std::move(owner), std::move(run) }, +[](gpointer data) { delete static_cast<Call*>(data); });
}

Lifetime::Token Lifetime::ofProcess()
{
    static const Lifetime process;
    return process.token();
}

namespace {

    struct PendingAnswer {
        Lifetime::Token owner;
        PageScriptAnswer answer;
    };

    template <auto Finish>
    void deliverAnswer(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto pending = AsyncCall<PendingAnswer>::take(data);
        GError* error = nullptr;
        JSCValue* value = Finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (pending->answer && !pending->owner.expired())
            pending->answer(value, error);
        if (value)
            g_object_unref(value);
        if (error)
            g_error_free(error);
    }

} // namespace

void runPageScript(WebKitWebView* view, std::string_view source, const PageScriptRun& how,
    Lifetime::Token owner, PageScriptAnswer answer)
{
    if (!view)
        return;
    // Without an answer the result is still collected, so the engine's errors are not logged.
    AsyncCall<PendingAnswer> pending(PendingAnswer { std::move(owner), std::move(answer) });
    // The source may hold NUL, so its length is passed rather than its end found.
    std::string text(source);
    auto length = static_cast<gssize>(text.size());
    if (how.kind == PageScriptKind::Expression) {
        webkit_web_view_evaluate_javascript(view, text.c_str(), length, how.world,
            how.sourceName, nullptr, &deliverAnswer<&webkit_web_view_evaluate_javascript_finish>,
            pending.release());
    } else {
        webkit_web_view_call_async_javascript_function(view, text.c_str(), length, nullptr,
            how.world, how.sourceName, nullptr,
            &deliverAnswer<&webkit_web_view_call_async_javascript_function_finish>,
            pending.release());
    }
}

void runPageScript(WebKitWebView* view, std::string_view source, const PageScriptRun& how)
{
    runPageScript(view, source, how, Lifetime::ofProcess(), nullptr);
}

void runPageScript(
    WebKitWebView* view, const PageScript& script, Lifetime::Token owner, PageScriptAnswer answer)
{
    // In a world of our own the page's scripts cannot replace what the script calls.
    PageScriptRun how { script.kind,
        script.world == PageScriptWorld::Page ? nullptr : kBrowserScriptWorld, nullptr };
    runPageScript(view, script.source, how, std::move(owner), std::move(answer));
}

void evaluateBrowserScript(WebKitWebView* view, const std::string& script, Lifetime::Token owner,
    BrowserScriptCompletion done, std::size_t maxLength)
{
    runPageScript(view, script, { PageScriptKind::Expression, kBrowserScriptWorld, nullptr },
        std::move(owner),
        [done = std::move(done), maxLength](JSCValue* value, const GError* error) {
            ScriptAnswer answer;
            if (value) {
                answer.ok = true;
                if (jsc_value_is_string(value)) {
                    answer.isString = true;
                    if (maxLength != SIZE_MAX && scriptValueLength(value, maxLength) > maxLength) {
                        answer.tooLong = true;
                    } else {
                        char* text = jsc_value_to_string(value);
                        answer.text = text ? text : "";
                        g_free(text);
                    }
                } else if (jsc_value_is_boolean(value)) {
                    answer.text = jsc_value_to_boolean(value) ? "true" : "false";
                }
            } else {
                answer.text = error && error->message ? error->message : "unknown error";
            }
            if (done)
                done(std::move(answer));
        });
}

} // namespace qv

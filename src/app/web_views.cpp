// Letting web views go, their address and title, and the browser's own page scripts.
#include "app/web_views.h"

#include "platform/network_proxy.h"

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

void evaluateBrowserScript(WebKitWebView* view, const std::string& script, BrowserScriptCompletion done)
{
    auto* completion = new BrowserScriptCompletion(std::move(done));
    webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()),
        kBrowserScriptWorld, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<BrowserScriptCompletion> completion(static_cast<BrowserScriptCompletion*>(data));
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(
                WEBKIT_WEB_VIEW(source), result, &error);
            ScriptAnswer answer;
            if (value) {
                answer.ok = true;
                if (jsc_value_is_string(value)) {
                    answer.isString = true;
                    char* text = jsc_value_to_string(value);
                    answer.text = text ? text : "";
                    g_free(text);
                } else if (jsc_value_is_boolean(value)) {
                    answer.text = jsc_value_to_boolean(value) ? "true" : "false";
                }
                g_object_unref(value);
            } else {
                answer.text = error && error->message ? error->message : "unknown error";
            }
            if (error)
                g_error_free(error);
            if (*completion)
                (*completion)(std::move(answer));
        },
        completion);
}

} // namespace qv

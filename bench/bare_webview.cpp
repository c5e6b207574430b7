// Baseline for the start-up benchmark: a plain GTK window holding web views on one address.
// Usage: bare_webview URL [COUNT [hidden]]. The views load URL with "n=<index>" added to its
// query one after another, each shown while it loads, as browser tabs opened in turn are; with
// "hidden" they all load at once and only the last is ever shown. The window title becomes the
// page title whenever the shown view finishes.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Views {
    GtkWindow* window = nullptr;
    GtkStack* stack = nullptr;
    std::string url;
    int count = 1;
    int opened = 0;
    bool hidden = false;
};

void openNextView(Views& views);

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data)
{
    if (event != WEBKIT_LOAD_FINISHED)
        return;
    auto* views = static_cast<Views*>(data);
    const char* title = webkit_web_view_get_title(view);
    gtk_window_set_title(views->window, title && *title ? title : "Bare WebView");
    g_signal_handlers_disconnect_by_data(view, data);
    openNextView(*views);
}

void openNextView(Views& views)
{
    if (views.opened >= views.count)
        return;
    GtkWidget* view = webkit_web_view_new();
    gtk_stack_add_child(views.stack, view);
    if (!views.hidden || views.opened == views.count - 1)
        gtk_stack_set_visible_child(views.stack, view);
    if (!views.hidden)
        g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), &views);
    char separator = views.url.find('?') == std::string::npos ? '?' : '&';
    std::string address = views.url + separator + "n=" + std::to_string(views.opened++);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), address.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL [COUNT]\n", argv[0]);
        return 2;
    }
    Views views;
    views.url = argv[1];
    views.count = argc > 2 ? std::atoi(argv[2]) : 1;
    if (views.count < 1 || views.count > 100)
        views.count = 1;
    views.hidden = argc > 3 && std::string(argv[3]) == "hidden";

    gtk_init();
    // Only the local page is loaded; anything else meets the closed loopback port the caller
    // names, as the browser's sessions do.
    if (const char* proxy = std::getenv("QV_NETWORK_PROXY"); proxy && *proxy) {
        const char* direct[] = { "127.0.0.1", "localhost", "::1", nullptr };
        WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(proxy, direct);
        webkit_network_session_set_proxy_settings(webkit_network_session_get_default(),
            WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
        webkit_network_proxy_settings_free(settings);
    }
    views.window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(views.window, "Bare WebView");
    // The browser window's default size, so both paint the same area.
    gtk_window_set_default_size(views.window, 1180, 800);
    views.stack = GTK_STACK(gtk_stack_new());
    gtk_window_set_child(views.window, GTK_WIDGET(views.stack));
    // Like the browser, the first view exists and is loading before the window is presented.
    openNextView(views);
    while (views.hidden && views.opened < views.count)
        openNextView(views);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect_swapped(views.window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
    gtk_window_present(views.window);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return 0;
}

// The web views' navigation callbacks and the back, forward, reload, home and focus commands.
#include "app/browser_controller.h"

#include "tabs/tab_model.h"

namespace qv {

namespace {

// Set on a web view between a finished load and the start of the next one.
constexpr const char* kLoadFinishedKey = "qv-load-finished";

void setLoadFinished(WebKitWebView* view, bool finished)
{
    g_object_set_data(G_OBJECT(view), kLoadFinishedKey, GINT_TO_POINTER(finished ? 1 : 0));
}

bool loadFinished(WebKitWebView* view)
{
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(view), kLoadFinishedKey)) != 0;
}

std::string hostOf(const char* uri)
{
    if (!uri)
        return {};
    GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return {};
    const char* host = g_uri_get_host(parsed);
    std::string out = host ? host : "";
    g_uri_unref(parsed);
    return out;
}

} // namespace

void BrowserController::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        setLoadFinished(view, false);
        break;
    case WEBKIT_LOAD_COMMITTED:
        if (view == controller->m_webView && controller->m_requestField) {
            const char* uri = webkit_web_view_get_uri(view);
            controller->m_requestField->set_text(uri ? uri : "");
        }
        controller->updateNavigationButtons();
        break;
    case WEBKIT_LOAD_FINISHED:
        setLoadFinished(view, true);
        controller->webViewDidFinishNavigation(view);
        break;
    default:
        break;
    }
}

void BrowserController::webViewDidFinishNavigation(WebKitWebView* view)
{
    for (auto& tab : m_browserTabs) {
        if (tab.webView != view)
            continue;
        const char* title = webkit_web_view_get_title(view);
        std::string host = hostOf(webkit_web_view_get_uri(view));
        tab.title = title && *title ? title : !host.empty() ? host : kNewTabTitle;
        break;
    }
    refreshTabBar();
    if (view == m_webView && m_window) {
        const char* title = webkit_web_view_get_title(view);
        m_window->set_title(title && *title ? title : "Quivel Browser");
    }
    updateNavigationButtons();
}

gboolean BrowserController::onLoadFailed(WebKitWebView* view, WebKitLoadEvent, char*, GError* error,
    gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    if (view == controller->m_webView && controller->m_window && error
        && !g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
        controller->m_window->set_title(std::string("Load failed: ") + error->message);
    return FALSE;
}

void BrowserController::onURIChanged(WebKitWebView* view, GParamSpec*, gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    if (view == controller->m_webView && controller->m_requestField) {
        const char* uri = webkit_web_view_get_uri(view);
        controller->m_requestField->set_text(uri ? uri : "");
    }
}

void BrowserController::onTitleChanged(WebKitWebView* view, GParamSpec*, gpointer self)
{
    // The engine can report the title after the load has finished; a title that arrives
    // while loading is picked up when the load finishes.
    if (loadFinished(view))
        static_cast<BrowserController*>(self)->webViewDidFinishNavigation(view);
}

GtkWidget* BrowserController::onCreate(WebKitWebView* view, WebKitNavigationAction*, gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    if (controller->isExtensionWebView(view))
        return nullptr;
    WebViewConfiguration configuration { view };
    TabID id = controller->createBrowserTabWithURL(std::nullopt, &configuration);
    return GTK_WIDGET(controller->browserTabForID(id));
}

gboolean BrowserController::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*,
    WebKitPolicyDecisionType, gpointer)
{
    return FALSE;
}

void BrowserController::goBack()
{
    if (m_webView && webkit_web_view_can_go_back(m_webView))
        webkit_web_view_go_back(m_webView);
}

void BrowserController::goForward()
{
    if (m_webView && webkit_web_view_can_go_forward(m_webView))
        webkit_web_view_go_forward(m_webView);
}

void BrowserController::reloadPage()
{
    if (m_webView)
        webkit_web_view_reload(m_webView);
}

void BrowserController::goHome()
{
    if (!m_requestField)
        return;
    m_requestField->set_text(homePageURLForProfile(currentProfile()));
    openRequest();
}

void BrowserController::focusAddressBar()
{
    if (!m_requestField || !m_window)
        return;
    m_window->present();
    m_requestField->grab_focus();
}

void BrowserController::updateNavigationButtons()
{
    if (m_backButton)
        m_backButton->set_sensitive(m_webView && webkit_web_view_can_go_back(m_webView));
    if (m_forwardButton)
        m_forwardButton->set_sensitive(m_webView && webkit_web_view_can_go_forward(m_webView));
}

} // namespace qv

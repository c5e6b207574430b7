// The web views' navigation callbacks and the back, forward, reload, home and focus commands.
#include "navigation/navigation_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/web_views.h"
#include "base/text_util.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "platform/address_probe.h"
#include "profiles/profile_service.h"
#include "tabs/tab_model.h"
#include "tabs/tab_service.h"

#include <libsoup/soup.h>

namespace qv {

namespace {

// The web view's title, else the host of its address; "" when it has neither.
std::string pageTitle(WebKitWebView* view)
{
    std::string title = webViewTitle(view);
    return title.empty() ? hostOfURI(webViewURI(view)) : title;
}

// A navigation stopped or replaced, or one that the response policy turned away: no report.
bool isQuietFailure(const GError* error)
{
    return !error || g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)
        || g_error_matches(error, WEBKIT_POLICY_ERROR,
            WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
}

std::string failureMessage(const GError* error)
{
    return error && error->message && *error->message ? error->message : "Navigation failed.";
}

bool isAttachment(WebKitURIResponse* response)
{
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    if (!headers)
        return false;
    bool attachment = false;
    soup_message_headers_foreach(
        headers,
        +[](const char* name, const char* value, gpointer data) {
            if (toLowerAscii(name) == "content-disposition"
                && toLowerAscii(value).find("attachment") != std::string::npos)
                *static_cast<bool*>(data) = true;
        },
        &attachment);
    return attachment;
}

// How long a finished page's visit waits for a title the engine reports just after the finish.
constexpr unsigned kTitleGraceMilliseconds = 250;

// The engine hands the download to the session's "download-started" (downloads/downloads.cpp).
void decideDownload(WebKitPolicyDecision* decision) { webkit_policy_decision_download(decision); }

// An error status is a failed load, never a download to save.
std::optional<std::string> refusedResponse(WebKitResponsePolicyDecision* decision)
{
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    if (!response || !webkit_response_policy_decision_is_main_frame_main_resource(decision)
        || webkit_response_policy_decision_is_mime_type_supported(decision)
        || isAttachment(response))
        return std::nullopt;
    guint status = webkit_uri_response_get_status_code(response);
    if (status < 400 || status > 599)
        return std::nullopt;
    const char* phrase = soup_status_get_phrase(status);
    return std::to_string(status) + (phrase && *phrase ? std::string(" ") + phrase : "");
}

} // namespace

NavigationService::NavigationService(const Services& services)
    : m_services(services)
{
    // The unresponsive-page bar speaks only of the selected tab.
    m_services.tabs->signalSelectedViewShown().connect(
        sigc::hide(sigc::hide(sigc::mem_fun(*this, &NavigationService::updateUnresponsiveBar))));
    m_services.tabs->signalSelectedViewShown().connect(sigc::hide(sigc::hide([this] {
        updateSiteWarningBar();
        updateSecurityIndicator();
    })));
}

NavigationService::~NavigationService() { m_unresponsiveCheck.disconnect(); }

BrowserWindow* NavigationService::window() const { return m_services.shell->window(); }

void NavigationService::watchWebView(WebKitWebView* view)
{
    connectSignal<&NavigationService::webViewLoadChanged>(view, "load-changed", this);
    connectSignal<&NavigationService::webViewLoadFailed>(view, "load-failed", this);
    connectSignal<&NavigationService::webViewURIChanged>(view, "notify::uri", this);
    connectSignal<&NavigationService::webViewTitleChanged>(view, "notify::title", this);
    connectSignal<&NavigationService::createWebViewForNavigation>(view, "create", this);
    connectSignal<&NavigationService::webViewDecidePolicy>(view, "decide-policy", this);
    connectSignal<&NavigationService::webViewProcessTerminated>(
        view, "web-process-terminated", this);
    connectSignal<&NavigationService::webViewResponsivenessChanged>(
        view, "notify::is-web-process-responsive", this);
    connectSignal<&NavigationService::webViewLoadFailedWithTLSErrors>(
        view, "load-failed-with-tls-errors", this);
    connectSignal<&NavigationService::webViewInsecureContentDetected>(
        view, "insecure-content-detected", this);
}

void NavigationService::unwatchWebView(WebKitWebView* view)
{
    g_signal_handlers_disconnect_by_data(view, this);
    if (view == m_unresponsiveBarView)
        hideUnresponsiveBar();
    if (m_viewSecurity.erase(view))
        updateSiteWarningBar();
}

void NavigationService::completeVisit(WebKitWebView* view, const std::string& shownURL)
{
    std::string title = webViewURI(view) == shownURL ? pageTitle(view) : hostOfURI(shownURL);
    std::string url = m_services.devtools->localCopies().lastingAddress(shownURL);
    const Tab* tab = m_services.tabs->tabList().tabWithView(view);
    // A private profile's visits are never recorded.
    bool isPrivate = tab && m_services.profiles->isPrivateProfile(tab->profileID());
    if (!url.empty() && !isPrivate)
        m_services.history->saveHistoryEntry(url, title);
    m_services.extensions->emitExtensionEvent("page.loaded",
        { { "tabId", m_services.tabs->tabIDForWebView(view).value_or("") }, { "url", url },
            { "title", title } });
}

void NavigationService::completePendingVisit(Tab* tab, WebKitWebView* view)
{
    if (!tab || !tab->loadState().pendingVisit)
        return;
    std::string url = tab->loadState().pendingVisit->url;
    tab->loadState().pendingVisit.reset();
    completeVisit(view, url);
}

void NavigationService::webViewLoadChanged(WebKitWebView* view, WebKitLoadEvent event)
{
    if (m_services.extensions->isExtensionWebView(view) || errorPageLoadChanged(view, event))
        return;
    switch (event) {
    case WEBKIT_LOAD_STARTED:
        siteSecurityLoadStarted(view);
        // A main-frame load the decision below could not tell from a subframe's (a link, a
        // script): replaced as it starts, its request may have gone out but its answer is
        // never shown.
        if (auto https = httpsAttemptFor(view, webViewURI(view))) {
            startHttpsAttempt(view, webViewURI(view), *https);
            return;
        }
        if (Tab* tab = m_services.tabs->tabList().tabWithView(view)) {
            completePendingVisit(tab, view);
            TabLoadState& state = tab->loadState();
            state.finished = false;
            state.failed = false;
            state.refusedResponse.reset();
            state.pageTitle.clear();
            ++state.serial;
        }
        // The view's address is now the one its main frame is loading.
        m_services.extensions->emitExtensionEvent("page.navigationStarted",
            { { "tabId", m_services.tabs->tabIDForWebView(view).value_or("") }, { "url", webViewURI(view) } });
        break;
    case WEBKIT_LOAD_REDIRECTED:
        upgradeRedirectToHttps(view);
        break;
    case WEBKIT_LOAD_COMMITTED:
        siteSecurityLoadCommitted(view);
        webViewDidCommitNavigation(view);
        break;
    case WEBKIT_LOAD_FINISHED:
        if (Tab* tab = m_services.tabs->tabList().tabWithView(view)) {
            if (tab->loadState().failed)
                break;
            tab->loadState().finished = true;
        }
        webViewDidFinishNavigation(view);
        break;
    default:
        break;
    }
}

void NavigationService::webViewDidCommitNavigation(WebKitWebView* view)
{
    // Another site's page shows now: the last one's icon is not kept until a new one arrives.
    if (Tab* tab = m_services.tabs->tabList().tabWithView(view))
        tab->dropFaviconUnlessOnHost(hostOfURI(webViewURI(view)));
    m_services.extensions->markActivityReporter(view);
    m_services.downloads->downloadPageCommitted(view);
    if (view == m_services.tabs->selectedWebView()) {
        updateAddressFieldForURL(webViewURI(view));
        updateNavigationButtons();
    }
    m_services.extensions->emitExtensionEvent("page.navigationCommitted",
        { { "tabId", m_services.tabs->tabIDForWebView(view).value_or("") }, { "url", webViewURI(view) } });
}

void NavigationService::updateTitlesForWebView(WebKitWebView* view)
{
    std::string title = pageTitle(view);
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (tab && !webViewTitle(view).empty())
        tab->loadState().pageTitle = webViewTitle(view);
    if (tab)
        tab->setShownPage(title.empty() ? kNewTabTitle : title, webViewURI(view));
    if (view == m_services.tabs->selectedWebView() && window())
        window()->set_title(browserWindowTitle(title));
}

void NavigationService::webViewDidFinishNavigation(WebKitWebView* view)
{
    updateTitlesForWebView(view);
    if (view == m_services.tabs->selectedWebView()) {
        updateAddressFieldForURL(webViewURI(view));
        updateNavigationButtons();
    }
    m_services.tabs->updateFaviconForWebView(view);
    completePendingVisit(m_services.tabs->tabList().tabWithView(view), view);
    std::string uri = webViewURI(view);
    if (!webViewTitle(view).empty()) {
        completeVisit(view, uri);
        return;
    }
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return;
    auto pending = std::make_unique<PendingVisit>();
    pending->url = uri;
    pending->timeout = Glib::signal_timeout().connect(
        sigc::track_obj(
            [this, view] {
                completePendingVisit(m_services.tabs->tabList().tabWithView(view), view);
                return false;
            },
            *this),
        kTitleGraceMilliseconds);
    tab->loadState().pendingVisit = std::move(pending);
}

gboolean NavigationService::webViewLoadFailed(
    WebKitWebView* view, WebKitLoadEvent event, char* failingURI, GError* error)
{
    if (m_services.extensions->isExtensionWebView(view))
        return FALSE;
    // The load we turned away for its error status fails with that status.
    std::unique_ptr<GError, decltype(&g_error_free)> refused(nullptr, g_error_free);
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    std::optional<std::string> status
        = tab ? std::exchange(tab->loadState().refusedResponse, std::nullopt) : std::nullopt;
    if (status
        && g_error_matches(error, WEBKIT_POLICY_ERROR,
            WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
        refused.reset(g_error_new_literal(
            WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FAILED, status->c_str()));
        error = refused.get();
    }
    if (httpsUpgradeFailed(view, failingURI ? failingURI : "", error))
        return TRUE;
    webViewDidFailNavigation(view, event, error);
    // Our own error page takes the page's place, with the failure also in the window title.
    if (event != WEBKIT_LOAD_COMMITTED && !isQuietFailure(error)) {
        std::string uri = failingURI && *failingURI ? failingURI : webViewURI(view);
        // Shown once the failed load has ended, and only when the tab is still open and no newer
        // load was asked for in the meantime, whether it is still running (an error page now would
        // cancel it) or has already finished (the error page would replace it).
        auto held = GObjectPtr<WebKitWebView>::retain(view);
        std::string message = failureMessage(error);
        unsigned serial = tab ? tab->loadState().serial : 0;
        Glib::signal_idle().connect_once(sigc::track_obj(
            [this, held, uri, message, serial] {
                const Tab* current = m_services.tabs->tabList().tabWithView(held.get());
                if (current && !webkit_web_view_is_loading(held.get())
                    && current->loadState().serial == serial)
                    showErrorPage(held.get(), uri, message);
            },
            *this));
    }
    return TRUE;
}

void NavigationService::webViewDidFailNavigation(WebKitWebView* view, WebKitLoadEvent event,
    GError* error)
{
    if (Tab* tab = m_services.tabs->tabList().tabWithView(view))
        tab->loadState().failed = true;
    bool quiet = isQuietFailure(error);
    std::string message = failureMessage(error);
    bool provisional = event != WEBKIT_LOAD_COMMITTED;
    if (provisional) {
        if (view == m_services.tabs->selectedWebView() && !quiet && window())
            window()->set_title("Load failed: " + displaySafeTitle(message));
        updateNavigationButtons();
    }
    if (!quiet) {
        m_services.extensions->emitExtensionEvent("page.loadFailed",
            { { "tabId", m_services.tabs->tabIDForWebView(view).value_or("") }, { "url", webViewURI(view) },
                { "error", message } });
    }
}

void NavigationService::webViewURIChanged(WebKitWebView* view, GParamSpec*)
{
    if (view == m_services.tabs->selectedWebView() && !m_services.extensions->isExtensionWebView(view))
        updateAddressFieldForURL(webViewURI(view));
}

void NavigationService::webViewTitleChanged(WebKitWebView* view, GParamSpec*)
{
    // The engine can report the title after the load has finished; a title that arrives
    // while loading is picked up when the load finishes.
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!m_services.extensions->isExtensionWebView(view) && tab && tab->loadState().finished) {
        updateTitlesForWebView(view);
        completePendingVisit(tab, view);
    }
}

GtkWidget* NavigationService::createWebViewForNavigation(
    WebKitWebView* view, WebKitNavigationAction*)
{
    // Extension pages cannot open windows.
    if (m_services.extensions->isExtensionWebView(view))
        return nullptr;
    WebViewConfiguration configuration { view };
    TabID id = m_services.tabs->createBrowserTabWithURL(std::nullopt, &configuration);
    return GTK_WIDGET(m_services.tabs->browserTabForID(id));
}

gboolean NavigationService::webViewDecidePolicy(
    WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type)
{
    // Extension pages are fenced by their own handler.
    if (m_services.extensions->isExtensionWebView(view))
        return FALSE;
    return decideNavigationPolicy(view, decision, type) ? TRUE : FALSE;
}

bool NavigationService::decideNavigationPolicy(WebKitWebView* view,
    WebKitPolicyDecision* decision, WebKitPolicyDecisionType type)
{
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (decideErrorPageNavigation(view, decision))
            return true;
        // The engine's decisions do not say which frame navigates, but the view's address is
        // already the requested one for a load the browser itself asked for: that one is tried
        // over https before any http request leaves.
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && uri
            && webViewURI(view) == uri) {
            std::string requested = uri;
            // A page of a marked local copy runs from the copy scheme, where its modules load.
            if (auto copy = m_services.devtools->localCopies().addressForFileURL(requested)) {
                webkit_policy_decision_ignore(decision);
                webkit_web_view_load_uri(view, copy->c_str());
                return true;
            }
            if (auto https = httpsAttemptFor(view, requested)) {
                webkit_policy_decision_ignore(decision);
                startHttpsAttempt(view, requested, *https);
                return true;
            }
        }
        // What the user's gesture starts may download without asking.
        if (webkit_navigation_action_is_user_gesture(action))
            m_services.downloads->noteDownloadGesture(view);
        // A middle click on a link opens it in a new tab behind this one.
        if (webkit_navigation_action_get_mouse_button(action) == 2
            && webkit_navigation_action_get_navigation_type(action)
                == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED
            && uri && *uri) {
            m_services.tabs->openBackgroundTab(uri);
            webkit_policy_decision_ignore(decision);
            return true;
        }
        // The decision does not say which frame navigates, and a frame's address is not for
        // every extension holding events: main-frame navigations are announced when their
        // load starts.
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
            m_services.extensions->emitExtensionEvent("page.navigationStarted",
                { { "tabId", m_services.tabs->tabIDForWebView(view).value_or("") }, { "url", uri ? uri : "" } });
        // Every scheme and modifier is allowed for a browser tab. The engine itself turns a
        // link with a download attribute into a download (it has no policy hook for it here).
        webkit_policy_decision_use(decision);
        return true;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
        auto* responseDecision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        WebKitURIResponse* response
            = webkit_response_policy_decision_get_response(responseDecision);
        if (auto status = refusedResponse(responseDecision)) {
            if (Tab* tab = m_services.tabs->tabList().tabWithView(view))
                tab->loadState().refusedResponse = *status;
            webkit_policy_decision_ignore(decision);
            return true;
        }
        if ((response && isAttachment(response))
            || !webkit_response_policy_decision_is_mime_type_supported(responseDecision)) {
            WebKitURIRequest* request
                = webkit_response_policy_decision_get_request(responseDecision);
            m_services.downloads->noteResponseDownload(view, request ? webkit_uri_request_get_uri(request) : nullptr,
                webkit_response_policy_decision_is_main_frame_main_resource(responseDecision));
            decideDownload(decision);
        } else
            webkit_policy_decision_use(decision);
        return true;
    }
    default:
        return false;
    }
}

void NavigationService::goBack()
{
    if (m_services.tabs->selectedWebView() && webkit_web_view_can_go_back(m_services.tabs->selectedWebView())) {
        m_services.downloads->noteBrowserStartedLoad(m_services.tabs->selectedWebView());
        webkit_web_view_go_back(m_services.tabs->selectedWebView());
    }
}

void NavigationService::goForward()
{
    if (m_services.tabs->selectedWebView() && webkit_web_view_can_go_forward(m_services.tabs->selectedWebView())) {
        m_services.downloads->noteBrowserStartedLoad(m_services.tabs->selectedWebView());
        webkit_web_view_go_forward(m_services.tabs->selectedWebView());
    }
}

void NavigationService::reloadPage()
{
    if (m_services.tabs->selectedWebView() && !webViewURI(m_services.tabs->selectedWebView()).empty()) {
        m_services.downloads->noteBrowserStartedLoad(m_services.tabs->selectedWebView());
        webkit_web_view_reload(m_services.tabs->selectedWebView());
    }
    else
        goHome();
}

void NavigationService::goHome()
{
    if (!window())
        return;
    setAddressFieldText(m_services.profiles->homePageURLForProfile(m_services.profiles->currentProfile()));
    openRequest();
}

void NavigationService::focusAddressBar()
{
    if (!window())
        return;
    window()->present();
    window()->requestField().grab_focus();
    window()->requestField().select_region(0, -1);
}

void NavigationService::updateNavigationButtons()
{
    if (!window())
        return;
    window()->backButton().set_sensitive(m_services.tabs->selectedWebView() && webkit_web_view_can_go_back(m_services.tabs->selectedWebView()));
    window()->forwardButton().set_sensitive(
        m_services.tabs->selectedWebView() && webkit_web_view_can_go_forward(m_services.tabs->selectedWebView()));
}

} // namespace qv

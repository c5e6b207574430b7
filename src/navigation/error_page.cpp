// The error page a tab shows after a failed load, and keeping it out of visits and titles.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "app/web_views.h"
#include "base/atomic_file.h"
#include "navigation/error_page_rules.h"
#include "platform/storage_locations.h"


namespace qv {

namespace {

    // On a web view: the failing address while its error page is on the way or shown.
    constexpr const char* kErrorPageKey = "qv-error-page";

    enum class ErrorPageState { None, Pending, Shown };

    struct ErrorPageMark {
        ErrorPageState state = ErrorPageState::None;
        std::string uri;
    };

    ErrorPageMark* errorPageMark(WebKitWebView* view)
    {
        return static_cast<ErrorPageMark*>(g_object_get_data(G_OBJECT(view), kErrorPageKey));
    }

    void setErrorPageMark(WebKitWebView* view, ErrorPageState state, const std::string& uri)
    {
        if (state == ErrorPageState::None) {
            g_object_set_data(G_OBJECT(view), kErrorPageKey, nullptr);
            return;
        }
        AsyncCall<ErrorPageMark> mark(ErrorPageMark { state, uri });
        g_object_set_data_full(G_OBJECT(view), kErrorPageKey, mark.release(),
            [](gpointer data) { AsyncCall<ErrorPageMark>::take(data); });
    }

    std::optional<std::string> errorPageTemplate()
    {
        // Packagers may install resources as links.
        FileRead read = readWholeFile(
            resourcesDirectory() / "error-page.html", kMaxResourceFileBytes, FileLinks::Follow);
        if (read.status != ReadStatus::Ok)
            return std::nullopt;
        return std::move(read.contents);
    }

} // namespace

bool BrowserController::showErrorPage(
    WebKitWebView* view, const std::string& uri, const std::string& message)
{
    // An error page that itself fails is not replaced by another one.
    if (showingErrorPage(view))
        return false;
    auto pageTemplate = errorPageTemplate();
    if (!pageTemplate)
        return false;
    std::string html = errorPageHTML(*pageTemplate, { message, uri, darkMode() });
    setErrorPageMark(view, ErrorPageState::Pending, uri);
    // The failing address stays the view's address and is the page's own, so reloading the
    // page (Try Again) asks for that address again.
    webkit_web_view_load_alternate_html(view, html.c_str(), uri.c_str(), uri.c_str());
    return true;
}

bool BrowserController::showingErrorPage(WebKitWebView* view) const
{
    ErrorPageMark* mark = view ? errorPageMark(view) : nullptr;
    return mark && mark->state != ErrorPageState::None;
}

bool BrowserController::errorPageLoadChanged(WebKitWebView* view, WebKitLoadEvent event)
{
    ErrorPageMark* mark = errorPageMark(view);
    if (!mark)
        return false;
    if (event == WEBKIT_LOAD_STARTED) {
        if (mark->state == ErrorPageState::Pending && webViewURI(view) == mark->uri) {
            mark->state = ErrorPageState::Shown;
            return true;
        }
        // Any later load (Try Again among them) is a navigation of its own.
        setErrorPageMark(view, ErrorPageState::None, {});
        return false;
    }
    if (event == WEBKIT_LOAD_COMMITTED && view == m_webView) {
        updateAddressFieldForURL(webViewURI(view));
        updateNavigationButtons();
    }
    // The failed load's own finish, and the error page's commit and finish.
    return true;
}

bool BrowserController::decideErrorPageNavigation(
    WebKitWebView* view, WebKitPolicyDecision* decision)
{
    ErrorPageMark* mark = errorPageMark(view);
    if (!mark || mark->state != ErrorPageState::Pending)
        return false;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (!uri || mark->uri != uri)
        return false;
    webkit_policy_decision_use(decision);
    return true;
}

} // namespace qv

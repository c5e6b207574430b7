// The error page a tab shows after a failed load, and keeping it out of visits and titles.
#include "navigation/navigation_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/web_views.h"
#include "base/atomic_file.h"
#include "navigation/error_page_rules.h"
#include "platform/storage_locations.h"
#include "tabs/tab_service.h"


namespace qv {

std::optional<std::string> NavigationService::ownPageTemplate()
{
    // Packagers may install resources as links.
    FileRead read = readWholeFile(
        resourcesDirectory() / "error-page.html", kMaxResourceFileBytes, FileLinks::Follow);
    if (read.status != ReadStatus::Ok)
        return std::nullopt;
    return std::move(read.contents);
}

bool NavigationService::showErrorPage(
    WebKitWebView* view, const std::string& uri, const std::string& message)
{
    // An error page that itself fails is not replaced by another one.
    if (showingErrorPage(view))
        return false;
    auto pageTemplate = ownPageTemplate();
    if (!pageTemplate)
        return false;
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return false;
    ErrorPageText text;
    text.message = message;
    text.address = uri;
    text.dark = m_services.shell->darkMode();
    // The tab says what happened rather than waiting on the load that failed.
    text.title = text.heading;
    loadOwnPage(*tab, view, uri, errorPageHTML(*pageTemplate, text));
    // Loads of our own pages leave the titles alone, so the tab's is set here.
    tab->setShownPage(text.title, uri);
    return true;
}

void NavigationService::loadOwnPage(
    Tab& tab, WebKitWebView* view, const std::string& uri, const std::string& html)
{
    tab.loadState().errorPage = ErrorPageState::Pending;
    tab.loadState().errorPageURI = uri;
    // The failing address stays the view's address and is the page's own, so reloading the
    // page (Try Again) asks for that address again.
    webkit_web_view_load_alternate_html(view, html.c_str(), uri.c_str(), uri.c_str());
}

bool NavigationService::showingErrorPage(WebKitWebView* view) const
{
    const Tab* tab = m_services.tabs->tabList().tabWithView(view);
    return tab && tab->loadState().errorPage != ErrorPageState::None;
}

bool NavigationService::errorPageLoadChanged(WebKitWebView* view, WebKitLoadEvent event)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab || tab->loadState().errorPage == ErrorPageState::None)
        return false;
    TabLoadState& state = tab->loadState();
    if (event == WEBKIT_LOAD_STARTED) {
        if (state.errorPage == ErrorPageState::Pending && webViewURI(view) == state.errorPageURI) {
            state.errorPage = ErrorPageState::Shown;
            return true;
        }
        // Any later load (Try Again among them) is a navigation of its own.
        state.errorPage = ErrorPageState::None;
        state.errorPageURI.clear();
        return false;
    }
    if (event == WEBKIT_LOAD_COMMITTED && view == m_services.tabs->selectedWebView()) {
        updateAddressFieldForURL(webViewURI(view));
        updateNavigationButtons();
    }
    // The failed load's own finish, and the error page's commit and finish.
    return true;
}

bool NavigationService::decideErrorPageNavigation(
    WebKitWebView* view, WebKitPolicyDecision* decision)
{
    const Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab || tab->loadState().errorPage != ErrorPageState::Pending)
        return false;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (!uri || tab->loadState().errorPageURI != uri)
        return false;
    webkit_policy_decision_use(decision);
    return true;
}

} // namespace qv

// The page a tab shows when its page's process ended, and the bar for a page that hangs.
#include "navigation/navigation_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "navigation/unresponsive_page_bar.h"
#include "app/web_views.h"
#include "navigation/error_page_rules.h"
#include "tabs/tab_model.h"
#include "tabs/tab_service.h"

namespace qv {

namespace {

    // The page's title, kept by the tab once the engine has forgotten it with the process, else
    // its host.
    std::string shownPageName(const Tab& tab, WebKitWebView* view, const std::string& uri)
    {
        std::string title = webViewTitle(view);
        if (title.empty())
            title = tab.loadState().pageTitle;
        return title.empty() ? hostOfURI(uri) : title;
    }

} // namespace

bool NavigationService::showCrashPage(WebKitWebView* view, PageEndReason reason)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return false;
    TabLoadState& state = tab->loadState();
    // Our own page ending on its way in would only end again.
    if (state.errorPage == ErrorPageState::Pending)
        return false;
    bool ownPageShown = state.errorPage == ErrorPageState::Shown;
    // Over our own page the page it stands for is the one to load again.
    std::string uri = ownPageShown ? state.errorPageURI : webViewURI(view);
    if (uri.empty())
        uri = tab->url().empty() ? std::string("about:blank") : tab->url();
    auto pageTemplate = ownPageTemplate();
    if (!pageTemplate)
        return false;
    std::string name = ownPageShown ? hostOfURI(uri) : shownPageName(*tab, view, uri);
    CrashPageWords words = crashPageWords(reason);
    std::string title = crashedTabTitle(reason, name);
    ErrorPageText text;
    text.message = words.message;
    text.address = uri;
    text.dark = m_services.shell->darkMode();
    text.heading = words.heading;
    text.title = title;
    text.button = "Reload";
    text.buttonId = "reload";
    std::string html = errorPageHTML(*pageTemplate, text);
    state.unresponsiveSince.reset();
    if (m_unresponsiveBarView == view)
        hideUnresponsiveBar();
    // Loads of our own pages leave the titles alone, so they are set here.
    tab->setShownPage(title, uri);
    if (view == m_services.tabs->selectedWebView() && window())
        window()->set_title(browserWindowTitle(title));
    loadOwnPage(*tab, view, uri, html);
    return true;
}

void NavigationService::webViewProcessTerminated(
    WebKitWebView* view, WebKitWebProcessTerminationReason reason)
{
    // Only Stop Page ends a tab's process through the engine, and it shows its page itself.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
        return;
    PageEndReason why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
        ? PageEndReason::MemoryLimit
        : PageEndReason::Crashed;
    // On the next turn: the engine is still tidying up after the process as it tells us.
    auto held = GObjectPtr<WebKitWebView>::retain(view);
    Glib::signal_idle().connect_once(sigc::track_obj(
        [this, held, why] {
            if (m_services.tabs->tabList().tabWithView(held.get()))
                showCrashPage(held.get(), why);
        },
        *this));
}

void NavigationService::webViewResponsivenessChanged(WebKitWebView* view, GParamSpec*)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return;
    auto& since = tab->loadState().unresponsiveSince;
    bool selected = view == m_services.tabs->selectedWebView();
    if (!webkit_web_view_get_is_web_process_responsive(view)) {
        if (!since)
            since = std::chrono::steady_clock::now();
    } else if (selected) {
        since.reset();
    }
    // The engine stops watching a page once it is hidden and calls it responsive again, hung or
    // not; that page is asked directly when it is shown again.
    if (selected)
        updateUnresponsiveBar();
}

void NavigationService::updateUnresponsiveBar()
{
    m_unresponsiveCheck.disconnect();
    WebKitWebView* view = m_services.tabs->selectedWebView();
    const Tab* tab = view ? m_services.tabs->tabList().tabWithView(view) : nullptr;
    if (!tab || !tab->loadState().unresponsiveSince) {
        hideUnresponsiveBar();
        return;
    }
    if (webkit_web_view_get_is_web_process_responsive(view)) {
        // Hung while hidden, as far as anyone knows: any answer at all clears it.
        auto held = GObjectPtr<WebKitWebView>::retain(view);
        runPageScript(view, "true", { PageScriptKind::Expression, kBrowserScriptWorld, nullptr },
            m_lifetime.token(), [this, held](JSCValue*, const GError*) {
                Tab* answered = m_services.tabs->tabList().tabWithView(held.get());
                if (!answered || !answered->loadState().unresponsiveSince)
                    return;
                answered->loadState().unresponsiveSince.reset();
                if (held.get() == m_services.tabs->selectedWebView())
                    updateUnresponsiveBar();
            });
    }
    using namespace std::chrono;
    auto shownAt
        = *tab->loadState().unresponsiveSince + milliseconds(kUnresponsiveBarDelayMilliseconds);
    auto now = steady_clock::now();
    if (now < shownAt) {
        hideUnresponsiveBar();
        auto left = duration_cast<milliseconds>(shownAt - now).count() + 1;
        m_unresponsiveCheck = Glib::signal_timeout().connect(
            [this] {
                m_unresponsiveCheck = sigc::connection();
                updateUnresponsiveBar();
                return false;
            },
            static_cast<unsigned>(left));
        return;
    }
    if (!window())
        return;
    m_unresponsiveBarView = view;
    window()->unresponsivePageBar().showMessage(
        unresponsivePageMessage(shownPageName(*tab, view, webViewURI(view))),
        [this] { stopUnresponsivePage(); }, [this] { waitForUnresponsivePage(); });
}

void NavigationService::hideUnresponsiveBar()
{
    m_unresponsiveBarView = nullptr;
    if (window())
        window()->unresponsivePageBar().hideBar();
}

void NavigationService::stopUnresponsivePage()
{
    WebKitWebView* view = std::exchange(m_unresponsiveBarView, nullptr);
    hideUnresponsiveBar();
    if (!view || !m_services.tabs->tabList().tabWithView(view))
        return;
    webkit_web_view_terminate_web_process(view);
    showCrashPage(view, PageEndReason::StoppedUnresponsive);
}

void NavigationService::waitForUnresponsivePage()
{
    WebKitWebView* view = m_unresponsiveBarView;
    if (Tab* tab = view ? m_services.tabs->tabList().tabWithView(view) : nullptr) {
        // Another full delay before asking again.
        if (tab->loadState().unresponsiveSince)
            tab->loadState().unresponsiveSince = std::chrono::steady_clock::now();
    }
    updateUnresponsiveBar();
}

} // namespace qv

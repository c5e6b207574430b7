// Creating, selecting, unloading and closing tabs; look-ups; the "tab.json" snapshot.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "app/find_bar.h"
#include "app/web_views.h"
#include "base/atomic_file.h"
#include "base/uuid.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

// An address a load can start from: an absolute URI with a scheme.
bool parsesAsURL(const std::string& address)
{
    return !address.empty() && g_uri_is_valid(address.c_str(), G_URI_FLAGS_PARSE_RELAXED, nullptr);
}

} // namespace

void BrowserController::leaveElementFullscreenIfNeeded()
{
    if (m_browserElementFullscreen)
        setBrowserElementFullscreen(false, m_webView);
}

void BrowserController::unloadSelectedTabIfLazy()
{
    Tab* tab = m_tabs.tabWithView(m_webView);
    if (tab && tab->lazy())
        unloadBrowserTab(*tab);
}

void BrowserController::showWebViewInContent(WebKitWebView* view)
{
    // An open find bar follows the selection to the new page.
    bool finding = m_window->findBar().shown();
    if (finding && m_webView && m_webView != view)
        webkit_find_controller_search_finish(webkit_web_view_get_find_controller(m_webView));
    m_webView = view;
    m_window->showInContent(*Glib::wrap(GTK_WIDGET(view)));
    if (finding)
        searchInPage(m_window->findBar().text());
    m_downloads->refreshDownloadBar();
}

void BrowserController::startLoading(WebKitWebView* view, const std::string& url)
{
    webkit_web_view_load_uri(view, url.c_str());
}

std::unique_ptr<Tab> BrowserController::newBrowserTabWithView(
    const GObjectPtr<WebKitWebView>& view, const std::optional<std::string>& url) const
{
    auto tab = std::make_unique<Tab>(makeUUIDString(), m_profiles->currentProfile());
    tab->setWebView(view);
    tab->setURL(url.value_or(""));
    tab->setTitle(url ? kLoadingTitle : kNewTabTitle);
    return tab;
}

TabID BrowserController::createBrowserTabWithURL(const std::optional<std::string>& url,
    const WebViewConfiguration* configuration)
{
    leaveElementFullscreenIfNeeded();
    GObjectPtr<WebKitWebView> view = newBrowserWebViewWithConfiguration(configuration);
    std::unique_ptr<Tab> made = newBrowserTabWithView(view, url);
    TabID id = made->id();
    {
        TabList::Batch batch(m_tabs);
        // The tab being left goes first, before the new one joins the list.
        unloadSelectedTabIfLazy();
        Tab& tab = m_tabs.append(std::move(made));
        showWebViewInContent(view.get());
        m_tabs.select(&tab);
    }
    setAddressFieldText(url.value_or(""));
    updateNavigationButtons();
    if (url && !url->empty()) {
        std::string address = normalizedAddressForTab(*url);
        if (parsesAsURL(address))
            startLoading(view.get(), address);
    }
    m_extensions->emitExtensionEvent("tabs.created", { { "tabId", id }, { "url", url.value_or("") } });
    return id;
}

void BrowserController::createNewTab()
{
    createBrowserTabWithURL(m_profiles->homePageURLForProfile(m_profiles->currentProfile()));
    if (m_window)
        m_window->requestField().grab_focus();
}

void BrowserController::selectBrowserTab(const Sender& sender)
{
    if (sender.tag < 0 || static_cast<size_t>(sender.tag) >= m_tabs.size())
        return;
    Tab& tab = m_tabs[static_cast<size_t>(sender.tag)];
    WebKitWebView* view = tab.webView();
    if (view && view == m_webView)
        return;
    leaveElementFullscreenIfNeeded();
    {
        TabList::Batch batch(m_tabs);
        unloadSelectedTabIfLazy();
        m_profiles->setCurrentProfile(
            tab.profileID().empty() ? kDefaultProfileID : tab.profileID(), ProfileService::Announce::No);
        if (!tab.webView()) {
            tab.setWebView(newBrowserWebView());
            webkit_web_view_set_zoom_level(tab.webView(), tab.zoomLevel());
        }
        view = tab.webView();
        showWebViewInContent(view);
        setAddressFieldText(webViewURI(view));
        std::string title = webViewTitle(view);
        m_window->set_title(browserWindowTitle(title));
        m_tabs.select(&tab);
    }
    updateNavigationButtons();
    if (webViewURI(view).empty() && parsesAsURL(tab.url()))
        startLoading(view, tab.url());
    m_profiles->signalCurrentProfileChanged().emit();
    m_extensions->emitExtensionEvent("tabs.activated", { { "tabId", tab.id() } });
}

void BrowserController::unloadBrowserTab(Tab& tab)
{
    if (!tab.webView())
        return;
    TabList::Batch batch(m_tabs);
    WebKitWebView* view = tab.webView();
    if (std::string uri = webViewURI(view); !uri.empty())
        tab.setURL(uri);
    if (std::string title = webViewTitle(view); !title.empty())
        tab.setTitle(title);
    // Stopped while it is still the tab's, so its last signals find the tab; then let go.
    detachWebView(view, this);
    tab.takeWebView();
}

void BrowserController::toggleLazyTabs(const Sender& sender)
{
    if (sender.kind != Sender::Kind::MenuItem || sender.tag < 0
        || static_cast<size_t>(sender.tag) >= m_tabs.size())
        return;
    Tab& tab = m_tabs[static_cast<size_t>(sender.tag)];
    TabList::Batch batch(m_tabs);
    tab.setLazy(!tab.lazy());
    if (tab.lazy() && tab.webView() && tab.webView() != m_webView)
        unloadBrowserTab(tab);
}

void BrowserController::closeBrowserTab(const Sender& sender)
{
    if (sender.kind == Sender::Kind::Button) {
        if (sender.tag >= 0)
            closeBrowserTabAtIndex(static_cast<size_t>(sender.tag));
        return;
    }
    if (auto index = indexOfSelectedTab())
        closeBrowserTabAtIndex(*index);
}

void BrowserController::closeBrowserTabAtIndex(size_t i)
{
    if (i >= m_tabs.size())
        return;
    // The closed tab's web view stays alive until the replacement is selected.
    const Tab& closing = m_tabs[i];
    GObjectPtr<WebKitWebView> closedView = GObjectPtr<WebKitWebView>::retain(closing.webView());
    TabID closedID = closing.id();
    std::string closedURL = webViewURI(closedView.get());
    const ProfileID& closedProfile = closing.profileID();
    m_closedTabs.push({ closedURL.empty() ? closing.url() : closedURL,
        closedProfile.empty() ? ProfileID(kDefaultProfileID) : closedProfile });
    bool wasSelected = closedView && closedView == m_webView;
    detachWebView(closedView.get(), this);
    // Closing the selected tab is shown once its replacement is selected.
    m_tabs.remove(i);
    m_extensions->emitExtensionEvent("tabs.removed", { { "tabId", closedID } });

    if (m_tabs.empty())
        createBrowserTabWithURL(m_profiles->homePageURLForProfile(m_profiles->currentProfile()));
    else if (wasSelected)
        selectBrowserTabAtIndex(replacementIndexAfterClose(i, m_tabs.size()));
    if (m_webView == closedView.get())
        m_webView = nullptr;
}

WebKitWebView* BrowserController::browserTabForID(const TabID& id) const
{
    if (id.empty())
        return m_webView;
    const Tab* tab = m_tabs.tabWithID(id);
    return tab ? tab->webView() : nullptr;
}

std::optional<TabID> BrowserController::tabIDForWebView(WebKitWebView* view) const
{
    const Tab* tab = m_tabs.tabWithView(view);
    return tab ? std::optional<TabID>(tab->id()) : std::nullopt;
}

std::optional<size_t> BrowserController::indexOfSelectedTab() const
{
    return m_tabs.selectedIndex();
}

void BrowserController::saveTabsSnapshot()
{
    if (m_history->historyFileURL().empty() || !m_browserTabsCreated)
        return;
    if (m_tabsFileURL.empty())
        m_tabsFileURL = m_history->historyFileURL().parent_path() / "tab.json";
    std::vector<TabSnapshotEntry> entries;
    entries.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs) {
        std::string uri = webViewURI(tab.webView());
        entries.push_back({ tab.id(), uri.empty() ? tab.url() : uri, tab.title(),
            tab.profileID(), tab.lazy(), &tab == m_tabs.selected() });
    }
    // Best effort: the snapshot is never read back, so a failed write is dropped.
    (void)writeTabsSnapshot(m_tabsFileURL, entries);
}

} // namespace qv

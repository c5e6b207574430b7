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
    if (!m_webView)
        return;
    for (auto& tab : m_browserTabs) {
        if (tab.webView == m_webView) {
            if (tab.lazy)
                unloadBrowserTab(tab);
            return;
        }
    }
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
    refreshDownloadBar();
}

void BrowserController::startLoading(WebKitWebView* view, const std::string& url)
{
    webkit_web_view_load_uri(view, url.c_str());
}

BrowserTab BrowserController::newBrowserTabWithView(
    const GObjectPtr<WebKitWebView>& view, const std::optional<std::string>& url) const
{
    BrowserTab tab;
    tab.id = makeUUIDString();
    tab.webView = view;
    tab.url = url.value_or("");
    tab.profileID = currentProfile();
    tab.lazy = false;
    tab.title = url ? kLoadingTitle : kNewTabTitle;
    return tab;
}

TabID BrowserController::createBrowserTabWithURL(const std::optional<std::string>& url,
    const WebViewConfiguration* configuration)
{
    leaveElementFullscreenIfNeeded();
    GObjectPtr<WebKitWebView> view = newBrowserWebViewWithConfiguration(configuration);
    BrowserTab tab = newBrowserTabWithView(view, url);
    TabID id = tab.id;

    // The tab being left goes first, before the new one joins the list.
    unloadSelectedTabIfLazy();
    m_browserTabs.push_back(std::move(tab));
    showWebViewInContent(view.get());
    refreshTabBar();
    setAddressFieldText(url.value_or(""));
    updateNavigationButtons();
    if (url && !url->empty()) {
        std::string address = normalizedAddressForTab(*url);
        if (parsesAsURL(address))
            startLoading(view.get(), address);
    }
    emitExtensionEvent("tabs.created", { { "tabId", id }, { "url", url.value_or("") } });
    return id;
}

void BrowserController::createNewTab()
{
    createBrowserTabWithURL(homePageURLForProfile(currentProfile()));
    if (m_window)
        m_window->requestField().grab_focus();
}

void BrowserController::selectBrowserTab(const Sender& sender)
{
    if (sender.tag < 0 || static_cast<size_t>(sender.tag) >= m_browserTabs.size())
        return;
    size_t i = static_cast<size_t>(sender.tag);
    WebKitWebView* view = m_browserTabs[i].webView.get();
    if (view && view == m_webView)
        return;
    leaveElementFullscreenIfNeeded();
    unloadSelectedTabIfLazy();

    BrowserTab& tab = m_browserTabs[i];
    m_currentProfileID = tab.profileID.empty() ? kDefaultProfileID : tab.profileID;
    saveProfiles();
    if (!tab.webView) {
        tab.webView = newBrowserWebView();
        webkit_web_view_set_zoom_level(tab.webView.get(), tab.zoomLevel);
    }
    view = tab.webView.get();
    showWebViewInContent(view);
    setAddressFieldText(webViewURI(view));
    std::string title = webViewTitle(view);
    m_window->set_title(browserWindowTitle(title));
    refreshTabBar();
    updateNavigationButtons();
    if (webViewURI(view).empty() && parsesAsURL(tab.url))
        startLoading(view, tab.url);
    profilesWindowDidChangeCurrentProfile();
    emitExtensionEvent("tabs.activated", { { "tabId", m_browserTabs[i].id } });
}

void BrowserController::unloadBrowserTab(BrowserTab& tab)
{
    if (!tab.webView)
        return;
    WebKitWebView* view = tab.webView.get();
    if (std::string uri = webViewURI(view); !uri.empty())
        tab.url = uri;
    if (std::string title = webViewTitle(view); !title.empty())
        tab.title = title;
    releaseWebView(tab.webView, this);
}

void BrowserController::toggleLazyTabs(const Sender& sender)
{
    if (sender.kind != Sender::Kind::MenuItem || sender.tag < 0
        || static_cast<size_t>(sender.tag) >= m_browserTabs.size())
        return;
    BrowserTab& tab = m_browserTabs[static_cast<size_t>(sender.tag)];
    tab.lazy = !tab.lazy;
    if (tab.lazy && tab.webView && tab.webView != m_webView)
        unloadBrowserTab(tab);
    refreshTabBar();
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
    if (i >= m_browserTabs.size())
        return;
    // The closed tab's web view stays alive until the replacement is selected.
    GObjectPtr<WebKitWebView> closedView = m_browserTabs[i].webView;
    TabID closedID = m_browserTabs[i].id;
    std::string closedURL = webViewURI(closedView.get());
    const ProfileID& closedProfile = m_browserTabs[i].profileID;
    m_closedTabs.push({ closedURL.empty() ? m_browserTabs[i].url : closedURL,
        closedProfile.empty() ? ProfileID(kDefaultProfileID) : closedProfile });
    bool wasSelected = closedView && closedView == m_webView;
    detachWebView(closedView.get(), this);
    m_browserTabs.erase(m_browserTabs.begin() + static_cast<long>(i));
    emitExtensionEvent("tabs.removed", { { "tabId", closedID } });

    if (m_browserTabs.empty()) {
        createBrowserTabWithURL(homePageURLForProfile(currentProfile()));
    } else if (wasSelected) {
        selectBrowserTabAtIndex(replacementIndexAfterClose(i, m_browserTabs.size()));
    } else {
        refreshTabBar();
    }
    if (m_webView == closedView.get())
        m_webView = nullptr;
}

WebKitWebView* BrowserController::browserTabForID(const TabID& id) const
{
    if (id.empty())
        return m_webView;
    for (const auto& tab : m_browserTabs) {
        if (tab.id == id)
            return tab.webView.get();
    }
    return nullptr;
}

std::optional<TabID> BrowserController::tabIDForWebView(WebKitWebView* view) const
{
    if (!view)
        return std::nullopt;
    for (const auto& tab : m_browserTabs) {
        if (tab.webView == view)
            return tab.id;
    }
    return std::nullopt;
}

std::optional<size_t> BrowserController::indexOfSelectedTab() const
{
    if (!m_webView)
        return std::nullopt;
    for (size_t i = 0; i < m_browserTabs.size(); ++i) {
        if (m_browserTabs[i].webView == m_webView)
            return i;
    }
    return std::nullopt;
}

void BrowserController::saveTabsSnapshot()
{
    if (m_historyFileURL.empty() || !m_browserTabsCreated)
        return;
    if (m_tabsFileURL.empty())
        m_tabsFileURL = m_historyFileURL.parent_path() / "tab.json";
    std::vector<TabSnapshotEntry> entries;
    entries.reserve(m_browserTabs.size());
    for (const auto& tab : m_browserTabs) {
        std::string uri = webViewURI(tab.webView.get());
        entries.push_back({ tab.id, uri.empty() ? tab.url : uri, tab.title, tab.profileID,
            tab.lazy, tab.webView && tab.webView == m_webView });
    }
    // Best effort: the snapshot is never read back, so a failed write is dropped.
    (void)writeTabsSnapshot(m_tabsFileURL, entries);
}

} // namespace qv

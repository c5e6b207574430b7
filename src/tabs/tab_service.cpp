// Creating, selecting, unloading and closing tabs; look-ups; the "tab.json" snapshot.
#include "tabs/tab_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "base/file_writer.h"
#include "base/uuid.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/address_resolution.h"
#include "navigation/navigation_service.h"
#include "platform/http_client.h"
#include "profiles/profile_service.h"
#include "profiles/storage_editor_rules.h"
#include "tabs/activity_rules.h"
#include "tabs/page_close_asker.h"
#include "tabs/tab_memory_guard.h"
#include "tabs/tab_strip_view.h"

namespace qv {

namespace {

// An address a load can start from: an absolute URI with a scheme.
bool parsesAsURL(const std::string& address)
{
    return !address.empty() && g_uri_is_valid(address.c_str(), G_URI_FLAGS_PARSE_RELAXED, nullptr);
}

} // namespace

TabService::TabService(const Services& services)
    : m_services(services)
    , m_memoryGuard(std::make_unique<TabMemoryGuard>(services))
    , m_pageCloseAsker(std::make_unique<PageCloseAsker>(services, *this))
{
    m_webViewCreated.connect(sigc::mem_fun(*m_pageCloseAsker, &PageCloseAsker::watchWebView));
    m_webViewReleasing.connect(sigc::mem_fun(*m_pageCloseAsker, &PageCloseAsker::forgetWebView));
}

TabService::~TabService()
{
    m_lifetime.end();
}

void TabService::beginBrowserTabs()
{
    m_tabs.clear();
    m_browserTabsCreated = true;
}

void TabService::unloadSelectedTabIfLazy()
{
    Tab* tab = m_tabs.tabWithView(m_webView);
    if (tab)
        tab->markShown(); // shown until now
    if (tab && tab->lazy())
        unloadBrowserTab(*tab);
}

void TabService::unloadTabForMemory(Tab& tab)
{
    if (!tab.webView() || tab.webView() == m_webView)
        return;
    TabList::Batch batch(m_tabs);
    tab.setLazy(true);
    tab.setUnloadedForMemory();
    unloadBrowserTab(tab);
}

void TabService::showWebViewInContent(WebKitWebView* view)
{
    WebKitWebView* previous = std::exchange(m_webView, view);
    if (BrowserWindow* window = m_services.shell->window())
        window->showInContent(*Glib::wrap(GTK_WIDGET(view)));
    m_selectedViewShown.emit(previous, view);
}

void TabService::detachTabView(WebKitWebView* view)
{
    if (!view)
        return;
    // Stopped while its handlers are still there, so its last signals find the tab.
    webkit_web_view_stop_loading(view);
    m_webViewReleasing.emit(view);
    detachWebView(view, this);
}

void TabService::detachAllWebViews()
{
    for (const Tab& tab : m_tabs)
        detachTabView(tab.webView());
}

void TabService::releaseAllTabs()
{
    // Letting the tabs go is no change to show or save.
    m_tabs.signalChanged().clear();
    for (Tab& tab : m_tabs) {
        GObjectPtr<WebKitWebView> view = tab.takeWebView();
        detachTabView(view.get());
    }
    m_tabs.clear();
    m_webView = nullptr;
}

std::unique_ptr<Tab> TabService::newBrowserTabWithView(
    const GObjectPtr<WebKitWebView>& view, const std::optional<std::string>& url) const
{
    auto tab = std::make_unique<Tab>(makeUUIDString(), m_services.profiles->currentProfile());
    tab->setWebView(view);
    tab->setURL(url.value_or(""));
    tab->setTitle(url ? kLoadingTitle : kNewTabTitle);
    return tab;
}

TabID TabService::createBrowserTabWithURL(const std::optional<std::string>& url,
    const WebViewConfiguration* configuration)
{
    m_selectionLeaving.emit();
    GObjectPtr<WebKitWebView> view = newBrowserWebViewWithConfiguration(configuration);
    std::unique_ptr<Tab> made = newBrowserTabWithView(view, url);
    TabID id = made->id();
    {
        TabList::Batch batch(m_tabs);
        // The tab being left goes first, before the new one joins the list.
        unloadSelectedTabIfLazy();
        Tab& tab = m_tabs.append(std::move(made));
        tab.markShown();
        showWebViewInContent(view.get());
        m_tabs.select(&tab);
    }
    m_services.navigation->setAddressFieldText(url.value_or(""));
    m_services.navigation->updateNavigationButtons();
    if (url && !url->empty()) {
        std::string address = normalizedAddress(*url).value_or("");
        if (parsesAsURL(address))
            webkit_web_view_load_uri(view.get(), address.c_str());
    }
    m_services.extensions->emitExtensionEvent("tabs.created", { { "tabId", id }, { "url", url.value_or("") } });
    return id;
}

void TabService::createNewTab()
{
    createBrowserTabWithURL(m_services.profiles->homePageURLForProfile(m_services.profiles->currentProfile()));
    if (BrowserWindow* window = m_services.shell->window())
        window->requestField().grab_focus();
}

void TabService::selectBrowserTab(const Sender& sender)
{
    if (sender.tag < 0 || static_cast<size_t>(sender.tag) >= m_tabs.size())
        return;
    Tab& tab = m_tabs[static_cast<size_t>(sender.tag)];
    WebKitWebView* view = tab.webView();
    if (view && view == m_webView)
        return;
    m_selectionLeaving.emit();
    {
        TabList::Batch batch(m_tabs);
        unloadSelectedTabIfLazy();
        m_services.profiles->setCurrentProfile(
            tab.profileID().empty() ? kDefaultProfileID : tab.profileID(), ProfileService::Announce::No);
        if (!tab.webView()) {
            tab.setWebView(newBrowserWebView());
            webkit_web_view_set_zoom_level(tab.webView(), tab.zoomLevel());
            // Back and forward go where they went before the tab gave up its view.
            if (restoreWebViewSessionState(tab.webView(), tab.sessionState()))
                tab.markSessionStateStale();
        }
        view = tab.webView();
        tab.markShown();
        showWebViewInContent(view);
        m_services.navigation->setAddressFieldText(webViewURI(view));
        if (BrowserWindow* window = m_services.shell->window())
            window->set_title(browserWindowTitle(webViewTitle(view)));
        m_tabs.select(&tab);
    }
    m_services.navigation->updateNavigationButtons();
    if (webViewURI(view).empty() && !webkit_web_view_is_loading(view) && parsesAsURL(tab.url()))
        webkit_web_view_load_uri(view, tab.url().c_str());
    m_services.profiles->signalCurrentProfileChanged().emit();
    m_services.extensions->emitExtensionEvent("tabs.activated", { { "tabId", tab.id() } });
}

void TabService::unloadBrowserTab(Tab& tab)
{
    if (!tab.webView())
        return;
    TabList::Batch batch(m_tabs);
    WebKitWebView* view = tab.webView();
    if (std::string uri = webViewURI(view); !uri.empty())
        tab.setURL(uri);
    if (std::string title = webViewTitle(view); !title.empty())
        tab.setTitle(title);
    tab.setSessionState(webViewSessionState(view));
    // Stopped while it is still the tab's, so its last signals find the tab; then let go.
    detachTabView(view);
    tab.takeWebView();
}

void TabService::restoreTabs(std::vector<RestoredTab> restored, std::optional<size_t> selected)
{
    if (restored.empty())
        return;
    Tab* toSelect = nullptr;
    {
        TabList::Batch batch(m_tabs);
        for (size_t i = 0; i < restored.size(); ++i) {
            RestoredTab& from = restored[i];
            auto made = std::make_unique<Tab>(makeUUIDString(), from.profileID);
            made->setURL(from.url);
            made->setTitle(from.title.empty() ? from.url : from.title);
            made->setLazy(from.lazy);
            made->setZoomLevel(from.zoom);
            made->setSessionState(std::move(from.state));
            if (from.favicon)
                made->setFavicon(from.favicon, hostOfURI(from.url));
            Tab& tab = m_tabs.append(std::move(made));
            if (!toSelect || selected == i)
                toSelect = &tab;
        }
    }
    // Only the selected one loads; the others wait, as lazy tabs do, until they are shown.
    if (auto index = m_tabs.indexOf(*toSelect))
        selectBrowserTabAtIndex(*index);
}

void TabService::toggleLazyTabs(const Sender& sender)
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

void TabService::closeBrowserTab(const Sender& sender)
{
    std::optional<size_t> index = indexOfSelectedTab();
    if (sender.kind == Sender::Kind::Button)
        index = sender.tag >= 0 ? std::optional<size_t>(static_cast<size_t>(sender.tag)) : std::nullopt;
    if (index && *index < m_tabs.size())
        askToCloseBrowserTabs({ m_tabs[*index].id() });
}

void TabService::askToCloseBrowserTabs(const std::vector<TabID>& ids)
{
    m_pageCloseAsker->closeTabs(ids);
}

void TabService::askPagesBeforeClosingAll(std::function<void()> agreed)
{
    m_pageCloseAsker->closeAll(std::move(agreed));
}

void TabService::closeBrowserTabAtIndex(size_t i)
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
    detachTabView(closedView.get());
    // Closing the selected tab is shown once its replacement is selected.
    m_tabs.remove(i);
    m_services.extensions->emitExtensionEvent("tabs.removed", { { "tabId", closedID } });

    if (m_tabs.empty())
        createBrowserTabWithURL(m_services.profiles->homePageURLForProfile(m_services.profiles->currentProfile()));
    else if (wasSelected)
        selectBrowserTabAtIndex(replacementIndexAfterClose(i, m_tabs.size()));
    if (m_webView == closedView.get())
        m_webView = nullptr;
}

WebKitWebView* TabService::browserTabForID(const TabID& id) const
{
    if (id.empty())
        return m_webView;
    const Tab* tab = m_tabs.tabWithID(id);
    return tab ? tab->webView() : nullptr;
}

std::optional<TabID> TabService::tabIDForWebView(WebKitWebView* view) const
{
    const Tab* tab = m_tabs.tabWithView(view);
    return tab ? std::optional<TabID>(tab->id()) : std::nullopt;
}

void TabService::saveTabsSnapshot()
{
    if (m_services.history->historyFileURL().empty() || !m_browserTabsCreated)
        return;
    if (m_tabsFileURL.empty())
        m_tabsFileURL = m_services.history->historyFileURL().parent_path() / "tab.json";
    std::vector<TabSnapshotEntry> entries;
    entries.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs) {
        if (m_services.profiles->isPrivateProfile(tab.profileID()))
            continue;
        std::string uri = webViewURI(tab.webView());
        entries.push_back({ tab.id(), uri.empty() ? tab.url() : uri, tab.title(),
            tab.profileID(), tab.lazy(), &tab == m_tabs.selected() });
    }
    // Best effort: the snapshot is never read back, so a failed write is dropped. A burst of
    // changes (a page animating its title) is one write; its text is made off this thread.
    m_services.shell->fileWriter().submitMade(m_tabsFileURL,
        [entries = std::move(entries)]() -> Result<std::string> { return tabsSnapshotJson(entries); });
}

void TabService::selectTabByShortcut(TabShortcut shortcut, size_t number)
{
    std::vector<std::string> profiles;
    profiles.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs)
        profiles.push_back(tab.profileID().empty() ? kDefaultProfileID : tab.profileID());
    auto index
        = tabIndexForShortcut(profiles, m_services.profiles->currentProfile(), indexOfSelectedTab(), shortcut, number);
    if (index)
        selectBrowserTabAtIndex(*index);
}

void TabService::reopenClosedTab()
{
    while (auto closed = m_closedTabs.pop()) {
        // A deleted profile took its website data with it; its tabs do not come back.
        if (closed->profileID != kDefaultProfileID && !m_services.profiles->profileForID(closed->profileID))
            continue;
        if (closed->profileID != m_services.profiles->currentProfile()) {
            m_services.profiles->setCurrentProfile(closed->profileID, ProfileService::Announce::Yes);
        }
        createBrowserTabWithURL(closed->url);
        return;
    }
}

TabID TabService::openBackgroundTab(const std::string& url)
{
    GObjectPtr<WebKitWebView> view = newBrowserWebView();
    TabID id = m_tabs.append(newBrowserTabWithView(view, url)).id();
    if (!url.empty() && g_uri_is_valid(url.c_str(), G_URI_FLAGS_PARSE_RELAXED, nullptr))
        webkit_web_view_load_uri(view.get(), url.c_str());
    m_services.extensions->emitExtensionEvent("tabs.created", { { "tabId", id }, { "url", url } });
    return id;
}

TabStripView* TabService::tabStrip() const
{
    BrowserWindow* window = m_services.shell->window();
    return window ? &window->tabStrip() : nullptr;
}

bool TabService::tabInsertionAtWindowPoint(double x, double y, TabID* targetID, bool* after,
    double* markerX)
{
    TabStripView* strip = tabStrip();
    return strip && strip->insertionAtWindowPoint(x, y, targetID, after, markerX);
}

void TabService::moveBrowserTabWithID(const TabID& moving, const TabID& target, bool after)
{
    std::vector<TabKey> keys;
    keys.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs)
        keys.push_back({ tab.id(), tab.profileID() });
    if (auto order = reorderedTabIndices(keys, m_services.profiles->currentProfile(), moving, target, after))
        m_tabs.reorder(*order);
}

void TabService::moveBrowserTabWithIDToWindowPoint(const TabID& moving, double x, double y)
{
    TabID target;
    bool after = false;
    bool found = tabInsertionAtWindowPoint(x, y, &target, &after, nullptr);
    clearTabDropIndicator();
    if (found && !target.empty())
        moveBrowserTabWithID(moving, target, after);
}

void TabService::updateTabDropIndicatorAtWindowPoint(double x, double y)
{
    if (TabStripView* strip = tabStrip())
        strip->updateDropIndicatorAtWindowPoint(x, y);
}

void TabService::clearTabDropIndicator()
{
    if (TabStripView* strip = tabStrip())
        strip->clearDropIndicator();
}

// In the plan's order: lazy flags, unloads, closes (each once its page agrees), selection, then bringing the browser
// forward. The tab list announces its own changes, so the plan's strip refresh needs no step
// here, and the activity window reloads itself on them.
void TabService::applyActivityPlan(const ActivityPlan& plan)
{
    // By ID: the pages answer later, when the indices may name other tabs.
    std::vector<TabID> closing;
    for (size_t index : plan.close)
        if (index < m_tabs.size())
            closing.push_back(m_tabs[index].id());
    {
        TabList::Batch batch(m_tabs);
        for (auto [index, lazy] : plan.setLazy)
            if (index < m_tabs.size())
                m_tabs[index].setLazy(lazy);
        for (size_t index : plan.unload)
            if (index < m_tabs.size())
                unloadBrowserTab(m_tabs[index]);
    }
    askToCloseBrowserTabs(closing);
    if (plan.select)
        selectBrowserTabAtIndex(*plan.select);
    if (plan.bringBrowserToFront)
        if (BrowserWindow* window = m_services.shell->window())
            window->present();
}

WebKitWebView* TabService::webViewForProfile(
    const ProfileID& profileID, const std::string& origin) const
{
    std::vector<StorageTab> tabs;
    for (const Tab& tab : m_tabs)
        tabs.push_back(
            { tab.profileID(), tab.webView() != nullptr, webViewURI(tab.webView()), tab.url() });
    auto index = storageTabIndex(tabs, profileID, origin);
    return index ? m_tabs[*index].webView() : nullptr;
}

std::vector<std::string> TabService::storageWebsitesForProfile(const ProfileID& profileID) const
{
    std::vector<std::string> urls;
    for (const Tab& tab : m_tabs) {
        if (tab.profileID() == profileID && tab.webView())
            urls.push_back(webViewURI(tab.webView()));
    }
    return storageWebsiteChoices(urls);
}

} // namespace qv

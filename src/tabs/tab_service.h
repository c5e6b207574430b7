// The tab service: the open tabs of every profile, the selected one, their web views, the
// "tab.json" snapshot, closed tabs, favicons and the moves of the strip.
#pragma once

#include "app/sender.h"
#include "app/web_views.h"
#include "tabs/favicon_rules.h"
#include "tabs/tab_list.h"
#include "tabs/tab_model.h"
#include "tabs/tab_shortcut_rules.h"

#include <gdkmm/texture.h>
#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct ActivityPlan;
class HttpClient;
class PageCloseAsker;
struct Services;
class TabMemoryGuard;
class TabStripView;

// What a new web view is made from when the engine asks for one (a page opening a window).
struct WebViewConfiguration {
    WebKitWebView* relatedView = nullptr;
};

// A tab of an earlier session, to be opened without a view.
struct RestoredTab {
    ProfileID profileID;
    std::string url;
    std::string title;
    bool lazy = false;
    double zoom = kDefaultZoomLevel;
    std::string state; // the engine's serialised back/forward list
    Glib::RefPtr<Gdk::Texture> favicon;
};

class TabService : public sigc::trackable {
public:
    explicit TabService(const Services& services);
    ~TabService();
    TabService(const TabService&) = delete;
    TabService& operator=(const TabService&) = delete;

    // In strip order; its change signal keeps the strip, the activity window and "tab.json"
    // current.
    const TabList& browserTabs() const { return m_tabs; }
    TabList& tabList() { return m_tabs; }
    WebKitWebView* selectedWebView() const { return m_webView; }
    std::optional<size_t> indexOfSelectedTab() const { return m_tabs.selectedIndex(); }
    // The selected tab's view for "", else the view of the tab with that ID (none while lazy).
    WebKitWebView* browserTabForID(const TabID& id) const;
    std::optional<TabID> tabIDForWebView(WebKitWebView* webView) const;

    // The window is up: the tabs start from none, and from now on they are saved.
    void beginBrowserTabs();
    bool browserTabsCreated() const { return m_browserTabsCreated; }

    TabID createBrowserTabWithURL(const std::optional<std::string>& url,
        const WebViewConfiguration* configuration = nullptr);
    // A tab on the current profile's home page, with the address field focused.
    void createNewTab();
    void selectBrowserTab(const Sender& sender);
    void selectBrowserTabAtIndex(size_t index) { selectBrowserTab(Sender::button(static_cast<long>(index))); }
    void unloadBrowserTab(Tab& tab);
    // A background tab made lazy and unloaded because memory runs low (the selected one never).
    void unloadTabForMemory(Tab& tab);
    TabMemoryGuard& memoryGuard() { return *m_memoryGuard; }
    void toggleLazyTabs(const Sender& sender);
    // The user closes a tab: its page may ask first, and the tab closes once it agrees.
    void closeBrowserTab(const Sender& sender);
    void askToCloseBrowserTabs(const std::vector<TabID>& ids);
    // Closes at once, without asking the page: the browser's own closes.
    void closeBrowserTabAtIndex(size_t index);
    // Closing the window or quitting: every page is asked, and `agreed` runs on a later turn
    // once all have agreed. A page whose question gets "Stay" keeps everything open.
    void askPagesBeforeClosingAll(std::function<void()> agreed);
    PageCloseAsker& pageCloseAsker() { return *m_pageCloseAsker; }
    // Selects among the current profile's tabs; number is 1-based for TabShortcut::Number.
    void selectTabByShortcut(TabShortcut shortcut, size_t number = 0);
    // Opens the most recently closed tab again on its profile, skipping deleted profiles.
    void reopenClosedTab();
    void forgetClosedTabsOfProfile(const std::string& profileID) { m_closedTabs.removeTabsOfProfile(profileID); }
    // A tab appended behind the selected one, loading the address; the selection stays.
    TabID openBackgroundTab(const std::string& url);
    // Appends the tabs without views, each on its profile, and selects the one at `selected`
    // (else the first), which alone loads.
    void restoreTabs(std::vector<RestoredTab> restored, std::optional<size_t> selected);
    // Lazy flags, unloads, closes and the selection of an activity window's action, in order.
    void applyActivityPlan(const ActivityPlan& plan);

    void saveTabsSnapshot();
    const std::filesystem::path& tabsFileURL() const { return m_tabsFileURL; }

    // A web view of the current profile: its session, user agent and the browser's scripts.
    GObjectPtr<WebKitWebView> newBrowserWebViewWithConfiguration(
        const WebViewConfiguration* configuration);
    GObjectPtr<WebKitWebView> newBrowserWebView() { return newBrowserWebViewWithConfiguration(nullptr); }
    // The browser window closes: the tabs' views stop and leave it.
    void detachAllWebViews();
    // The browser goes: every tab and its view.
    void releaseAllTabs();

    // The web view of the first tab of the profile on the origin, and the origins the profile
    // has open, for the website storage editor.
    WebKitWebView* webViewForProfile(const ProfileID& profileID, const std::string& origin) const;
    std::vector<std::string> storageWebsitesForProfile(const ProfileID& profileID) const;

    // Moves by drag in the strip, and its drop marker.
    void moveBrowserTabWithID(const TabID& moving, const TabID& target, bool after);
    void moveBrowserTabWithIDToWindowPoint(const TabID& moving, double x, double y);
    bool tabInsertionAtWindowPoint(double x, double y, TabID* targetID, bool* after,
        double* markerX);
    void updateTabDropIndicatorAtWindowPoint(double x, double y);
    void clearTabDropIndicator();
    TabStripView* tabStrip() const;

    // Finds the page's icon once the finished page has been shown for a moment and, when it
    // arrives, shows it in the strip. A page left sooner is not asked.
    void updateFaviconForWebView(WebKitWebView* webView);
    FaviconCache<Glib::RefPtr<Gdk::Texture>>& faviconCache() { return m_faviconCache; }
    // Icon downloads started and not yet finished.
    size_t pendingFaviconDownloads() const;
    // Icon look-ups that have run to their end: shown, refused, failed or dropped.
    size_t faviconLookupsFinished() const { return m_faviconLookupsFinished; }
    // Look-ups that had to run the script in the page: its markup could not tell.
    size_t faviconScriptLookups() const { return m_faviconScriptLookups; }

    // A browser tab's view was made; whoever connects to its signals does so now.
    sigc::signal<void(WebKitWebView*)>& signalWebViewCreated() { return m_webViewCreated; }
    // A tab's view is let go: whoever connected to it disconnects now.
    sigc::signal<void(WebKitWebView*)>& signalWebViewReleasing() { return m_webViewReleasing; }
    // The selection is about to move to another view (a new tab or another tab).
    sigc::signal<void()>& signalSelectionLeaving() { return m_selectionLeaving; }
    // The content area shows another view: the previous one, then the new one.
    sigc::signal<void(WebKitWebView*, WebKitWebView*)>& signalSelectedViewShown()
    {
        return m_selectedViewShown;
    }

private:
    void lookUpFavicon(WebKitWebView* webView);
    // The icon's address as the look-up script would give it, read from the page's markup when
    // it can be, so that no script runs in a page without scripts of its own; nothing when the
    // answer is not a string.
    void findFaviconAddress(WebKitWebView* webView, const std::string& pageAddress,
        Lifetime::Token alive, std::function<bool()> stillWanted,
        std::function<void(std::optional<std::string>)> found);
    void unloadSelectedTabIfLazy();
    void showWebViewInContent(WebKitWebView* webView);
    void detachTabView(WebKitWebView* webView);
    // A tab of the current profile on `view`, not yet in the list.
    std::unique_ptr<Tab> newBrowserTabWithView(
        const GObjectPtr<WebKitWebView>& view, const std::optional<std::string>& url) const;

    const Services& m_services;
    TabList m_tabs;
    WebKitWebView* m_webView = nullptr; // the selected tab's; owned by that tab
    bool m_browserTabsCreated = false;
    std::filesystem::path m_tabsFileURL;
    ClosedTabStack m_closedTabs;

    FaviconCache<Glib::RefPtr<Gdk::Texture>> m_faviconCache;
    FaviconCache<bool> m_failedFavicons;
    size_t m_faviconLookupsFinished = 0;
    size_t m_faviconScriptLookups = 0;
    std::unique_ptr<HttpClient> m_faviconClient;
    std::unique_ptr<TabMemoryGuard> m_memoryGuard;
    std::unique_ptr<PageCloseAsker> m_pageCloseAsker;

    sigc::signal<void(WebKitWebView*)> m_webViewCreated;
    sigc::signal<void(WebKitWebView*)> m_webViewReleasing;
    sigc::signal<void()> m_selectionLeaving;
    sigc::signal<void(WebKitWebView*, WebKitWebView*)> m_selectedViewShown;
    // Answers that come back later (page scripts, icon downloads) reach the service only while
    // it lives.
    Lifetime m_lifetime;
};

} // namespace qv

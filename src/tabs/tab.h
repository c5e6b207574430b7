// One open tab: its web view (none while lazy and unloaded), what it shows, and what it
// knows of its view's loads.
#pragma once

#include "downloads/download_permission_rules.h"
#include "platform/gobject_ptr.h"
#include "tabs/tab_shortcut_rules.h"

#include <gdkmm/texture.h>
#include <sigc++/connection.h>
#include <webkit/webkit.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace qv {

using TabID = std::string;
using ProfileID = std::string;

class TabList;

// A finished page whose title has not arrived yet: the engine often reports the title just
// after the finish, and the visit should be recorded with it.
struct PendingVisit {
    std::string url;
    sigc::connection timeout;
    ~PendingVisit() { timeout.disconnect(); }
};

enum class ErrorPageState { None, Pending, Shown };

// Navigations the user or the browser started in a tab, each good for one download of the
// tab's own page. Counted, so two opened in quick succession both download even when the
// first one's answer comes after the second was asked for.
struct UserNavigations {
    static constexpr size_t kMax = 16;
    std::deque<PageDownloadGate::Clock::time_point> credits;
    std::deque<std::string> downloadAddresses;
};

// What the tab knows of its web view's loads. It belongs to one view: a new view starts afresh.
struct TabLoadState {
    // Counts the loads started, so that work queued for one load can tell whether a newer one
    // has begun since.
    unsigned serial = 0;
    // Between a finished load and the start of the next one.
    bool finished = false;
    // The current load failed; the engine still reports it finished.
    bool failed = false;
    // The main-frame response was an HTTP error with nothing we can show (a proxy refusing the
    // tunnel, say): its status line, which the interrupted load then reports.
    std::optional<std::string> refusedResponse;
    std::unique_ptr<PendingVisit> pendingVisit;
    // The failing address while its error page (or the crash page) is on the way or shown.
    ErrorPageState errorPage = ErrorPageState::None;
    std::string errorPageURI;
    // The page's own title as last reported: the engine forgets it with the page's process, and
    // the crash page still names the page by it.
    std::string pageTitle;
    // Since when the page's process has not answered, while it has not; "Wait" starts it afresh.
    std::optional<std::chrono::steady_clock::time_point> unresponsiveSince;
    PageDownloadGate downloadGate;
    UserNavigations userNavigations;
};

class Tab {
public:
    Tab(TabID id, ProfileID profileID);
    ~Tab();
    Tab(const Tab&) = delete;
    Tab& operator=(const Tab&) = delete;

    const TabID& id() const { return m_id; }
    const ProfileID& profileID() const { return m_profileID; }
    WebKitWebView* webView() const { return m_webView.get(); }
    // Gives the tab a view (or none); the load state starts afresh with it.
    void setWebView(GObjectPtr<WebKitWebView> view);
    // Hands the view to the caller to be let go; the tab is left without one.
    GObjectPtr<WebKitWebView> takeWebView();

    // The address to load when the tab has no view, or before its view has one.
    const std::string& url() const { return m_url; }
    void setURL(std::string url);
    const std::string& title() const { return m_title; }
    void setTitle(std::string title);
    // The page's title and address as a finished load or a late title left them.
    void setShownPage(std::string title, std::string address);
    bool lazy() const { return m_lazy; }
    // Turning a tab active again forgets that memory pressure made it lazy.
    void setLazy(bool lazy);
    // Made lazy and unloaded because memory ran low; the activity window says so.
    bool unloadedForMemory() const { return m_unloadedForMemory; }
    void setUnloadedForMemory();
    // When the tab was last shown (steady clock), for unloading the least recently used first.
    std::chrono::steady_clock::time_point lastShown() const { return m_lastShown; }
    void markShown() { m_lastShown = std::chrono::steady_clock::now(); }
    const Glib::RefPtr<Gdk::Texture>& favicon() const { return m_favicon; }
    // The icon of a page on `host`; it goes as soon as the tab shows a page of another host.
    void setFavicon(Glib::RefPtr<Gdk::Texture> favicon, std::string host);
    void dropFaviconUnlessOnHost(const std::string& host);
    // Kept here so an unloaded tab's new web view gets it back.
    double zoomLevel() const { return m_zoomLevel; }
    void setZoomLevel(double level) { m_zoomLevel = level; }

    // The engine's serialised back/forward list as last taken from the view, or as restored;
    // kept while the tab has no view, so going back still works once it has one again.
    const std::string& sessionState() const { return m_sessionState; }
    void setSessionState(std::string state) { m_sessionState = std::move(state); m_sessionStateStale = false; }
    // The view's list changed since the state was taken.
    bool sessionStateStale() const { return m_sessionStateStale; }
    void markSessionStateStale() { m_sessionStateStale = true; }

    TabLoadState& loadState() { return m_loadState; }
    const TabLoadState& loadState() const { return m_loadState; }

private:
    friend class TabList;
    void changed();

    TabList* m_list = nullptr;
    size_t m_index = 0; // in m_list, kept by it
    TabID m_id;
    ProfileID m_profileID;
    GObjectPtr<WebKitWebView> m_webView;
    std::string m_url;
    std::string m_title;
    std::string m_pageAddress;
    bool m_lazy = false;
    bool m_unloadedForMemory = false;
    std::chrono::steady_clock::time_point m_lastShown;
    Glib::RefPtr<Gdk::Texture> m_favicon;
    std::string m_faviconHost;
    double m_zoomLevel = kDefaultZoomLevel;
    std::string m_sessionState;
    bool m_sessionStateStale = true;
    TabLoadState m_loadState;
};

} // namespace qv

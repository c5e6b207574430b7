// BrowserController: the one owner of the browser's state, windows and web views.
// Its operations are defined in one source file per concern next to each subsystem.
#pragma once

#include "app/command_line_rules.h"
#include "app/sender.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/web_views.h"
#include "base/file_writer.h"
#include "base/json_text.h"
#include "base/user_defaults.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/address_resolution.h"
#include "platform/gobject_ptr.h"
#include "platform/http_client.h"
#include "profiles/profile_service.h"
#include "tabs/favicon_rules.h"
#include "tabs/tab_list.h"
#include "tabs/tab_shortcut_rules.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qv {

struct ActivityPlan;
class ActivityWindow;
class AddressProbe;
class BrowserWindow;
class DownloadsWindow;
class ExtensionManagerWindow;
class HistoryWindow;
class SettingsWindow;
class ExtensionSourceWindow;
class ProfilesWindow;
class ScriptConsoleWindow;
class PageSourceWindow;
class TabStripView;


// What a new web view is made from when the engine asks for one (a page opening a window).
struct WebViewConfiguration {
    WebKitWebView* relatedView = nullptr;
};

class BrowserController : public sigc::trackable {
public:
    explicit BrowserController(Glib::RefPtr<Gtk::Application> application);
    ~BrowserController();
    BrowserController(const BrowserController&) = delete;
    BrowserController& operator=(const BrowserController&) = delete;

    // --- Launch (app/launch.cpp, app/main_menu.cpp) ---
    void applicationDidFinishLaunching();
    void installMainMenu();
    Glib::RefPtr<Gio::Menu> makeMainMenu();
    // The application, defaults, theme, failure report, file writer and window list.
    Shell& shell() { return *m_shell; }

    // --- Browser window and chrome (app/browser_window.cpp, app/theme.cpp) ---
    void createWindow();
    GObjectPtr<WebKitWebView> newBrowserWebViewWithConfiguration(
        const WebViewConfiguration* configuration);
    GObjectPtr<WebKitWebView> newBrowserWebView() { return newBrowserWebViewWithConfiguration(nullptr); }
    void setBrowserElementFullscreen(bool fullscreen, WebKitWebView* webView);
    void applyBrowserChromeVisibility();
    // Settings window (app/settings_window.cpp).
    void showSettings();
    SettingsWindow* settingsWindow() const { return m_settingsWindow.get(); }

    // --- Tabs (tabs/tab_lifecycle.cpp) ---
    TabID createBrowserTabWithURL(const std::optional<std::string>& url,
        const WebViewConfiguration* configuration = nullptr);
    void createNewTab();
    void selectBrowserTab(const Sender& sender);
    void selectBrowserTabAtIndex(size_t index) { selectBrowserTab(Sender::button(static_cast<long>(index))); }
    void unloadBrowserTab(Tab& tab);
    void toggleLazyTabs(const Sender& sender);
    void closeBrowserTab(const Sender& sender);
    void closeBrowserTabAtIndex(size_t index);
    WebKitWebView* browserTabForID(const TabID& id) const;
    std::optional<TabID> tabIDForWebView(WebKitWebView* webView) const;
    std::optional<size_t> indexOfSelectedTab() const;
    void saveTabsSnapshot();
    // Activity window (tabs/activity_window.cpp); a row's tag is its index in browserTabs.
    void showActivity();
    void refreshActivity();
    void toggleActivityTabLazy(const Sender& sender);
    // Tag 1 makes the selected rows lazy, 0 active.
    void setSelectedActivityTabsLazy(const Sender& sender);
    void closeSelectedActivityTabs();
    void closeActivityTab(const Sender& sender);
    void openActivityTab(const Sender& sender);
    ActivityWindow* activityWindow() const { return m_activityWindow.get(); }

    // --- Favicons (tabs/favicons.cpp) ---
    // Finds the page's icon after a finished load and, when it arrives, shows it in the strip.
    void updateFaviconForWebView(WebKitWebView* webView);
    FaviconCache<Glib::RefPtr<Gdk::Texture>>& faviconCache() { return m_faviconCache; }
    // Icon downloads started and not yet finished.
    size_t pendingFaviconDownloads() const;
    // Icon look-ups that have run to their end: shown, refused, failed or dropped.
    size_t faviconLookupsFinished() const { return m_faviconLookupsFinished; }

    // --- Tab strip (tabs/tab_strip.cpp); it follows the tab list's changes by itself ---
    void moveBrowserTabWithID(const TabID& moving, const TabID& target, bool after);
    void moveBrowserTabWithIDToWindowPoint(const TabID& moving, double x, double y);
    bool tabInsertionAtWindowPoint(double x, double y, TabID* targetID, bool* after,
        double* markerX);
    void updateTabDropIndicatorAtWindowPoint(double x, double y);
    void clearTabDropIndicator();
    TabStripView* tabStrip() const;

    // --- Navigation (navigation/*.cpp) ---
    // Submits the address field's text as the user typed it.
    void openRequest();
    void openRequest(SubmitOrigin origin);
    // The address field's text changed by the user: "addressBar.changed", a final "#" submits.
    void controlTextDidChange();
    // Probes the candidates at once; unless a later submission was made, the first answering
    // one (else the search for query) loads in the submitting tab as soon as it is certain.
    void resolveAddressCandidates(const std::vector<std::string>& candidates,
        const std::string& query, uint64_t generation);
    // Loads into the selected tab; an address that is no URL gives the error alert.
    void loadResolvedAddress(const std::optional<std::string>& address);
    void updateAddressFieldForURL(const std::string& url);
    // Sets the address field's text without counting as a user edit.
    void setAddressFieldText(const std::string& text);
    uint64_t addressLookupGeneration() const { return m_addressLookupGeneration; }
    // Probes sent and not yet answered or given up.
    size_t pendingAddressProbes() const;
    // Tests stretch the time-out to show a decision never waits for it.
    void setAddressProbeTimeout(std::chrono::milliseconds timeout)
    {
        m_addressProbeTimeout = timeout;
    }
    // Tests point candidates at local servers; nullptr restores the resolver's own list.
    using AddressCandidateBuilder = std::function<std::vector<std::string>(const std::string&)>;
    void setAddressCandidateBuilder(AddressCandidateBuilder builder)
    {
        m_addressCandidateBuilder = std::move(builder);
    }
    void goBack();
    void goForward();
    void reloadPage();
    void goHome();
    void focusAddressBar();
    void updateNavigationButtons();

    // --- Profiles ---
    ProfileService& profiles() { return *m_profiles; }
    void showProfiles();
    ProfilesWindow* profilesWindow() const { return m_profilesWindow.get(); }
    // Website storage editor (profiles/storage_editor.cpp): the web view of the first tab of
    // the profile on the origin, and the origins the profile has open.
    WebKitWebView* webViewForProfile(const ProfileID& profileID, const std::string& origin) const;
    std::vector<std::string> storageWebsitesForProfile(const ProfileID& profileID) const;

    // --- History ---
    HistoryService& history() { return *m_history; }
    void showHistory();
    HistoryWindow* historyWindow() const { return m_historyWindow.get(); }

    // --- Downloads ---
    DownloadService& downloads() { return *m_downloads; }
    void showDownloads();
    DownloadsWindow* downloadsWindow() const { return m_downloadsWindow.get(); }

    // --- Extensions ---
    ExtensionService& extensions() { return *m_extensions; }
    Glib::RefPtr<Gio::Menu> makeExtensionsMenu();
    // Loads the extensions first time round, then shows the manager and starts the enabled ones.
    void showExtensionManager();
    // Source viewer (extensions/extension_source_window.cpp): closing it destroys it.
    void showSelectedExtensionSource(const Sender& sender);
    void extensionSourceWindowDidClose();
    ExtensionSourceWindow* extensionSourceWindow() const { return m_extensionSourceWindow.get(); }
    // What the bridge changes in the browser window (extensions/bridge_host_adapter.cpp).
    void setExtensionChromeVisibility(std::optional<bool> tabsVisible,
        std::optional<bool> toolbarVisible);
    void setDarkModeFromExtension(bool dark);
    // "addressBar.submit": the field resolved as if typed, but never to a local file or folder.
    void submitAddressFieldFromExtension();
    ExtensionManagerWindow* extensionManager() const { return m_extensionManagerWindow.get(); }
    bool extensionTabsVisible() const { return m_extensionTabsVisible; }
    bool extensionToolbarVisible() const { return m_extensionToolbarVisible; }

    // --- Auxiliary windows not built yet answer by doing nothing ---
    // --- Page source editor and local copy (devtools/page_source_window.cpp) ---
    // Shows the window (built on first use) and lists the selected tab's files again.
    void showSourceEditor();
    PageSourceWindow* sourceWindow() const { return m_sourceWindow.get(); }

    // --- JavaScript console (devtools/script_console_window.cpp) ---
    // Builds the console on first use, then brings it to the front with the editor focused.
    void showJavaScriptEditor();
    ScriptConsoleWindow* scriptWindow() const { return m_scriptWindow.get(); }

    // --- The model, for the windows, the bridge and tests ---
    BrowserWindow* window() const { return m_window.get(); }
    WebKitWebView* selectedWebView() const { return m_webView; }
    // In strip order; its change signal keeps the strip, the activity window and "tab.json"
    // current.
    const TabList& browserTabs() const { return m_tabs; }
    TabList& tabList() { return m_tabs; }
    const std::filesystem::path& tabsFileURL() const { return m_tabsFileURL; }
    bool browserElementFullscreen() const { return m_browserElementFullscreen; }

    // --- Page and tab shortcuts (app/page_commands.cpp, tabs/tab_shortcuts.cpp) and the
    // error page of a failed load (navigation/error_page.cpp) ---
    // Shows the find bar with its text selected; typing searches the selected page.
    void findInPage();
    void findNext();
    void findPrevious();
    void closeFindBar();
    // Highlights the text in the selected page and counts its matches; "" clears them.
    void searchInPage(const std::string& text);
    // The selected tab's zoom, one step up or down, or back to 100 %.
    void zoomIn();
    void zoomOut();
    void resetZoom();
    void printPage();
    // Selects among the current profile's tabs; number is 1-based for TabShortcut::Number.
    void selectTabByShortcut(TabShortcut shortcut, size_t number = 0);
    // Opens the most recently closed tab again on its profile, skipping deleted profiles.
    void reopenClosedTab();
    // A tab appended behind the selected one, loading the address; the selection stays.
    TabID openBackgroundTab(const std::string& url);
    // Shows our error page for a failed load of `uri` in place of the page, keeping `uri` as
    // the view's address. False when the page template cannot be read.
    bool showErrorPage(WebKitWebView* webView, const std::string& uri, const std::string& message);
    bool showingErrorPage(WebKitWebView* webView) const;

    // --- Command line and later launches (app/command_line.cpp) ---
    // One command line, argv[0] first: the process's own, or one a later launch handed over
    // with its working directory. The first runs the launch with the addresses in place of
    // the home page; later ones open each address in a new tab and bring the window forward.
    // Returns the exit status for the launching process.
    int handleCommandLine(const std::vector<std::string>& argv,
        const std::filesystem::path& workingDirectory);
    // Opens each address in a tab of its own, in order; the last one is selected.
    void openLaunchAddresses(const std::vector<LaunchAddress>& addresses);

private:
    // The first tabs of the window: the launch addresses, else one on the home page.
    void openFirstTabs();
    void resolveTypedAddressInTab(const std::string& text, const TabID& tabID);
    std::vector<LaunchAddress> m_launchAddresses;

    // Tabs
    std::string normalizedAddressForTab(const std::string& address) const;
    void applyActivityPlan(const ActivityPlan& plan);
    void showWebViewInContent(WebKitWebView* webView);
    void leaveElementFullscreenIfNeeded();
    void unloadSelectedTabIfLazy();
    void startLoading(WebKitWebView* webView, const std::string& url);
    // A tab of the current profile on `view`, not yet in the list.
    std::unique_ptr<Tab> newBrowserTabWithView(
        const GObjectPtr<WebKitWebView>& view, const std::optional<std::string>& url) const;

    // Chrome (app/browser_window.cpp, app/theme.cpp)
    void connectWebViewSignals(WebKitWebView* webView);
    gboolean webViewEnterFullscreen(WebKitWebView* webView);
    gboolean webViewLeaveFullscreen(WebKitWebView* webView);
    gboolean runOpenPanelForFileUpload(WebKitWebView* webView, WebKitFileChooserRequest* request);

    // The web views' signals (navigation/navigation_delegate.cpp)
    void webViewLoadChanged(WebKitWebView* webView, WebKitLoadEvent event);
    gboolean webViewLoadFailed(
        WebKitWebView* webView, WebKitLoadEvent event, char* uri, GError* error);
    void webViewURIChanged(WebKitWebView* webView, GParamSpec*);
    void webViewTitleChanged(WebKitWebView* webView, GParamSpec*);
    GtkWidget* createWebViewForNavigation(WebKitWebView* webView, WebKitNavigationAction* action);
    gboolean webViewDecidePolicy(
        WebKitWebView* webView, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    void webViewDidCommitNavigation(WebKitWebView* webView);
    void webViewDidFinishNavigation(WebKitWebView* webView);
    void webViewDidFailNavigation(WebKitWebView* webView, WebKitLoadEvent event, GError* error);
    // The tab and window titles from the page's current title (it may arrive after the load).
    void updateTitlesForWebView(WebKitWebView* webView);
    bool decideNavigationPolicy(WebKitWebView* webView, WebKitPolicyDecision* decision,
        WebKitPolicyDecisionType type);
    // Probes the candidates at once; as soon as the outcome is certain, always on a later
    // main-loop turn, `decided` gets the first answering one in list order, or nothing, and the
    // probes still out are given up.
    void probeAddressCandidates(const std::vector<std::string>& candidates,
        std::function<void(std::optional<std::string>)> decided);
    // What typed text is decided against: the home folder, the file system, who typed it.
    RequestContext typedRequestContext(SubmitOrigin origin) const;
    // The search for the query with the engine of the profile the tab belongs to.
    std::string searchURLForTab(const TabID& tabID, const std::string& query) const;
    // Loads a resolved address into the tab that submitted it, if that tab is still open.
    void loadResolvedAddressInTab(const std::string& address, const TabID& tabID);

    // Shortcuts and the error page
    void findCountedMatches(WebKitFindController* find, guint count);
    void findFailed(WebKitFindController* find);
    void setZoomOfSelectedTab(double level);
    void updateFindCloseAction();
    // The next or previous match of the find bar's text in the selected page.
    void stepFindMatch(bool forward);
    // True when the load event belongs to an error page, which is neither a visit nor a title.
    bool errorPageLoadChanged(WebKitWebView* webView, WebKitLoadEvent event);
    // True when the navigation is the error page's own; it is allowed without an event.
    bool decideErrorPageNavigation(WebKitWebView* webView, WebKitPolicyDecision* decision);
    ClosedTabStack m_closedTabs;

    // Extension source window
    void dropClosedExtensionSourceWindows();

    // --- Application and browser window ---
    // Declared before the stores that hand its file writer their files, so it outlives them
    // and its destruction writes what they left pending.
    std::unique_ptr<Shell> m_shell;
    Services m_services;
    std::unique_ptr<HistoryService> m_history;
    bool m_browserElementFullscreen = false;
    bool m_extensionTabsVisible = false;
    bool m_extensionToolbarVisible = false;
    std::unique_ptr<BrowserWindow> m_window;
    WebKitWebView* m_webView = nullptr; // the selected tab's; owned by that tab
    // Shows the browser window's theme toggle, so it goes before the browser window does.
    std::unique_ptr<SettingsWindow> m_settingsWindow;

    // --- Tabs ---
    TabList m_tabs;
    bool m_browserTabsCreated = false;
    std::filesystem::path m_tabsFileURL;
    std::unique_ptr<ActivityWindow> m_activityWindow;

    // --- Navigation ---
    uint64_t m_addressLookupGeneration = 0;
    std::map<uint64_t, std::unique_ptr<AddressProbe>> m_addressProbes;
    uint64_t m_addressProbeCount = 0;
    std::chrono::milliseconds m_addressProbeTimeout = std::chrono::seconds(3);
    AddressCandidateBuilder m_addressCandidateBuilder;
    int m_programmaticAddressEdits = 0;
    bool m_addressFieldEditedByUser = false;

    // --- Extensions ---
    std::unique_ptr<ExtensionService> m_extensions;
    std::unique_ptr<ExtensionManagerWindow> m_extensionManagerWindow;
    std::unique_ptr<ExtensionSourceWindow> m_extensionSourceWindow;
    // Closed source windows, destroyed on the next idle turn.
    std::vector<std::unique_ptr<ExtensionSourceWindow>> m_closedExtensionSourceWindows;

    // --- Profiles ---
    // The sessions outlive the tabs' views and the downloads that run in them.
    std::unique_ptr<ProfileService> m_profiles;
    std::unique_ptr<ProfilesWindow> m_profilesWindow;

    // --- Favicons ---
    FaviconCache<Glib::RefPtr<Gdk::Texture>> m_faviconCache;
    FaviconCache<bool> m_failedFavicons;
    size_t m_faviconLookupsFinished = 0;
    std::unique_ptr<HttpClient> m_faviconClient;

    // --- JavaScript console ---
    std::unique_ptr<ScriptConsoleWindow> m_scriptWindow;

    // --- Page source editor ---
    std::unique_ptr<PageSourceWindow> m_sourceWindow;

    // --- History ---
    std::unique_ptr<HistoryWindow> m_historyWindow;

    // --- Downloads ---
    // Late in the list, so that running downloads stop before the sessions they run in go.
    std::unique_ptr<DownloadService> m_downloads;
    std::unique_ptr<DownloadsWindow> m_downloadsWindow;
    // Answers that come back later (page scripts, icon downloads, the writer's reports) reach
    // the controller only while it lives; ended first thing when it goes.
    Lifetime m_lifetime;
};

// Builds the application and the controller and runs the launch sequence to the end.
int runBrowser(int argc, char** argv);

} // namespace qv

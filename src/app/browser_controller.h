// BrowserController: the one owner of the browser's state, windows and web views.
// Its operations are defined in one source file per concern next to each subsystem.
#pragma once

#include "app/command_line_rules.h"
#include "app/sender.h"
#include "app/services.h"
#include "app/web_views.h"

#include <gtkmm.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qv {

// The services are declared with the list of them (app/services.h).
class ActivityWindow;
class DevToolsService;
class BrowserWindow;
class DownloadsWindow;
class ExtensionManagerWindow;
class HistoryWindow;
class SettingsWindow;
class ExtensionSourceWindow;
class ProfilesWindow;
class ClearBrowsingDataWindow;

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

    // The tabs of every profile, their views, the selection and "tab.json".
    TabService& tabs() { return *m_tabs; }
    const TabService& tabs() const { return *m_tabs; }
    // The address field, the tabs' loads and back, forward, reload and home.
    NavigationService& navigation() { return *m_navigation; }
    // The session file, and bringing the last session back.
    SessionService& session() { return *m_session; }
    // What the address field offers while the user types.
    SuggestionService& suggestions() { return *m_suggestions; }

    // --- Browser window and chrome (app/browser_window.cpp) ---
    void createWindow();
    // A page's element enters or leaves full screen; only the selected tab's counts.
    void setBrowserElementFullscreen(bool fullscreen, WebKitWebView* webView);
    // Settings window (app/settings_window.cpp).
    void showSettings();
    SettingsWindow* settingsWindow() const { return m_settingsWindow.get(); }
    // Activity window (tabs/activity_window.cpp).
    void showActivity();
    ActivityWindow* activityWindow() const { return m_activityWindow.get(); }

    // --- Profiles ---
    ProfileService& profiles() { return *m_profiles; }
    void showProfiles();
    ProfilesWindow* profilesWindow() const { return m_profilesWindow.get(); }
    void showClearBrowsingData(const std::string& profileID);
    ClearBrowsingDataWindow* clearBrowsingDataWindow() const { return m_clearBrowsingDataWindow.get(); }

    // --- History ---
    HistoryService& history() { return *m_history; }
    void showHistory();
    HistoryWindow* historyWindow() const { return m_historyWindow.get(); }

    // --- Bookmarks ---
    BookmarkService& bookmarks() { return *m_bookmarks; }

    // --- Downloads ---
    DownloadService& downloads() { return *m_downloads; }
    void showDownloads();
    DownloadsWindow* downloadsWindow() const { return m_downloadsWindow.get(); }

    // --- Extensions ---
    ExtensionService& extensions() { return *m_extensions; }
    // Loads the extensions first time round, then shows the manager and starts the enabled ones.
    void showExtensionManager();
    // Source viewer (extensions/extension_source_window.cpp): closing it destroys it.
    void showSelectedExtensionSource(const Sender& sender);
    ExtensionSourceWindow* extensionSourceWindow() const { return m_extensionSourceWindow.get(); }
    ExtensionManagerWindow* extensionManager() const { return m_extensionManagerWindow.get(); }

    // --- Developer tools ---
    DevToolsService& devtools() { return *m_devtools; }

    // --- The model, for the windows, the bridge and tests ---
    BrowserWindow* window() const { return m_window.get(); }

    // --- Page commands (app/page_commands.cpp) ---
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
    // The browser window closes once every page agrees; quitting waits for the same.
    bool browserWindowMayClose();
    void quitWhenPagesAgree();
    bool m_pagesAgreedToCloseWindow = false;

    // The first tabs of the window: the launch addresses, else one on the home page.
    void openFirstTabs();
    // Once the last session is known: restored when chosen, offered after a crash.
    void lastSessionKnown();
    std::vector<LaunchAddress> m_launchAddresses;

    // Chrome (app/browser_window.cpp)
    void connectWebViewSignals(WebKitWebView* webView);
    void disconnectWebViewSignals(WebKitWebView* webView);
    void leaveElementFullscreenIfNeeded();
    // The find bar follows the selection from one view to the next.
    void selectedViewShown(WebKitWebView* previous, WebKitWebView* shown);
    gboolean webViewEnterFullscreen(WebKitWebView* webView);
    gboolean webViewLeaveFullscreen(WebKitWebView* webView);
    gboolean runOpenPanelForFileUpload(WebKitWebView* webView, WebKitFileChooserRequest* request);

    // Page commands
    void findCountedMatches(WebKitFindController* find, guint count);
    void findFailed(WebKitFindController* find);
    void setZoomOfSelectedTab(double level);
    void updateFindCloseAction();
    // The next or previous match of the find bar's text in the selected page.
    void stepFindMatch(bool forward);

    // Extensions
    Glib::RefPtr<Gio::Menu> makeExtensionsMenu();
    void extensionSourceWindowDidClose();
    void dropClosedExtensionSourceWindows();

    // --- Application and browser window ---
    // Declared before the stores that hand its file writer their files, so it outlives them
    // and its destruction writes what they left pending.
    std::unique_ptr<Shell> m_shell;
    Services m_services;
    std::unique_ptr<HistoryService> m_history;
    // Made before the tabs and the browser window, so it outlives the star they show.
    std::unique_ptr<BookmarkService> m_bookmarks;
    std::unique_ptr<TabService> m_tabs;
    std::unique_ptr<NavigationService> m_navigation;
    std::unique_ptr<SuggestionService> m_suggestions;
    std::unique_ptr<BrowserWindow> m_window;
    // Shows the browser window's theme toggle, so it goes before the browser window does.
    std::unique_ptr<SettingsWindow> m_settingsWindow;

    std::unique_ptr<ActivityWindow> m_activityWindow;

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
    std::unique_ptr<ClearBrowsingDataWindow> m_clearBrowsingDataWindow;

    // --- Developer tools ---
    std::unique_ptr<DevToolsService> m_devtools;

    // --- History ---
    std::unique_ptr<HistoryWindow> m_historyWindow;

    // --- Downloads ---
    // Late in the list, so that running downloads stop before the sessions they run in go.
    std::unique_ptr<DownloadService> m_downloads;
    std::unique_ptr<DownloadsWindow> m_downloadsWindow;

    // --- Session ---
    std::unique_ptr<SessionService> m_session;
    // Answers that come back later (page scripts, icon downloads, the writer's reports) reach
    // the controller only while it lives; ended first thing when it goes.
    Lifetime m_lifetime;
};

} // namespace qv

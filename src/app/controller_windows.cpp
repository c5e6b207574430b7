// The auxiliary windows the controller owns: each is made with the services it uses the first
// time it is shown, then kept.
#include "app/browser_controller.h"
#include "app/shell.h"
#include "bookmarks/bookmark_service.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"

#include "app/settings_window.h"
#include "downloads/downloads_window.h"
#include "extensions/extension_manager_window.h"
#include "extensions/extension_source_window.h"
#include "history/history_window.h"
#include "profiles/clear_browsing_data_window.h"
#include "profiles/profiles_window.h"
#include "tabs/activity_window.h"

namespace qv {

namespace {

    template <typename Window, typename Make>
    Window& madeOnce(std::unique_ptr<Window>& window, Make make)
    {
        if (!window)
            window = make();
        return *window;
    }

} // namespace

void BrowserController::showHistory()
{
    HistoryWindow& window = madeOnce(m_historyWindow,
        [this] { return std::make_unique<HistoryWindow>(*m_shell, *m_history, *m_tabs, *m_navigation); });
    window.reload();
    window.showInFront();
}

void BrowserController::showDownloads()
{
    m_downloads->loadDownloads();
    DownloadsWindow& window = madeOnce(
        m_downloadsWindow, [this] { return std::make_unique<DownloadsWindow>(*m_shell, *m_downloads); });
    window.reloadRecords();
    window.reloadFailures();
    window.showInFront();
}

void BrowserController::showProfiles()
{
    ProfilesWindow& window = madeOnce(m_profilesWindow, [this] {
        auto made = std::make_unique<ProfilesWindow>(*m_shell, *m_profiles, *m_tabs);
        made->setClearBrowsingDataHandler([this](const ProfileID& id) { showClearBrowsingData(id); });
        return made;
    });
    window.showAgain(m_profiles->currentProfile());
    window.showInFront();
}

void BrowserController::showClearBrowsingData(const std::string& profileID)
{
    ClearBrowsingDataWindow& window = madeOnce(m_clearBrowsingDataWindow,
        [this] { return std::make_unique<ClearBrowsingDataWindow>(*m_shell, *m_profiles, *m_history); });
    window.showForProfile(profileID);
    window.showInFront();
}

void BrowserController::showActivity()
{
    ActivityWindow& window = madeOnce(m_activityWindow,
        [this] { return std::make_unique<ActivityWindow>(*m_shell, *m_tabs, *m_profiles); });
    window.showInFront();
    window.reload();
}

void BrowserController::showSettings()
{
    madeOnce(m_settingsWindow,
        [this] {
            return std::make_unique<SettingsWindow>(
                *m_shell, [this] { showProfiles(); }, *m_devtools, *m_bookmarks);
        })
        .showInFront();
}

Glib::RefPtr<Gio::Menu> BrowserController::makeExtensionsMenu()
{
    auto menu = Gio::Menu::create();
    menu->append("Manage Extensions\u2026", "app.manage-extensions");
    return menu;
}

void BrowserController::showExtensionManager()
{
    if (!m_extensionManagerWindow) {
        m_extensions->loadExtensions();
        m_extensionManagerWindow
            = std::make_unique<ExtensionManagerWindow>(
            *m_shell, *m_extensions, [this] { showSelectedExtensionSource(Sender::button(-1)); });
    }
    m_extensionManagerWindow->showInFront();
    m_extensionManagerWindow->refresh();
    // Enabled extensions come back here after launch; each may ask for its permissions.
    m_extensions->startEnabledExtensions();
}

void BrowserController::showSelectedExtensionSource(const Sender&)
{
    const auto& extensions = m_extensions->extensions();
    auto record = extensions.find(m_extensions->selectedExtensionID());
    if (record == extensions.end())
        return;
    if (!m_extensionSourceWindow)
        m_extensionSourceWindow = std::make_unique<ExtensionSourceWindow>(
            *m_shell, [this] { extensionSourceWindowDidClose(); });
    ExtensionSourceWindow& window = *m_extensionSourceWindow;
    window.showExtension(record->first, record->second.name(), record->second.rootURL);
    window.showInFront();
}

void BrowserController::extensionSourceWindowDidClose()
{
    // Closing really closes this window. It goes out of reach at once, so the next show builds
    // a new one, and is destroyed on a later turn, outside its own close handler.
    if (!m_extensionSourceWindow)
        return;
    m_closedExtensionSourceWindows.push_back(std::move(m_extensionSourceWindow));
    Glib::signal_idle().connect_once(
        sigc::mem_fun(*this, &BrowserController::dropClosedExtensionSourceWindows));
}

void BrowserController::dropClosedExtensionSourceWindows()
{
    m_closedExtensionSourceWindows.clear();
}

} // namespace qv

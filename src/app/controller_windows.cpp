// The auxiliary windows the controller owns: each is made with the services it uses the first
// time it is shown, then kept.
#include "app/browser_controller.h"

#include "app/settings_window.h"
#include "devtools/page_source_window.h"
#include "devtools/script_console_window.h"
#include "downloads/downloads_window.h"
#include "history/history_window.h"
#include "profiles/profiles_window.h"

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
        [this] { return std::make_unique<HistoryWindow>(*m_shell, *m_history, *this); });
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
    ProfilesWindow& window = madeOnce(m_profilesWindow,
        [this] { return std::make_unique<ProfilesWindow>(*m_shell, *m_profiles, *this); });
    window.reloadProfiles(m_profiles->currentProfile());
    window.profileSelectionDidChange();
    window.showInFront();
}

void BrowserController::showSettings()
{
    madeOnce(m_settingsWindow, [this] { return std::make_unique<SettingsWindow>(*this); })
        .showInFront();
}

void BrowserController::showSourceEditor()
{
    PageSourceWindow& window
        = madeOnce(m_sourceWindow, [this] { return std::make_unique<PageSourceWindow>(*this); });
    window.showInFront();
    window.refreshPageResources();
}

void BrowserController::showJavaScriptEditor()
{
    madeOnce(m_scriptWindow, [this] { return std::make_unique<ScriptConsoleWindow>(*this); })
        .showEditor();
}

} // namespace qv

// Window close rules and what happens when a window becomes key.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "app/settings_window.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "downloads/downloads_window.h"
#include "devtools/script_console_window.h"
#include "devtools/page_source_window.h"
#include "extensions/extension_manager_window.h"
#include "extensions/extension_source_window.h"
#include "history/history_window.h"
#include "profiles/profiles_window.h"
#include "tabs/activity_window.h"
#include "tabs/tab_strip_view.h"

namespace qv {

std::vector<Gtk::Window*> BrowserController::auxiliaryWindows() const
{
    // In their fixed order; each exists once it has been shown.
    Gtk::Window* const ordered[] = {
        m_extensionManagerWindow.get(),
        m_extensionSourceWindow.get(),
        m_settingsWindow.get(),
        m_profilesWindow.get(),
        m_historyWindow.get(),
        m_activityWindow.get(),
        m_downloadsWindow.get(),
        m_scriptWindow.get(),
        m_sourceWindow.get(),
    };
    std::vector<Gtk::Window*> windows;
    for (Gtk::Window* window : ordered) {
        if (window)
            windows.push_back(window);
    }
    return windows;
}

bool BrowserController::windowShouldClose(Gtk::Window& window)
{
    if (&window == m_window.get()) {
        m_closingApplication = true;
        for (Gtk::Window* aux : auxiliaryWindows())
            aux->close();
        return true;
    }
    auto aux = auxiliaryWindows();
    if (std::find(aux.begin(), aux.end(), &window) != aux.end()) {
        if (m_closingApplication)
            return true;
        window.set_visible(false);
        if (&window == m_extensionSourceWindow.get())
            extensionSourceWindowDidClose();
        return false;
    }
    return true;
}

void BrowserController::windowWillClose(Gtk::Window& window)
{
    if (&window != m_window.get())
        return;
    for (Gtk::Window* aux : auxiliaryWindows())
        aux->set_visible(false);
    m_window->tabStrip().cancelPendingWork();
    for (const Tab& tab : m_tabs)
        detachWebView(tab.webView(), this);
}

void BrowserController::windowDidBecomeKey(Gtk::Window& window)
{
    bool dark = darkMode();
    tintIconButtons(window, iconTintForTheme(dark));
    if (&window == m_window.get())
        m_window->applyTheme(dark);
}

void BrowserController::connectWindowCallbacks(Gtk::Window& window)
{
    window.signal_close_request().connect(
        [this, &window] {
            bool allow = windowShouldClose(window);
            if (allow)
                windowWillClose(window);
            return !allow;
        },
        false);
    window.property_is_active().signal_changed().connect([this, &window] {
        if (window.is_active())
            windowDidBecomeKey(window);
    });
}

} // namespace qv

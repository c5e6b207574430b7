// The Settings window: the theme toggle, the profiles window, what opens at launch, unloading
// tabs when memory runs low, and the page source editor.
#pragma once

#include "app/auxiliary_window.h"

#include <functional>

namespace qv {

class BookmarkService;
class DevToolsService;

class SettingsWindow : public AuxiliaryWindow {
public:
    SettingsWindow(Shell& shell, std::function<void()> showProfiles, DevToolsService& devtools,
        BookmarkService& bookmarks);
    // Hands the browser window's theme toggle back before the row showing it goes.
    ~SettingsWindow() override;

    Gtk::Button& manageProfilesButton() const { return *m_manageProfiles; }
    Gtk::Button& editSourceButton() const { return *m_editSource; }
    Gtk::Switch& unloadTabsSwitch() const { return *m_unloadTabs; }
    // "Open the home page" (0) or "Restore the last session" (1).
    Gtk::DropDown& onLaunchChoice() const { return *m_onLaunch; }
    Gtk::Button& importBookmarksButton() const { return *m_importBookmarks; }
    Gtk::Button& exportBookmarksButton() const { return *m_exportBookmarks; }
    Gtk::Switch& inlineCompletionSwitch() const { return *m_inlineCompletion; }

private:
    Gtk::Box* m_themeRow = nullptr;
    Gtk::Button* m_manageProfiles = nullptr;
    Gtk::Button* m_editSource = nullptr;
    Gtk::Switch* m_unloadTabs = nullptr;
    Gtk::DropDown* m_onLaunch = nullptr;
    Gtk::Button* m_importBookmarks = nullptr;
    Gtk::Button* m_exportBookmarks = nullptr;
    Gtk::Switch* m_inlineCompletion = nullptr;
};

} // namespace qv

// The Settings window: the theme toggle, the profiles window and the page source editor.
#pragma once

#include "app/auxiliary_window.h"

#include <functional>

namespace qv {

class DevToolsService;

class SettingsWindow : public AuxiliaryWindow {
public:
    SettingsWindow(Shell& shell, std::function<void()> showProfiles, DevToolsService& devtools);
    // Hands the browser window's theme toggle back before the row showing it goes.
    ~SettingsWindow() override;

    Gtk::Button& manageProfilesButton() const { return *m_manageProfiles; }
    Gtk::Button& editSourceButton() const { return *m_editSource; }

private:
    Gtk::Box* m_themeRow = nullptr;
    Gtk::Button* m_manageProfiles = nullptr;
    Gtk::Button* m_editSource = nullptr;
};

} // namespace qv

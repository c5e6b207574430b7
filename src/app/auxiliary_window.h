// The base every auxiliary window shares: the browser's close rules, hiding on close, the
// application's shortcuts and the theme.
#pragma once

#include <gtkmm.h>

namespace qv {

class BrowserController;

class AuxiliaryWindow : public Gtk::Window {
public:
    // Joins the application (so its shortcuts work here) and routes the close request and
    // key changes to the controller, which hides the window unless the browser is closing.
    AuxiliaryWindow(BrowserController& controller, const Glib::ustring& title);
    ~AuxiliaryWindow() override;
    AuxiliaryWindow(const AuxiliaryWindow&) = delete;
    AuxiliaryWindow& operator=(const AuxiliaryWindow&) = delete;

    // Shows the window in front, re-themed for the current setting.
    void showInFront();

protected:
    BrowserController& controller() const { return m_controller; }

private:
    BrowserController& m_controller;
};

} // namespace qv

// The base every auxiliary window shares: the browser's close rules, hiding on close, the
// application's shortcuts, Escape to close and the theme.
#pragma once

#include <gtkmm.h>

namespace qv {

class Shell;

// The auxiliary windows, in the order the browser lists and closes them.
enum class AuxiliaryWindowKind {
    ExtensionManager,
    ExtensionSource,
    Settings,
    Profiles,
    History,
    Bookmarks,
    Activity,
    Downloads,
    ScriptConsole,
    PageSource,
    ClearBrowsingData,
};

class AuxiliaryWindow : public Gtk::Window {
public:
    // Joins the application (so its shortcuts work here) and the shell's window list, whose
    // close rules hide the window unless the browser is closing.
    AuxiliaryWindow(Shell& shell, AuxiliaryWindowKind kind, const Glib::ustring& title);
    ~AuxiliaryWindow() override;
    AuxiliaryWindow(const AuxiliaryWindow&) = delete;
    AuxiliaryWindow& operator=(const AuxiliaryWindow&) = delete;

    AuxiliaryWindowKind kind() const { return m_kind; }
    // Shows the window in front, re-themed for the current setting.
    void showInFront();
    // The user closed the window while the browser goes on; it has just been hidden.
    virtual void closedByUser() { }
    // Whether Escape must leave the window open: by default while the focus is in a text the
    // user can edit (a field, an editor).
    virtual bool editingInProgress() const;
    // Asked before the user's close hides the window; false keeps it open (unsaved edits the
    // user wants to keep).
    virtual bool mayCloseNow() { return true; }

protected:
    Shell& shell() const { return m_shell; }

private:
    Shell& m_shell;
    AuxiliaryWindowKind m_kind;
};

} // namespace qv

// The base of the auxiliary windows.
#include "app/auxiliary_window.h"

#include "app/shell.h"
#include "app/view_helpers.h"

namespace qv {

AuxiliaryWindow::AuxiliaryWindow(Shell& shell, AuxiliaryWindowKind kind, const Glib::ustring& title)
    : m_shell(shell)
    , m_kind(kind)
{
    set_title(title);
    shell.application()->add_window(*this);
    // Hiding takes a window out of the application; a window shown again joins it again, so
    // the application's shortcuts and theme changes reach it.
    signal_show().connect([this] {
        if (!get_application())
            m_shell.application()->add_window(*this);
    });
    // Hidden, not destroyed: the window and its state are reused the next time it is shown.
    set_hide_on_close(true);
    shell.connectWindowCallbacks(*this);
    shell.addAuxiliaryWindow(*this);
}

AuxiliaryWindow::~AuxiliaryWindow()
{
    m_shell.removeAuxiliaryWindow(*this);
    if (auto app = get_application())
        app->remove_window(*this);
}

void AuxiliaryWindow::showInFront()
{
    bool dark = m_shell.darkMode();
    tintIconButtons(*this, iconTintForTheme(dark));
    markWindowTheme(*this, dark);
    present();
}

} // namespace qv

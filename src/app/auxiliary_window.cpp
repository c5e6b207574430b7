// The base of the auxiliary windows.
#include "app/auxiliary_window.h"

#include "app/browser_controller.h"
#include "app/view_helpers.h"

namespace qv {

AuxiliaryWindow::AuxiliaryWindow(BrowserController& controller, const Glib::ustring& title)
    : m_controller(controller)
{
    set_title(title);
    controller.application()->add_window(*this);
    // Hiding takes a window out of the application; a window shown again joins it again, so
    // the application's shortcuts and theme changes reach it.
    signal_show().connect([this] {
        if (!get_application())
            m_controller.application()->add_window(*this);
    });
    // Hidden, not destroyed: the window and its state are reused the next time it is shown.
    set_hide_on_close(true);
    controller.connectWindowCallbacks(*this);
}

AuxiliaryWindow::~AuxiliaryWindow()
{
    if (auto app = get_application())
        app->remove_window(*this);
}

void AuxiliaryWindow::showInFront()
{
    bool dark = m_controller.darkMode();
    tintIconButtons(*this, iconTintForTheme(dark));
    markWindowTheme(*this, dark);
    present();
}

} // namespace qv

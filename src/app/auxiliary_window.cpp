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

    // Escape closes the window, after the focused widget had its chance (a search field ends
    // its search, a menu closes) and unless the user is typing.
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::BUBBLE);
    keys->signal_key_pressed().connect(
        [this](guint key, guint, Gdk::ModifierType state) {
            const auto held = Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::SHIFT_MASK
                | Gdk::ModifierType::ALT_MASK | Gdk::ModifierType::SUPER_MASK;
            if (key != GDK_KEY_Escape || (state & held) != Gdk::ModifierType(0)
                || editingInProgress())
                return false;
            close();
            return true;
        },
        false);
    add_controller(keys);
}

bool AuxiliaryWindow::editingInProgress() const
{
    const Gtk::Widget* focus = get_focus();
    if (!focus)
        return false;
    GtkWidget* widget = const_cast<GtkWidget*>(focus->gobj());
    if (GTK_IS_TEXT_VIEW(widget))
        return gtk_text_view_get_editable(GTK_TEXT_VIEW(widget));
    if (GTK_IS_EDITABLE(widget))
        return gtk_editable_get_editable(GTK_EDITABLE(widget));
    return false;
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

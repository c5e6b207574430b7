// Drag tracking and the context menu of tab items.
#include "tabs/tab_context_button.h"

#include <cmath>

namespace qv {

TabContextButton::TabContextButton()
    : Glib::ObjectBase("QvTabButton")
    , AccessibleRoleClass(GTK_ACCESSIBLE_ROLE_TAB)
{
    m_drag = Gtk::GestureDrag::create();
    m_drag->set_button(GDK_BUTTON_PRIMARY);
    m_drag->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    m_drag->signal_drag_begin().connect(sigc::mem_fun(*this, &TabContextButton::onDragBegin));
    m_drag->signal_drag_update().connect(sigc::mem_fun(*this, &TabContextButton::onDragUpdate));
    m_drag->signal_drag_end().connect(sigc::mem_fun(*this, &TabContextButton::onDragEnd));
    add_controller(m_drag);

    m_secondaryClick = Gtk::GestureClick::create();
    m_secondaryClick->set_button(GDK_BUTTON_SECONDARY);
    m_secondaryClick->signal_pressed().connect([this](int, double x, double y) {
        Glib::RefPtr<Gio::MenuModel> menu = m_menuMaker ? m_menuMaker(*this) : nullptr;
        if (!menu)
            return;
        if (!m_popover) {
            m_popover = Gtk::make_managed<Gtk::PopoverMenu>();
            m_popover->set_parent(*this);
            m_popover->set_has_arrow(false);
            signal_destroy().connect([this] {
                if (m_popover)
                    m_popover->unparent();
                m_popover = nullptr;
            });
        }
        m_popover->set_menu_model(menu);
        Gdk::Rectangle at(static_cast<int>(x), static_cast<int>(y), 1, 1);
        m_popover->set_pointing_to(at);
        m_popover->popup();
    });
    add_controller(m_secondaryClick);
}

bool TabContextButton::windowPoint(double localX, double localY, double& wx, double& wy)
{
    auto* root = dynamic_cast<Gtk::Widget*>(get_root());
    if (!root)
        return false;
    return translate_coordinates(*root, localX, localY, wx, wy);
}

void TabContextButton::onDragBegin(double x, double y)
{
    m_startX = x;
    m_startY = y;
    m_dragging = false;
}

void TabContextButton::onDragUpdate(double dx, double dy)
{
    if (get_name().empty())
        return;
    if (!m_dragging) {
        if (std::hypot(dx, dy) < kDragThreshold)
            return;
        m_dragging = true;
        set_opacity(0.62);
        // Taking the sequence keeps the button from also treating the release as a click.
        m_drag->set_state(Gtk::EventSequenceState::CLAIMED);
    }
    double wx, wy;
    if (m_tabDragUpdateHandler && windowPoint(m_startX + dx, m_startY + dy, wx, wy))
        m_tabDragUpdateHandler(get_name().raw(), wx, wy);
}

void TabContextButton::onDragEnd(double dx, double dy)
{
    set_opacity(1);
    if (!m_dragging)
        return;
    m_dragging = false;
    double wx, wy;
    // The drop may remove this button while the strip rebuilds; copy the handler first.
    PointHandler drop = m_tabDropHandler;
    std::string id = get_name().raw();
    if (drop && windowPoint(m_startX + dx, m_startY + dy, wx, wy))
        drop(id, wx, wy);
}

} // namespace qv

// The extension manager's panel and list views.
#include "extensions/extension_manager_views.h"

namespace qv {

ExtensionPanelView::ExtensionPanelView()
    : Gtk::Box(Gtk::Orientation::VERTICAL, 12)
{
    add_css_class("qv-extension-panel");
    set_margin_top(0);
    set_halign(Gtk::Align::FILL);
    set_valign(Gtk::Align::FILL);
}

ExtensionListStackView::ExtensionListStackView()
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8)
{
    add_css_class("qv-extension-list");
    set_valign(Gtk::Align::START);
    set_halign(Gtk::Align::FILL);
}

void ExtensionListStackView::removeAllRows()
{
    while (Gtk::Widget* child = get_first_child())
        remove(*child);
}

} // namespace qv

// The shared look of the bars under the toolbar.
#include "app/window_bar.h"

#include "app/view_helpers.h"

namespace qv {

namespace {

constexpr const char* kWindowBarCss = R"CSS(
.qv-window-bar-box { border-radius: 10px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.85); padding: 4px 10px; }
)CSS";

} // namespace

WindowBar::WindowBar(const char* cssClass, const char* iconName)
{
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(120);
    set_reveal_child(false);
    add_css_class(cssClass);
    addApplicationStyleSheet(kWindowBarCss);

    m_box.add_css_class("qv-window-bar-box");
    m_box.set_margin_start(12);
    m_box.set_margin_end(12);
    m_box.set_margin_top(6);
    m_box.set_margin_bottom(4);
    if (iconName)
        m_icon.set_from_icon_name(iconName);
    m_box.append(m_icon);
    m_label.set_xalign(0);
    m_label.set_hexpand(true);
    m_label.set_ellipsize(Pango::EllipsizeMode::END);
    m_box.append(m_label);
    set_child(m_box);
}

} // namespace qv

// The unresponsive-page bar of the browser window.
#include "navigation/unresponsive_page_bar.h"

#include "app/view_helpers.h"

#include <utility>

namespace qv {

namespace {

constexpr const char* kUnresponsiveBarCss = R"CSS(
.qv-unresponsive-bar-box { border-radius: 10px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.85); padding: 4px 10px; }
)CSS";

} // namespace

UnresponsivePageBar::UnresponsivePageBar()
{
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(120);
    set_reveal_child(false);
    add_css_class("qv-unresponsive-bar");
    addApplicationStyleSheet(kUnresponsiveBarCss);

    m_box.add_css_class("qv-unresponsive-bar-box");
    m_box.set_margin_start(12);
    m_box.set_margin_end(12);
    m_box.set_margin_top(6);
    m_box.set_margin_bottom(4);

    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("dialog-warning-symbolic");
    m_box.append(*icon);
    m_label.set_xalign(0);
    m_label.set_hexpand(true);
    m_label.set_ellipsize(Pango::EllipsizeMode::END);
    m_box.append(m_label);

    m_stop.add_css_class("destructive-action");
    setAccessibleLabel(m_stop, "Stop Page");
    setAccessibleLabel(m_wait, "Wait");
    // Each action runs once: the bar forgets it first, as the action may show the bar again.
    m_stop.signal_clicked().connect([this] {
        if (auto act = std::exchange(m_onStop, nullptr))
            act();
    });
    m_wait.signal_clicked().connect([this] {
        if (auto act = std::exchange(m_onWait, nullptr))
            act();
    });
    m_box.append(m_stop);
    m_box.append(m_wait);
    set_child(m_box);
}

void UnresponsivePageBar::showMessage(
    const std::string& message, std::function<void()> stop, std::function<void()> wait)
{
    m_onStop = std::move(stop);
    m_onWait = std::move(wait);
    m_label.set_text(message);
    set_reveal_child(true);
}

void UnresponsivePageBar::hideBar()
{
    m_onStop = m_onWait = nullptr;
    set_reveal_child(false);
}

} // namespace qv

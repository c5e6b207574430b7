// The bar over the certificate and HTTPS-only pages.
#include "navigation/site_warning_bar.h"

#include "app/view_helpers.h"

#include <utility>

namespace qv {

namespace {

constexpr const char* kSiteWarningBarCss = R"CSS(
.qv-site-warning-bar-box { border-radius: 10px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.85); padding: 4px 10px; }
)CSS";

} // namespace

SiteWarningBar::SiteWarningBar()
{
    set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    set_transition_duration(120);
    set_reveal_child(false);
    add_css_class("qv-site-warning-bar");
    addApplicationStyleSheet(kSiteWarningBarCss);

    m_box.add_css_class("qv-site-warning-bar-box");
    m_box.set_margin_start(12);
    m_box.set_margin_end(12);
    m_box.set_margin_top(6);
    m_box.set_margin_bottom(4);

    auto* icon = Gtk::make_managed<Gtk::Image>();
    icon->set_from_icon_name("channel-insecure-symbolic");
    m_box.append(*icon);
    m_label.set_xalign(0);
    m_label.set_hexpand(true);
    m_label.set_ellipsize(Pango::EllipsizeMode::END);
    m_box.append(m_label);
    m_action.add_css_class("destructive-action");
    // Out of the reader's way until it has its label.
    m_action.set_visible(false);
    // Runs once: the bar forgets the action first, as it may show the bar again.
    m_action.signal_clicked().connect([this] {
        if (auto act = std::exchange(m_onAction, nullptr))
            act();
    });
    m_box.append(m_action);
    set_child(m_box);
}

void SiteWarningBar::showWarning(
    const std::string& message, const std::string& actionLabel, std::function<void()> action)
{
    m_onAction = std::move(action);
    m_label.set_text(message);
    m_action.set_label(actionLabel);
    setAccessibleLabel(m_action, actionLabel);
    m_action.set_visible(true);
    set_reveal_child(true);
}

void SiteWarningBar::hideBar()
{
    m_onAction = nullptr;
    set_reveal_child(false);
}

} // namespace qv

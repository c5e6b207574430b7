// The bar over the certificate and HTTPS-only pages.
#include "navigation/site_warning_bar.h"

#include "app/view_helpers.h"

#include <utility>

namespace qv {

SiteWarningBar::SiteWarningBar()
    : WindowBar("qv-site-warning-bar", "channel-insecure-symbolic")
{
    m_action.add_css_class("destructive-action");
    // Out of the reader's way until it has its label.
    m_action.set_visible(false);
    // Runs once: the bar forgets the action first, as it may show the bar again.
    m_action.signal_clicked().connect([this] {
        if (auto act = std::exchange(m_onAction, nullptr))
            act();
    });
    m_box.append(m_action);
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

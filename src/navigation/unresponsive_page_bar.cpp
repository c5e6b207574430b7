// The unresponsive-page bar of the browser window.
#include "navigation/unresponsive_page_bar.h"

#include "app/view_helpers.h"

#include <utility>

namespace qv {

UnresponsivePageBar::UnresponsivePageBar()
    : WindowBar("qv-unresponsive-bar", "dialog-warning-symbolic")
{
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

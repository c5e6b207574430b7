// The bar over our certificate and HTTPS-only pages holding their one way on: a control of the
// browser window, out of reach of every page script.
#pragma once

#include "app/window_bar.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class SiteWarningBar : public WindowBar {
public:
    SiteWarningBar();

    void showWarning(const std::string& message, const std::string& actionLabel,
        std::function<void()> action);
    void hideBar();

    Gtk::Button& actionButton() { return m_action; }

private:
    Gtk::Button m_action;
    std::function<void()> m_onAction;
};

} // namespace qv

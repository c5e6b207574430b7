// The bar over our certificate and HTTPS-only pages holding their one way on: a control of the
// browser window, out of reach of every page script.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class SiteWarningBar : public Gtk::Revealer {
public:
    SiteWarningBar();

    void showWarning(const std::string& message, const std::string& actionLabel,
        std::function<void()> action);
    void hideBar();

    bool shown() const { return get_reveal_child(); }
    std::string text() const { return m_label.get_text().raw(); }
    Gtk::Button& actionButton() { return m_action; }

private:
    Gtk::Box m_box { Gtk::Orientation::HORIZONTAL, 8 };
    Gtk::Label m_label;
    Gtk::Button m_action;
    std::function<void()> m_onAction;
};

} // namespace qv

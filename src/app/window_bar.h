// The look every bar under the toolbar shares: a revealer sliding down a rounded box that holds
// an icon, a message and the bar's own buttons after them.
#pragma once

#include <gtkmm.h>

namespace qv {

class WindowBar : public Gtk::Revealer {
public:
    bool shown() const { return get_reveal_child(); }
    std::string text() const { return m_label.get_text().raw(); }

protected:
    // `cssClass` names the revealer, as tests and themes find the bar by it.
    WindowBar(const char* cssClass, const char* iconName);

    Gtk::Box m_box { Gtk::Orientation::HORIZONTAL, 8 };
    Gtk::Image m_icon;
    Gtk::Label m_label;
};

} // namespace qv

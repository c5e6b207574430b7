// The bar under the toolbar offered when the selected page stops responding: Stop Page or Wait.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class UnresponsivePageBar : public Gtk::Revealer {
public:
    UnresponsivePageBar();

    void showMessage(
        const std::string& message, std::function<void()> stop, std::function<void()> wait);
    void hideBar();

    bool shown() const { return get_reveal_child(); }
    std::string text() const { return m_label.get_text().raw(); }
    Gtk::Button& stopButton() { return m_stop; }
    Gtk::Button& waitButton() { return m_wait; }

private:
    Gtk::Box m_box { Gtk::Orientation::HORIZONTAL, 8 };
    Gtk::Label m_label;
    Gtk::Button m_stop { "Stop Page" };
    Gtk::Button m_wait { "Wait" };
    std::function<void()> m_onStop, m_onWait;
};

} // namespace qv

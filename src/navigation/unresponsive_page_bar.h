// The bar under the toolbar offered when the selected page stops responding: Stop Page or Wait.
#pragma once

#include "app/window_bar.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class UnresponsivePageBar : public WindowBar {
public:
    UnresponsivePageBar();

    void showMessage(
        const std::string& message, std::function<void()> stop, std::function<void()> wait);
    void hideBar();

    Gtk::Button& stopButton() { return m_stop; }
    Gtk::Button& waitButton() { return m_wait; }

private:
    Gtk::Button m_stop { "Stop Page" };
    Gtk::Button m_wait { "Wait" };
    std::function<void()> m_onStop, m_onWait;
};

} // namespace qv

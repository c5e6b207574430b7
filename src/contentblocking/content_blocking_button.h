// The shield in the address capsule: what was blocked on the selected page, and the switch
// that allows its site.
#pragma once

#include <gtkmm.h>

#include <functional>

namespace qv {

class ContentBlockingService;

class ContentBlockingButton : public Gtk::MenuButton {
public:
    // `gone` runs when the button is destroyed.
    ContentBlockingButton(ContentBlockingService& blocking, std::function<void()> gone);
    ~ContentBlockingButton() override;

    Gtk::Switch* allowSwitch() const { return m_allow; }
    Gtk::Label* countLabel() const { return m_count; }
    // Follows the selected page.
    void refresh();

private:
    void allowToggled();

    ContentBlockingService& m_blocking;
    std::function<void()> m_gone;
    Gtk::Label* m_host = nullptr;
    Gtk::Switch* m_allow = nullptr;
    Gtk::Label* m_count = nullptr;
    bool m_refreshing = false;
    sigc::connection m_stateChanged;
};

} // namespace qv

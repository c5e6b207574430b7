// The bar under the toolbar that asks the user about one permission request of the selected tab.
#pragma once

#include "permissions/permission_store.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class PermissionBar : public Gtk::Revealer {
public:
    // The user's answer, and whether it is to be remembered for the site.
    using Answer = std::function<void(PermissionDecision, bool remember)>;

    PermissionBar();

    // Shows the question with an icon of what is asked; the check starts cleared, and is hidden
    // when the answer cannot be kept.
    void showRequest(const std::string& text, PermissionKind kind, bool rememberable, Answer answer);
    void hideBar();

    bool shown() const { return get_reveal_child(); }
    std::string text() const { return m_label.get_text().raw(); }
    Gtk::Button& allowButton() { return m_allow; }
    Gtk::Button& denyButton() { return m_deny; }
    Gtk::CheckButton& rememberCheck() { return m_remember; }

private:
    void answer(PermissionDecision decision);

    Gtk::Box m_box { Gtk::Orientation::HORIZONTAL, 8 };
    Gtk::Image m_icon;
    Gtk::Label m_label;
    Gtk::CheckButton m_remember { "Remember for this site" };
    Gtk::Button m_deny { "Deny" };
    Gtk::Button m_allow { "Allow" };
    Answer m_answer;
};

} // namespace qv

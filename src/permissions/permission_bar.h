// The bar under the toolbar that asks the user about one permission request of the selected tab.
#pragma once

#include "app/window_bar.h"
#include "permissions/permission_store.h"

#include <gtkmm.h>

#include <functional>
#include <string>

namespace qv {

class PermissionBar : public WindowBar {
public:
    // The user's answer, and whether it is to be remembered for the site.
    using Answer = std::function<void(PermissionDecision, bool remember)>;

    PermissionBar();

    // Shows the question with an icon of what is asked; the check starts cleared, and is hidden
    // when the answer cannot be kept.
    void showRequest(const std::string& text, PermissionKind kind, bool rememberable, Answer answer);
    void hideBar();

    Gtk::Button& allowButton() { return m_allow; }
    Gtk::Button& denyButton() { return m_deny; }
    Gtk::CheckButton& rememberCheck() { return m_remember; }

private:
    void answer(PermissionDecision decision);

    Gtk::CheckButton m_remember { "Remember for this site" };
    Gtk::Button m_deny { "Deny" };
    Gtk::Button m_allow { "Allow" };
    Answer m_answer;
};

} // namespace qv

// Modal alerts that return the pressed button, answerable by tests without a person.
#pragma once

#include "base/confirmation.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace qv {

struct AlertSpec {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons { "OK" };
};

// The index of the pressed button; -1 when the alert was dismissed without one.
// A text field in an alert: it takes the initial focus and `text` receives what was typed.
struct AlertTextField {
    std::string placeholder;
    std::string text;
};

int runModalAlert(GtkWindow* parent, const AlertSpec& alert, AlertTextField* field = nullptr);

// Asks the confirmation in a modal alert; true when its action's button was chosen.
bool runConfirmationAlert(GtkWindow* parent, const Confirmation& confirmation);

// Shows the alert and returns at once: `answered` gets the pressed button's index (-1 when
// dismissed) on a later turn of the main loop, for questions asked while a page waits.
void showAlert(GtkWindow* parent, const AlertSpec& alert, std::function<void(int)> answered);

// While set, alerts are not shown: the responder answers them (tests). Returning nullopt
// shows the real alert.
using AlertResponder = std::function<std::optional<int>(const AlertSpec&)>;
void setAlertResponder(AlertResponder responder);
// What the responder "types" into an alert's text field.
void setAlertFieldResponder(std::function<std::string(const AlertSpec&)> responder);

} // namespace qv

// Modal alerts that return the pressed button, answerable by tests without a person.
#pragma once

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
int runModalAlert(GtkWindow* parent, const AlertSpec& alert);

// While set, alerts are not shown: the responder answers them (tests). Returning nullopt
// shows the real alert.
using AlertResponder = std::function<std::optional<int>(const AlertSpec&)>;
void setAlertResponder(AlertResponder responder);

} // namespace qv

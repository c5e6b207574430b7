// A modal confirmation described without a toolkit: its texts and which button goes ahead.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qv {

struct Confirmation {
    std::string message;
    std::string informativeText;
    // In the order the alert shows them; the first is the default (Return) button.
    std::vector<std::string> buttons;
    // The index in buttons of the one that carries the action out.
    size_t confirmButton = 0;

    bool confirmedBy(size_t chosenButton) const { return chosenButton == confirmButton; }
};

} // namespace qv

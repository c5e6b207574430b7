// The control an action came from, as the browser's actions receive it.
#pragma once

#include <string>

namespace qv {

// The control an action came from: its kind and the tag or identifier it carries.
struct Sender {
    enum class Kind { Button, MenuItem, Other };
    Kind kind = Kind::Other;
    long tag = -1;
    std::string identifier;

    static Sender button(long tag) { return { Kind::Button, tag, {} }; }
    static Sender menuItem(long tag) { return { Kind::MenuItem, tag, {} }; }
    static Sender other() { return {}; }
    // A throw-away button carrying an identifier (an extension's ID, say).
    static Sender identified(std::string id) { return { Kind::Button, -1, std::move(id) }; }
};

} // namespace qv

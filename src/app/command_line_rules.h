// What a command line asks of the browser: its options and what each address argument opens.
#pragma once

#include "base/result.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct CommandLineRequest {
    bool help = false;
    bool version = false;
    // A process of its own, not handing over to a running browser.
    bool newInstance = false;
    // A tab on the home page even without addresses (a running browser otherwise only comes
    // to the front).
    bool newTab = false;
    std::vector<std::string> addresses;
};

// The arguments after the program name. Options may stand anywhere; "--" makes every later
// argument an address. An unknown option fails with "unknown option: <option>".
Result<CommandLineRequest> parseCommandLine(const std::vector<std::string>& arguments);

struct LaunchAddress {
    enum class Kind {
        Load, // an address the tab loads as it stands
        Typed, // text resolved as if typed into the address field
    };
    Kind kind = Kind::Typed;
    std::string text;

    bool operator==(const LaunchAddress&) const = default;
};

// What one address argument opens: http, https and file addresses as they stand; an absolute
// path, or a relative one that exists or starts with "./" or "../", as the file address of the
// absolute path (relative to workingDirectory); anything else as typed. Nothing for blank text.
std::optional<LaunchAddress> launchAddressFor(std::string_view argument,
    const std::string& workingDirectory, const std::function<bool(const std::string&)>& exists);

// "file://" and the lexically normalised absolute path, escaped.
std::string fileAddressForPath(std::string_view absolutePath);

std::string commandLineUsage();
std::string versionText(std::string_view version);

} // namespace qv

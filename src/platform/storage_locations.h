// Storage locations: the data directory, the history file, the extension store and friends.
#pragma once

#include <filesystem>

namespace qv {

// "$XDG_DATA_HOME/QuivelBrowser" (default ~/.local/share); not created here.
std::filesystem::path dataDirectory();

// The history file by the working-directory rule; creates the data directory only when the
// file lies in it. Creation failures are ignored: the later read or write reports them.
std::filesystem::path historyURL();

// "Extensions" in the data directory, created on every call; returned even if creation failed.
std::filesystem::path extensionStoreURL();

// "$XDG_CONFIG_HOME/QuivelBrowser/defaults.json" (default ~/.config).
std::filesystem::path defaultsFileURL();

std::filesystem::path downloadsDirectory();
std::filesystem::path temporaryDirectory();

// The application's resource folder: next to the executable, else the source tree's.
std::filesystem::path resourcesDirectory();

} // namespace qv

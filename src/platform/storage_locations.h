// Storage locations: the data directory, the history file, the extension store and friends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qv {

// "$XDG_DATA_HOME/QuivelBrowser" (default ~/.local/share); not created here.
std::filesystem::path dataDirectory();

// The history file by the working-directory rule; creates the data directory only when the
// file lies in it. Creation failures are ignored: the later read or write reports them.
std::filesystem::path historyURL();

// "Extensions" in the data directory, created on every call; returned even if creation failed.
std::filesystem::path extensionStoreURL();

// Where a profile's persistent website data lives: "Profiles/<identifier>" in the data
// directory, and its caches in "$XDG_CACHE_HOME/QuivelBrowser/Profiles/<identifier>" (default
// ~/.cache). Not created here.
std::filesystem::path profileDataDirectory(const std::string& identifier);
std::filesystem::path profileCacheDirectory(const std::string& identifier);

// "$XDG_CONFIG_HOME/QuivelBrowser/defaults.json" (default ~/.config).
std::filesystem::path defaultsFileURL();

std::filesystem::path downloadsDirectory();
std::filesystem::path temporaryDirectory();

// Makes sure XDG_RUNTIME_DIR names a folder of ours before anything reads it. Without one GLib
// falls back to the cache folder, where the engine's sandbox does not find its bus proxies and
// aborts the web process. When it is unset or not a usable folder, "quivel-runtime-<uid>" in the
// temporary folder is used (made private; a link or someone else's folder there is never taken, a
// fresh folder of our own then is). Call it before the first GLib look-up of the folder.
void ensureUserRuntimeDirectory(
    const std::filesystem::path& temporaryFolder = temporaryDirectory());

// The largest resource file read (qv.js, the error page); they are a few kilobytes.
inline constexpr std::uintmax_t kMaxResourceFileBytes = 4 * 1024 * 1024;

// The application's resource folder: next to the executable (or a parent of it in a build
// tree), else the installed "<prefix>/share/quivel-browser/resources" beside "<prefix>/bin",
// else the source tree's.
std::filesystem::path resourcesDirectory();
// The same search from a given executable; nothing when neither place holds "qv.js".
std::optional<std::filesystem::path> resourcesDirectoryForExecutable(
    const std::filesystem::path& executable);

} // namespace qv

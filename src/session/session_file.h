// The session file: every open tab in strip order, enough to bring it back after a restart or a
// crash; and the mark that tells a crash from a normal quit.
#pragma once

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// Both live beside "tab.json"; the mark is there while the browser runs.
inline constexpr std::string_view kSessionFileName = "session.json";
inline constexpr std::string_view kRunningMarkName = "session.running";

// A file from elsewhere can hold anything: what is read stops at these.
inline constexpr std::uintmax_t kSessionFileLimit = 256 * 1024 * 1024;
inline constexpr size_t kMaxSessionTabs = 5000;
inline constexpr size_t kMaxSessionStateBytes = 2 * 1024 * 1024;
inline constexpr size_t kMaxSessionIconBytes = 64 * 1024;

struct SessionTab {
    std::string profileID;
    std::string url;
    std::string title;
    bool lazy = false;
    double zoom = 1.0;
    // The engine's own serialised back/forward list; empty when there is none.
    std::string state;
    // The tab's icon as PNG; empty when it has none.
    std::string icon;
};

struct Session {
    std::vector<SessionTab> tabs;
    std::optional<size_t> selected; // an index into tabs
    // Entries left out because they were unusable or over the limits.
    size_t skipped = 0;
};

// One entry of the "tabs" array, as JSON text: made per tab so that a tab that did not change
// need not be made again.
std::string sessionTabJson(const SessionTab& tab);
// The whole file from entries made by sessionTabJson.
std::string sessionJson(const std::vector<std::string>& tabEntries, std::optional<size_t> selected);

// Only http, https and file addresses come back; anything else is skipped.
bool restorableSessionAddress(std::string_view url);

// A file that is not a session file fails with why; unusable entries are skipped and counted.
Result<Session> parseSession(std::string_view text);

} // namespace qv

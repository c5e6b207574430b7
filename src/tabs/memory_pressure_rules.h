// Which background tabs give up their web views when memory runs low, and when it does.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qv {

// Shown in the activity window beside a tab unloaded this way.
inline constexpr std::string_view kUnloadedForMemoryText = "Unloaded to save memory";

// What the rules need of one tab.
struct MemoryPressureTab {
    bool selected = false;
    bool hasWebView = false;
    bool playingAudio = false;
    bool downloading = false;
    // The page says a form field holds text the user changed and has not sent.
    bool unsavedFormText = false;
    // When the tab was last shown, on any steady clock; never shown is oldest.
    std::int64_t lastShown = 0;
};

// The tabs to unload, least recently shown first: background tabs with a view that play no
// audio, run no download and hold no unsent form text. At most a quarter of them (at least
// one) at a time, so a brief peak does not empty the strip.
std::vector<std::size_t> tabsToUnloadForMemory(const std::vector<MemoryPressureTab>& tabs);

// The limit in KiB: the user's when set and positive, else half the machine's memory (at least
// 1 GiB, and 1 GiB when the machine's is unknown).
std::uint64_t tabMemoryLimitKiB(
    std::optional<std::int64_t> userLimitMiB, std::optional<std::uint64_t> machineKiB);

} // namespace qv

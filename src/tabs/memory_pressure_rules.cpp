// Choosing background tabs to unload when memory runs low.
#include "tabs/memory_pressure_rules.h"

#include <algorithm>

namespace qv {

std::vector<std::size_t> tabsToUnloadForMemory(const std::vector<MemoryPressureTab>& tabs)
{
    std::vector<std::size_t> eligible;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        const MemoryPressureTab& tab = tabs[i];
        if (!tab.selected && tab.hasWebView && !tab.playingAudio && !tab.downloading
            && !tab.unsavedFormText)
            eligible.push_back(i);
    }
    std::stable_sort(eligible.begin(), eligible.end(),
        [&](std::size_t a, std::size_t b) { return tabs[a].lastShown < tabs[b].lastShown; });
    eligible.resize(std::min(eligible.size(), std::max<std::size_t>(1, eligible.size() / 4)));
    return eligible;
}

std::uint64_t tabMemoryLimitKiB(
    std::optional<std::int64_t> userLimitMiB, std::optional<std::uint64_t> machineKiB)
{
    if (userLimitMiB && *userLimitMiB > 0)
        return static_cast<std::uint64_t>(*userLimitMiB) * 1024;
    constexpr std::uint64_t oneGiB = 1024 * 1024;
    return machineKiB ? std::max(oneGiB, *machineKiB / 2) : oneGiB;
}

} // namespace qv

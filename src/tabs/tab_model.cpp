// Tab reordering, drop places and the snapshot format.
#include "tabs/tab_model.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "base/text_util.h"

#include <algorithm>

namespace qv {

std::optional<std::vector<size_t>> reorderedTabIndices(const std::vector<TabKey>& tabs,
    const std::string& profileID, const std::string& moving, const std::string& target,
    bool after)
{
    if (moving.empty() || target.empty() || moving == target)
        return std::nullopt;
    std::vector<size_t> slots; // indices in `tabs` that hold this profile's tabs
    for (size_t i = 0; i < tabs.size(); ++i)
        if (tabs[i].profileID == profileID)
            slots.push_back(i);
    std::vector<size_t> list = slots;
    auto position = [&](const std::string& id) -> std::optional<size_t> {
        for (size_t k = 0; k < list.size(); ++k)
            if (tabs[list[k]].id == id)
                return k;
        return std::nullopt;
    };
    auto u = position(moving), v = position(target);
    if (!u || !v)
        return std::nullopt;
    size_t movingIndex = list[*u];
    list.erase(list.begin() + static_cast<long>(*u));
    size_t wanted = *v + (after ? 1 : 0) - (*u < *v ? 1 : 0);
    if (wanted >= list.size())
        list.push_back(movingIndex);
    else
        list.insert(list.begin() + static_cast<long>(wanted), movingIndex);

    std::vector<size_t> order(tabs.size());
    for (size_t i = 0; i < tabs.size(); ++i)
        order[i] = i;
    for (size_t k = 0; k < slots.size(); ++k)
        order[slots[k]] = list[k];
    return order;
}

size_t replacementIndexAfterClose(size_t closedIndex, size_t remainingCount)
{
    if (remainingCount == 0)
        return 0;
    return std::min(closedIndex, remainingCount - 1);
}

std::optional<TabInsertion> tabInsertionAt(const std::vector<TabItemFrame>& items, double x)
{
    if (items.empty())
        return std::nullopt;
    for (const auto& item : items) {
        if (item.x + item.width / 2 > x)
            return TabInsertion { item.id, false, item.x };
    }
    const auto& last = items.back();
    return TabInsertion { last.id, true, last.x + last.width };
}

double dropMarkerHeight(double stripHeight) { return std::clamp(stripHeight - 8, 0.0, 30.0); }

size_t dropGapIndex(std::optional<size_t> gapIndex, size_t targetIndex, bool after,
    size_t arrangedCount)
{
    size_t wanted = targetIndex + (after ? 1 : 0);
    if (gapIndex && *gapIndex < wanted)
        --wanted;
    return std::min(wanted, arrangedCount);
}

StripRange stripItemRange(size_t count, double offset, double visibleWidth)
{
    StripRange range;
    range.end = count;
    double step = kStripItemWidth + kStripItemSpacing;
    if (count == 0 || static_cast<double>(count) * step - kStripItemSpacing <= visibleWidth)
        return range;
    range.fixedWidth = true;
    // Half a visible stretch on either side: a scroll step shows items already made.
    double margin = std::max(visibleWidth, step) / 2;
    double from = std::max(0.0, offset - margin);
    double to = std::max(from, offset + visibleWidth + margin);
    range.first = std::min(count - 1, static_cast<size_t>(from / step));
    range.end = std::clamp(static_cast<size_t>(to / step) + 1, range.first + 1, count);
    return range;
}

double stripItemOffset(size_t index)
{
    return static_cast<double>(index) * (kStripItemWidth + kStripItemSpacing);
}

std::string displayedTabTitle(const std::string& title)
{
    std::string shown = displaySafeTitle(title);
    return shown.empty() ? std::string(kNewTabTitle) : shown;
}

std::string browserWindowTitle(const std::string& pageTitle)
{
    std::string shown = displaySafeTitle(pageTitle);
    return shown.empty() ? std::string(kBrowserWindowTitle) : shown;
}

std::string tabsSnapshotJson(const std::vector<TabSnapshotEntry>& tabs)
{
    Json array = Json::array();
    for (const auto& tab : tabs) {
        array.push_back({
            { "id", tab.id },
            { "url", tab.url },
            { "title", tab.title.empty() ? std::string(kNewTabTitle) : tab.title },
            { "profileID", tab.profileID.empty() ? std::string(kDefaultProfileID) : tab.profileID },
            { "lazy", tab.lazy },
            { "active", tab.active },
        });
    }
    return dumpJson(array, 2) + "\n";
}

Result<Done> writeTabsSnapshot(
    const std::filesystem::path& file, const std::vector<TabSnapshotEntry>& tabs)
{
    return writeFileAtomically(file, tabsSnapshotJson(tabs));
}

} // namespace qv

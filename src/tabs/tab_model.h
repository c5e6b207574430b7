// Rules of the tab list that need no window: reordering, drop places, the snapshot format.
#pragma once

#include "base/result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr const char* kDefaultProfileID = "default";
inline constexpr const char* kNewTabTitle = "New Tab";
inline constexpr const char* kLoadingTitle = "Loading\u2026";

// What the reordering rule needs to know of a tab.
struct TabKey {
    std::string id;
    std::string profileID;
};

// The new order of all tabs (indices into the given list) after moving `moving` before or after
// `target` among the tabs of `profileID`; other profiles' tabs keep their slots. Nothing when
// the move changes nothing or an ID is missing from that profile.
std::optional<std::vector<size_t>> reorderedTabIndices(const std::vector<TabKey>& tabs,
    const std::string& profileID, const std::string& moving, const std::string& target,
    bool after);

// The index of the tab to select after the selected tab at `closedIndex` was closed.
size_t replacementIndexAfterClose(size_t closedIndex, size_t remainingCount);

// One tab item of the strip, in strip coordinates.
struct TabItemFrame {
    std::string id;
    double x = 0;
    double width = 0;
};

struct TabInsertion {
    std::string targetID;
    bool after = false;
    double markerX = 0;
};

// Where a drop at x lands: before the first item whose midpoint lies right of x, else after
// the last item. Nothing without items.
std::optional<TabInsertion> tabInsertionAt(const std::vector<TabItemFrame>& items, double x);

// The drop marker's height for a strip of the given height: 8 less, within 0 to 30.
double dropMarkerHeight(double stripHeight);

// Wanted index of the drop gap among the strip's arranged items.
size_t dropGapIndex(std::optional<size_t> gapIndex, size_t targetIndex, bool after,
    size_t arrangedCount);

// The strip's items: side by side at their own widths while all of them would fit at
// kStripItemWidth, else every item kStripItemWidth wide and only those near the visible stretch
// made, so a strip of hundreds of tabs keeps a few dozen widgets.
inline constexpr double kStripItemWidth = 200;
inline constexpr double kStripItemSpacing = 8;

struct StripRange {
    bool fixedWidth = false;
    // The items made: [first, end).
    size_t first = 0;
    size_t end = 0;
};

// `offset` and `visibleWidth` are the scrolled position and the width of the visible stretch,
// measured from the first item's left edge.
StripRange stripItemRange(size_t count, double offset, double visibleWidth);

// Left edge of a fixed-width item, from the first item's left edge.
double stripItemOffset(size_t index);

// The title a tab item shows: the page's title made safe to show, else "New Tab".
std::string displayedTabTitle(const std::string& title);

inline constexpr std::string_view kBrowserWindowTitle = "Quivel Browser";
// The browser window's title for the selected page: its title made safe to show, else the
// application's name.
std::string browserWindowTitle(const std::string& pageTitle);

struct TabSnapshotEntry {
    std::string id;
    std::string url;
    std::string title;
    std::string profileID;
    bool lazy = false;
    bool active = false;
};

// "tab.json": a pretty-printed array of objects with exactly six members each.
std::string tabsSnapshotJson(const std::vector<TabSnapshotEntry>& tabs);

// Replaces "tab.json" with the snapshot of these tabs, atomically.
Result<Done> writeTabsSnapshot(
    const std::filesystem::path& file, const std::vector<TabSnapshotEntry>& tabs);

} // namespace qv

// Rules behind the tab and page shortcuts: which tab a shortcut selects, zoom steps, and the
// stack of recently closed tabs.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace qv {

enum class TabShortcut { Next, Previous, Number, Last };

// The index into all tabs (given by their profile IDs, in strip order) that the shortcut
// selects among the tabs of `currentProfile`. Next and Previous wrap around and start from
// `selected` (an index into all tabs); Number picks the `number`th (1-based) tab of the
// profile; Last its last. Nothing when the profile has no such tab.
std::optional<size_t> tabIndexForShortcut(const std::vector<std::string>& tabProfileIDs,
    const std::string& currentProfile, std::optional<size_t> selected, TabShortcut shortcut,
    size_t number = 0);

inline constexpr double kDefaultZoomLevel = 1.0;

// The next larger or smaller of the fixed zoom steps (30 % to 300 %); the ends stay put.
double zoomLevelIn(double current);
double zoomLevelOut(double current);

struct ClosedTab {
    std::string url;
    std::string profileID;
};

// The most recently closed tabs, newest on top; the oldest go when it is full.
class ClosedTabStack {
public:
    explicit ClosedTabStack(size_t capacity = 25)
        : m_capacity(capacity)
    {
    }
    // Tabs without an address are not kept.
    void push(ClosedTab tab);
    std::optional<ClosedTab> pop();
    void removeTabsOfProfile(const std::string& profileID);
    size_t size() const { return m_tabs.size(); }

private:
    size_t m_capacity;
    std::deque<ClosedTab> m_tabs;
};

} // namespace qv

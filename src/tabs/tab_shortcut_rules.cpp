// Which tab a shortcut selects, zoom steps, and recently closed tabs.
#include "tabs/tab_shortcut_rules.h"

#include <algorithm>
#include <array>

namespace qv {

std::optional<size_t> tabIndexForShortcut(const std::vector<std::string>& tabProfileIDs,
    const std::string& currentProfile, std::optional<size_t> selected, TabShortcut shortcut,
    size_t number)
{
    std::vector<size_t> shown;
    for (size_t i = 0; i < tabProfileIDs.size(); ++i) {
        if (tabProfileIDs[i] == currentProfile)
            shown.push_back(i);
    }
    if (shown.empty())
        return std::nullopt;
    switch (shortcut) {
    case TabShortcut::Number:
        if (number == 0 || number > shown.size())
            return std::nullopt;
        return shown[number - 1];
    case TabShortcut::Last:
        return shown.back();
    case TabShortcut::Next:
    case TabShortcut::Previous: {
        auto at = selected ? std::find(shown.begin(), shown.end(), *selected) : shown.end();
        if (at == shown.end())
            return shortcut == TabShortcut::Next ? shown.front() : shown.back();
        size_t position = static_cast<size_t>(at - shown.begin());
        size_t count = shown.size();
        position = shortcut == TabShortcut::Next ? (position + 1) % count
                                                 : (position + count - 1) % count;
        return shown[position];
    }
    }
    return std::nullopt;
}

namespace {

    constexpr std::array<double, 13> kZoomSteps
        = { 0.3, 0.5, 0.67, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0 };
    constexpr double kZoomTolerance = 0.001;

} // namespace

double zoomLevelIn(double current)
{
    for (double step : kZoomSteps) {
        if (step > current + kZoomTolerance)
            return step;
    }
    return kZoomSteps.back();
}

double zoomLevelOut(double current)
{
    for (auto it = kZoomSteps.rbegin(); it != kZoomSteps.rend(); ++it) {
        if (*it < current - kZoomTolerance)
            return *it;
    }
    return kZoomSteps.front();
}

void ClosedTabStack::push(ClosedTab tab)
{
    if (tab.url.empty() || m_capacity == 0)
        return;
    m_tabs.push_back(std::move(tab));
    while (m_tabs.size() > m_capacity)
        m_tabs.pop_front();
}

void ClosedTabStack::removeTabsOfProfile(const std::string& profileID)
{
    std::erase_if(m_tabs, [&](const ClosedTab& tab) { return tab.profileID == profileID; });
}

std::optional<ClosedTab> ClosedTabStack::pop()
{
    if (m_tabs.empty())
        return std::nullopt;
    ClosedTab tab = std::move(m_tabs.back());
    m_tabs.pop_back();
    return tab;
}

} // namespace qv

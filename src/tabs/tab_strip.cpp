// The tab strip's operations: refreshing it after every tab change and moving tabs by drag.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "tabs/tab_model.h"
#include "tabs/tab_strip_view.h"

namespace qv {

TabStripView* BrowserController::tabStrip() const
{
    return m_window ? &m_window->tabStrip() : nullptr;
}

void BrowserController::refreshTabBar()
{
    TabStripView* strip = tabStrip();
    if (!strip)
        return;
    strip->rebuild();
    saveTabsSnapshot();
    activityTableDidChange();
}

bool BrowserController::tabInsertionAtWindowPoint(double x, double y, TabID* targetID, bool* after,
    double* markerX)
{
    TabStripView* strip = tabStrip();
    return strip && strip->insertionAtWindowPoint(x, y, targetID, after, markerX);
}

void BrowserController::moveBrowserTabWithID(const TabID& moving, const TabID& target, bool after)
{
    std::vector<TabKey> keys;
    keys.reserve(m_browserTabs.size());
    for (const auto& tab : m_browserTabs)
        keys.push_back({ tab.id, tab.profileID });
    auto order = reorderedTabIndices(keys, currentProfile(), moving, target, after);
    if (!order)
        return;
    std::vector<BrowserTab> reordered;
    reordered.reserve(m_browserTabs.size());
    for (size_t index : *order)
        reordered.push_back(std::move(m_browserTabs[index]));
    m_browserTabs = std::move(reordered);
    refreshTabBar();
}

void BrowserController::moveBrowserTabWithIDToWindowPoint(const TabID& moving, double x, double y)
{
    TabID target;
    bool after = false;
    bool found = tabInsertionAtWindowPoint(x, y, &target, &after, nullptr);
    clearTabDropIndicator();
    if (found && !target.empty())
        moveBrowserTabWithID(moving, target, after);
}

void BrowserController::updateTabDropIndicatorAtWindowPoint(double x, double y)
{
    if (TabStripView* strip = tabStrip())
        strip->updateDropIndicatorAtWindowPoint(x, y);
}

void BrowserController::clearTabDropIndicator()
{
    if (TabStripView* strip = tabStrip())
        strip->clearDropIndicator();
}

void BrowserController::finishTabDropIndicatorFade()
{
    if (TabStripView* strip = tabStrip())
        strip->finishDropIndicatorFade();
}

} // namespace qv

// The tab strip's operations: moving tabs by drag and the drop marker.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "tabs/tab_model.h"
#include "tabs/tab_strip_view.h"

namespace qv {

TabStripView* BrowserController::tabStrip() const
{
    return m_window ? &m_window->tabStrip() : nullptr;
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
    keys.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs)
        keys.push_back({ tab.id(), tab.profileID() });
    if (auto order = reorderedTabIndices(keys, m_profiles->currentProfile(), moving, target, after))
        m_tabs.reorder(*order);
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

} // namespace qv

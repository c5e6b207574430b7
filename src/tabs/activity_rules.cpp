// Activity window rows and button decisions.
#include "tabs/activity_rules.h"

#include "tabs/memory_pressure_rules.h"

#include "base/text_util.h"
#include "tabs/tab_model.h"

#include <algorithm>
#include <set>

namespace qv {

namespace {

    std::optional<size_t> tabRow(const std::vector<ActivityTab>& tabs, long row)
    {
        if (row < 0 || static_cast<size_t>(row) >= tabs.size())
            return std::nullopt;
        return static_cast<size_t>(row);
    }

    void markLazy(ActivityPlan& plan, const std::vector<ActivityTab>& tabs, size_t index, bool lazy,
        std::optional<size_t> selectedTab)
    {
        plan.setLazy.emplace_back(index, lazy);
        if (lazy && tabs[index].hasWebView && selectedTab != index)
            plan.unload.push_back(index);
    }

} // namespace

std::vector<ActivityRow> activityRows(
    const std::vector<ActivityTab>& tabs, const std::vector<BrowserProfile>& profiles)
{
    std::vector<ActivityRow> rows;
    rows.reserve(tabs.size());
    for (const auto& tab : tabs) {
        ActivityRow row;
        row.label = displaySafeTitle(tab.title);
        if (row.label.empty())
            row.label = !tab.url.empty() ? displaySafeTitle(tab.url) : std::string(kNewTabTitle);
        row.url = tab.url;
        std::string_view profileID = tab.profileID.empty() ? kBuiltInProfileID : tab.profileID;
        const BrowserProfile* profile = profileForID(profiles, profileID);
        row.profileName = profile ? profile->name : std::string(profileID);
        row.lazy = tab.lazy;
        row.toggleTitle = tab.lazy ? "Turn to Active" : "Turn to Lazy";
        row.toggleSymbol = tab.lazy ? "bolt.fill" : "moon.zzz.fill";
        if (tab.unloadedForMemory)
            row.note = kUnloadedForMemoryText;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<ActivityPlan> toggleActivityTabLazyPlan(
    const std::vector<ActivityTab>& tabs, long row, std::optional<size_t> selectedTab)
{
    auto index = tabRow(tabs, row);
    if (!index)
        return std::nullopt;
    ActivityPlan plan;
    markLazy(plan, tabs, *index, !tabs[*index].lazy, selectedTab);
    plan.refreshTabBar = true;
    plan.reloadTable = true;
    return plan;
}

std::optional<ActivityPlan> openActivityTabPlan(const std::vector<ActivityTab>& tabs, long row)
{
    auto index = tabRow(tabs, row);
    if (!index)
        return std::nullopt;
    ActivityPlan plan;
    plan.select = *index;
    plan.bringBrowserToFront = true;
    return plan;
}

std::optional<ActivityPlan> closeActivityTabPlan(const std::vector<ActivityTab>& tabs, long row)
{
    auto index = tabRow(tabs, row);
    if (!index)
        return std::nullopt;
    ActivityPlan plan;
    plan.close.push_back(*index);
    plan.reloadTable = true;
    return plan;
}

ActivityPlan setSelectedActivityTabsLazyPlan(const std::vector<ActivityTab>& tabs,
    const std::vector<size_t>& selectedRows, bool lazy, std::optional<size_t> selectedTab)
{
    std::set<size_t> rows(selectedRows.begin(), selectedRows.end());
    ActivityPlan plan;
    for (size_t index : rows)
        if (index < tabs.size())
            markLazy(plan, tabs, index, lazy, selectedTab);
    plan.refreshTabBar = true;
    plan.reloadTable = true;
    return plan;
}

std::optional<ActivityCloseRequest> closeSelectedActivityTabsRequest(
    const std::vector<ActivityTab>& tabs, const std::vector<size_t>& selectedRows)
{
    std::set<size_t> rows(selectedRows.begin(), selectedRows.end());
    ActivityCloseRequest request;
    for (size_t index : rows)
        if (index < tabs.size())
            request.tabIDs.push_back(tabs[index].id);
    if (request.tabIDs.empty())
        return std::nullopt;
    request.confirmation = { "Close " + std::to_string(request.tabIDs.size()) + " selected tab(s)?",
        "The selected tabs will close. Their current page state cannot be restored.",
        { "Close Selected Tabs", "Cancel" }, 0 };
    return request;
}

ActivityPlan confirmedActivityClosePlan(
    const std::vector<ActivityTab>& tabs, const std::vector<std::string>& tabIDs)
{
    std::set<std::string> wanted(tabIDs.begin(), tabIDs.end());
    ActivityPlan plan;
    for (size_t i = tabs.size(); i-- > 0;)
        if (wanted.count(tabs[i].id))
            plan.close.push_back(i);
    plan.reloadTable = true;
    return plan;
}

} // namespace qv

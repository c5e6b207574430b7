// What the activity window shows and what its buttons do, decided over a plain view of the tabs.
#pragma once

#include "base/confirmation.h"
#include "profiles/profile_model.h"

#include <optional>
#include <string>
#include <vector>

namespace qv {

// What the activity rules need of one entry of browserTabs.
struct ActivityTab {
    std::string id;
    std::string url;
    std::string title;
    std::string profileID;
    bool lazy = false;
    bool hasWebView = false;
    bool unloadedForMemory = false;
};

// One row of the activity table, for the tab at the same index.
struct ActivityRow {
    std::string label; // the title, else the address, else "New Tab"
    std::string url;
    std::string profileName;
    bool lazy = false;
    std::string toggleTitle; // "Turn to Active" for a lazy tab, else "Turn to Lazy"
    std::string toggleSymbol; // the icon name shown before toggleTitle
    std::string note; // "Unloaded to save memory" for a tab memory pressure made lazy, else ""
};

std::vector<ActivityRow> activityRows(
    const std::vector<ActivityTab>& tabs, const std::vector<BrowserProfile>& profiles);

// What one button press changes, in this order: lazy flags, unloads, closes (already from the
// highest index to the lowest), selection; then the strip and the table are refreshed as asked.
struct ActivityPlan {
    std::vector<std::pair<size_t, bool>> setLazy;
    std::vector<size_t> unload;
    std::vector<size_t> close;
    std::optional<size_t> select;
    bool refreshTabBar = false;
    bool reloadTable = false;
    bool bringBrowserToFront = false;
};

// The per-row buttons; nothing for a row that is not a tab (a stale or negative tag).
// selectedTab is the index of the tab whose web view is on screen, if any.
std::optional<ActivityPlan> toggleActivityTabLazyPlan(
    const std::vector<ActivityTab>& tabs, long row, std::optional<size_t> selectedTab);
std::optional<ActivityPlan> openActivityTabPlan(const std::vector<ActivityTab>& tabs, long row);
std::optional<ActivityPlan> closeActivityTabPlan(const std::vector<ActivityTab>& tabs, long row);

// "Make Selected Lazy" (lazy true) and "Make Selected Active": rows past the end are skipped;
// the on-screen tab keeps its page and making a tab active never loads it.
ActivityPlan setSelectedActivityTabsLazyPlan(const std::vector<ActivityTab>& tabs,
    const std::vector<size_t>& selectedRows, bool lazy, std::optional<size_t> selectedTab);

// "Close Selected" asks first. The request remembers which tabs were selected by ID, because
// the table may be rebuilt while the alert is open and rows then name other tabs.
struct ActivityCloseRequest {
    Confirmation confirmation;
    std::vector<std::string> tabIDs;
};

// Nothing without a selected row that is a tab.
std::optional<ActivityCloseRequest> closeSelectedActivityTabsRequest(
    const std::vector<ActivityTab>& tabs, const std::vector<size_t>& selectedRows);

// After "Close Selected Tabs": the current indices of the remembered tabs that are still open,
// highest first, so each close leaves the indices still to be closed valid.
ActivityPlan confirmedActivityClosePlan(
    const std::vector<ActivityTab>& tabs, const std::vector<std::string>& tabIDs);

} // namespace qv

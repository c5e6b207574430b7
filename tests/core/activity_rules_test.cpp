// Activity window: rows over every profile's tabs and what each button does.
#include "tabs/activity_rules.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

    // Tab 0 is on screen; tab 2 is unloaded.
    std::vector<ActivityTab> sampleTabs()
    {
        return {
            { "T0", "https://a.test/", "A", "default", false, true },
            { "T1", "https://b.test/", "", "P", false, true },
            { "T2", "", "", "P", true, false },
            { "T3", "https://d.test/", "D", "default", true, true },
        };
    }

    std::vector<BrowserProfile> sampleProfiles()
    {
        BrowserProfile other = makeNewProfile();
        other.id = "P";
        other.name = "Work";
        return { builtInProfile(), other };
    }

} // namespace

TEST(ActivityRows, ListEveryProfileWithFallbackLabels)
{
    auto rows = activityRows(sampleTabs(), sampleProfiles());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].label, "A");
    EXPECT_EQ(rows[1].label, "https://b.test/");
    EXPECT_EQ(rows[2].label, "New Tab");
    EXPECT_EQ(rows[0].profileName, "Default");
    EXPECT_EQ(rows[1].profileName, "Work");
    EXPECT_EQ(rows[2].toggleTitle, "Turn to Active");
    EXPECT_EQ(rows[1].toggleTitle, "Turn to Lazy");

    auto spoofed = activityRows(
        { { "T4", "https://e.test/", "e.example \u202Egnp.exe", "default", false, true } },
        sampleProfiles());
    EXPECT_EQ(spoofed.front().label, "e.example gnp.exe");
}

struct SetLazyCase {
    const char* name;
    std::vector<size_t> selected;
    bool lazy;
    std::vector<std::pair<size_t, bool>> setLazy;
    std::vector<size_t> unload;
};

class ActivitySetSelected : public testing::TestWithParam<SetLazyCase> { };

TEST_P(ActivitySetSelected, ChangesFlagsAndUnloadsOnlyHiddenLoadedTabs)
{
    const auto& c = GetParam();
    auto plan = setSelectedActivityTabsLazyPlan(sampleTabs(), c.selected, c.lazy, 0);
    EXPECT_EQ(plan.setLazy, c.setLazy) << c.name;
    EXPECT_EQ(plan.unload, c.unload) << c.name;
    EXPECT_TRUE(plan.close.empty());
    EXPECT_TRUE(plan.refreshTabBar && plan.reloadTable) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Selections, ActivitySetSelected,
    testing::Values(SetLazyCase { "lazy keeps the on-screen page", { 3, 1, 0, 9 }, true,
                        { { 0, true }, { 1, true }, { 3, true } }, { 1, 3 } },
        SetLazyCase { "unloaded tab has nothing to unload", { 2 }, true, { { 2, true } }, {} },
        SetLazyCase { "active never loads", { 2, 3 }, false, { { 2, false }, { 3, false } }, {} },
        SetLazyCase { "nothing selected only refreshes", {}, true, {}, {} }));

struct RowCase {
    const char* name;
    long row;
    bool acted;
};

class ActivityRowButtons : public testing::TestWithParam<RowCase> { };

TEST_P(ActivityRowButtons, IgnoreTagsThatAreNoTab)
{
    const auto& c = GetParam();
    auto tabs = sampleTabs();
    EXPECT_EQ(toggleActivityTabLazyPlan(tabs, c.row, 0).has_value(), c.acted) << c.name;
    EXPECT_EQ(openActivityTabPlan(tabs, c.row).has_value(), c.acted) << c.name;
    EXPECT_EQ(closeActivityTabPlan(tabs, c.row).has_value(), c.acted) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Tags, ActivityRowButtons,
    testing::Values(RowCase { "first", 0, true }, RowCase { "last", 3, true },
        RowCase { "negative", -1, false }, RowCase { "stale", 4, false }));

TEST(ActivityRowActions, ToggleUnloadsOnlyWhenTurningLazyOffScreen)
{
    auto tabs = sampleTabs();
    auto hidden = toggleActivityTabLazyPlan(tabs, 1, 0);
    EXPECT_EQ(hidden->setLazy, (std::vector<std::pair<size_t, bool>> { { 1, true } }));
    EXPECT_EQ(hidden->unload, std::vector<size_t> { 1 });
    auto onScreen = toggleActivityTabLazyPlan(tabs, 0, 0);
    EXPECT_TRUE(onScreen->unload.empty());
    auto waking = toggleActivityTabLazyPlan(tabs, 3, 0);
    EXPECT_EQ(waking->setLazy, (std::vector<std::pair<size_t, bool>> { { 3, false } }));
    EXPECT_TRUE(waking->unload.empty());
    auto open = openActivityTabPlan(tabs, 1);
    EXPECT_EQ(open->select, 1u);
    EXPECT_TRUE(open->bringBrowserToFront);
}

TEST(ActivityCloseSelected, ClosesTheConfirmedTabsEvenAfterTheListChanged)
{
    auto tabs = sampleTabs();
    auto request = closeSelectedActivityTabsRequest(tabs, { 1, 3, 7 });
    ASSERT_TRUE(request);
    EXPECT_EQ(request->confirmation.message, "Close 2 selected tab(s)?");
    EXPECT_TRUE(request->confirmation.confirmedBy(0));

    // While the alert was open, tab 0 closed and a new tab opened at the end.
    tabs.erase(tabs.begin());
    tabs.push_back({ "T4", "", "", "default", false, true });
    auto plan = confirmedActivityClosePlan(tabs, request->tabIDs);
    EXPECT_EQ(plan.close, (std::vector<size_t> { 2, 0 })); // T3 and T1, highest first
    EXPECT_TRUE(plan.reloadTable);

    EXPECT_FALSE(closeSelectedActivityTabsRequest(tabs, {}));
    EXPECT_FALSE(closeSelectedActivityTabsRequest(tabs, { 12 }));
}

} // namespace qv

// Which background tabs give up their views when memory runs low, and the limit that decides it.
#include "tabs/activity_rules.h"
#include "tabs/memory_pressure_rules.h"

#include <gtest/gtest.h>

namespace qv {

TEST(MemoryPressureRules, UnloadsTheLeastRecentlyShownBackgroundTabsThatMayGo)
{
    using T = MemoryPressureTab;
    const T plain { false, true, false, false, false, 0 };
    struct Case {
        const char* name;
        std::vector<T> tabs;
        std::vector<std::size_t> unloaded;
    };
    const std::vector<Case> cases {
        { "nothing open", {}, {} },
        { "the selected tab stays", { { true, true, false, false, false, 0 } }, {} },
        { "a tab already without a view", { { false, false, false, false, false, 0 } }, {} },
        { "a tab playing audio", { { false, true, true, false, false, 0 } }, {} },
        { "a tab downloading", { { false, true, false, true, false, 0 } }, {} },
        { "a tab holding unsent form text", { { false, true, false, false, true, 0 } }, {} },
        { "one background tab goes", { plain, { true, true, false, false, false, 9 } }, { 0 } },
        // Eight that may go: a quarter of them, least recently shown first.
        { "a quarter, oldest first",
            { { false, true, false, false, false, 50 }, { false, true, false, false, false, 10 },
                { false, true, false, false, false, 70 }, { false, true, false, false, false, 20 },
                { false, true, false, false, false, 80 }, { false, true, false, false, false, 60 },
                { false, true, false, false, false, 40 }, { false, true, false, false, false, 30 },
                { true, true, false, false, false, 0 } },
            { 1, 3 } },
        { "the old ones that may not go are passed over",
            { { false, true, true, false, false, 1 }, { false, true, false, true, false, 2 },
                { false, true, false, false, true, 3 }, { false, true, false, false, false, 4 },
                { true, true, false, false, false, 5 } },
            { 3 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(tabsToUnloadForMemory(c.tabs), c.unloaded) << c.name;
}

TEST(MemoryPressureRules, TheLimitIsTheUsersOrHalfTheMachineAtLeastOneGiB)
{
    constexpr std::uint64_t GiB = 1024 * 1024;
    EXPECT_EQ(tabMemoryLimitKiB(512, 16 * GiB), 512u * 1024);
    EXPECT_EQ(tabMemoryLimitKiB(std::nullopt, 16 * GiB), 8 * GiB);
    EXPECT_EQ(tabMemoryLimitKiB(0, 16 * GiB), 8 * GiB);
    EXPECT_EQ(tabMemoryLimitKiB(-5, 16 * GiB), 8 * GiB);
    EXPECT_EQ(tabMemoryLimitKiB(std::nullopt, GiB), GiB);
    EXPECT_EQ(tabMemoryLimitKiB(std::nullopt, std::nullopt), GiB);
}

TEST(MemoryPressureRules, TheActivityWindowNamesTabsUnloadedForMemory)
{
    ActivityTab unloaded { "1", "https://a.test/", "A", "", true, false, true };
    ActivityTab lazy { "2", "https://b.test/", "B", "", true, false, false };
    auto rows = activityRows({ unloaded, lazy }, {});
    EXPECT_EQ(rows[0].note, "Unloaded to save memory");
    EXPECT_EQ(rows[1].note, "");
}

} // namespace qv

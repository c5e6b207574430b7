// Tab shortcuts: which tab they select, zoom steps and the stack of closed tabs.
#include "tabs/tab_shortcut_rules.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

    // Tabs 0, 2, 3 and 5 belong to the current profile "p".
    const std::vector<std::string> kTabs = { "p", "q", "p", "p", "q", "p" };

} // namespace

struct ShortcutCase {
    std::optional<size_t> selected;
    TabShortcut shortcut;
    size_t number;
    std::optional<size_t> expected;
};

class TabShortcutSelection : public ::testing::TestWithParam<ShortcutCase> { };

TEST_P(TabShortcutSelection, PicksAmongTheCurrentProfilesTabs)
{
    const auto& c = GetParam();
    EXPECT_EQ(tabIndexForShortcut(kTabs, "p", c.selected, c.shortcut, c.number), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TabShortcutSelection,
    ::testing::Values(ShortcutCase { 0, TabShortcut::Next, 0, 2 },
        ShortcutCase { 3, TabShortcut::Next, 0, 5 }, ShortcutCase { 5, TabShortcut::Next, 0, 0 },
        ShortcutCase { 0, TabShortcut::Previous, 0, 5 },
        ShortcutCase { 5, TabShortcut::Previous, 0, 3 },
        ShortcutCase { std::nullopt, TabShortcut::Next, 0, 0 },
        ShortcutCase { 1, TabShortcut::Previous, 0, 5 },
        ShortcutCase { 0, TabShortcut::Number, 1, 0 },
        ShortcutCase { 0, TabShortcut::Number, 3, 3 },
        ShortcutCase { 0, TabShortcut::Number, 4, 5 },
        ShortcutCase { 0, TabShortcut::Number, 5, std::nullopt },
        ShortcutCase { 0, TabShortcut::Number, 0, std::nullopt },
        ShortcutCase { 0, TabShortcut::Last, 0, 5 }));

TEST(TabShortcutSelection, NothingWhenTheProfileHasNoTab)
{
    EXPECT_EQ(tabIndexForShortcut(kTabs, "r", 0, TabShortcut::Next), std::nullopt);
    EXPECT_EQ(tabIndexForShortcut({}, "p", std::nullopt, TabShortcut::Last), std::nullopt);
}

TEST(ZoomSteps, StepThroughTheLevelsAndStopAtTheEnds)
{
    EXPECT_DOUBLE_EQ(zoomLevelIn(1.0), 1.1);
    EXPECT_DOUBLE_EQ(zoomLevelOut(1.0), 0.9);
    EXPECT_DOUBLE_EQ(zoomLevelIn(1.05), 1.1);
    EXPECT_DOUBLE_EQ(zoomLevelOut(1.05), 1.0);
    EXPECT_DOUBLE_EQ(zoomLevelOut(zoomLevelIn(1.0)), 1.0);
    EXPECT_DOUBLE_EQ(zoomLevelIn(3.0), 3.0);
    EXPECT_DOUBLE_EQ(zoomLevelOut(0.3), 0.3);
    EXPECT_DOUBLE_EQ(zoomLevelIn(9.0), 3.0);
}

TEST(ClosedTabs, NewestFirstOldestDroppedWhenFull)
{
    ClosedTabStack stack(2);
    stack.push({ "http://a/", "default" });
    stack.push({ "", "default" });
    stack.push({ "http://b/", "X" });
    stack.push({ "http://c/", "default" });
    ASSERT_EQ(stack.size(), 2u);
    EXPECT_EQ(stack.pop()->url, "http://c/");
    auto b = stack.pop();
    EXPECT_EQ(b->url, "http://b/");
    EXPECT_EQ(b->profileID, "X");
    EXPECT_FALSE(stack.pop().has_value());
}

} // namespace qv

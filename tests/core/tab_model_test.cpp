// Tab list rules: reordering within a profile, drop places and the snapshot format.
#include "base/json_text.h"
#include "tabs/tab_model.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

std::vector<std::string> reorderedIDs(const std::vector<TabKey>& tabs, const std::vector<size_t>& order)
{
    std::vector<std::string> ids;
    for (size_t i : order)
        ids.push_back(tabs[i].id);
    return ids;
}

const std::vector<TabKey> kABC = { { "A", "default" }, { "B", "default" }, { "C", "default" } };

} // namespace

struct MoveCase {
    const char* moving;
    const char* target;
    bool after;
    std::vector<std::string> expected;
};

class TabReorder : public ::testing::TestWithParam<MoveCase> { };

TEST_P(TabReorder, MovesToTheDocumentedPosition)
{
    const auto& c = GetParam();
    auto order = reorderedTabIndices(kABC, "default", c.moving, c.target, c.after);
    ASSERT_TRUE(order.has_value());
    EXPECT_EQ(reorderedIDs(kABC, *order), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TabReorder,
    ::testing::Values(MoveCase { "A", "C", false, { "B", "A", "C" } },
        MoveCase { "A", "B", false, { "A", "B", "C" } }, MoveCase { "A", "C", true, { "B", "C", "A" } },
        MoveCase { "C", "A", false, { "C", "A", "B" } }, MoveCase { "B", "A", true, { "A", "B", "C" } },
        MoveCase { "C", "B", false, { "A", "C", "B" } }));

TEST(TabReorderRules, OtherProfilesKeepTheirSlots)
{
    std::vector<TabKey> tabs = { { "A", "p" }, { "X", "q" }, { "B", "p" }, { "Y", "q" }, { "C", "p" } };
    auto order = reorderedTabIndices(tabs, "p", "C", "A", false);
    ASSERT_TRUE(order.has_value());
    EXPECT_EQ(reorderedIDs(tabs, *order), (std::vector<std::string> { "C", "X", "A", "Y", "B" }));
}

TEST(TabReorderRules, NothingMovesForEmptySameOrForeignIDs)
{
    std::vector<TabKey> tabs = { { "A", "p" }, { "X", "q" } };
    EXPECT_FALSE(reorderedTabIndices(tabs, "p", "", "A", false));
    EXPECT_FALSE(reorderedTabIndices(tabs, "p", "A", "A", false));
    EXPECT_FALSE(reorderedTabIndices(tabs, "p", "A", "X", false));
    EXPECT_FALSE(reorderedTabIndices(tabs, "p", "Z", "A", true));
}

TEST(TabCloseRules, ReplacementIsTheFollowingTabOrTheNewLast)
{
    EXPECT_EQ(replacementIndexAfterClose(0, 2), 0u);
    EXPECT_EQ(replacementIndexAfterClose(2, 2), 1u);
    EXPECT_EQ(replacementIndexAfterClose(1, 2), 1u);
    EXPECT_EQ(replacementIndexAfterClose(5, 1), 0u);
}

TEST(TabDropRules, InsertionUsesItemMidpoints)
{
    std::vector<TabItemFrame> items = { { "A", 14, 100 }, { "B", 122, 100 }, { "C", 230, 100 } };
    auto first = tabInsertionAt(items, 20);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->targetID, "A");
    EXPECT_FALSE(first->after);
    EXPECT_EQ(first->markerX, 14);
    auto middle = tabInsertionAt(items, 200); // right of B's midpoint, left of C's
    EXPECT_EQ(middle->targetID, "C");
    EXPECT_FALSE(middle->after);
    auto last = tabInsertionAt(items, 300);
    EXPECT_EQ(last->targetID, "C");
    EXPECT_TRUE(last->after);
    EXPECT_EQ(last->markerX, 330);
    EXPECT_FALSE(tabInsertionAt({}, 10));
}

TEST(TabDropRules, MarkerHeightStaysWithinZeroAndThirty)
{
    EXPECT_EQ(dropMarkerHeight(46), 30);
    EXPECT_EQ(dropMarkerHeight(30), 22);
    EXPECT_EQ(dropMarkerHeight(4), 0);
    EXPECT_EQ(dropMarkerHeight(400), 30);
}

TEST(TabDropRules, GapIndexAccountsForTheGapItself)
{
    EXPECT_EQ(dropGapIndex(std::nullopt, 2, false, 5), 2u);
    EXPECT_EQ(dropGapIndex(std::nullopt, 2, true, 5), 3u);
    EXPECT_EQ(dropGapIndex(1, 2, true, 5), 2u);
    EXPECT_EQ(dropGapIndex(4, 2, false, 5), 2u);
    EXPECT_EQ(dropGapIndex(std::nullopt, 4, true, 5), 5u);
    EXPECT_EQ(dropGapIndex(std::nullopt, 9, true, 5), 5u);
}

TEST(TabStripRange, MakesOnlyItemsNearTheVisibleStretchOnceTheyOverflow)
{
    const double step = kStripItemWidth + kStripItemSpacing;
    struct Case {
        size_t count;
        double offset, visible;
        bool fixed;
        size_t first, end;
    } cases[] = {
        { 0, 0, 1000, false, 0, 0 },
        { 4, 0, 4 * step - kStripItemSpacing, false, 0, 4 }, // fits exactly
        { 5, 0, 4 * step, true, 0, 5 }, // one too many
        { 500, 0, 1000, true, 0, 8 },
        { 500, 100 * step, 1000, true, 97, 108 },
        { 500, 499 * step, 1000, true, 496, 500 }, // scrolled to the end
        { 500, 1e9, 1000, true, 499, 500 }, // an offset past the end still makes the last
        { 500, 0, 0, true, 0, 1 }, // nothing visible yet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " items at " << c.offset << " in " << c.visible);
        StripRange range = stripItemRange(c.count, c.offset, c.visible);
        EXPECT_EQ(range.fixedWidth, c.fixed);
        EXPECT_EQ(range.first, c.first);
        EXPECT_EQ(range.end, c.end);
    }
    EXPECT_EQ(stripItemOffset(3), 3 * step);
}

TEST(TabSnapshot, HoldsExactlySixTypedMembersWithFallbacks)
{
    std::vector<TabSnapshotEntry> tabs = {
        { "ID1", "http://a/", "A", "default", false, true },
        { "ID2", "", "", "", true, false },
    };
    auto parsed = parseJson(tabsSnapshotJson(tabs));
    ASSERT_TRUE(parsed && parsed->is_array());
    ASSERT_EQ(parsed->size(), 2u);
    for (const auto& entry : *parsed)
        EXPECT_EQ(entry.size(), 6u);
    EXPECT_EQ((*parsed)[0]["active"], true);
    EXPECT_EQ((*parsed)[1]["title"], "New Tab");
    EXPECT_EQ((*parsed)[1]["profileID"], "default");
    EXPECT_EQ((*parsed)[1]["lazy"], true);
    EXPECT_EQ((*parsed)[1]["url"], "");
    // Pretty-printed: one member per line.
    EXPECT_NE(tabsSnapshotJson(tabs).find("\n    "), std::string::npos);
}

TEST(TabTitles, EmptyTitleShowsNewTab)
{
    EXPECT_EQ(displayedTabTitle(""), "New Tab");
    EXPECT_EQ(displayedTabTitle("News"), "News");
    // The chrome shows a title without the characters that would disguise it.
    EXPECT_EQ(displayedTabTitle("a.example \u202Egnp.exe"), "a.example gnp.exe");
    EXPECT_EQ(displayedTabTitle("\u202E\u2066"), "New Tab");
    EXPECT_EQ(browserWindowTitle("a.example \u202Egnp.exe"), "a.example gnp.exe");
    EXPECT_EQ(browserWindowTitle("\u200F"), "Quivel Browser");
}

} // namespace qv

// History window: row order and texts, reopening a selection, confirmations.
#include "history/history_window_rules.h"

#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

    std::deque<HistoryEntry> visits(size_t count)
    {
        std::deque<HistoryEntry> entries;
        for (size_t i = 0; i < count; ++i)
            entries.push_back({ "https://site" + std::to_string(i) + ".test/",
                i % 2 ? "" : "Page " + std::to_string(i),
                "2026-01-0" + std::to_string(i + 1) + "T00:00:00Z", "2026", "Jan",
                std::to_string(i + 1), 0 });
        return entries;
    }

} // namespace

TEST(HistoryRows, ListNewestFirstWithReadableTimes)
{
    test::TempDir dir;
    Json day = Json::array({ { { "url", "https://old.test/" }, { "time", "2026-03-01T08:00:00Z" } },
        { { "url", "https://new.test/" }, { "title", "New" },
            { "time", "2026-12-06T22:22:48Z" } } });
    Json other
        = Json::array({ { { "url", "https://mid.test/" }, { "time", "2026-06-15T12:30:00Z" } } });
    Json root = { { "years",
        { { "2026", { { "Mar", { { "1", day } } }, { "Jun", { { "15", other } } } } } } } };
    ASSERT_TRUE(writeFileAtomically(dir / "history.json", root.dump()));
    FileWriter writer;
    HistoryStore store(dir / "history.json", writer);
    ASSERT_TRUE(store.load());

    auto rows = historyRows(store.entries());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].url, "https://new.test/");
    EXPECT_EQ(rows[0].title, "New");
    EXPECT_EQ(rows[0].visited, "2026-12-06 22:22:48 UTC");
    EXPECT_EQ(rows[1].url, "https://mid.test/");
    EXPECT_EQ(rows[2].url, "https://old.test/");
    EXPECT_EQ(rows[2].title, "");
}

struct ReopenCase {
    std::vector<size_t> selected;
    HistoryReopenMode mode;
    std::vector<std::string> urls;
    std::vector<std::string> titles;
};

class HistoryReopen : public testing::TestWithParam<ReopenCase> { };

TEST_P(HistoryReopen, ModeFollowsTheSelectionSize)
{
    const auto& c = GetParam();
    auto plan = historyReopenPlan(visits(6), c.selected);
    EXPECT_EQ(plan.mode, c.mode);
    std::vector<std::string> urls, titles;
    for (const auto& visit : plan.visits) {
        urls.push_back(visit.url);
        titles.push_back(visit.title);
    }
    EXPECT_EQ(urls, c.urls);
    if (c.mode == HistoryReopenMode::LazyTabs) {
        EXPECT_EQ(titles, c.titles);
    }
    EXPECT_EQ(plan.bringBrowserToFront, c.mode != HistoryReopenMode::Nothing);
}

INSTANTIATE_TEST_SUITE_P(Counts, HistoryReopen,
    testing::Values(ReopenCase { {}, HistoryReopenMode::Nothing, {}, {} },
        ReopenCase { { 2 }, HistoryReopenMode::CurrentTab, { "https://site2.test/" }, {} },
        ReopenCase { { 9 }, HistoryReopenMode::Nothing, {}, {} },
        ReopenCase { { 4, 0, 2 }, HistoryReopenMode::NewTabs,
            { "https://site0.test/", "https://site2.test/", "https://site4.test/" }, {} },
        // Three selected rows keep loading tabs even when one is past the end.
        ReopenCase { { 0, 1, 40 }, HistoryReopenMode::NewTabs,
            { "https://site0.test/", "https://site1.test/" }, {} },
        ReopenCase { { 0, 1, 2, 3, 4 }, HistoryReopenMode::LazyTabs,
            { "https://site0.test/", "https://site1.test/", "https://site2.test/",
                "https://site3.test/", "https://site4.test/" },
            { "Page 0", "https://site1.test/", "Page 2", "https://site3.test/", "Page 4" } }));

TEST(HistoryReopenRules, VisitsWithoutAnAddressAreSkipped)
{
    auto entries = visits(5);
    entries[1].url.clear();
    auto plan = historyReopenPlan(entries, { 0, 1, 2, 3 });
    EXPECT_EQ(plan.mode, HistoryReopenMode::LazyTabs);
    ASSERT_EQ(plan.visits.size(), 3u);
    EXPECT_EQ(plan.visits[1].url, "https://site2.test/");
}

TEST(HistoryConfirmations, ClearDefaultsToCancelAndDeleteToDelete)
{
    auto clear = clearHistoryDecision(false, "/data/history.json");
    ASSERT_EQ(clear.kind, HistoryActionKind::Confirm);
    EXPECT_EQ(clear.confirmation.informativeText, "/data/history.json");
    EXPECT_FALSE(clear.confirmation.confirmedBy(0)); // Return picks the first button
    EXPECT_TRUE(clear.confirmation.confirmedBy(1));

    auto remove = deleteHistoryDecision(false, 3);
    ASSERT_EQ(remove.kind, HistoryActionKind::Confirm);
    EXPECT_EQ(remove.confirmation.message, "Delete 3 selected history item(s)?");
    EXPECT_TRUE(remove.confirmation.confirmedBy(0));
}

TEST(HistoryConfirmations, ReadOnlyRefusesBothButNoSelectionDoesNothing)
{
    EXPECT_EQ(clearHistoryDecision(true, "h").kind, HistoryActionKind::Refuse);
    EXPECT_EQ(clearHistoryDecision(true, "h").refusal, kHistoryReadOnlyMessage);
    EXPECT_EQ(deleteHistoryDecision(true, 2).kind, HistoryActionKind::Refuse);
    EXPECT_EQ(deleteHistoryDecision(true, 0).kind, HistoryActionKind::Ignore);
    EXPECT_EQ(deleteHistoryDecision(false, 0).kind, HistoryActionKind::Ignore);
}

} // namespace qv

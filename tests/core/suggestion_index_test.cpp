// Address-field suggestions: where typed text matches, how visits rank, tabs, completion.
#include "suggestions/suggestion_index.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::int64_t kDay = 86400;

std::vector<std::string> urlsOf(const std::vector<Suggestion>& rows)
{
    std::vector<std::string> urls;
    for (const Suggestion& row : rows) {
        if (row.kind != SuggestionKind::Search)
            urls.push_back(row.url);
    }
    return urls;
}

TEST(SuggestionIndex, RankingRules)
{
    struct Case {
        const char* rule;
        std::string text;
        std::string word;
        MatchPlace place;
    };
    const Case places[] = {
        { "host start", suggestionSearchText("https://www.Wikipedia.org/wiki/X", "Wiki"), "wiki", MatchPlace::HostStart },
        { "word start in the path", suggestionSearchText("https://example.org/wiki/x", ""), "wiki", MatchPlace::WordStart },
        { "word start in the title", suggestionSearchText("https://example.org/", "The Rust Book"), "rust", MatchPlace::WordStart },
        { "inside a word", suggestionSearchText("https://example.org/", "Trusted"), "rust", MatchPlace::Anywhere },
        { "a later word start beats an earlier inside match", suggestionSearchText("https://ab.org/xrust/rust", ""), "rust", MatchPlace::WordStart },
        { "no match", suggestionSearchText("https://example.org/", "Title"), "zebra", MatchPlace::None },
        { "the scheme is not searched", suggestionSearchText("https://example.org/", ""), "https", MatchPlace::None },
    };
    for (const Case& c : places)
        EXPECT_EQ(matchPlace(c.text, c.word), c.place) << c.rule;

    // Frecency: recency buckets times visits, a bookmark counting besides.
    EXPECT_DOUBLE_EQ(frecency(3, kNow - 1 * kDay, kNow, false), 300);
    EXPECT_DOUBLE_EQ(frecency(3, kNow - 10 * kDay, kNow, false), 210);
    EXPECT_DOUBLE_EQ(frecency(1, kNow - 400 * kDay, kNow, true), 10 + kBookmarkFrecency);
    EXPECT_DOUBLE_EQ(frecency(0, 0, kNow, true), kBookmarkFrecency);

    struct Ranking {
        const char* rule;
        std::string typed;
        std::vector<std::string> expected;
    };
    SuggestionIndex index;
    for (int i = 0; i < 5; ++i)
        index.addVisit("https://often.example/page", "Often Visited Page", kNow - kDay);
    index.addVisit("https://news.example/often", "Rare", kNow - kDay);
    index.addVisit("https://old.example/", "Page Often Old", kNow - 200 * kDay);
    index.addVisit("https://old.example/", "Page Often Old", kNow - 200 * kDay);
    index.addVisit("https://fresh.example/", "Page Often Fresh", kNow - kDay);
    index.addVisit("javascript:alert(1)", "often", kNow);
    index.setBookmarks({ { "https://kept.example/", "Often Kept" } });
    const Ranking rankings[] = {
        { "host start, then frecency among word starts", "often",
            { "https://often.example/page", "https://kept.example/", "https://news.example/often", "https://fresh.example/", "https://old.example/" } },
        { "every word must match", "page fresh", { "https://fresh.example/" } },
        { "a typed scheme and www are not searched", "https://www.fresh", { "https://fresh.example/" } },
        { "case does not matter", "OFTEN KEPT", { "https://kept.example/" } },
        { "nothing matches", "zzz", {} },
    };
    for (const Ranking& r : rankings) {
        SuggestionRequest request;
        request.typed = r.typed;
        request.now = kNow;
        std::vector<Suggestion> rows = index.suggest(request);
        EXPECT_EQ(urlsOf(rows), r.expected) << r.rule;
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().kind, SuggestionKind::Search) << r.rule;
        EXPECT_EQ(rows.back().title, r.typed);
    }
}

TEST(SuggestionIndex, TabsProfilesAndRemoval)
{
    SuggestionIndex index;
    index.addVisit("https://docs.example/a", "Docs A", kNow);
    index.addVisit("https://docs.example/b", "Docs B", kNow);
    SuggestionRequest request;
    request.typed = "docs";
    request.now = kNow;
    request.currentProfile = "me";
    request.selectedTab = "t0";
    request.tabs = { { "t0", "me", "https://docs.example/c", "Docs C" },
        { "t1", "me", "https://docs.example/a", "Docs A" },
        { "t2", "work", "https://docs.example/w", "Docs W" } };
    std::vector<Suggestion> rows = index.suggest(request);
    // The selected tab is not offered; a tab of this profile replaces its history row.
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].kind, SuggestionKind::SwitchToTab);
    EXPECT_EQ(rows[0].tabID, "t1");
    EXPECT_EQ(rows[1].kind, SuggestionKind::SwitchToTab);
    EXPECT_EQ(rows[1].profileID, "work");
    EXPECT_EQ(rows[2].url, "https://docs.example/b");

    request.onlyOwnTabs = true;
    rows = index.suggest(request);
    ASSERT_EQ(rows.size(), 2u) << "a private profile's typing reaches only its own tabs";
    EXPECT_EQ(rows[0].tabID, "t1");

    // Narrowing a word keeps finding what a full search finds, also after a change.
    request.onlyOwnTabs = false;
    request.tabs.clear();
    request.typed = "d";
    index.suggest(request);
    index.removeAddress("https://docs.example/a");
    request.typed = "do";
    EXPECT_EQ(urlsOf(index.suggest(request)), std::vector<std::string> { "https://docs.example/b" });
    index.removeVisit("https://docs.example/b");
    request.typed = "doc";
    EXPECT_TRUE(urlsOf(index.suggest(request)).empty());
    EXPECT_EQ(index.addressCount(), 0u);
}

TEST(SuggestionIndex, InlineCompletionOfVisitedHosts)
{
    SuggestionIndex index;
    index.addVisit("https://www.wikipedia.org/wiki/A", "A", kNow);
    index.addVisit("https://wikipedia.org/wiki/B", "B", kNow);
    index.addVisit("https://wikimedia.org/", "M", kNow);
    index.addVisit("file:///home/me/wiki.html", "F", kNow);
    struct Case {
        std::string typed;
        std::optional<std::string> rest;
    };
    const Case cases[] = {
        { "wik", "ipedia.org/" },
        { "WikiM", "edia.org/" },
        { "www.wiki", "pedia.org/" },
        { "wikipedia.org", "/" },
        { "wikipedia.org/", std::nullopt },
        { "wiki pedia", std::nullopt },
        { "home", std::nullopt },
        { "", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(index.inlineCompletion(c.typed, kNow), c.rest) << c.typed;
    index.clearVisits();
    EXPECT_EQ(index.inlineCompletion("wik", kNow), std::nullopt);
    EXPECT_EQ(secondsFromHistoryTime("2000-03-01T00:00:10Z"), 951868810);
    EXPECT_EQ(secondsFromHistoryTime("2000-03-01 00:00:10"), std::nullopt);
}

} // namespace
} // namespace qv

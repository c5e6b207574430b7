// What the address field offers while the user types: the visited addresses and bookmarks,
// ranked by how often and how recently they were visited and by where the typed text matches,
// the open tabs, and the completion of a visited host.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class SuggestionKind { SwitchToTab, Bookmark, History, Search };

// Where typed text is found in an address and title, from worst to best: anywhere, at the
// start of a word (after a character that is not a letter or digit), at the start of the host.
enum class MatchPlace { None, Anywhere, WordStart, HostStart };

// A typed word's place in a suggestion's text, which is the address without its scheme and a
// leading "www.", then the title. Compared without case for ASCII letters.
MatchPlace matchPlace(std::string_view text, std::string_view word);

// How much a match at that place multiplies an entry's frecency.
double matchPlaceWeight(MatchPlace place);

// How often and how recently an address was visited, as one number: the visits, counted by
// the age of the last one (within 4 days 100 each, 14 days 70, 31 days 50, 90 days 30, older
// 10), and a bookmark as worth kBookmarkFrecency besides.
inline constexpr double kBookmarkFrecency = 140;
double frecency(std::uint32_t visits, std::int64_t lastVisit, std::int64_t now, bool bookmarked);

// An open tab of any profile, as offered for switching to.
struct OpenTabCandidate {
    std::string tabID;
    std::string profileID;
    std::string url;
    std::string title;
};

struct Suggestion {
    SuggestionKind kind = SuggestionKind::History;
    std::string url;
    std::string title;
    // The tab and its profile, for SwitchToTab.
    std::string tabID;
    std::string profileID;
    double score = 0;
};

struct SuggestionRequest {
    std::string_view typed;
    std::vector<OpenTabCandidate> tabs;
    std::string currentProfile;
    // The tab being typed in, which is never offered to switch to.
    std::string selectedTab;
    // A private profile's typing reaches its own open tabs and nothing else.
    bool onlyOwnTabs = false;
    std::int64_t now = 0;
    // Rows before the search row, which always comes last.
    size_t limit = 8;
};

// A bookmark as the index knows it.
struct SuggestionBookmark {
    std::string url;
    std::string title;
};

// "2026-12-06T22:22:48Z" as seconds since 1970; nothing when the text is not such a time.
std::optional<std::int64_t> secondsFromHistoryTime(std::string_view time);

// The lower-case text an address and title are searched in: the address without scheme and
// leading "www.", a separator, the title.
std::string suggestionSearchText(std::string_view url, std::string_view title);

// The visited addresses and the bookmarks, one entry per address. Each is kept once, as the
// lower-case text it is searched in, with where its capital letters were and which scheme it
// had, so an address and title cost about their own length; all texts share one buffer, so a
// keystroke scans memory in order. Entries are also kept in order of the most their visits
// could be worth, so a search stops once no later entry can make the list, and a word that
// extends the previous one searches only what the previous one matched.
class SuggestionIndex {
public:
    SuggestionIndex();
    SuggestionIndex(SuggestionIndex&&) noexcept;
    SuggestionIndex& operator=(SuggestionIndex&&) noexcept;
    ~SuggestionIndex();

    // Only http, https and file addresses are kept; the title is the latest one seen.
    void addVisit(std::string_view url, std::string_view title, std::int64_t when);
    // One visit less; the address goes when neither visited nor bookmarked.
    void removeVisit(std::string_view url);
    // Every visit of the address.
    void removeAddress(std::string_view url);
    void clearVisits();
    void setBookmarks(const std::vector<SuggestionBookmark>& bookmarks);
    // After many visits added in a row (a history read): the order searches stop early in.
    void finishLoading();

    // The best rows for the typed text, then the search row (its url left for the caller).
    // An open tab's address is offered as the tab, not again as history or bookmark.
    std::vector<Suggestion> suggest(const SuggestionRequest& request) const;
    // The rest of the most frecent visited host that starts with the typed text, followed by
    // "/": "ipedia.org/" for "wik". Nothing for text with a space, "/" or ":".
    std::optional<std::string> inlineCompletion(std::string_view typed, std::int64_t now) const;

    size_t addressCount() const { return m_entries.size() - m_deadEntries; }
    // Bytes the index holds, for the memory budget.
    size_t memoryBytes() const;

private:
    struct Entry {
        std::uint32_t textOffset = 0; // the search text in m_text: address, separator, title
        std::uint32_t capsOffset = 0; // in m_caps
        std::uint32_t visits = 0;
        std::uint32_t lastVisit = 0; // seconds since 1970
        std::uint32_t orderPosition = 0; // in m_order
        std::uint16_t urlLength = 0; // in the search text, without the scheme
        std::uint16_t titleLength = 0;
        std::uint16_t capsCount = 0;
        std::uint8_t prefix = 0; // the scheme part, in m_prefixes
        bool bookmarked = false;
        bool dead = false;
    };
    struct HostVisits {
        std::uint32_t visits = 0;
        std::int64_t lastVisit = 0;
    };

    std::string urlOf(const Entry& entry) const;
    std::string titleOf(const Entry& entry) const;
    std::string_view textOf(const Entry& entry) const;
    bool sameURL(const Entry& entry, std::string_view prefix, std::string_view rest) const;
    std::optional<std::uint32_t> find(std::string_view url) const;
    std::optional<std::uint32_t> entryFor(std::string_view url, std::string_view title);
    // Writes the entry's text and capitals anew at the buffers' ends.
    void writeText(Entry& entry, std::string_view rest, std::string_view title);
    void forgetIfUnused(std::uint32_t id);
    void changeHost(std::string_view url, int visits, std::int64_t when);
    void compactIfSparse();
    // The most the entry's visits can be worth, whatever their age.
    static double ceiling(const Entry& entry);
    // Moves the entry to its place in m_order after its ceiling changed.
    void reorder(std::uint32_t id);
    void sortOrder();
    void insertSlot(std::uint32_t id);
    void eraseSlot(std::uint32_t id);
    void rehash(size_t slots);
    size_t slotHash(std::uint8_t prefix, std::string_view lowerRest) const;
    void changed() { ++m_generation; }

    std::vector<Entry> m_entries;
    std::string m_text;
    std::vector<std::uint16_t> m_caps;
    std::vector<std::string> m_prefixes;
    std::vector<std::uint32_t> m_order;
    bool m_orderReady = false;
    // Open addressing from address to entry.
    std::vector<std::uint32_t> m_slots;
    size_t m_usedSlots = 0;
    size_t m_deadEntries = 0;
    size_t m_wastedBytes = 0;
    std::map<std::string, HostVisits, std::less<>> m_hosts;
    std::uint64_t m_generation = 0;

    // The words last searched and the entries they matched, when the search saw them all.
    mutable std::uint64_t m_cachedGeneration = ~std::uint64_t(0);
    mutable std::vector<std::string> m_cachedWords;
    mutable std::vector<std::uint32_t> m_cachedMatches;
};

} // namespace qv

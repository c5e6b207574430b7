#include "suggestions/suggestion_index.h"

#include "base/url.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>

namespace qv {

namespace {

    // Between the address and the title in a search text: no typed word holds it.
    constexpr char kTitleSeparator = '\x1f';
    // Longer addresses and titles are not searched past this; a page cannot bloat the index.
    constexpr size_t kMaxIndexedURL = 2048;
    constexpr size_t kMaxIndexedTitle = 512;
    // An open tab ranks above a visited page with the same match.
    constexpr double kOpenTabFrecency = 200;

    char lowerASCII(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

    bool isWordCharacter(char c)
    {
        auto u = static_cast<unsigned char>(c);
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || u >= 0x80;
    }

    std::string lowered(std::string_view text)
    {
        std::string out(text);
        for (char& c : out)
            c = lowerASCII(c);
        return out;
    }

    // The address without "scheme://" (or "scheme:") and a leading "www.".
    std::string_view withoutSchemeAndWWW(std::string_view url)
    {
        if (size_t colon = url.find(':'); colon != std::string_view::npos && colon < 12) {
            bool scheme = colon > 0;
            for (size_t i = 0; i < colon && scheme; ++i)
                scheme = isWordCharacter(lowerASCII(url[i])) || url[i] == '+' || url[i] == '-' || url[i] == '.';
            if (scheme) {
                url.remove_prefix(colon + 1);
                while (!url.empty() && url.front() == '/')
                    url.remove_prefix(1);
            }
        }
        if (url.size() > 4 && lowerASCII(url[0]) == 'w' && lowerASCII(url[1]) == 'w'
            && lowerASCII(url[2]) == 'w' && url[3] == '.')
            url.remove_prefix(4);
        return url;
    }

    bool isSuggestedAddress(std::string_view url)
    {
        auto parts = parseURL(url);
        if (!parts)
            return false;
        return parts->scheme == "http" || parts->scheme == "https" || parts->scheme == "file";
    }

    // The host an address is completed to: lower case, without "www.".
    std::optional<std::string> completionHost(std::string_view url)
    {
        auto parts = parseURL(url);
        if (!parts || (parts->scheme != "http" && parts->scheme != "https") || parts->host.empty())
            return std::nullopt;
        std::string host = lowered(parts->host);
        if (host.rfind("www.", 0) == 0 && host.size() > 4)
            host.erase(0, 4);
        return host;
    }

    std::vector<std::string> typedWords(std::string_view typed)
    {
        std::string text = lowered(typed);
        std::string_view rest = text;
        // A typed scheme or "www." is not part of what is searched.
        if (rest.rfind("http://", 0) == 0 || rest.rfind("https://", 0) == 0 || rest.rfind("file://", 0) == 0)
            rest = withoutSchemeAndWWW(rest);
        else if (rest.rfind("www.", 0) == 0)
            rest.remove_prefix(4);
        std::vector<std::string> words;
        size_t at = 0;
        while (at < rest.size()) {
            size_t end = rest.find(' ', at);
            if (end == std::string_view::npos)
                end = rest.size();
            if (end > at)
                words.emplace_back(rest.substr(at, end - at));
            at = end + 1;
        }
        return words;
    }

    MatchPlace placeOfWords(std::string_view text, const std::vector<std::string>& words)
    {
        MatchPlace worst = MatchPlace::HostStart;
        for (const std::string& word : words) {
            MatchPlace place = matchPlace(text, word);
            if (place == MatchPlace::None)
                return MatchPlace::None;
            worst = std::min(worst, place);
        }
        return worst;
    }

    bool extendsWords(const std::vector<std::string>& now, const std::vector<std::string>& before)
    {
        if (before.empty() || now.size() < before.size())
            return false;
        for (size_t i = 0; i < before.size(); ++i) {
            if (now[i].rfind(before[i], 0) != 0)
                return false;
        }
        return true;
    }

    // Days since the epoch of a civil date (proleptic Gregorian).
    std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
    {
        using namespace std::chrono;
        return sys_days { year { static_cast<int>(y) } / month { m } / day { d } }.time_since_epoch().count();
    }

} // namespace

MatchPlace matchPlace(std::string_view text, std::string_view word)
{
    if (word.empty())
        return MatchPlace::HostStart;
    if (text.substr(0, word.size()) == word)
        return MatchPlace::HostStart;
    size_t at = text.find(word, 1);
    if (at == std::string_view::npos)
        return MatchPlace::None;
    for (size_t found = at; found != std::string_view::npos; found = text.find(word, found + 1)) {
        if (!isWordCharacter(text[found - 1]))
            return MatchPlace::WordStart;
    }
    return MatchPlace::Anywhere;
}

double matchPlaceWeight(MatchPlace place)
{
    switch (place) {
    case MatchPlace::HostStart:
        return 4;
    case MatchPlace::WordStart:
        return 2;
    case MatchPlace::Anywhere:
        return 1;
    case MatchPlace::None:
        break;
    }
    return 0;
}

double frecency(std::uint32_t visits, std::int64_t lastVisit, std::int64_t now, bool bookmarked)
{
    double score = bookmarked ? kBookmarkFrecency : 0;
    if (visits == 0)
        return score;
    std::int64_t days = (now - lastVisit) / 86400;
    double weight = days <= 4 ? 100 : days <= 14 ? 70 : days <= 31 ? 50 : days <= 90 ? 30 : 10;
    return score + weight * visits;
}

std::optional<std::int64_t> secondsFromHistoryTime(std::string_view time)
{
    // YYYY-MM-DDThh:mm:ssZ
    if (time.size() != 20 || time[4] != '-' || time[7] != '-' || time[10] != 'T' || time[13] != ':'
        || time[16] != ':' || time[19] != 'Z')
        return std::nullopt;
    auto number = [&](size_t at, size_t length) -> std::optional<unsigned> {
        unsigned value = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (time[i] < '0' || time[i] > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(time[i] - '0');
        }
        return value;
    };
    auto y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2),
         s = number(17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *mo < 1 || *mo > 12 || *d < 1 || *d > 31 || *h > 23
        || *mi > 59 || *s > 60)
        return std::nullopt;
    return daysFromCivil(*y, *mo, *d) * 86400 + *h * 3600 + *mi * 60 + *s;
}

std::string suggestionSearchText(std::string_view url, std::string_view title, size_t* hostLength)
{
    std::string_view address = withoutSchemeAndWWW(url.substr(0, kMaxIndexedURL));
    std::string text = lowered(address);
    if (hostLength)
        *hostLength = std::min(text.find_first_of("/?#"), text.size());
    text += kTitleSeparator;
    text += lowered(title.substr(0, kMaxIndexedTitle));
    return text;
}

// ---- The index --------------------------------------------------------------------------------

size_t SuggestionIndex::EntryHash::operator()(std::uint32_t id) const
{
    return (*this)(index->urlOf(index->m_entries[id]));
}

size_t SuggestionIndex::EntryHash::operator()(std::string_view url) const
{
    return std::hash<std::string_view> {}(url);
}

bool SuggestionIndex::EntryEqual::operator()(std::uint32_t a, std::uint32_t b) const
{
    return index->urlOf(index->m_entries[a]) == index->urlOf(index->m_entries[b]);
}

bool SuggestionIndex::EntryEqual::operator()(std::string_view url, std::uint32_t b) const
{
    return url == index->urlOf(index->m_entries[b]);
}

bool SuggestionIndex::EntryEqual::operator()(std::uint32_t a, std::string_view url) const
{
    return index->urlOf(index->m_entries[a]) == url;
}

SuggestionIndex::SuggestionIndex()
    : m_byURL(0, EntryHash { this }, EntryEqual { this })
{
}

SuggestionIndex::~SuggestionIndex() = default;

SuggestionIndex::SuggestionIndex(SuggestionIndex&& other) noexcept
    : m_byURL(0, EntryHash { this }, EntryEqual { this })
{
    *this = std::move(other);
}

SuggestionIndex& SuggestionIndex::operator=(SuggestionIndex&& other) noexcept
{
    if (this == &other)
        return *this;
    m_entries = std::move(other.m_entries);
    m_text = std::move(other.m_text);
    m_shown = std::move(other.m_shown);
    m_deadEntries = other.m_deadEntries;
    m_wastedBytes = other.m_wastedBytes;
    m_hosts = std::move(other.m_hosts);
    // The set's functions point at their index, so it is made again here.
    m_byURL = decltype(m_byURL)(other.m_byURL.bucket_count(), EntryHash { this }, EntryEqual { this });
    for (std::uint32_t id : other.m_byURL)
        m_byURL.insert(id);
    other.m_byURL.clear();
    changed();
    return *this;
}

std::string_view SuggestionIndex::urlOf(const Entry& entry) const
{
    return std::string_view(m_shown).substr(entry.shownOffset, entry.urlLength);
}

std::string_view SuggestionIndex::titleOf(const Entry& entry) const
{
    return std::string_view(m_shown).substr(entry.shownOffset + entry.urlLength, entry.titleLength);
}

std::string_view SuggestionIndex::textOf(const Entry& entry) const
{
    return std::string_view(m_text).substr(entry.textOffset, entry.textLength);
}

std::optional<std::uint32_t> SuggestionIndex::find(std::string_view url) const
{
    auto found = m_byURL.find(url);
    if (found == m_byURL.end())
        return std::nullopt;
    return *found;
}

std::uint32_t SuggestionIndex::entryFor(std::string_view url, std::string_view title)
{
    if (auto id = find(url)) {
        if (titleOf(m_entries[*id]) != title.substr(0, kMaxIndexedTitle) && !title.empty())
            retitle(*id, title);
        return *id;
    }
    title = title.substr(0, kMaxIndexedTitle);
    Entry entry;
    std::string text = suggestionSearchText(url, title);
    entry.textOffset = static_cast<std::uint32_t>(m_text.size());
    entry.textLength = static_cast<std::uint32_t>(text.size());
    m_text += text;
    entry.shownOffset = static_cast<std::uint32_t>(m_shown.size());
    entry.urlLength = static_cast<std::uint32_t>(url.size());
    entry.titleLength = static_cast<std::uint32_t>(title.size());
    m_shown.append(url).append(title);
    auto id = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back(entry);
    m_byURL.insert(id);
    return id;
}

void SuggestionIndex::retitle(std::uint32_t id, std::string_view title)
{
    // The old texts stay in the buffers until the next compaction.
    Entry& entry = m_entries[id];
    std::string url(urlOf(entry));
    title = title.substr(0, kMaxIndexedTitle);
    m_wastedBytes += entry.textLength + entry.urlLength + entry.titleLength;
    std::string text = suggestionSearchText(url, title);
    entry.textOffset = static_cast<std::uint32_t>(m_text.size());
    entry.textLength = static_cast<std::uint32_t>(text.size());
    m_text += text;
    entry.shownOffset = static_cast<std::uint32_t>(m_shown.size());
    entry.titleLength = static_cast<std::uint32_t>(title.size());
    m_shown.append(url).append(title);
}

void SuggestionIndex::addVisit(std::string_view url, std::string_view title, std::int64_t when)
{
    if (url.size() > kMaxIndexedURL || !isSuggestedAddress(url))
        return;
    std::uint32_t id = entryFor(url, title);
    Entry& entry = m_entries[id];
    if (entry.dead) {
        entry.dead = false;
        --m_deadEntries;
    }
    ++entry.visits;
    entry.lastVisit = std::max(entry.lastVisit, when);
    changeHost(url, 1, when);
    changed();
}

void SuggestionIndex::changeHost(std::string_view url, int visits, std::int64_t when)
{
    auto host = completionHost(url);
    if (!host)
        return;
    auto found = m_hosts.find(*host);
    if (visits > 0) {
        HostVisits& counted = found == m_hosts.end() ? m_hosts[*host] : found->second;
        counted.visits += static_cast<std::uint32_t>(visits);
        counted.lastVisit = std::max(counted.lastVisit, when);
        return;
    }
    if (found == m_hosts.end())
        return;
    auto fewer = static_cast<std::uint32_t>(-visits);
    if (found->second.visits <= fewer)
        m_hosts.erase(found);
    else
        found->second.visits -= fewer;
}

void SuggestionIndex::forgetIfUnused(std::uint32_t id)
{
    Entry& entry = m_entries[id];
    if (entry.visits > 0 || entry.bookmarked || entry.dead)
        return;
    entry.dead = true;
    ++m_deadEntries;
    m_byURL.erase(id);
    m_wastedBytes += entry.textLength + entry.urlLength + entry.titleLength;
    compactIfSparse();
}

void SuggestionIndex::removeVisit(std::string_view url)
{
    auto id = find(url);
    if (!id || m_entries[*id].visits == 0)
        return;
    --m_entries[*id].visits;
    changeHost(url, -1, 0);
    forgetIfUnused(*id);
    changed();
}

void SuggestionIndex::removeAddress(std::string_view url)
{
    auto id = find(url);
    if (!id)
        return;
    changeHost(url, -static_cast<int>(m_entries[*id].visits), 0);
    m_entries[*id].visits = 0;
    forgetIfUnused(*id);
    changed();
}

void SuggestionIndex::clearVisits()
{
    m_hosts.clear();
    for (std::uint32_t id = 0; id < m_entries.size(); ++id) {
        m_entries[id].visits = 0;
        forgetIfUnused(id);
    }
    changed();
}

void SuggestionIndex::setBookmarks(const std::vector<SuggestionBookmark>& bookmarks)
{
    std::vector<std::uint32_t> before;
    for (std::uint32_t id = 0; id < m_entries.size(); ++id) {
        if (m_entries[id].bookmarked) {
            m_entries[id].bookmarked = false;
            before.push_back(id);
        }
    }
    for (const SuggestionBookmark& bookmark : bookmarks) {
        if (bookmark.url.size() > kMaxIndexedURL || !isSuggestedAddress(bookmark.url))
            continue;
        // The bookmark's own title is the one shown.
        std::uint32_t id = entryFor(bookmark.url, bookmark.title);
        Entry& entry = m_entries[id];
        if (entry.dead) {
            entry.dead = false;
            --m_deadEntries;
        }
        entry.bookmarked = true;
    }
    for (std::uint32_t id : before)
        forgetIfUnused(id);
    changed();
}

void SuggestionIndex::compactIfSparse()
{
    if (m_wastedBytes < 65536 || m_wastedBytes * 2 < m_text.size() + m_shown.size())
        return;
    std::vector<Entry> entries;
    std::string text, shown;
    entries.reserve(m_entries.size() - m_deadEntries);
    for (const Entry& old : m_entries) {
        if (old.dead)
            continue;
        Entry entry = old;
        entry.textOffset = static_cast<std::uint32_t>(text.size());
        text += textOf(old);
        entry.shownOffset = static_cast<std::uint32_t>(shown.size());
        shown += urlOf(old);
        shown += titleOf(old);
        entries.push_back(entry);
    }
    m_byURL.clear();
    m_entries = std::move(entries);
    m_text = std::move(text);
    m_shown = std::move(shown);
    m_deadEntries = 0;
    m_wastedBytes = 0;
    for (std::uint32_t id = 0; id < m_entries.size(); ++id)
        m_byURL.insert(id);
}

std::vector<Suggestion> SuggestionIndex::suggest(const SuggestionRequest& request) const
{
    std::vector<Suggestion> rows;
    std::vector<std::string> words = typedWords(request.typed);
    if (!words.empty()) {
        // Open tabs first, so that their addresses are not offered again below.
        std::unordered_set<std::string_view> tabURLs;
        for (const OpenTabCandidate& tab : request.tabs) {
            if (tab.tabID == request.selectedTab
                || (request.onlyOwnTabs && tab.profileID != request.currentProfile))
                continue;
            MatchPlace place = placeOfWords(suggestionSearchText(tab.url, tab.title), words);
            if (place == MatchPlace::None)
                continue;
            double base = kOpenTabFrecency;
            if (auto id = find(tab.url); id && !request.onlyOwnTabs) {
                const Entry& entry = m_entries[*id];
                base += frecency(entry.visits, entry.lastVisit, request.now, entry.bookmarked);
            }
            rows.push_back({ SuggestionKind::SwitchToTab, tab.url, tab.title, tab.tabID, tab.profileID,
                base * matchPlaceWeight(place) });
            tabURLs.insert(tab.url);
        }

        if (!request.onlyOwnTabs) {
            // A word that only grew searches what matched before.
            bool narrow = m_cachedGeneration == m_generation && extendsWords(words, m_cachedWords);
            std::vector<std::uint32_t> matches;
            struct Scored {
                double score;
                std::uint32_t id;
            };
            std::vector<Scored> best;
            auto consider = [&](std::uint32_t id) {
                const Entry& entry = m_entries[id];
                if (entry.dead)
                    return;
                MatchPlace place = placeOfWords(textOf(entry), words);
                if (place == MatchPlace::None)
                    return;
                matches.push_back(id);
                double score = frecency(entry.visits, entry.lastVisit, request.now, entry.bookmarked)
                    * matchPlaceWeight(place);
                best.push_back({ score, id });
            };
            if (narrow) {
                for (std::uint32_t id : m_cachedMatches)
                    consider(id);
            } else {
                for (std::uint32_t id = 0; id < m_entries.size(); ++id)
                    consider(id);
            }
            size_t keep = std::min(best.size(), request.limit + tabURLs.size());
            std::partial_sort(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(keep), best.end(),
                [](const Scored& a, const Scored& b) { return a.score > b.score || (a.score == b.score && a.id < b.id); });
            for (size_t i = 0; i < keep; ++i) {
                const Entry& entry = m_entries[best[i].id];
                std::string_view url = urlOf(entry);
                if (tabURLs.count(url))
                    continue;
                rows.push_back({ entry.bookmarked ? SuggestionKind::Bookmark : SuggestionKind::History,
                    std::string(url), std::string(titleOf(entry)), {}, {}, best[i].score });
            }
            m_cachedGeneration = m_generation;
            m_cachedWords = std::move(words);
            m_cachedMatches = std::move(matches);
        }
        std::stable_sort(rows.begin(), rows.end(),
            [](const Suggestion& a, const Suggestion& b) { return a.score > b.score; });
        if (rows.size() > request.limit)
            rows.resize(request.limit);
    }
    Suggestion search;
    search.kind = SuggestionKind::Search;
    search.title = std::string(request.typed);
    rows.push_back(std::move(search));
    return rows;
}

std::optional<std::string> SuggestionIndex::inlineCompletion(std::string_view typed, std::int64_t now) const
{
    if (typed.empty() || typed.find_first_of(" /:\\?#") != std::string_view::npos)
        return std::nullopt;
    std::string key = lowered(typed);
    std::string_view prefix = key;
    if (prefix.rfind("www.", 0) == 0)
        prefix.remove_prefix(4);
    if (prefix.empty())
        return std::nullopt;
    const std::string* chosen = nullptr;
    double chosenScore = 0;
    for (auto it = m_hosts.lower_bound(prefix); it != m_hosts.end() && it->first.rfind(prefix, 0) == 0;
         ++it) {
        double score = frecency(it->second.visits, it->second.lastVisit, now, false);
        // The shorter host wins a tie: "wikipedia.org" before "wikipedia.org.example".
        if (!chosen || score > chosenScore) {
            chosen = &it->first;
            chosenScore = score;
        }
    }
    if (!chosen)
        return std::nullopt;
    return chosen->substr(prefix.size()) + "/";
}

size_t SuggestionIndex::memoryBytes() const
{
    size_t bytes = sizeof(*this) + m_entries.capacity() * sizeof(Entry) + m_text.capacity() + m_shown.capacity();
    // A node and a bucket per address in the set.
    bytes += m_byURL.size() * (sizeof(void*) + sizeof(std::uint32_t) + sizeof(size_t))
        + m_byURL.bucket_count() * sizeof(void*);
    for (const auto& [host, visits] : m_hosts)
        bytes += 4 * sizeof(void*) + sizeof(host) + host.capacity() + sizeof(visits);
    bytes += m_cachedMatches.capacity() * sizeof(std::uint32_t);
    return bytes;
}

} // namespace qv

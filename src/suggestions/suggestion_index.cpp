#include "suggestions/suggestion_index.h"

#include "base/url.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <unordered_set>

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

std::string suggestionSearchText(std::string_view url, std::string_view title)
{
    std::string_view address = withoutSchemeAndWWW(url.substr(0, kMaxIndexedURL));
    std::string text = lowered(address);
    text += kTitleSeparator;
    text += lowered(title.substr(0, kMaxIndexedTitle));
    return text;
}

// ---- The index --------------------------------------------------------------------------------

namespace {

    constexpr std::uint32_t kEmptySlot = 0xffffffffu;
    constexpr std::uint32_t kRemovedSlot = 0xfffffffeu;
    constexpr size_t kMaxPrefixes = 255;

    bool isCapital(char c) { return c >= 'A' && c <= 'Z'; }

    std::uint32_t clampedSeconds(std::int64_t when)
    {
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(when, 0, 0xffffffffLL));
    }

} // namespace

SuggestionIndex::SuggestionIndex() = default;
SuggestionIndex::~SuggestionIndex() = default;
SuggestionIndex::SuggestionIndex(SuggestionIndex&&) noexcept = default;
SuggestionIndex& SuggestionIndex::operator=(SuggestionIndex&&) noexcept = default;

std::string_view SuggestionIndex::textOf(const Entry& entry) const
{
    return std::string_view(m_text).substr(entry.textOffset, entry.urlLength + 1u + entry.titleLength);
}

std::string SuggestionIndex::urlOf(const Entry& entry) const
{
    std::string url = m_prefixes[entry.prefix];
    size_t start = url.size();
    url += std::string_view(m_text).substr(entry.textOffset, entry.urlLength);
    for (size_t i = 0; i < entry.capsCount; ++i) {
        std::uint16_t at = m_caps[entry.capsOffset + i];
        if (at < entry.urlLength)
            url[start + at] = static_cast<char>(url[start + at] - 'a' + 'A');
    }
    return url;
}

std::string SuggestionIndex::titleOf(const Entry& entry) const
{
    size_t titleStart = entry.urlLength + 1u;
    std::string title(std::string_view(m_text).substr(entry.textOffset + titleStart, entry.titleLength));
    for (size_t i = 0; i < entry.capsCount; ++i) {
        std::uint16_t at = m_caps[entry.capsOffset + i];
        if (at >= titleStart)
            title[at - titleStart] = static_cast<char>(title[at - titleStart] - 'a' + 'A');
    }
    return title;
}

bool SuggestionIndex::sameURL(const Entry& entry, std::string_view prefix, std::string_view rest) const
{
    if (entry.dead || rest.size() != entry.urlLength || m_prefixes[entry.prefix] != prefix)
        return false;
    std::string_view text = std::string_view(m_text).substr(entry.textOffset, entry.urlLength);
    size_t cap = 0;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (lowerASCII(rest[i]) != text[i])
            return false;
        bool capital = cap < entry.capsCount && m_caps[entry.capsOffset + cap] == i;
        if (capital != isCapital(rest[i]))
            return false;
        cap += capital;
    }
    return true;
}

size_t SuggestionIndex::slotHash(std::uint8_t prefix, std::string_view lowerRest) const
{
    return std::hash<std::string_view> {}(lowerRest) ^ (static_cast<size_t>(prefix) * 0x9e3779b97f4a7c15ull);
}

void SuggestionIndex::rehash(size_t slots)
{
    m_slots.assign(slots, kEmptySlot);
    m_usedSlots = 0;
    for (std::uint32_t id = 0; id < m_entries.size(); ++id) {
        if (!m_entries[id].dead)
            insertSlot(id);
    }
}

void SuggestionIndex::insertSlot(std::uint32_t id)
{
    if ((m_usedSlots + 1) * 2 > m_slots.size()) {
        rehash(std::max<size_t>(64, m_slots.size() * 2));
        // The rehash put every live entry back, this one among them when it is not new.
        for (std::uint32_t slot : m_slots) {
            if (slot == id)
                return;
        }
    }
    const Entry& entry = m_entries[id];
    size_t mask = m_slots.size() - 1;
    size_t at = slotHash(entry.prefix, std::string_view(m_text).substr(entry.textOffset, entry.urlLength)) & mask;
    while (m_slots[at] != kEmptySlot && m_slots[at] != kRemovedSlot)
        at = (at + 1) & mask;
    if (m_slots[at] == kEmptySlot)
        ++m_usedSlots;
    m_slots[at] = id;
}

void SuggestionIndex::eraseSlot(std::uint32_t id)
{
    if (m_slots.empty())
        return;
    const Entry& entry = m_entries[id];
    size_t mask = m_slots.size() - 1;
    size_t at = slotHash(entry.prefix, std::string_view(m_text).substr(entry.textOffset, entry.urlLength)) & mask;
    while (m_slots[at] != kEmptySlot) {
        if (m_slots[at] == id) {
            m_slots[at] = kRemovedSlot;
            return;
        }
        at = (at + 1) & mask;
    }
}

std::optional<std::uint32_t> SuggestionIndex::find(std::string_view url) const
{
    if (m_slots.empty())
        return std::nullopt;
    std::string_view rest = withoutSchemeAndWWW(url);
    std::string_view prefix = url.substr(0, url.size() - rest.size());
    auto known = std::find(m_prefixes.begin(), m_prefixes.end(), prefix);
    if (known == m_prefixes.end())
        return std::nullopt;
    auto prefixID = static_cast<std::uint8_t>(known - m_prefixes.begin());
    size_t mask = m_slots.size() - 1;
    size_t at = slotHash(prefixID, lowered(rest)) & mask;
    for (; m_slots[at] != kEmptySlot; at = (at + 1) & mask) {
        std::uint32_t id = m_slots[at];
        if (id != kRemovedSlot && sameURL(m_entries[id], prefix, rest))
            return id;
    }
    return std::nullopt;
}

void SuggestionIndex::writeText(Entry& entry, std::string_view rest, std::string_view title)
{
    entry.textOffset = static_cast<std::uint32_t>(m_text.size());
    entry.capsOffset = static_cast<std::uint32_t>(m_caps.size());
    entry.urlLength = static_cast<std::uint16_t>(rest.size());
    entry.titleLength = static_cast<std::uint16_t>(title.size());
    size_t at = 0;
    for (std::string_view part : { rest, std::string_view(&kTitleSeparator, 1), title }) {
        for (char c : part) {
            if (isCapital(c))
                m_caps.push_back(static_cast<std::uint16_t>(at));
            m_text += lowerASCII(c);
            ++at;
        }
    }
    entry.capsCount = static_cast<std::uint16_t>(m_caps.size() - entry.capsOffset);
}

std::optional<std::uint32_t> SuggestionIndex::entryFor(std::string_view url, std::string_view title)
{
    title = title.substr(0, kMaxIndexedTitle);
    if (auto id = find(url)) {
        Entry& entry = m_entries[*id];
        if (!title.empty() && titleOf(entry) != title) {
            // The old text stays in the buffer until the next compaction.
            m_wastedBytes += textOf(entry).size() + entry.capsCount * sizeof(std::uint16_t);
            std::string rest = urlOf(entry).substr(m_prefixes[entry.prefix].size());
            writeText(entry, rest, title);
        }
        return *id;
    }
    std::string_view rest = withoutSchemeAndWWW(url);
    std::string_view prefix = url.substr(0, url.size() - rest.size());
    auto known = std::find(m_prefixes.begin(), m_prefixes.end(), prefix);
    if (known == m_prefixes.end()) {
        if (m_prefixes.size() >= kMaxPrefixes)
            return std::nullopt;
        m_prefixes.emplace_back(prefix);
        known = m_prefixes.end() - 1;
    }
    Entry entry;
    entry.prefix = static_cast<std::uint8_t>(known - m_prefixes.begin());
    writeText(entry, rest, title);
    auto id = static_cast<std::uint32_t>(m_entries.size());
    entry.orderPosition = static_cast<std::uint32_t>(m_order.size());
    m_entries.push_back(entry);
    m_order.push_back(id);
    insertSlot(id);
    return id;
}

double SuggestionIndex::ceiling(const Entry& entry)
{
    return frecency(entry.visits, 0, 0, entry.bookmarked);
}

void SuggestionIndex::reorder(std::uint32_t id)
{
    if (!m_orderReady)
        return;
    // Higher ceilings first; an entry moves past those it now outranks, and to the front of
    // its equals, as the one visited last.
    size_t at = m_entries[id].orderPosition;
    double mine = ceiling(m_entries[id]);
    size_t to = at;
    while (to > 0 && ceiling(m_entries[m_order[to - 1]]) <= mine)
        --to;
    while (to + 1 < m_order.size() && ceiling(m_entries[m_order[to + 1]]) > mine)
        ++to;
    if (to == at)
        return;
    if (to < at)
        std::rotate(m_order.begin() + static_cast<std::ptrdiff_t>(to), m_order.begin() + static_cast<std::ptrdiff_t>(at),
            m_order.begin() + static_cast<std::ptrdiff_t>(at + 1));
    else
        std::rotate(m_order.begin() + static_cast<std::ptrdiff_t>(at), m_order.begin() + static_cast<std::ptrdiff_t>(at + 1),
            m_order.begin() + static_cast<std::ptrdiff_t>(to + 1));
    for (size_t i = std::min(at, to); i <= std::max(at, to); ++i)
        m_entries[m_order[i]].orderPosition = static_cast<std::uint32_t>(i);
}

void SuggestionIndex::sortOrder()
{
    std::sort(m_order.begin(), m_order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const Entry& x = m_entries[a];
        const Entry& y = m_entries[b];
        double cx = ceiling(x), cy = ceiling(y);
        return cx > cy || (cx == cy && (x.lastVisit > y.lastVisit || (x.lastVisit == y.lastVisit && a < b)));
    });
    for (size_t i = 0; i < m_order.size(); ++i)
        m_entries[m_order[i]].orderPosition = static_cast<std::uint32_t>(i);
    m_orderReady = true;
}

void SuggestionIndex::finishLoading()
{
    sortOrder();
    changed();
}

void SuggestionIndex::addVisit(std::string_view url, std::string_view title, std::int64_t when)
{
    if (url.size() > kMaxIndexedURL || !isSuggestedAddress(url))
        return;
    auto id = entryFor(url, title);
    if (!id)
        return;
    Entry& entry = m_entries[*id];
    ++entry.visits;
    entry.lastVisit = std::max(entry.lastVisit, clampedSeconds(when));
    reorder(*id);
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
    eraseSlot(id);
    entry.dead = true;
    ++m_deadEntries;
    m_wastedBytes += textOf(entry).size() + entry.capsCount * sizeof(std::uint16_t);
}

void SuggestionIndex::removeVisit(std::string_view url)
{
    auto id = find(url);
    if (!id || m_entries[*id].visits == 0)
        return;
    --m_entries[*id].visits;
    changeHost(url, -1, 0);
    forgetIfUnused(*id);
    reorder(*id);
    compactIfSparse();
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
    reorder(*id);
    compactIfSparse();
    changed();
}

void SuggestionIndex::clearVisits()
{
    m_hosts.clear();
    for (std::uint32_t id = 0; id < m_entries.size(); ++id) {
        m_entries[id].visits = 0;
        forgetIfUnused(id);
    }
    sortOrder();
    compactIfSparse();
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
        if (auto id = entryFor(bookmark.url, bookmark.title))
            m_entries[*id].bookmarked = true;
    }
    for (std::uint32_t id : before)
        forgetIfUnused(id);
    sortOrder();
    compactIfSparse();
    changed();
}

void SuggestionIndex::compactIfSparse()
{
    if (m_wastedBytes < 65536 || m_wastedBytes * 2 < m_text.size())
        return;
    std::vector<Entry> entries;
    std::string text;
    std::vector<std::uint16_t> caps;
    entries.reserve(m_entries.size() - m_deadEntries);
    // Live entries keep their order.
    for (std::uint32_t old : m_order) {
        const Entry& was = m_entries[old];
        if (was.dead)
            continue;
        Entry entry = was;
        entry.textOffset = static_cast<std::uint32_t>(text.size());
        text += textOf(was);
        entry.capsOffset = static_cast<std::uint32_t>(caps.size());
        caps.insert(caps.end(), m_caps.begin() + was.capsOffset, m_caps.begin() + was.capsOffset + was.capsCount);
        entry.orderPosition = static_cast<std::uint32_t>(entries.size());
        entries.push_back(entry);
    }
    m_entries = std::move(entries);
    m_text = std::move(text);
    m_caps = std::move(caps);
    m_order.resize(m_entries.size());
    for (std::uint32_t id = 0; id < m_entries.size(); ++id)
        m_order[id] = id;
    m_deadEntries = 0;
    m_wastedBytes = 0;
    size_t slots = 64;
    while (slots < m_entries.size() * 2 + 2)
        slots *= 2;
    rehash(slots);
}

std::vector<Suggestion> SuggestionIndex::suggest(const SuggestionRequest& request) const
{
    std::vector<Suggestion> rows;
    std::vector<std::string> words = typedWords(request.typed);
    if (!words.empty()) {
        // Open tabs first, so that their addresses are not offered again below.
        std::unordered_set<std::string> tabURLs;
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
            struct Scored {
                double score;
                std::uint32_t id;
            };
            auto better = [](const Scored& a, const Scored& b) {
                return a.score > b.score || (a.score == b.score && a.id < b.id);
            };
            // The best `keep` so far as a heap whose top is the worst of them.
            size_t keep = request.limit + tabURLs.size();
            std::vector<Scored> best;
            std::vector<std::uint32_t> matches;
            auto consider = [&](std::uint32_t id) {
                const Entry& entry = m_entries[id];
                if (entry.dead)
                    return;
                MatchPlace place = placeOfWords(textOf(entry), words);
                if (place == MatchPlace::None)
                    return;
                matches.push_back(id);
                Scored scored { frecency(entry.visits, entry.lastVisit, request.now, entry.bookmarked)
                        * matchPlaceWeight(place),
                    id };
                if (best.size() < keep) {
                    best.push_back(scored);
                    std::push_heap(best.begin(), best.end(), better);
                } else if (better(scored, best.front())) {
                    std::pop_heap(best.begin(), best.end(), better);
                    best.back() = scored;
                    std::push_heap(best.begin(), best.end(), better);
                }
            };
            // A word that only grew searches what matched before; otherwise entries come in
            // order of their ceiling, and once even the best place cannot lift the next one
            // above the list's last, no later one can either.
            bool complete = true;
            if (m_cachedGeneration == m_generation && extendsWords(words, m_cachedWords)) {
                for (std::uint32_t id : m_cachedMatches)
                    consider(id);
            } else {
                const double bestPlace = matchPlaceWeight(MatchPlace::HostStart);
                for (std::uint32_t id : m_order) {
                    // Before the order is made, every entry is searched.
                    if (m_orderReady && best.size() == keep && ceiling(m_entries[id]) * bestPlace <= best.front().score) {
                        complete = false;
                        break;
                    }
                    consider(id);
                }
            }
            std::sort(best.begin(), best.end(), better);
            for (const Scored& scored : best) {
                const Entry& entry = m_entries[scored.id];
                std::string url = urlOf(entry);
                if (tabURLs.count(url))
                    continue;
                rows.push_back({ entry.bookmarked ? SuggestionKind::Bookmark : SuggestionKind::History,
                    std::move(url), titleOf(entry), {}, {}, scored.score });
            }
            if (complete) {
                m_cachedGeneration = m_generation;
                m_cachedWords = std::move(words);
                m_cachedMatches = std::move(matches);
            } else {
                m_cachedGeneration = ~std::uint64_t(0);
            }
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
    size_t bytes = sizeof(*this) + m_entries.capacity() * sizeof(Entry) + m_text.capacity()
        + m_caps.capacity() * sizeof(std::uint16_t) + m_order.capacity() * sizeof(std::uint32_t)
        + m_slots.capacity() * sizeof(std::uint32_t) + m_cachedMatches.capacity() * sizeof(std::uint32_t);
    for (const std::string& prefix : m_prefixes)
        bytes += sizeof(prefix) + prefix.capacity();
    // A tree node per host.
    for (const auto& [host, visits] : m_hosts)
        bytes += 4 * sizeof(void*) + sizeof(host) + host.capacity() + sizeof(visits);
    return bytes;
}

} // namespace qv

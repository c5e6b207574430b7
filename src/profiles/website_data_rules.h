// What the website data section and the clear-browsing-data dialog show and decide.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// The engine's kinds of website data, by the bits it reports them with.
namespace WebsiteDataKind {
    inline constexpr std::uint32_t MemoryCache = 1u << 0;
    inline constexpr std::uint32_t DiskCache = 1u << 1;
    inline constexpr std::uint32_t OfflineApplicationCache = 1u << 2;
    inline constexpr std::uint32_t SessionStorage = 1u << 3;
    inline constexpr std::uint32_t LocalStorage = 1u << 4;
    inline constexpr std::uint32_t IndexedDB = 1u << 5;
    inline constexpr std::uint32_t Cookies = 1u << 6;
    inline constexpr std::uint32_t DeviceIDHashSalt = 1u << 7;
    inline constexpr std::uint32_t HSTSCache = 1u << 8;
    inline constexpr std::uint32_t TrackingPrevention = 1u << 9;
    inline constexpr std::uint32_t ServiceWorkers = 1u << 10;
    inline constexpr std::uint32_t DOMCache = 1u << 11;
    inline constexpr std::uint32_t All = (1u << 12) - 1;
    // What "Cookies and site data" removes; the caches are a choice of their own.
    inline constexpr std::uint32_t SiteData = SessionStorage | LocalStorage | IndexedDB | Cookies
        | ServiceWorkers | DOMCache | OfflineApplicationCache | DeviceIDHashSalt | HSTSCache
        | TrackingPrevention;
    inline constexpr std::uint32_t Caches = MemoryCache | DiskCache;
}

// "Cookies, Local Storage, IndexedDB, Cache, Service Workers": the kinds a user knows, in that
// order, each once; the engine's bookkeeping kinds are not named. "Other data" when nothing
// else is left.
std::string websiteDataKindsText(std::uint32_t kinds);

struct WebsiteDataRow {
    std::string site;
    std::uint32_t kinds = 0;
};

// Sites in alphabetical order, each once (kinds of repeated names joined), unnamed ones dropped.
std::vector<WebsiteDataRow> websiteDataRows(std::vector<WebsiteDataRow> sites);

// The time ranges of "Clear Browsing Data…", in the order offered.
enum class ClearRange { LastHour, LastDay, LastWeek, LastFourWeeks, AllTime };
inline constexpr std::string_view kClearRangeTitles[]
    = { "Last Hour", "Last 24 Hours", "Last 7 Days", "Last 4 Weeks", "All Time" };

// How far back a range reaches; zero for all time.
std::chrono::seconds clearRangeSpan(ClearRange range);

// One request to the engine: these kinds, changed within the span (zero: whatever their age).
struct WebsiteDataClearing {
    std::uint32_t kinds = 0;
    std::chrono::seconds span { 0 };
};

// What clearing site data and caches of a range asks of the engine. The engine keeps no age for
// cookies and leaves them all in place when asked for a span, so they go whatever their age:
// a user clearing the last hour expects to be signed out of what was visited in it.
std::vector<WebsiteDataClearing> websiteDataClearings(ClearRange range, bool siteData, bool caches);

} // namespace qv

// Texts and lists of the website data section; the ranges of clearing browsing data.
#include "profiles/website_data_rules.h"

#include <algorithm>
#include <map>

namespace qv {

std::string websiteDataKindsText(std::uint32_t kinds)
{
    using namespace WebsiteDataKind;
    struct Named {
        std::uint32_t bits;
        const char* name;
    };
    static constexpr Named kNamed[] = {
        { Cookies, "Cookies" },
        { LocalStorage | SessionStorage, "Local Storage" },
        { IndexedDB, "IndexedDB" },
        { MemoryCache | DiskCache | DOMCache | OfflineApplicationCache, "Cache" },
        { ServiceWorkers, "Service Workers" },
    };
    std::string text;
    for (const Named& named : kNamed) {
        if (kinds & named.bits)
            text += (text.empty() ? "" : ", ") + std::string(named.name);
    }
    return text.empty() ? "Other data" : text;
}

std::vector<WebsiteDataRow> websiteDataRows(std::vector<WebsiteDataRow> sites)
{
    std::map<std::string, std::uint32_t> joined;
    for (WebsiteDataRow& site : sites) {
        if (!site.site.empty())
            joined[site.site] |= site.kinds;
    }
    std::vector<WebsiteDataRow> rows;
    rows.reserve(joined.size());
    for (auto& [site, kinds] : joined)
        rows.push_back({ site, kinds });
    return rows;
}

std::chrono::seconds clearRangeSpan(ClearRange range)
{
    using namespace std::chrono;
    switch (range) {
    case ClearRange::LastHour:
        return hours(1);
    case ClearRange::LastDay:
        return hours(24);
    case ClearRange::LastWeek:
        return hours(24 * 7);
    case ClearRange::LastFourWeeks:
        return hours(24 * 28);
    case ClearRange::AllTime:
        break;
    }
    return seconds(0);
}

std::vector<WebsiteDataClearing> websiteDataClearings(ClearRange range, bool siteData, bool caches)
{
    std::chrono::seconds span = clearRangeSpan(range);
    std::uint32_t kinds = (siteData ? WebsiteDataKind::SiteData : 0) | (caches ? WebsiteDataKind::Caches : 0);
    std::vector<WebsiteDataClearing> clearings;
    if (span.count() != 0 && (kinds & WebsiteDataKind::Cookies)) {
        kinds &= ~WebsiteDataKind::Cookies;
        clearings.push_back({ WebsiteDataKind::Cookies, std::chrono::seconds(0) });
    }
    if (kinds)
        clearings.push_back({ kinds, span });
    return clearings;
}

} // namespace qv

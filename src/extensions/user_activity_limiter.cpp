// The per-tab budget of user-activity reports.
#include "extensions/user_activity_limiter.h"

#include <algorithm>

namespace qv {

namespace {

// Tabs that have been quiet long enough are forgotten once this many are tracked.
constexpr std::size_t kTrackedTabs = 256;

} // namespace

bool UserActivityRateLimiter::allow(const std::string& tabID, Clock::time_point now)
{
    if (m_busyUntil.size() >= kTrackedTabs) {
        for (auto it = m_busyUntil.begin(); it != m_busyUntil.end();)
            it = it->second <= now ? m_busyUntil.erase(it) : std::next(it);
    }
    auto entry = m_busyUntil.try_emplace(tabID, now).first;
    Clock::time_point start = std::max(entry->second, now);
    if (start - now > (kBurst - 1) * kInterval)
        return false;
    entry->second = start + kInterval;
    return true;
}

} // namespace qv

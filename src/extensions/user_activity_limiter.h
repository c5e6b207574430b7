// How often one tab's user-activity reports may reach extensions.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace qv {

// A tab may send a short burst of reports and then one per interval; the rest are dropped, so
// a page that floods its reporter costs extensions no more than a fast user would.
class UserActivityRateLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval { 100 };
    static constexpr int kBurst = 4;

    // Whether a report from the tab at `now` goes through; one that does uses up its share.
    bool allow(const std::string& tabID, Clock::time_point now);

private:
    // Per tab, when its share of reports would be used up at the steady rate; never earlier
    // than the last report.
    std::map<std::string, Clock::time_point> m_busyUntil;
};

} // namespace qv

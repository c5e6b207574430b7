// Times written as text in UTC.
#include "base/utc_time.h"

#include <cstdio>

namespace qv {

std::string utcDateTimeText(
    std::chrono::system_clock::time_point moment, const char* separator, const char* zone)
{
    using namespace std::chrono;
    auto seconds = floor<std::chrono::seconds>(moment);
    auto day = floor<days>(seconds);
    year_month_day date { day };
    hh_mm_ss clock { seconds - day };
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u%s%02d:%02d:%02d%s",
        static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), separator, static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()),
        zone);
    return text;
}

} // namespace qv

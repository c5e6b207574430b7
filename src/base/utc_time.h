// Times written as text in UTC.
#pragma once

#include <chrono>
#include <string>

namespace qv {

// "YYYY-MM-DD<separator>hh:mm:ss<zone>" in UTC, to the second.
std::string utcDateTimeText(
    std::chrono::system_clock::time_point moment, const char* separator, const char* zone);

} // namespace qv

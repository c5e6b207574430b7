// The system log: one timestamped line on standard error per message.
#pragma once

#include <functional>
#include <string_view>

namespace qv {

void logLine(std::string_view message);

// Tests watch what is logged; nullptr restores plain standard error.
using LogObserver = std::function<void(std::string_view)>;
void setLogObserver(LogObserver observer);

} // namespace qv

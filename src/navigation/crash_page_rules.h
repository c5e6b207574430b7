// What a tab shows when its page's process ended, and the bar offered when a page hangs.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Why a tab's page went away.
enum class PageEndReason {
    Crashed,
    // The engine ended it for using too much memory.
    MemoryLimit,
    // The user stopped it from the bar shown while it did not respond.
    StoppedUnresponsive,
};

struct CrashPageWords {
    std::string heading;
    std::string message;
};

CrashPageWords crashPageWords(PageEndReason reason);

// The tab's title in the strip and the window for the page once it has ended: `pageName` is
// the title the page had, else its host.
std::string crashedTabTitle(PageEndReason reason, std::string_view pageName);

// How long the selected page may stay unresponsive before the bar asks what to do.
inline constexpr unsigned kUnresponsiveBarDelayMilliseconds = 3000;

// The bar's text naming the page by its title, else its host.
std::string unresponsivePageMessage(std::string_view pageName);

} // namespace qv

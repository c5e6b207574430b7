// The words of the crash page and of the bar for a page that does not respond.
#include "navigation/crash_page_rules.h"

#include "base/text_util.h"

namespace qv {

CrashPageWords crashPageWords(PageEndReason reason)
{
    switch (reason) {
    case PageEndReason::MemoryLimit:
        return { "This page was stopped",
            "This page was stopped because it used too much memory. Reload to open it again." };
    case PageEndReason::StoppedUnresponsive:
        return { "This page was stopped",
            "You stopped this page because it was not responding. Reload to open it again." };
    case PageEndReason::Crashed:
        break;
    }
    return { "This page crashed",
        "Something went wrong while showing this page. Other tabs are not affected. Reload to "
        "open it again." };
}

std::string crashedTabTitle(PageEndReason reason, std::string_view pageName)
{
    std::string name = displaySafeTitle(pageName);
    const char* prefix = reason == PageEndReason::Crashed ? "Crashed" : "Stopped";
    return name.empty() ? std::string(prefix) : std::string(prefix) + ": " + name;
}

std::string unresponsivePageMessage(std::string_view pageName)
{
    std::string name = displaySafeTitle(pageName);
    return (name.empty() ? std::string("This page") : "\u201C" + name + "\u201D")
        + " is not responding. You can wait for it or stop it.";
}

} // namespace qv

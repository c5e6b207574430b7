// The question before a tab closes and the bookkeeping of a window close or quit.
#include "tabs/page_close_rules.h"

namespace qv {

Confirmation leavePageConfirmation(const std::string& host)
{
    std::string who = host.empty() ? std::string("This page") : host;
    return { "Leave this page?", who + " may not save the changes you made.", { "Leave", "Stay" },
        0 };
}

PageCloseRound::PageCloseRound(const std::vector<std::string>& tabIDs)
    : m_waiting(tabIDs.begin(), tabIDs.end())
{
}

void PageCloseRound::agreed(const std::string& tabID) { m_waiting.erase(tabID); }

void PageCloseRound::refused(const std::string& tabID)
{
    // Only the first refusal counts: it is the one the user answered on screen.
    if (!m_refusedBy && m_waiting.erase(tabID))
        m_refusedBy = tabID;
}

} // namespace qv

// Asking pages before their tabs close: the question a page gets, how long a silent page is
// waited for, and the round of closing the window or quitting, where every page must agree.
#pragma once

#include "base/confirmation.h"

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qv {

// A page asked to close that neither agrees nor asks within this time (its web process hangs)
// has its tab closed anyway. A question on screen waits for the user however long it takes.
inline constexpr std::chrono::milliseconds kPageCloseTimeout { 5000 };

// "Leave this page?" naming the host ("This page" without one); "Leave" goes ahead, "Stay"
// keeps the page.
Confirmation leavePageConfirmation(const std::string& host);

// Closing the window or quitting: every tab's page is asked, and nothing closes before all have
// agreed. The first page whose question gets "Stay" ends the round refused.
class PageCloseRound {
public:
    explicit PageCloseRound(const std::vector<std::string>& tabIDs);

    // The page agreed: it had nothing to ask, the user chose "Leave", it stayed silent past
    // the time-out, or its tab or view went away.
    void agreed(const std::string& tabID);
    void refused(const std::string& tabID);

    bool includes(const std::string& tabID) const { return m_waiting.count(tabID) > 0; }
    bool allAgreed() const { return m_waiting.empty() && !m_refusedBy; }
    // The tab whose page kept the round from closing anything, shown to the user.
    const std::optional<std::string>& refusedBy() const { return m_refusedBy; }
    bool finished() const { return allAgreed() || m_refusedBy; }

private:
    std::set<std::string> m_waiting;
    std::optional<std::string> m_refusedBy;
};

} // namespace qv

// Loading the history and recording finished visits of browser tabs.
#include "app/browser_controller.h"

#include "history/history_window.h"
#include "platform/storage_locations.h"

namespace qv {

void BrowserController::locateHistory()
{
    m_historyFileURL = historyURL();
    m_historyStore = std::make_unique<HistoryStore>(m_historyFileURL);
}

void BrowserController::loadHistory()
{
    if (m_historyLoaded || !m_historyStore)
        return;
    m_historyLoaded = true;
    if (auto loaded = m_historyStore->load(); !loaded) {
        m_historyReadOnlyReported = m_historyStore->readOnly();
        showError(loaded.error());
    }
}

void BrowserController::saveHistoryEntry(const std::string& url,
    const std::optional<std::string>& title)
{
    loadHistory();
    if (!m_historyStore || m_historyStore->readOnly())
        return;
    // One reading of the clock files the visit under its day and gives its "time".
    auto added = m_historyStore->addVisit(url, title, HistoryClock::now());
    if (added) {
        // The new visit is the first row, also while the window is open.
        if (*added && m_historyWindow)
            m_historyWindow->visitAdded();
        return;
    }
    if (m_historyStore->readOnly()) {
        // The file went bad under us: say so once, then leave it alone.
        if (m_historyReadOnlyReported)
            return;
        m_historyReadOnlyReported = true;
    }
    showError(added.error());
}

const std::deque<HistoryEntry>& BrowserController::historyEntries()
{
    static const std::deque<HistoryEntry> none;
    loadHistory();
    return m_historyStore ? m_historyStore->entries() : none;
}

bool BrowserController::historyReadOnly()
{
    loadHistory();
    return m_historyStore && m_historyStore->readOnly();
}

} // namespace qv

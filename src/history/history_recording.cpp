// Loading the history and recording finished visits of browser tabs.
#include "app/browser_controller.h"

#include "history/history_window.h"
#include "platform/storage_locations.h"

#include <glib.h>

namespace qv {

namespace {

struct HistoryReport {
    Lifetime::Token alive;
    BrowserController* controller;
};

} // namespace

void BrowserController::locateHistory()
{
    m_historyFileURL = historyURL();
    // The writer's thread only queues an idle call; the report itself is shown on the main loop.
    auto report = [alive = m_lifetime.token(), controller = this] {
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* report = static_cast<HistoryReport*>(data);
                if (report->alive.lock())
                    report->controller->reportHistoryWrites();
                return G_SOURCE_REMOVE;
            },
            new HistoryReport { alive, controller },
            [](gpointer data) { delete static_cast<HistoryReport*>(data); });
    };
    m_historyStore = std::make_unique<HistoryStore>(m_historyFileURL, m_shell->fileWriter(), report);
}

void BrowserController::loadHistory()
{
    if (m_historyLoaded || !m_historyStore)
        return;
    m_historyLoaded = true;
    if (auto loaded = m_historyStore->load(); !loaded)
        m_shell->showError(loaded.error());
}

void BrowserController::saveHistoryEntry(const std::string& url,
    const std::optional<std::string>& title)
{
    loadHistory();
    if (!m_historyStore || m_historyStore->readOnly())
        return;
    // One reading of the clock files the visit under its day and gives its "time". The file is
    // written on the writer's thread; what goes wrong there comes back to reportHistoryWrites.
    // The new visit is the first row, also while the window is open.
    if (m_historyStore->addVisit(url, title, HistoryClock::now()) && m_historyWindow)
        m_historyWindow->visitAdded();
}

void BrowserController::reportHistoryWrites()
{
    if (!m_historyStore)
        return;
    // A file found damaged is reported once by the store, which is read-only from then on.
    for (const std::string& message : m_historyStore->takeWriteFailures())
        m_shell->showError(message);
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

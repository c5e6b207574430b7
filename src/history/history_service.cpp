// Loading the history and recording finished visits of browser tabs.
#include "history/history_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "platform/storage_locations.h"

#include <glib.h>

namespace qv {

namespace {

struct HistoryReport {
    Lifetime::Token alive;
    HistoryService* history;
};

} // namespace

HistoryService::HistoryService(const Services& services)
    : m_services(services)
{
}

HistoryService::~HistoryService()
{
    m_lifetime.end();
    m_historyReadAfterFrame.disconnect();
}

void HistoryService::locateHistory()
{
    m_historyFileURL = historyURL();
    // The writer's thread only queues an idle call; the report itself is shown on the main loop.
    auto report = [alive = m_lifetime.token(), history = this] {
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* report = static_cast<HistoryReport*>(data);
                if (report->alive.lock())
                    report->history->reportHistoryWrites();
                return G_SOURCE_REMOVE;
            },
            new HistoryReport { alive, history },
            [](gpointer data) { delete static_cast<HistoryReport*>(data); });
    };
    m_historyStore = std::make_unique<HistoryStore>(m_historyFileURL, m_services.shell->fileWriter(), report);
}

void HistoryService::loadHistory()
{
    if (m_historyLoaded || !m_historyStore)
        return;
    m_historyLoaded = true;
    if (auto loaded = m_historyStore->load(); !loaded)
        m_services.shell->showError(loaded.error());
}

void HistoryService::saveHistoryEntry(const std::string& url,
    const std::optional<std::string>& title)
{
    loadHistory();
    if (!m_historyStore || m_historyStore->readOnly())
        return;
    // One reading of the clock files the visit under its day and gives its "time". The file is
    // written on the writer's thread; what goes wrong there comes back to reportHistoryWrites.
    // The new visit is the first row, also while the window is open.
    if (m_historyStore->addVisit(url, title, HistoryClock::now()))
        m_visitAdded.emit();
}

void HistoryService::readHistoryAfterFirstFrame()
{
    BrowserWindow* window = m_services.shell->window();
    if (!window) {
        loadHistory();
        return;
    }
    // A tick comes just before a frame is drawn; the low-priority idle after it runs once that
    // frame is on screen. A visit finished before then reads the file itself.
    window->add_tick_callback([this, alive = m_lifetime.token()](const Glib::RefPtr<Gdk::FrameClock>&) {
        if (!alive.lock())
            return false;
        m_historyReadAfterFrame = Glib::signal_idle().connect(
            [this] {
                loadHistory();
                return false;
            },
            Glib::PRIORITY_LOW);
        return false;
    });
}

Result<Done> HistoryService::deleteEntries(const std::vector<size_t>& rows)
{
    loadHistory();
    if (!m_historyStore)
        return Done {};
    return m_historyStore->deleteEntries(rows);
}

Result<Done> HistoryService::clear()
{
    loadHistory();
    if (!m_historyStore)
        return Done {};
    return m_historyStore->clear();
}

void HistoryService::reportHistoryWrites()
{
    if (!m_historyStore)
        return;
    // A file found damaged is reported once by the store, which is read-only from then on.
    for (const std::string& message : m_historyStore->takeWriteFailures())
        m_services.shell->showError(message);
}

const std::deque<HistoryEntry>& HistoryService::historyEntries()
{
    static const std::deque<HistoryEntry> none;
    loadHistory();
    return m_historyStore ? m_historyStore->entries() : none;
}

bool HistoryService::historyReadOnly()
{
    loadHistory();
    return m_historyStore && m_historyStore->readOnly();
}

} // namespace qv

// Loading the history and recording finished visits of browser tabs.
#include "history/history_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "platform/storage_locations.h"


namespace qv {

namespace {

// Visits finished before the history was read are kept for it, up to this many.
constexpr size_t kMaxEarlyVisits = 1000;

} // namespace

HistoryService::HistoryService(const Services& services)
    : m_services(services)
{
}

HistoryService::~HistoryService()
{
    m_lifetime.end();
    // A read still under way is waited for by its future.
}

void HistoryService::locateHistory()
{
    m_historyFileURL = historyURL();
    // The writer's and the journal's threads only queue an idle call; the report itself is
    // shown on the main loop.
    auto report = [alive = m_lifetime.token(), history = this] {
        runOnMainLoop(alive, [history] { history->reportHistoryWrites(); });
    };
    m_historyStore = std::make_unique<HistoryStore>(
        m_historyFileURL, m_services.shell->fileWriter(), report);
}

void HistoryService::loadHistory()
{
    if (m_historyLoaded || !m_historyStore)
        return;
    m_historyLoaded = true;
    // A large history takes a while to read: a worker reads it and the main loop takes it.
    m_historyRead = std::async(std::launch::async,
        [file = m_historyFileURL, alive = m_lifetime.token(), history = this,
            reader = m_loadedVisitsReader] {
            HistoryLoad loaded = HistoryStore::read(file);
            if (reader)
                reader(loaded);
            runOnMainLoop(alive, [history] { history->waitForHistory(); });
            return loaded;
        });
}

void HistoryService::waitForHistory()
{
    loadHistory();
    if (m_historyAdopted || !m_historyRead.valid())
        return;
    adoptHistory(m_historyRead.get());
}

void HistoryService::adoptHistory(HistoryLoad loaded)
{
    m_historyAdopted = true;
    if (auto adopted = m_historyStore->adopt(std::move(loaded)); !adopted)
        m_services.shell->showError(adopted.error());
    std::vector<EarlyVisit> early;
    early.swap(m_earlyVisits);
    for (const EarlyVisit& visit : early) {
        if (m_historyStore->addVisit(visit.url, visit.title, visit.moment))
            m_visitAdded.emit();
    }
}

void HistoryService::saveHistoryEntry(const std::string& url,
    const std::optional<std::string>& title)
{
    loadHistory();
    if (!m_historyStore || m_historyStore->readOnly())
        return;
    // One reading of the clock files the visit under its day and gives its "time". The journal
    // and the file are written on threads of their own; what goes wrong there comes back to
    // reportHistoryWrites. The new visit is the first row, also while the window is open.
    if (!m_historyAdopted) {
        if (m_earlyVisits.size() < kMaxEarlyVisits)
            m_earlyVisits.push_back({ url, title, HistoryClock::now() });
        return;
    }
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
    // A visit finished before then starts the read itself.
    runAfterNextFrame(GTK_WIDGET(window->gobj()), m_lifetime.token(), [this] { loadHistory(); });
}

Result<Done> HistoryService::deleteEntries(const std::vector<size_t>& rows)
{
    waitForHistory();
    if (!m_historyStore)
        return Done {};
    const HistoryEntries& entries = m_historyStore->entries();
    std::vector<std::string> urls;
    for (size_t row : rows) {
        if (row < entries.size())
            urls.push_back(entries[row].url);
    }
    Result<Done> deleted = m_historyStore->deleteEntries(rows);
    if (deleted && !urls.empty())
        m_visitsRemoved.emit(urls);
    return deleted;
}

Result<Done> HistoryService::deleteVisitsOf(const std::string& url)
{
    waitForHistory();
    if (!m_historyStore)
        return Done {};
    std::vector<size_t> rows = m_historyStore->rowsOf(url);
    if (rows.empty())
        return Done {};
    return deleteEntries(rows);
}

Result<Done> HistoryService::deleteVisitsSince(HistoryClock::time_point moment)
{
    waitForHistory();
    if (!m_historyStore)
        return Done {};
    // The stored times are UTC texts of one fixed shape, so they order as text; the entries
    // are newest first, so the walk ends at the first older visit.
    std::string since = historyTimestamp(moment);
    const HistoryEntries& entries = m_historyStore->entries();
    std::vector<size_t> rows;
    for (size_t row = 0; row < entries.size() && entries[row].time >= since; ++row)
        rows.push_back(row);
    if (rows.empty())
        return Done {};
    return deleteEntries(rows);
}

Result<Done> HistoryService::clear()
{
    waitForHistory();
    if (!m_historyStore)
        return Done {};
    Result<Done> cleared = m_historyStore->clear();
    if (cleared)
        m_cleared.emit();
    return cleared;
}

void HistoryService::reportHistoryWrites()
{
    if (!m_historyStore)
        return;
    // A file found damaged is reported once by the store, which is read-only from then on.
    for (const std::string& message : m_historyStore->takeWriteFailures())
        m_services.shell->showError(message);
}

const HistoryEntries& HistoryService::historyEntries()
{
    static const HistoryEntries none;
    waitForHistory();
    return m_historyStore ? m_historyStore->entries() : none;
}

bool HistoryService::historyReadOnly()
{
    waitForHistory();
    return m_historyStore && m_historyStore->readOnly();
}

} // namespace qv

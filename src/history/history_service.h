// The history service: finds, reads and records the visits of browser tabs.
#pragma once

#include "app/web_views.h"
#include "history/history_store.h"

#include <sigc++/sigc++.h>

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct Services;

class HistoryService {
public:
    explicit HistoryService(const Services& services);
    ~HistoryService();
    HistoryService(const HistoryService&) = delete;
    HistoryService& operator=(const HistoryService&) = delete;

    // The history file is found at launch and read on a worker thread once the window has shown
    // its first frame, or earlier when something needs it. What needs the history itself waits
    // for that read; visits finished before it has come are filed once it has.
    void locateHistory();
    void loadHistory();
    void readHistoryAfterFirstFrame();
    // Runs on the thread that reads the history, with what it read, before the history is
    // handed to the main loop. Set before the read starts.
    using LoadedVisitsReader = std::function<void(const HistoryLoad&)>;
    void setLoadedVisitsReader(LoadedVisitsReader reader) { m_loadedVisitsReader = std::move(reader); }
    // Files one visit; does nothing while the history is read-only.
    void saveHistoryEntry(const std::string& url, const std::optional<std::string>& title);
    bool historyReadOnly();
    const HistoryEntries& historyEntries();
    const std::filesystem::path& historyFileURL() const { return m_historyFileURL; }
    // Removes the visits at these rows; an error tells why nothing was removed.
    Result<Done> deleteEntries(const std::vector<size_t>& rows);
    Result<Done> clear();
    // Removes every visit of the address.
    Result<Done> deleteVisitsOf(const std::string& url);
    // Removes the visits made at or after the moment.
    Result<Done> deleteVisitsSince(HistoryClock::time_point moment);
    // Shows what went wrong with the history's background writes since the last call.
    void reportHistoryWrites();

    // A visit was added at the front of the entries.
    sigc::signal<void()>& signalVisitAdded() { return m_visitAdded; }
    // Visits were deleted: their addresses, one per visit.
    sigc::signal<void(const std::vector<std::string>&)>& signalVisitsRemoved() { return m_visitsRemoved; }
    sigc::signal<void()>& signalCleared() { return m_cleared; }

private:
    struct EarlyVisit {
        std::string url;
        std::optional<std::string> title;
        HistoryClock::time_point moment;
    };

    // Waits for the read under way, if any, and takes it.
    void waitForHistory();
    void adoptHistory(HistoryLoad loaded);

    const Services& m_services;
    std::filesystem::path m_historyFileURL;
    std::unique_ptr<HistoryStore> m_historyStore;
    bool m_historyLoaded = false;
    bool m_historyAdopted = false;
    std::future<HistoryLoad> m_historyRead;
    std::vector<EarlyVisit> m_earlyVisits;
    sigc::signal<void()> m_visitAdded;
    sigc::signal<void(const std::vector<std::string>&)> m_visitsRemoved;
    sigc::signal<void()> m_cleared;
    LoadedVisitsReader m_loadedVisitsReader;
    Lifetime m_lifetime;
};

} // namespace qv

// The history service: finds, reads and records the visits of browser tabs.
#pragma once

#include "app/web_views.h"
#include "history/history_store.h"

#include <sigc++/sigc++.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace qv {

struct Services;

class HistoryService {
public:
    explicit HistoryService(const Services& services);
    ~HistoryService();
    HistoryService(const HistoryService&) = delete;
    HistoryService& operator=(const HistoryService&) = delete;

    // The history file is found at launch and read once the window has shown its first frame,
    // or earlier by the first thing that needs it.
    void locateHistory();
    void loadHistory();
    void readHistoryAfterFirstFrame();
    // Files one visit; does nothing while the history is read-only.
    void saveHistoryEntry(const std::string& url, const std::optional<std::string>& title);
    bool historyReadOnly();
    const std::deque<HistoryEntry>& historyEntries();
    const std::filesystem::path& historyFileURL() const { return m_historyFileURL; }
    // Removes the visits at these rows; an error tells why nothing was removed.
    Result<Done> deleteEntries(const std::vector<size_t>& rows);
    Result<Done> clear();
    // Shows what went wrong with the history's background writes since the last call.
    void reportHistoryWrites();

    // A visit was added at the front of the entries.
    sigc::signal<void()>& signalVisitAdded() { return m_visitAdded; }

private:
    const Services& m_services;
    std::filesystem::path m_historyFileURL;
    std::unique_ptr<HistoryStore> m_historyStore;
    bool m_historyLoaded = false;
    sigc::connection m_historyReadAfterFrame;
    sigc::signal<void()> m_visitAdded;
    Lifetime m_lifetime;
};

} // namespace qv

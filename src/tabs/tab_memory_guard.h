// Turning the least recently used background tabs lazy when memory runs low, once the user has
// asked for it in Settings.
#pragma once

#include "app/web_views.h"
#include "platform/gobject_ptr.h"
#include "tabs/tab.h"

#include <gio/gio.h>
#include <sigc++/connection.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

namespace qv {

struct Services;

class TabMemoryGuard {
public:
    static constexpr std::chrono::seconds kCheckInterval { 10 };

    explicit TabMemoryGuard(const Services& services);
    ~TabMemoryGuard();
    TabMemoryGuard(const TabMemoryGuard&) = delete;
    TabMemoryGuard& operator=(const TabMemoryGuard&) = delete;

    // The Settings switch.
    bool enabled() const;
    // Measures the browser's memory (all its processes) on a worker; over the limit, relieves
    // the pressure. What the timer does every kCheckInterval while enabled.
    void checkNow();
    // Memory is low: the least recently shown background tabs that play no audio, run no
    // download and hold no unsaved form text are made lazy and unloaded.
    void relievePressure();
    // Checks and reliefs that have run to their end (every page asked has answered), for tests.
    std::size_t roundsFinished() const { return m_roundsFinished; }

private:
    void watchSystemWarnings();
    void measured(long pssKiB);
    void unloadAnswered();

    const Services& m_services;
    std::optional<std::uint64_t> m_machineKiB;
    sigc::connection m_timer;
    GObjectPtr<GMemoryMonitor> m_monitor;
    gulong m_lowMemoryHandler = 0;
    bool m_measuring = false;
    // A relief under way: the pages asked and not yet answered, and their answers by tab.
    bool m_asking = false;
    std::chrono::steady_clock::time_point m_askedAt;
    std::size_t m_awaitedAnswers = 0;
    std::map<TabID, bool> m_unsavedForms;
    std::size_t m_roundsFinished = 0;
    Lifetime m_lifetime;
};

} // namespace qv

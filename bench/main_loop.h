// Driving the main loop from a benchmark: wait for a condition, or let time pass, while the
// loop runs.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace qv::bench {

using Clock = std::chrono::steady_clock;

// Runs the main loop until condition holds or timeout passes; true when it holds. The loop
// blocks in its poll between events (a short timer wakes it to look again), so the time spent
// waiting is never counted as the loop being busy.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto deadline = Clock::now() + timeout;
    guint tick = g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = condition();
    while (!held && Clock::now() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        held = condition();
    }
    g_source_remove(tick);
    return held;
}

inline void settle(std::chrono::milliseconds duration)
{
    auto end = Clock::now() + duration;
    waitUntil([&] { return Clock::now() >= end; }, duration * 2);
}

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace qv::bench

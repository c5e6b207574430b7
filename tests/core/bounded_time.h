// Running a call that must end promptly: one that blocks or never ends fails the run.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <utility>

namespace qv::test {

// The call runs on a thread of its own. A thread blocked in a read cannot be stopped, so a call
// that overruns ends the whole run instead of hanging it.
template <class Work>
auto withinSeconds(int seconds, Work work)
{
    auto future = std::async(std::launch::async, std::move(work));
    if (future.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: the call did not end within %d seconds\n", seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
    return future.get();
}

} // namespace qv::test

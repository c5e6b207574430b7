// How fast a running download goes, how long it has left, and the words that say so.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace qv {

// The speed of a transfer over its last few seconds, from samples of the bytes received so far.
// A transfer that stalls slows down in the estimate as the samples keep coming.
class TransferRate {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWindow { 4000 };
    // Less than this between the oldest and newest sample is too little to tell a speed.
    static constexpr std::chrono::milliseconds kShortest { 700 };

    void sample(Clock::time_point at, std::uint64_t receivedBytes);
    // Bytes per second, once the samples span long enough.
    std::optional<double> bytesPerSecond() const;

private:
    struct Sample {
        Clock::time_point at;
        std::uint64_t bytes = 0;
    };
    std::deque<Sample> m_samples;
};

// Whole seconds left at this speed; nothing when the size or the speed is unknown.
std::optional<std::chrono::seconds> downloadTimeLeft(
    std::uint64_t received, std::optional<std::uint64_t> total, std::optional<double> bytesPerSecond);

// "512 bytes", "1.5 kB", "12.3 MB", "4.0 GB" (powers of 1000).
std::string downloadSizeText(std::uint64_t bytes);
// "5 seconds left", "1 minute left", "12 minutes left", "2 hours 5 minutes left".
std::string downloadTimeLeftText(std::chrono::seconds left);

// The status line of a running download: "1.2 MB of 4.0 MB — 350 kB/s, 8 seconds left". Parts
// that are not known yet are left out ("1.2 MB — 350 kB/s" without a size, "Starting…" before
// anything came).
std::string downloadStatusText(std::uint64_t received, std::optional<std::uint64_t> total,
    std::optional<double> bytesPerSecond);

// The share done of all running downloads that announced their size, 0 to 1; nothing when none
// did.
struct DownloadTotals {
    std::uint64_t received = 0;
    std::uint64_t total = 0;
    int running = 0;
    void add(std::uint64_t receivedBytes, std::optional<std::uint64_t> totalBytes);
    std::optional<double> fraction() const;
};

} // namespace qv

// The speed, time left and status words of a running download.
#include "downloads/download_progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {

namespace {

using namespace std::chrono_literals;

struct ProgressCase {
    // Bytes received so far, one sample every 500 ms.
    std::vector<std::uint64_t> samples;
    std::optional<std::uint64_t> total;
    const char* status;
};

} // namespace

TEST(DownloadProgress, StatusTellsSizeSpeedAndTimeLeftOnceKnown)
{
    const ProgressCase cases[] = {
        { { 0 }, 4'000'000, "Starting\u2026" },
        { { 0, 512 }, std::nullopt, "512 bytes" },
        // Not yet long enough to tell a speed.
        { { 0, 1'200'000 }, 4'000'000, "1.2 MB of 4.0 MB" },
        { { 0, 175'000, 350'000 }, 4'000'000, "350.0 kB of 4.0 MB \u2014 350.0 kB/s, 11 seconds left" },
        { { 0, 175'000, 350'000 }, std::nullopt, "350.0 kB \u2014 350.0 kB/s" },
        { { 0, 500, 1000 }, 3'000'000, "1.0 kB of 3.0 MB \u2014 1.0 kB/s, 50 minutes left" },
        { { 0, 500, 1000 }, 10'000'000, "1.0 kB of 10.0 MB \u2014 1.0 kB/s, 2 hours 47 minutes left" },
        { { 0, 999'999, 1'999'998 }, 2'000'000, "2.0 MB of 2.0 MB \u2014 2.0 MB/s, 1 second left" },
        // Only the last four seconds count: the early burst is forgotten.
        { { 0, 9'000'000, 9'000'000, 9'000'000, 9'000'000, 9'000'000, 9'000'000, 9'000'000,
              9'000'000, 9'000'000, 9'001'000 },
            std::nullopt, "9.0 MB \u2014 250 bytes/s" },
    };
    for (const ProgressCase& c : cases) {
        TransferRate rate;
        auto start = TransferRate::Clock::time_point {};
        for (size_t i = 0; i < c.samples.size(); ++i)
            rate.sample(start + i * 500ms, c.samples[i]);
        EXPECT_EQ(downloadStatusText(c.samples.back(), c.total, rate.bytesPerSecond()), c.status)
            << c.samples.back();
    }

    DownloadTotals totals;
    EXPECT_FALSE(totals.fraction());
    totals.add(250, 1000);
    totals.add(5000, std::nullopt);
    totals.add(750, 1000);
    EXPECT_EQ(totals.running, 3);
    EXPECT_DOUBLE_EQ(*totals.fraction(), 0.5);
}

} // namespace qv

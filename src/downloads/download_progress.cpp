// Speed, time left and the status words of running downloads.
#include "downloads/download_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

void TransferRate::sample(Clock::time_point at, std::uint64_t receivedBytes)
{
    // A restarted count (never expected) starts the estimate afresh.
    if (!m_samples.empty() && receivedBytes < m_samples.back().bytes)
        m_samples.clear();
    m_samples.push_back({ at, receivedBytes });
    // The oldest sample kept is the last one at least a window old, so the span stays a window.
    while (m_samples.size() > 2 && at - m_samples[1].at >= kWindow)
        m_samples.pop_front();
}

std::optional<double> TransferRate::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return std::nullopt;
    auto span = m_samples.back().at - m_samples.front().at;
    if (span < kShortest)
        return std::nullopt;
    double seconds = std::chrono::duration<double>(span).count();
    return static_cast<double>(m_samples.back().bytes - m_samples.front().bytes) / seconds;
}

std::optional<std::chrono::seconds> downloadTimeLeft(
    std::uint64_t received, std::optional<std::uint64_t> total, std::optional<double> bytesPerSecond)
{
    if (!total || !bytesPerSecond || *bytesPerSecond < 1.0)
        return std::nullopt;
    std::uint64_t rest = *total > received ? *total - received : 0;
    double seconds = std::ceil(static_cast<double>(rest) / *bytesPerSecond);
    // Beyond a few days the figure means nothing; a stalled download simply shows no time.
    if (seconds > 99.0 * 3600.0)
        return std::nullopt;
    return std::chrono::seconds(static_cast<long long>(seconds));
}

std::string downloadSizeText(std::uint64_t bytes)
{
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const kUnits[] = { "kB", "MB", "GB", "TB", "PB", "EB" };
    double value = static_cast<double>(bytes) / 1000.0;
    size_t unit = 0;
    // Rounded as shown, so 999,999 bytes reads "1.0 MB" rather than "1000.0 kB".
    while (std::round(value * 10.0) >= 10000.0 && unit + 1 < std::size(kUnits)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string downloadTimeLeftText(std::chrono::seconds left)
{
    auto plural = [](long long n, const char* word) {
        return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
    };
    long long seconds = std::max<long long>(left.count(), 0);
    if (seconds < 60)
        return plural(seconds, "second") + " left";
    long long minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return plural(minutes, "minute") + " left";
    long long hours = minutes / 60;
    long long rest = minutes % 60;
    return plural(hours, "hour") + (rest ? " " + plural(rest, "minute") : "") + " left";
}

std::string downloadStatusText(std::uint64_t received, std::optional<std::uint64_t> total,
    std::optional<double> bytesPerSecond)
{
    if (received == 0 && !bytesPerSecond)
        return "Starting\u2026";
    std::string text = downloadSizeText(received);
    if (total)
        text += " of " + downloadSizeText(*total);
    if (bytesPerSecond) {
        text += " \u2014 " + downloadSizeText(static_cast<std::uint64_t>(*bytesPerSecond)) + "/s";
        if (auto left = downloadTimeLeft(received, total, bytesPerSecond))
            text += ", " + downloadTimeLeftText(*left);
    }
    return text;
}

void DownloadTotals::add(std::uint64_t receivedBytes, std::optional<std::uint64_t> totalBytes)
{
    ++running;
    if (!totalBytes || *totalBytes == 0)
        return;
    received += std::min(receivedBytes, *totalBytes);
    total += *totalBytes;
}

std::optional<double> DownloadTotals::fraction() const
{
    if (total == 0)
        return std::nullopt;
    return static_cast<double>(received) / static_cast<double>(total);
}

} // namespace qv

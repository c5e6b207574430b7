// When a page may start a download by itself, and when the user is asked first.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kSeveralDownloadsQuestion
    = "This site wants to download several files";

// Where a download came from: the tab's own page, or a frame inside it.
enum class DownloadFrame { Main, Sub };

enum class DownloadAdmission {
    Start, // goes to the Downloads folder now
    Hold, // waits for the user's answer in the tab's bar
    Refuse, // cancelled without a word
};

enum class DownloadAnswer { Unasked, Allowed, Blocked };

// The download rules of one tab. A page's first download starts by itself, and so does one
// the user's own gesture started in the page itself; any other (no gesture, or a frame inside
// the page) waits until the user allows it. Only a page the user started resets the count: a
// page that reloads or moves itself keeps what it has started and the answer it got.
class PageDownloadGate {
public:
    using Clock = std::chrono::steady_clock;
    // How long the user's gesture, or the browser's own load, counts for the navigation it
    // started: until that navigation commits or downloads, but no longer than this.
    static constexpr Clock::duration kGestureWindow = std::chrono::seconds(30);
    // Downloads held for an answer; past this a page's further ones are refused.
    static constexpr std::size_t kMaxHeld = 32;

    // A navigation in the tab that the user's gesture started (a click, a key, a form sent),
    // or that the browser started (the address field, the toolbar).
    void noteUserGesture(Clock::time_point at);

    // The tab turned a response into a download: remember from which frame, so the download
    // that follows can be told apart. Kept for a handful of addresses only.
    void expectDownload(std::string requestURI, DownloadFrame frame);
    // The frame of a download of this address, forgetting it; unknown ones are the page's.
    DownloadFrame takeFrame(std::string_view requestURI);

    // A new page committed in the tab. One the user started begins afresh. Ends the question
    // either way; the caller cancels what was held.
    void pageCommitted(Clock::time_point at);

    DownloadAdmission admit(DownloadFrame frame, Clock::time_point at);
    // A held download ended before any answer (the server gave up, say).
    void heldEnded();

    // The user's answer for this page's held and later downloads.
    void answer(DownloadAnswer answer);
    DownloadAnswer answer() const { return m_answer; }
    // Downloads wait for an answer: the question is showing.
    bool asking() const { return m_held > 0 && m_answer == DownloadAnswer::Unasked; }
    std::size_t held() const { return m_held; }

    // A download of this page failed. The first failure of a page gives its notice (true);
    // later ones are only listed.
    bool noteFailure(const std::string& message);
    const std::optional<std::string>& failureNotice() const { return m_failureNotice; }
    void dismissFailureNotice() { m_failureNotice.reset(); }

private:
    bool gestureCurrent(Clock::time_point at) const;

    std::size_t m_started = 0;
    std::size_t m_held = 0;
    DownloadAnswer m_answer = DownloadAnswer::Unasked;
    std::optional<Clock::time_point> m_gesture;
    std::deque<std::pair<std::string, DownloadFrame>> m_expected;
    bool m_failureReported = false;
    std::optional<std::string> m_failureNotice;
};

} // namespace qv

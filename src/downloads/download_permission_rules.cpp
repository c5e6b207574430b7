// The download rules of a tab: free first downloads, the user's gestures, held downloads.
#include "downloads/download_permission_rules.h"

namespace qv {

namespace {

constexpr std::size_t kMaxExpected = 64;

} // namespace

void PageDownloadGate::noteUserGesture(Clock::time_point at) { m_gesture = at; }

bool PageDownloadGate::gestureCurrent(Clock::time_point at) const
{
    return m_gesture && at >= *m_gesture && at - *m_gesture <= kGestureWindow;
}

void PageDownloadGate::expectDownload(std::string requestURI, DownloadFrame frame)
{
    if (m_expected.size() >= kMaxExpected)
        m_expected.pop_front();
    m_expected.emplace_back(std::move(requestURI), frame);
}

DownloadFrame PageDownloadGate::takeFrame(std::string_view requestURI)
{
    // A frame's download is taken first, so two of one address never pass as the page's.
    auto found = m_expected.end();
    for (auto it = m_expected.begin(); it != m_expected.end(); ++it) {
        if (it->first != requestURI)
            continue;
        if (found == m_expected.end() || it->second == DownloadFrame::Sub)
            found = it;
        if (found->second == DownloadFrame::Sub)
            break;
    }
    if (found == m_expected.end())
        return DownloadFrame::Main;
    DownloadFrame frame = found->second;
    m_expected.erase(found);
    return frame;
}

void PageDownloadGate::pageCommitted(Clock::time_point at)
{
    if (gestureCurrent(at)) {
        m_started = 0;
        m_answer = DownloadAnswer::Unasked;
    }
    m_gesture.reset();
    m_held = 0;
    m_failureReported = false;
    m_failureNotice.reset();
}

DownloadAdmission PageDownloadGate::admit(DownloadFrame frame, Clock::time_point at)
{
    if (m_answer == DownloadAnswer::Blocked)
        return DownloadAdmission::Refuse;
    bool gesture = frame == DownloadFrame::Main && gestureCurrent(at);
    if (gesture)
        m_gesture.reset();
    if (m_answer == DownloadAnswer::Allowed || gesture || m_started == 0) {
        ++m_started;
        return DownloadAdmission::Start;
    }
    if (m_held >= kMaxHeld)
        return DownloadAdmission::Refuse;
    ++m_held;
    return DownloadAdmission::Hold;
}

void PageDownloadGate::heldEnded()
{
    if (m_held > 0)
        --m_held;
}

void PageDownloadGate::answer(DownloadAnswer answer)
{
    m_answer = answer;
    m_held = 0;
}

bool PageDownloadGate::noteFailure(const std::string& message)
{
    if (m_failureReported)
        return false;
    m_failureReported = true;
    m_failureNotice = message;
    return true;
}

} // namespace qv

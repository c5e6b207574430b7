// Stand-in for the downloads list's recorder until the downloads window brings the real one.
#include "app/browser_controller.h"

#include "downloads/download_store.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

namespace qv {

void BrowserController::recordCompletedDownloadURL(
    const std::string& url, const std::optional<std::string>& sourceURL)
{
    std::filesystem::path history = m_historyFileURL.empty() ? historyURL() : m_historyFileURL;
    DownloadStore store(history.parent_path() / kDownloadsFileName);
    std::optional<std::string_view> source;
    if (sourceURL)
        source = *sourceURL;
    DownloadRecording recording
        = store.recordCompletedDownloadURL(url, source, DownloadClock::now());
    if (recording.loadProblem)
        logLine(*recording.loadProblem);
    if (recording.writeProblem)
        logLine(*recording.writeProblem);
}

} // namespace qv

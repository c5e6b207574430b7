// Downloads of browser tabs: the destination in the Downloads folder, progress, finishing and
// failing, and the list of finished downloads in "downloads.json".
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "app/web_views.h"
#include "downloads/download_bar.h"
#include "downloads/downloads_window.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

std::string downloadKey(WebKitDownload* download)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<void*>(download));
    return text;
}

DownloadTask::DownloadTask(WebKitDownload* engineDownload)
    : key(downloadKey(engineDownload))
    , download(GObjectPtr<WebKitDownload>::retain(engineDownload))
{
}

DownloadTask::~DownloadTask()
{
    signals.clear();
    // Only reached with the download still running when the browser goes away. One already
    // cancelled is not cancelled again: the engine answers each cancel later, and an answer
    // arriving after the browser's network session is gone crashes it.
    if (!ended && !cancelledQuietly && download)
        webkit_download_cancel(download.get());
    if (file)
        file->removeIfUnused();
}

namespace {

    std::optional<std::string> responseURI(WebKitDownload* download)
    {
        WebKitURIResponse* response = webkit_download_get_response(download);
        const char* uri = response ? webkit_uri_response_get_uri(response) : nullptr;
        if (uri && *uri)
            return std::string(uri);
        WebKitURIRequest* request = webkit_download_get_request(download);
        uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (uri && *uri)
            return std::string(uri);
        return std::nullopt;
    }

    std::string requestURI(WebKitDownload* download)
    {
        WebKitURIRequest* request = webkit_download_get_request(download);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        return uri ? uri : "";
    }

    constexpr const char* kDownloadGateKey = "qv-download-gate";

    // The tab's download rules live as long as its web view.
    PageDownloadGate& downloadGate(WebKitWebView* view)
    {
        auto* gate
            = static_cast<PageDownloadGate*>(g_object_get_data(G_OBJECT(view), kDownloadGateKey));
        if (!gate) {
            gate = new PageDownloadGate();
            g_object_set_data_full(G_OBJECT(view), kDownloadGateKey, gate,
                +[](gpointer data) { delete static_cast<PageDownloadGate*>(data); });
        }
        return *gate;
    }

    constexpr const char* kUserNavigationsKey = "qv-user-navigations";

    // Navigations the user or the browser started in a tab, each good for one download of the
    // tab's own page. Counted, so two opened in quick succession both download even when the
    // first one's answer comes after the second was asked for.
    struct UserNavigations {
        static constexpr size_t kMax = 16;
        std::deque<PageDownloadGate::Clock::time_point> credits;
        std::deque<std::string> downloadAddresses;
    };

    UserNavigations& userNavigations(WebKitWebView* view)
    {
        auto* navigations = static_cast<UserNavigations*>(
            g_object_get_data(G_OBJECT(view), kUserNavigationsKey));
        if (!navigations) {
            navigations = new UserNavigations();
            g_object_set_data_full(G_OBJECT(view), kUserNavigationsKey, navigations,
                +[](gpointer data) { delete static_cast<UserNavigations*>(data); });
        }
        return *navigations;
    }

    void addUserNavigation(WebKitWebView* view)
    {
        auto now = PageDownloadGate::Clock::now();
        downloadGate(view).noteUserGesture(now);
        UserNavigations& navigations = userNavigations(view);
        if (navigations.credits.size() >= UserNavigations::kMax)
            navigations.credits.pop_front();
        navigations.credits.push_back(now);
    }

    // Takes the oldest credit still current, if any.
    bool takeUserNavigation(WebKitWebView* view)
    {
        UserNavigations& navigations = userNavigations(view);
        auto now = PageDownloadGate::Clock::now();
        while (!navigations.credits.empty()
            && now - navigations.credits.front() > PageDownloadGate::kGestureWindow)
            navigations.credits.pop_front();
        if (navigations.credits.empty())
            return false;
        navigations.credits.pop_front();
        return true;
    }

    std::string fileURL(const fs::path& path)
    {
        GFile* file = g_file_new_for_path(path.c_str());
        char* uri = g_file_get_uri(file);
        std::string text = uri ? uri : "";
        g_free(uri);
        g_object_unref(file);
        return text;
    }

} // namespace

void BrowserController::loadDownloads()
{
    fs::path historyFile = m_historyFileURL.empty() ? historyURL() : m_historyFileURL;
    m_downloadsFileURL = historyFile.parent_path() / std::string(kDownloadsFileName);
    // The same store is kept, so an unusable file is reported once, not at every showing.
    if (!m_downloadStore || m_downloadStore->fileURL() != m_downloadsFileURL)
        m_downloadStore = std::make_unique<DownloadStore>(m_downloadsFileURL);
    if (auto problem = m_downloadStore->load())
        showError(*problem);
}

const std::vector<Json>& BrowserController::downloadEntries() const
{
    static const std::vector<Json> none;
    return m_downloadStore ? m_downloadStore->entries() : none;
}

void BrowserController::recordCompletedDownloadURL(
    const std::string& url, const std::optional<std::string>& sourceURL)
{
    if (!m_downloadStore) {
        fs::path historyFile = m_historyFileURL.empty() ? historyURL() : m_historyFileURL;
        m_downloadsFileURL = historyFile.parent_path() / std::string(kDownloadsFileName);
        m_downloadStore = std::make_unique<DownloadStore>(m_downloadsFileURL);
    }
    std::optional<std::string_view> source;
    if (sourceURL)
        source = *sourceURL;
    DownloadRecording outcome
        = m_downloadStore->recordCompletedDownloadURL(url, source, DownloadClock::now());
    if (outcome.loadProblem)
        showError(*outcome.loadProblem);
    // The record stays in memory; the file left as it was is what the next reading shows.
    if (outcome.writeProblem)
        logLine(*outcome.writeProblem);
    if (outcome.recorded && m_downloadsWindow)
        m_downloadsWindow->reloadRecords();
}

void BrowserController::watchDownloadsOfSession(WebKitNetworkSession* session)
{
    if (!session)
        return;
    // One handler per session, however many views share it.
    if (g_signal_handler_find(session, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this))
        return;
    m_downloadSessionSignals.emplace_back(session,
        connectSignal<&BrowserController::downloadStarted>(session, "download-started", this));
}

void BrowserController::downloadStarted(WebKitNetworkSession*, WebKitDownload* download)
{
    // Only browser tabs download here; downloads that others start are theirs to handle.
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (!view || isExtensionWebView(view) || m_downloadTasks.count(download))
        return;
    auto task = std::make_unique<DownloadTask>(download);
    // The destination is created empty beforehand to hold its name.
    webkit_download_set_allow_overwrite(download, TRUE);
    task->signals.emplace_back(download,
        connectSignal<&BrowserController::downloadDecideDestination>(
            download, "decide-destination", this));
    task->signals.emplace_back(download,
        connectSignal<&BrowserController::downloadCreatedDestination>(
            download, "created-destination", this));
    task->signals.emplace_back(download,
        connectSignal<&BrowserController::downloadProgressChanged>(
            download, "notify::estimated-progress", this));
    task->signals.emplace_back(
        download, connectSignal<&BrowserController::downloadDidFail>(download, "failed", this));
    task->signals.emplace_back(
        download, connectSignal<&BrowserController::downloadDidFinish>(download, "finished", this));
    m_downloadTasks[download] = std::move(task);
}

gboolean BrowserController::downloadDecideDestination(WebKitDownload* download, char* suggestedName)
{
    auto it = m_downloadTasks.find(download);
    if (it == m_downloadTasks.end())
        return FALSE;
    DownloadTask& task = *it->second;
    task.suggestedName = suggestedName ? suggestedName : "";
    // A page that starts downloads by itself gets its first one; the user is asked about more.
    if (WebKitWebView* view = webkit_download_get_web_view(download)) {
        PageDownloadGate& gate = downloadGate(view);
        std::string request = requestURI(download);
        // A response of a navigation the user started counts as the user's gesture.
        auto& addresses = userNavigations(view).downloadAddresses;
        if (auto at = std::find(addresses.begin(), addresses.end(), request);
            at != addresses.end()) {
            addresses.erase(at);
            gate.noteUserGesture(PageDownloadGate::Clock::now());
        }
        switch (gate.admit(gate.takeFrame(request), PageDownloadGate::Clock::now())) {
        case DownloadAdmission::Refuse:
            task.cancelledQuietly = true;
            webkit_download_cancel(download);
            return TRUE;
        case DownloadAdmission::Hold:
            // Nothing is written until the answer; the engine waits for the destination.
            task.held = true;
            if (view == m_webView)
                refreshDownloadBar();
            return TRUE;
        case DownloadAdmission::Start:
            break;
        }
    }
    startDownloadIntoFolder(task);
    return TRUE;
}

void BrowserController::startDownloadIntoFolder(DownloadTask& task)
{
    WebKitDownload* download = task.download.get();
    task.held = false;
    fs::path folder = downloadsDirectory();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        task.cancelledQuietly = true;
        webkit_download_cancel(download);
        return;
    }
    auto created = createUniqueDownloadFile(folder, task.suggestedName, m_downloadNameReservations);
    if (!created) {
        // Reported as the download's failure, with the reason the file could not be made.
        task.cancelledQuietly = true;
        webkit_download_cancel(download);
        reportDownloadFailure(webkit_download_get_web_view(download),
            downloadFileName(task.suggestedName), responseURI(download),
            downloadFailedMessage(created.error()));
        return;
    }
    std::string destination = created.value().path().string();
    task.file.emplace(std::move(created.value()));
    m_inProgressDownloads[task.key] = { fileURL(destination), responseURI(download) };
    webkit_download_set_destination(download, destination.c_str());
    showDownloadProgress(task);
}

void BrowserController::downloadCreatedDestination(WebKitDownload* download, char*)
{
    if (auto it = m_downloadTasks.find(download); it != m_downloadTasks.end())
        showDownloadProgress(*it->second);
}

void BrowserController::downloadProgressChanged(WebKitDownload* download, GParamSpec*)
{
    if (auto it = m_downloadTasks.find(download); it != m_downloadTasks.end())
        showDownloadProgress(*it->second);
}

void BrowserController::showDownloadProgress(const DownloadTask& task) const
{
    if (!m_downloadsWindow || !task.file)
        return;
    WebKitDownload* download = task.download.get();
    m_downloadsWindow->setProgress(task.key, downloadRecordName(task.file->path()),
        webkit_download_get_estimated_progress(download),
        webkit_download_get_received_data_length(download));
}

void BrowserController::downloadDidFail(WebKitDownload* download, GError* error)
{
    auto it = m_downloadTasks.find(download);
    if (it == m_downloadTasks.end())
        return;
    DownloadTask& task = *it->second;
    m_inProgressDownloads.erase(task.key);
    if (m_downloadsWindow)
        m_downloadsWindow->removeProgress(task.key);
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (task.held) {
        task.held = false;
        if (view) {
            downloadGate(view).heldEnded();
            if (view == m_webView)
                refreshDownloadBar();
        }
    }
    if (task.cancelledQuietly)
        return;
    std::string description = error && error->message && *error->message
        ? error->message
        : "The download could not be completed.";
    std::string name = task.file ? downloadRecordName(task.file->path())
                                 : downloadFileName(task.suggestedName);
    reportDownloadFailure(view, name, responseURI(download), downloadFailedMessage(description));
}

void BrowserController::reportDownloadFailure(WebKitWebView* view, const std::string& name,
    const std::optional<std::string>& source, const std::string& message)
{
    // A page can fail downloads as fast as it starts them: the list is bounded, the oldest go.
    constexpr size_t kMaxFailedDownloads = 200;
    if (m_failedDownloads.size() >= kMaxFailedDownloads)
        m_failedDownloads.erase(m_failedDownloads.begin());
    m_failedDownloads.push_back({ name, source.value_or(""), message });
    if (m_downloadsWindow)
        m_downloadsWindow->reloadFailures();
    // Told once per page, in its tab's bar and the window title; never an alert to dismiss.
    if (!view || !tabIDForWebView(view) || !downloadGate(view).noteFailure(message))
        return;
    if (view == m_webView) {
        if (m_window)
            m_window->set_title(message);
        refreshDownloadBar();
    }
}

void BrowserController::downloadDidFinish(WebKitDownload* download)
{
    auto it = m_downloadTasks.find(download);
    if (it == m_downloadTasks.end())
        return;
    // Held here so the task outlives the engine's signal emission it is answering.
    std::unique_ptr<DownloadTask> task = std::move(it->second);
    m_downloadTasks.erase(it);
    task->ended = true;
    task->signals.clear();
    if (auto entry = m_inProgressDownloads.find(task->key); entry != m_inProgressDownloads.end()) {
        InProgressDownload finished = entry->second;
        m_inProgressDownloads.erase(entry);
        if (m_downloadsWindow)
            m_downloadsWindow->removeProgress(task->key);
        // The name stays reserved until the record names the file.
        recordCompletedDownloadURL(finished.path, finished.source);
        task->file.reset();
    }
    // A failed download's task takes its still-empty file with it; whatever the engine left
    // in its place is left alone.
}

void BrowserController::noteBrowserStartedLoad(WebKitWebView* view)
{
    if (view)
        addUserNavigation(view);
}

void BrowserController::noteDownloadGesture(WebKitWebView* view) { addUserNavigation(view); }

void BrowserController::noteResponseDownload(
    WebKitWebView* view, const char* requestURI, bool mainFrame)
{
    std::string address = requestURI ? requestURI : "";
    downloadGate(view).expectDownload(address, mainFrame ? DownloadFrame::Main : DownloadFrame::Sub);
    // The page's own response to what the user opened: that download is the user's.
    if (mainFrame && takeUserNavigation(view)) {
        auto& addresses = userNavigations(view).downloadAddresses;
        if (addresses.size() >= UserNavigations::kMax)
            addresses.pop_front();
        addresses.push_back(address);
    }
}

void BrowserController::downloadPageCommitted(WebKitWebView* view)
{
    downloadGate(view).pageCommitted(PageDownloadGate::Clock::now());
    takeUserNavigation(view);
    // Navigating away ends the question: what it held is cancelled.
    std::vector<WebKitDownload*> held;
    for (auto& [download, task] : m_downloadTasks) {
        if (task->held && webkit_download_get_web_view(download) == view) {
            task->held = false;
            task->cancelledQuietly = true;
            held.push_back(download);
        }
    }
    // Cancelling may end a task at once, so the table is not walked while it happens.
    for (WebKitDownload* download : held)
        webkit_download_cancel(download);
    if (view == m_webView)
        refreshDownloadBar();
}

void BrowserController::answerDownloadQuestion(WebKitWebView* view, DownloadAnswer answer)
{
    if (!view)
        return;
    downloadGate(view).answer(answer);
    std::vector<DownloadTask*> held;
    for (auto& [download, task] : m_downloadTasks)
        if (task->held && webkit_download_get_web_view(download) == view)
            held.push_back(task.get());
    for (DownloadTask* task : held) {
        if (answer == DownloadAnswer::Allowed) {
            startDownloadIntoFolder(*task);
        } else {
            task->held = false;
            task->cancelledQuietly = true;
            webkit_download_cancel(task->download.get());
        }
    }
    if (view == m_webView)
        refreshDownloadBar();
}

void BrowserController::refreshDownloadBar()
{
    if (!m_window)
        return;
    DownloadBar& bar = m_window->downloadBar();
    WebKitWebView* view = m_webView;
    if (!view) {
        bar.hideBar();
        return;
    }
    PageDownloadGate& gate = downloadGate(view);
    // The bar answers for the tab, found again when clicked: it may have closed meanwhile.
    TabID tab = tabIDForWebView(view).value_or("");
    auto answer = [this, tab](DownloadAnswer choice) {
        if (WebKitWebView* current = tab.empty() ? nullptr : browserTabForID(tab))
            answerDownloadQuestion(current, choice);
    };
    if (gate.asking()) {
        bar.showQuestion([answer] { answer(DownloadAnswer::Allowed); },
            [answer] { answer(DownloadAnswer::Blocked); });
    } else if (gate.failureNotice()) {
        bar.showNotice(
            *gate.failureNotice(), [this] { showDownloads(); },
            [this, tab] {
                if (WebKitWebView* current = tab.empty() ? nullptr : browserTabForID(tab))
                    downloadGate(current).dismissFailureNotice();
                refreshDownloadBar();
            });
    } else {
        bar.hideBar();
    }
}

} // namespace qv

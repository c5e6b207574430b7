// Downloads of browser tabs: the destination in the Downloads folder, progress, finishing and
// failing, and the list of finished downloads in "downloads.json".
#include "downloads/download_service.h"

#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "extensions/extension_service.h"
#include "app/web_views.h"
#include "downloads/download_bar.h"
#include "history/history_service.h"
#include "platform/log.h"
#include "profiles/profile_service.h"
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

    constexpr const char* kDownloadCutShortMessage
        = "The connection closed before the whole file arrived.";

    // Fewer bytes arrived than the server announced. Only a body sent as it is can be measured
    // so: a decoded one has a size of its own.
    bool endedShort(WebKitDownload* download)
    {
        WebKitURIResponse* response = webkit_download_get_response(download);
        if (!response)
            return false;
        std::optional<std::uint64_t> announced = announcedDecodedLength(response);
        return announced && webkit_download_get_received_data_length(download) < *announced;
    }

    std::string requestURI(WebKitDownload* download)
    {
        WebKitURIRequest* request = webkit_download_get_request(download);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        return uri ? uri : "";
    }

    void addUserNavigation(TabLoadState& state)
    {
        auto now = PageDownloadGate::Clock::now();
        state.downloadGate.noteUserGesture(now);
        UserNavigations& navigations = state.userNavigations;
        if (navigations.credits.size() >= UserNavigations::kMax)
            navigations.credits.pop_front();
        navigations.credits.push_back(now);
    }

    // Takes the oldest credit still current, if any.
    bool takeUserNavigation(TabLoadState& state)
    {
        UserNavigations& navigations = state.userNavigations;
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

DownloadService::DownloadService(const Services& services)
    : m_services(services)
{
}

DownloadService::~DownloadService() { m_runningTick.disconnect(); }

void DownloadService::makeStore()
{
    const fs::path& history = m_services.history->historyFileURL();
    fs::path historyFile = history.empty() ? historyURL() : history;
    m_downloadsFileURL = historyFile.parent_path() / std::string(kDownloadsFileName);
    // The same store is kept, so an unusable file is reported once, not at every showing.
    if (m_downloadStore && m_downloadStore->fileURL() == m_downloadsFileURL)
        return;
    auto report = [alive = m_lifetime.token(), downloads = this] {
        runOnMainLoop(alive, [downloads] { downloads->reportListWrites(); });
    };
    m_downloadStore = std::make_unique<DownloadStore>(
        m_downloadsFileURL, m_services.shell->fileWriter(), report);
}

void DownloadService::reportListWrites()
{
    if (!m_downloadStore)
        return;
    for (const DownloadWriteFailure& failure : m_downloadStore->takeWriteFailures()) {
        if (failure.removal)
            m_services.shell->showError(failure.message);
        else
            logLine(failure.message);
    }
}

void DownloadService::loadDownloads()
{
    makeStore();
    if (auto problem = m_downloadStore->load())
        m_services.shell->showError(*problem);
}

const std::vector<Json>& DownloadService::downloadEntries() const
{
    static const std::vector<Json> none;
    return m_downloadStore ? m_downloadStore->entries() : none;
}

void DownloadService::recordCompletedDownloadURL(const std::string& url,
    const std::optional<std::string>& sourceURL, DownloadStore::Keep keep)
{
    if (!m_downloadStore)
        makeStore();
    std::optional<std::string_view> source;
    if (sourceURL)
        source = *sourceURL;
    DownloadRecording outcome
        = m_downloadStore->recordCompletedDownloadURL(url, source, DownloadClock::now(), keep);
    if (outcome.loadProblem)
        m_services.shell->showError(*outcome.loadProblem);
    // The record stays in memory; the file left as it was is what the next reading shows. A
    // write that fails later is logged by reportListWrites.
    if (outcome.writeProblem)
        logLine(*outcome.writeProblem);
    if (outcome.recorded)
        m_recordsChanged.emit();
}

Result<Done> DownloadService::removeRecords(const std::vector<size_t>& rows)
{
    if (!m_downloadStore)
        return Done {};
    auto removed = m_downloadStore->removeRecords(rows);
    m_recordsChanged.emit();
    return removed;
}

Result<fs::path> DownloadService::revealablePath(size_t row) const
{
    if (!m_downloadStore)
        return Result<fs::path>::failure(std::string(kDownloadFileMissingMessage));
    return m_downloadStore->revealablePath(static_cast<long>(row), downloadsDirectory());
}

bool DownloadService::hasRunningDownloadFor(WebKitWebView* view) const
{
    for (const auto& [download, task] : m_downloadTasks)
        if (!task->ended && webkit_download_get_web_view(download) == view)
            return true;
    return false;
}

void DownloadService::announceProgress() const
{
    for (const auto& [key, running] : m_running)
        m_progress.emit(key, running.name, running.fraction, running.received);
}

void DownloadService::updateRunning(const std::string& key, const std::string& name,
    const std::string& source, std::uint64_t received, std::optional<std::uint64_t> total,
    double fraction)
{
    auto [it, added] = m_running.try_emplace(key);
    RunningDownload& running = it->second;
    if (added)
        running.serial = ++m_downloadSerial;
    running.name = name;
    running.source = source;
    running.received = received;
    running.total = total;
    running.fraction = std::clamp(fraction, 0.0, 1.0);
    running.rate.sample(TransferRate::Clock::now(), received);
    // While anything runs, speeds and times are brought up to date every second, so a stalled
    // download is seen to slow down.
    if (!m_runningTick.connected())
        m_runningTick = Glib::signal_timeout().connect_seconds(
            sigc::mem_fun(*this, &DownloadService::sampleRunning), 1);
    m_progress.emit(key, running.name, running.fraction, running.received);
    m_runningChanged.emit();
}

bool DownloadService::sampleRunning()
{
    if (m_running.empty())
        return false;
    auto now = TransferRate::Clock::now();
    for (auto& [key, running] : m_running) {
        running.rate.sample(now, running.received);
        m_progress.emit(key, running.name, running.fraction, running.received);
    }
    m_runningChanged.emit();
    return true;
}

void DownloadService::endRunning(const std::string& key)
{
    m_progressEnded.emit(key);
    if (m_running.erase(key))
        m_runningChanged.emit();
    if (m_running.empty())
        m_runningTick.disconnect();
}

void DownloadService::cancelDownload(const std::string& key)
{
    if (auto own = m_ownDownloadCancels.find(key); own != m_ownDownloadCancels.end()) {
        // The owner ends it when its transfer has stopped.
        if (auto cancel = std::exchange(own->second, nullptr))
            cancel();
        return;
    }
    for (auto& [download, task] : m_downloadTasks) {
        if (task->key != key || task->ended || !task->file)
            continue;
        // Quietly: the user knows, so the failure the engine reports next is not shown.
        task->cancelledQuietly = true;
        m_inProgressDownloads.erase(task->key);
        endRunning(task->key);
        webkit_download_cancel(download);
        return;
    }
}

std::string DownloadService::beginOwnDownload(
    const std::string& name, const std::string& source, std::function<void()> cancel)
{
    std::string key = "own-" + std::to_string(m_downloadSerial + 1);
    m_ownDownloadCancels[key] = std::move(cancel);
    updateRunning(key, name, source, 0, std::nullopt, 0);
    return key;
}

void DownloadService::ownDownloadProgress(
    const std::string& key, std::uint64_t received, std::optional<std::uint64_t> total)
{
    auto it = m_running.find(key);
    if (it == m_running.end())
        return;
    double fraction = total && *total ? static_cast<double>(received) / *total : 0;
    updateRunning(key, it->second.name, it->second.source, received, total, fraction);
}

void DownloadService::endOwnDownload(const std::string& key)
{
    m_ownDownloadCancels.erase(key);
    endRunning(key);
}

void DownloadService::watchDownloadsOfSession(WebKitNetworkSession* session)
{
    if (!session)
        return;
    // One handler per session, however many views share it.
    if (g_signal_handler_find(session, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this))
        return;
    m_downloadSessionSignals.emplace_back(session,
        connectSignal<&DownloadService::downloadStarted>(session, "download-started", this));
}

void DownloadService::downloadStarted(WebKitNetworkSession*, WebKitDownload* download)
{
    // Only browser tabs download here; downloads that others start are theirs to handle.
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (!view || m_services.extensions->isExtensionWebView(view) || m_downloadTasks.count(download))
        return;
    auto task = std::make_unique<DownloadTask>(download);
    const Tab* tab = m_services.tabs->tabList().tabWithView(view);
    task->runOnly = tab && m_services.profiles->isPrivateProfile(tab->profileID());
    // The destination is created empty beforehand to hold its name.
    webkit_download_set_allow_overwrite(download, TRUE);
    task->signals.emplace_back(download,
        connectSignal<&DownloadService::downloadDecideDestination>(
            download, "decide-destination", this));
    task->signals.emplace_back(download,
        connectSignal<&DownloadService::downloadCreatedDestination>(
            download, "created-destination", this));
    task->signals.emplace_back(download,
        connectSignal<&DownloadService::downloadProgressChanged>(
            download, "notify::estimated-progress", this));
    task->signals.emplace_back(
        download, connectSignal<&DownloadService::downloadDidFail>(download, "failed", this));
    task->signals.emplace_back(
        download, connectSignal<&DownloadService::downloadDidFinish>(download, "finished", this));
    m_downloadTasks[download] = std::move(task);
}

gboolean DownloadService::downloadDecideDestination(WebKitDownload* download, char* suggestedName)
{
    auto it = m_downloadTasks.find(download);
    if (it == m_downloadTasks.end())
        return FALSE;
    DownloadTask& task = *it->second;
    task.suggestedName = suggestedName ? suggestedName : "";
    // A page that starts downloads by itself gets its first one; the user is asked about more.
    // Only a tab's pages are asked about: the tab holds the rules of its page.
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (Tab* tab = m_services.tabs->tabList().tabWithView(view)) {
        PageDownloadGate& gate = tab->loadState().downloadGate;
        std::string request = requestURI(download);
        // A response of a navigation the user started counts as the user's gesture.
        auto& addresses = tab->loadState().userNavigations.downloadAddresses;
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
            if (view == m_services.tabs->selectedWebView())
                refreshDownloadBar();
            return TRUE;
        case DownloadAdmission::Start:
            break;
        }
    }
    startDownloadIntoFolder(task);
    return TRUE;
}

void DownloadService::startDownloadIntoFolder(DownloadTask& task)
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

void DownloadService::downloadCreatedDestination(WebKitDownload* download, char*)
{
    if (auto it = m_downloadTasks.find(download); it != m_downloadTasks.end())
        showDownloadProgress(*it->second);
}

void DownloadService::downloadProgressChanged(WebKitDownload* download, GParamSpec*)
{
    if (auto it = m_downloadTasks.find(download); it != m_downloadTasks.end())
        showDownloadProgress(*it->second);
}

void DownloadService::showDownloadProgress(const DownloadTask& task)
{
    if (!task.file || task.ended || task.cancelledQuietly)
        return;
    WebKitDownload* download = task.download.get();
    WebKitURIResponse* response = webkit_download_get_response(download);
    guint64 length = response ? webkit_uri_response_get_content_length(response) : 0;
    std::optional<std::uint64_t> total;
    if (length > 0)
        total = length;
    updateRunning(task.key, downloadRecordName(task.file->path()),
        responseURI(download).value_or(""), webkit_download_get_received_data_length(download),
        total, webkit_download_get_estimated_progress(download));
}

void DownloadService::downloadDidFail(WebKitDownload* download, GError* error)
{
    auto it = m_downloadTasks.find(download);
    if (it == m_downloadTasks.end())
        return;
    DownloadTask& task = *it->second;
    m_inProgressDownloads.erase(task.key);
    endRunning(task.key);
    // Whatever the engine wrote of it goes; the name stays reserved until the task ends.
    if (task.file)
        task.file->removePartial();
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (task.held) {
        task.held = false;
        if (Tab* tab = m_services.tabs->tabList().tabWithView(view)) {
            tab->loadState().downloadGate.heldEnded();
            if (view == m_services.tabs->selectedWebView())
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

void DownloadService::reportDownloadFailure(WebKitWebView* view, const std::string& name,
    const std::optional<std::string>& source, const std::string& message)
{
    // A page can fail downloads as fast as it starts them: the list is bounded, the oldest go.
    constexpr size_t kMaxFailedDownloads = 200;
    if (m_failedDownloads.size() >= kMaxFailedDownloads)
        m_failedDownloads.erase(m_failedDownloads.begin());
    m_failedDownloads.push_back({ name, source.value_or(""), message });
    m_failuresChanged.emit();
    // Told once per page, in its tab's bar and the window title; never an alert to dismiss.
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab || !tab->loadState().downloadGate.noteFailure(message))
        return;
    if (view == m_services.tabs->selectedWebView()) {
        if (BrowserWindow* window = m_services.shell->window())
            window->set_title(message);
        refreshDownloadBar();
    }
}

void DownloadService::downloadDidFinish(WebKitDownload* download)
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
        endRunning(task->key);
        if (endedShort(download)) {
            // The engine ends a download whose connection closed early as if it were complete.
            if (task->file) {
                std::string name = downloadRecordName(task->file->path());
                task->file->removePartial();
                reportDownloadFailure(webkit_download_get_web_view(download), name,
                    finished.source, downloadFailedMessage(kDownloadCutShortMessage));
            }
            return;
        }
        // The name stays reserved until the record names the file.
        recordCompletedDownloadURL(finished.path, finished.source,
            task->runOnly ? DownloadStore::Keep::ThisRunOnly : DownloadStore::Keep::InFile);
        task->file.reset();
    }
    // A failed download's task takes its still-empty file with it; the partial file was
    // removed when it failed.
}

void DownloadService::noteBrowserStartedLoad(WebKitWebView* view)
{
    if (Tab* tab = m_services.tabs->tabList().tabWithView(view))
        addUserNavigation(tab->loadState());
}

void DownloadService::noteDownloadGesture(WebKitWebView* view) { noteBrowserStartedLoad(view); }

void DownloadService::noteResponseDownload(
    WebKitWebView* view, const char* requestURI, bool mainFrame)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return;
    TabLoadState& state = tab->loadState();
    std::string address = requestURI ? requestURI : "";
    state.downloadGate.expectDownload(
        address, mainFrame ? DownloadFrame::Main : DownloadFrame::Sub);
    // The page's own response to what the user opened: that download is the user's.
    if (mainFrame && takeUserNavigation(state)) {
        auto& addresses = state.userNavigations.downloadAddresses;
        if (addresses.size() >= UserNavigations::kMax)
            addresses.pop_front();
        addresses.push_back(address);
    }
}

void DownloadService::downloadPageCommitted(WebKitWebView* view)
{
    if (Tab* tab = m_services.tabs->tabList().tabWithView(view)) {
        tab->loadState().downloadGate.pageCommitted(PageDownloadGate::Clock::now());
        takeUserNavigation(tab->loadState());
    }
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
    if (view == m_services.tabs->selectedWebView())
        refreshDownloadBar();
}

void DownloadService::answerDownloadQuestion(WebKitWebView* view, DownloadAnswer answer)
{
    Tab* tab = m_services.tabs->tabList().tabWithView(view);
    if (!tab)
        return;
    tab->loadState().downloadGate.answer(answer);
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
    if (view == m_services.tabs->selectedWebView())
        refreshDownloadBar();
}

void DownloadService::refreshDownloadBar()
{
    BrowserWindow* window = m_services.shell->window();
    if (!window)
        return;
    DownloadBar& bar = window->downloadBar();
    Tab* shown = m_services.tabs->tabList().tabWithView(m_services.tabs->selectedWebView());
    if (!shown) {
        bar.hideBar();
        return;
    }
    PageDownloadGate& gate = shown->loadState().downloadGate;
    // The bar answers for the tab, found again when clicked: it may have closed meanwhile.
    TabID tab = shown->id();
    auto answer = [this, tab](DownloadAnswer choice) {
        if (WebKitWebView* current = tab.empty() ? nullptr : m_services.tabs->browserTabForID(tab))
            answerDownloadQuestion(current, choice);
    };
    if (gate.asking()) {
        bar.showQuestion([answer] { answer(DownloadAnswer::Allowed); },
            [answer] { answer(DownloadAnswer::Blocked); });
    } else if (gate.failureNotice()) {
        bar.showNotice(
            *gate.failureNotice(), [this] { m_showDownloadsRequested.emit(); },
            [this, tab] {
                if (Tab* current = m_services.tabs->tabList().tabWithID(tab))
                    current->loadState().downloadGate.dismissFailureNotice();
                refreshDownloadBar();
            });
    } else {
        bar.hideBar();
    }
}

} // namespace qv

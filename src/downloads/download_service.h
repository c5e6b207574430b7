// The download service: the downloads the engine runs for browser tabs, what each tab's page may
// download, the question and notices in the browser window's bar, and "downloads.json".
#pragma once

#include "app/web_views.h"
#include "downloads/download_progress.h"
#include "downloads/download_store.h"
#include "downloads/download_tasks.h"

#include <sigc++/sigc++.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct Services;

// A download in progress as the window shows it: the engine's for a tab, or one the browser
// runs itself (an extension's save).
struct RunningDownload {
    std::string name;
    std::string source;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total; // when the server announced it
    double fraction = 0; // 0 to 1, as far as it can be told
    unsigned long serial = 0; // start order
    TransferRate rate;
};

class DownloadService {
public:
    explicit DownloadService(const Services& services);
    ~DownloadService();
    DownloadService(const DownloadService&) = delete;
    DownloadService& operator=(const DownloadService&) = delete;

    // (Re)reads "downloads.json" beside the history file; an unusable file is reported once.
    void loadDownloads();
    // Adds a record of a finished download: a "file://" URL of an existing file and the
    // address it came from. Anything else records nothing.
    void recordCompletedDownloadURL(const std::string& url,
        const std::optional<std::string>& sourceURL,
        DownloadStore::Keep keep = DownloadStore::Keep::InFile);
    const std::vector<Json>& downloadEntries() const;
    const std::filesystem::path& downloadsFileURL() const { return m_downloadsFileURL; }
    // Removes the records at these rows; an error tells why nothing was removed.
    Result<Done> removeRecords(const std::vector<size_t>& rows);
    // The file of the record at this row, when it may be shown in the file viewer.
    Result<std::filesystem::path> revealablePath(size_t row) const;
    // Running downloads by the "%p" identity of their engine object.
    const std::map<std::string, InProgressDownload>& inProgressDownloads() const
    {
        return m_inProgressDownloads;
    }
    // Downloads that failed in this run, oldest first, as the Downloads window lists them.
    const std::vector<FailedDownload>& failedDownloads() const { return m_failedDownloads; }
    // A download started by this view is still running (or waiting for the user's answer).
    bool hasRunningDownloadFor(WebKitWebView* view) const;
    // Sends the progress of every running download through signalProgress.
    void announceProgress() const;

    // Downloads in progress by key.
    const std::map<std::string, RunningDownload>& runningDownloads() const { return m_running; }
    // Stops a running download at the user's request: its partial file is removed, and it is
    // neither recorded nor reported as failed.
    void cancelDownload(const std::string& key);
    // A download the browser runs itself is shown and cancelled like the engine's. `cancel`
    // stops it; the owner still ends it with endOwnDownload. The value is its key.
    std::string beginOwnDownload(
        const std::string& name, const std::string& source, std::function<void()> cancel);
    void ownDownloadProgress(
        const std::string& key, std::uint64_t received, std::optional<std::uint64_t> total);
    void endOwnDownload(const std::string& key);

    // A web view's network session: its downloads come here.
    void watchDownloadsOfSession(WebKitNetworkSession* session);
    // The browser itself loads a page in this tab (the address field, toolbar, an extension):
    // like the user's gesture, it may download and it starts the tab's downloads afresh.
    void noteBrowserStartedLoad(WebKitWebView* webView);
    // Navigation hooks of the download rules.
    void noteDownloadGesture(WebKitWebView* webView);
    void noteResponseDownload(WebKitWebView* webView, const char* requestURI, bool mainFrame);
    void downloadPageCommitted(WebKitWebView* webView);
    // Shows the selected tab's download question or failure notice in the window's bar.
    void refreshDownloadBar();
    // The user's answer to the question of the tab with this web view: its held downloads
    // start or are cancelled, and so are its later ones.
    void answerDownloadQuestion(WebKitWebView* webView, DownloadAnswer answer);

    // A running download's name, fraction done (0 to 1) and bytes so far.
    sigc::signal<void(const std::string&, const std::string&, double, std::uint64_t)>&
    signalProgress()
    {
        return m_progress;
    }
    // A running download ended, either way.
    sigc::signal<void(const std::string&)>& signalProgressEnded() { return m_progressEnded; }
    // Running downloads started, moved on or ended; also every second while any runs.
    sigc::signal<void()>& signalRunningChanged() { return m_runningChanged; }
    sigc::signal<void()>& signalRecordsChanged() { return m_recordsChanged; }
    sigc::signal<void()>& signalFailuresChanged() { return m_failuresChanged; }
    // The bar's "Show Downloads" was clicked.
    sigc::signal<void()>& signalShowDownloadsRequested() { return m_showDownloadsRequested; }

private:
    void downloadStarted(WebKitNetworkSession* session, WebKitDownload* download);
    gboolean downloadDecideDestination(WebKitDownload* download, char* suggestedName);
    void downloadCreatedDestination(WebKitDownload* download, char* destination);
    void downloadProgressChanged(WebKitDownload* download, GParamSpec*);
    void downloadDidFinish(WebKitDownload* download);
    void downloadDidFail(WebKitDownload* download, GError* error);
    void showDownloadProgress(const DownloadTask& task);
    // The running entry of key and its progress, sampled now, shown to every listener.
    void updateRunning(const std::string& key, const std::string& name, const std::string& source,
        std::uint64_t received, std::optional<std::uint64_t> total, double fraction);
    void endRunning(const std::string& key);
    bool sampleRunning();
    // Gives a download its file in the Downloads folder and lets it run.
    void startDownloadIntoFolder(DownloadTask& task);
    // Lists the failure, and tells the tab once per page, never in a modal alert.
    void reportDownloadFailure(WebKitWebView* webView, const std::string& name,
        const std::optional<std::string>& source, const std::string& message);
    void makeStore();
    // Failed writes of the list, on the main loop: a removal's is shown, a record's logged.
    void reportListWrites();

    const Services& m_services;
    std::filesystem::path m_downloadsFileURL;
    std::unique_ptr<DownloadStore> m_downloadStore;
    std::map<std::string, InProgressDownload> m_inProgressDownloads;
    DownloadNameReservations m_downloadNameReservations;
    std::map<WebKitDownload*, std::unique_ptr<DownloadTask>> m_downloadTasks;
    std::vector<SignalConnection> m_downloadSessionSignals;
    std::vector<FailedDownload> m_failedDownloads;
    std::map<std::string, RunningDownload> m_running;
    std::map<std::string, std::function<void()>> m_ownDownloadCancels;
    unsigned long m_downloadSerial = 0;
    sigc::connection m_runningTick;
    sigc::signal<void(const std::string&, const std::string&, double, std::uint64_t)> m_progress;
    sigc::signal<void(const std::string&)> m_progressEnded;
    sigc::signal<void()> m_runningChanged;
    sigc::signal<void()> m_recordsChanged;
    sigc::signal<void()> m_failuresChanged;
    sigc::signal<void()> m_showDownloadsRequested;
    Lifetime m_lifetime;
};

} // namespace qv

// The downloads the engine runs for browser tabs while they are in progress.
#pragma once

#include "downloads/download_files.h"
#include "downloads/download_permission_rules.h"
#include "downloads/download_store.h"
#include "platform/gobject_ptr.h"

#include <webkit/webkit.h>

#include <optional>
#include <string>
#include <vector>

namespace qv {

// One entry of the in-progress table, from the destination decision to finish or failure.
struct InProgressDownload {
    std::string path; // the destination's "file://" URL
    std::optional<std::string> source; // the address of the response that started it
};

// What the controller holds of a running download. Dropped before the engine is done with
// it (the browser closing), it stops the download without telling anyone.
struct DownloadTask {
    explicit DownloadTask(WebKitDownload* engineDownload);
    ~DownloadTask();
    DownloadTask(const DownloadTask&) = delete;
    DownloadTask& operator=(const DownloadTask&) = delete;

    std::string key; // "%p" of the engine object
    GObjectPtr<WebKitDownload> download;
    std::vector<SignalConnection> signals;
    // The destination's name stays reserved until the download ends.
    std::optional<ReservedDownloadFile> file;
    // Cancelled by us for a reason already handled (no Downloads folder, the user's Block):
    // no failure is reported.
    bool cancelledQuietly = false;
    bool ended = false;
    // Waiting for the user's answer in its tab's bar, with the name the server suggested.
    bool held = false;
    std::string suggestedName;
    // Started by a private profile's page: listed for this run, never written down.
    bool runOnly = false;
};

// A download that failed in this run, as the Downloads window lists it. Kept in memory only.
struct FailedDownload {
    std::string name;
    std::string source;
    std::string message;
};

// "%p" of a download object, the key of the in-progress table.
std::string downloadKey(WebKitDownload* download);

} // namespace qv

// The list of finished downloads kept in "downloads.json", newest first.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class FileWriter;

using DownloadClock = std::chrono::system_clock;

inline constexpr std::string_view kDownloadsFileName = "downloads.json";
// Far more records than anyone keeps; a larger file is unusable rather than read into memory.
inline constexpr std::uintmax_t kDownloadsFileLimit = 64 * 1024 * 1024;
inline constexpr std::string_view kDownloadFileMissingMessage
    = "This downloaded file is no longer available at its saved location.";
inline constexpr std::string_view kOpenDownloadsFolderMessage
    = "Could not open the Downloads folder.";

// One record as the window shows it. Records in the file may be any object; missing or
// non-string fields read as "" ("download" for the name), and other fields are dropped.
struct DownloadRecord {
    std::string path;
    std::string name;
    std::string source;
    std::string date;

    static DownloadRecord fromJson(const Json& object);
    // The string fields of a record read from the file, and nothing else.
    static Json knownFields(const Json& object);
    Json toJson() const;
};

// "2026-12-06 22:26:10 +0000", in UTC.
std::string downloadDateText(DownloadClock::time_point moment);

// The record name of a path: its last component, or "download" when it has none.
std::string downloadRecordName(const std::filesystem::path& path);

// "Remove 2 download record(s)?" and its informative text.
std::string downloadsRemovalQuestion(size_t count);
inline constexpr std::string_view kDownloadsRemovalInformative
    = "This only removes the selected items from Quivel's Downloads list. Downloaded files will "
      "remain on your Mac.";

inline constexpr std::string_view kDownloadOutsideFolderMessage
    = "Only files in the Downloads folder can be revealed.";

// A record's path may be anything the file held. Only an absolute path with no "." or ".."
// part that lies inside the Downloads folder, also once links are resolved, is revealed; the
// value is the resolved path. Failures: kDownloadOutsideFolderMessage, or
// kDownloadFileMissingMessage when nothing is there.
Result<std::filesystem::path> revealableDownloadPath(
    std::string_view recordPath, const std::filesystem::path& downloadsFolder);

// "Download failed: <description>".
std::string downloadFailedMessage(std::string_view description);

// What recording a finished download did.
struct DownloadRecording {
    bool recorded = false; // a record went to the front of entries()
    // The list had to be loaded first and its file was unusable (see DownloadStore::load).
    std::optional<std::string> loadProblem;
    // The list cannot be saved at all: the record is in memory only and lost at the next load.
    std::optional<std::string> writeProblem;
};

// A write of the list that failed on the writer's thread.
struct DownloadWriteFailure {
    std::string message;
    // A removal the user asked for; a failed record is only logged, as the record stays listed.
    bool removal = false;
};

// Owns "downloads.json". Every change is handed to the file writer, which replaces the whole
// file atomically off the calling thread; failures come back through takeWriteFailures(). A file
// that exists but cannot be read or understood is never written over: it is kept aside as
// "downloads.json.bad" (".bad.2", ...) before anything new is written, and when that is
// impossible the store stops writing.
class DownloadStore {
public:
    // writeReported runs on the writer's thread whenever takeWriteFailures() has something new.
    DownloadStore(std::filesystem::path file, FileWriter& writer,
        std::function<void()> writeReported = {});
    ~DownloadStore();
    DownloadStore(const DownloadStore&) = delete;
    DownloadStore& operator=(const DownloadStore&) = delete;

    const std::filesystem::path& fileURL() const { return m_file; }
    bool isLoaded() const { return m_loaded; }
    // Every element is an object, newest first.
    const std::vector<Json>& entries() const { return m_entries; }
    DownloadRecord recordAt(size_t row) const;

    // Rereads the file. Only a missing file is an empty list without comment. Otherwise an
    // unusable file (unreadable, not JSON, not an array, or holding elements that are not
    // objects) gives a message, once per file met: reloading the same file says nothing more.
    // The objects of an array are still listed. While a write of ours is on its way, the list
    // in memory is newer than the file and is kept.
    std::optional<std::string> load();

    // Adds a record of a file that exists, with the source when it is an absolute address
    // (else ""), dated moment. Loads the list first when it never was. Paths that name no
    // existing regular file record nothing. A record for this run only is listed but never
    // written to the file.
    enum class Keep { InFile, ThisRunOnly };
    DownloadRecording recordCompletedDownload(const std::filesystem::path& file,
        std::optional<std::string_view> sourceURL, DownloadClock::time_point moment,
        Keep keep = Keep::InFile);
    // The same from a "file://" URL; other URLs record nothing.
    DownloadRecording recordCompletedDownloadURL(std::string_view fileURL,
        std::optional<std::string_view> sourceURL, DownloadClock::time_point moment,
        Keep keep = Keep::InFile);

    // Removes the records at these rows (rows past the end are skipped) and saves the list. When
    // the list cannot be saved at all nothing is removed: "Could not update the Downloads list:
    // <reason>"; a write that fails later is reported with the same words.
    Result<Done> removeRecords(const std::vector<size_t>& rows);

    // Failed writes since the last call, oldest first.
    std::vector<DownloadWriteFailure> takeWriteFailures();

    // The row's file as revealableDownloadPath finds it; a row out of range is the missing
    // file's failure.
    Result<std::filesystem::path> revealablePath(
        long row, const std::filesystem::path& downloadsFolder) const;

private:
    struct FileIdentity {
        std::uintmax_t device = 0;
        std::uintmax_t inode = 0;
        std::uintmax_t size = 0;
        std::int64_t modifiedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    // Shared with the writer's thread.
    struct WriteState;

    static std::optional<FileIdentity> identify(const std::filesystem::path& file);
    std::optional<std::string> loadFile();
    // Writes the entries kept in the file.
    void submit(bool removal);

    std::filesystem::path m_file;
    FileWriter& m_writer;
    bool m_loaded = false;
    std::vector<Json> m_entries;
    // Beside m_entries: the records of this run only.
    std::vector<bool> m_runOnly;
    std::shared_ptr<WriteState> m_writeState;
    // The unusable file last reported, so showing the window again does not repeat it.
    std::optional<FileIdentity> m_reportedFile;
};

} // namespace qv

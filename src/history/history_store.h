// The browsing history file "history.json": visits filed under their UTC year, month and day.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using HistoryClock = std::chrono::system_clock;

// One visit as listed by the history window, with where it sits in the file.
struct HistoryEntry {
    std::string url;
    std::string title;
    std::string time;
    // Year, month and day keys and the position in that day's array when loaded or added.
    std::string year;
    std::string month;
    std::string day;
    size_t index = 0;
};

inline constexpr std::array<std::string_view, 12> kHistoryMonthKeys
    = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

struct HistoryDayKeys {
    long yearNumber = 0;
    std::string year; // "2026"
    std::string month; // "Dec"
    std::string day; // "6"
};

// The keys of the UTC calendar day of a moment.
HistoryDayKeys historyDayKeys(HistoryClock::time_point moment);

// ISO 8601 internet date-time in UTC without fractional seconds: "2026-12-06T22:22:48Z".
std::string historyTimestamp(HistoryClock::time_point moment);

// Spaces per level of the written text. One space keeps a large file a tenth smaller than two,
// and writing the file is most of the cost of recording a visit.
inline constexpr int kHistoryIndent = 1;

// The pretty-printed text the store writes for a document: the same text as
// dumpJson(document, kHistoryIndent), made much faster for the cached day arrays.
std::string prettyHistoryText(const Json& document);

// A history file larger than this is not read (and so never written over). It is far beyond
// any history a person makes; the limit keeps a huge or endless file from eating all memory.
inline constexpr std::uintmax_t kHistoryFileLimit = 512 * 1024 * 1024;

inline constexpr std::string_view kHistoryReadOnlyMessage
    = "The history file could not be read and is read-only.";
inline constexpr std::string_view kHistoryDeleteUnreadableMessage
    = "Could not read the history file, so no entries were deleted.";
inline constexpr std::string_view kHistoryChangedWhileDeletingMessage
    = "History changed while deleting. No changes were saved; reopen History and select again.";
inline constexpr std::string_view kInvalidHistoryFormat = "invalid history format";

// Owns one history file and its in-memory state. Every change rewrites the whole file
// atomically. The file is re-read before a change unless it still has the size and
// modification time it had when this store last read or wrote it. Once the file is found to
// exist but not be readable or understood, the store is read-only for good and never writes.
class HistoryStore {
public:
    explicit HistoryStore(std::filesystem::path file);

    const std::filesystem::path& fileURL() const { return m_file; }
    bool readOnly() const { return m_readOnly; }
    // Every listed visit of the file, newest first.
    const std::deque<HistoryEntry>& entries() const { return m_entries; }

    // Reads the file into entries(). A missing file gives an empty, writable history. A file
    // that cannot be read or parsed, or has the wrong shape, makes the store read-only; the
    // failure is the alert text "Cannot read history file <path>: <reason>".
    Result<Done> load();

    // Files one visit under the UTC day of moment, with "time" from the same moment. Gives
    // false, and writes nothing, when the store is read-only. Failures are alert texts:
    // "Cannot update history file: <reason>" (the store became read-only) or
    // "Could not save history: <reason>" (entries unchanged).
    Result<bool> addVisit(std::string_view url, std::optional<std::string_view> title,
        HistoryClock::time_point moment);

    // Replaces the file by {"years": {}}. Failures: the read-only message, or
    // "Could not clear history: <reason>".
    Result<Done> clear();

    // Removes the visits at these rows of entries() (rows past the end are ignored), after
    // checking that each is still where it was with the same "url" and "time"; a day, month or
    // year left empty is removed too. On success entries() is rebuilt. Failures: the read-only,
    // unreadable or changed-while-deleting message, or "Could not delete selected history: ...".
    Result<Done> deleteEntries(const std::vector<size_t>& rows);

private:
    struct FileStamp {
        bool exists = false;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified {};
        bool operator==(const FileStamp&) const = default;
    };
    enum class Freshness { Current, Missing, Unreadable, Invalid };
    struct CachedDay {
        size_t count = 0;
        std::string text;
    };
    using DayCache = std::map<std::string, std::map<std::string, std::map<std::string, CachedDay>>>;

    std::optional<FileStamp> stampFile() const;
    Freshness refreshDocument(std::string& reason);
    void forgetDocument();
    void rememberWrite();
    void rebuildEntries();
    const std::string& serializeDocument();
    void appendYears(std::string& out, const Json& years);

    std::filesystem::path m_file;
    bool m_readOnly = false;
    // A deque, because every visit goes in at the front of a list that may be very long.
    std::deque<HistoryEntry> m_entries;
    // The file's document as last read or written, valid while m_stamp is set.
    Json m_document;
    std::optional<FileStamp> m_stamp;
    // The serialised records of each day array of m_document, extended as records are added.
    DayCache m_dayText;
    std::string m_text;
};

} // namespace qv

// The browsing history file "history.json": visits filed under their UTC year, month and day.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

// What a page can make the history keep. An address longer than kMaxHistoryURLBytes (in UTF-8)
// is not recorded at all: cut short it would be a different address. A title is cut to at most
// kMaxHistoryTitleBytes at a character boundary. A visit of an address recorded or repeated less
// than kHistoryRepeatWindow before is the same visit, so a page that reloads itself in a loop
// leaves one record.
inline constexpr size_t kMaxHistoryURLBytes = 8192;
inline constexpr size_t kMaxHistoryTitleBytes = 1024;
inline constexpr std::chrono::seconds kHistoryRepeatWindow { 10 };

// The title as stored: invalid UTF-8 repaired, then cut to kMaxHistoryTitleBytes at a
// character boundary.
std::string historyTitleForStorage(std::string_view title);

class FileWriter;

// Owns one history file and its in-memory state, which is authoritative once the file has been
// loaded: a change updates memory and hands the whole new text to the file writer, so no visit
// reads or writes the file on the calling thread. A file that exists but cannot be read or
// understood is never overwritten: found at load, or by the writer when the file was changed by
// someone else since this store last wrote it, it makes the store read-only for good.
class HistoryStore {
public:
    // writeReported runs on the writer's thread whenever takeWriteFailures() has news.
    HistoryStore(std::filesystem::path file, FileWriter& writer,
        std::function<void()> writeReported = {});

    const std::filesystem::path& fileURL() const { return m_file; }
    bool readOnly() const { return m_readOnly; }
    // Every listed visit of the file, newest first.
    const std::deque<HistoryEntry>& entries() const { return m_entries; }

    // Reads the file into entries(). A missing file gives an empty, writable history. A file
    // that cannot be read or parsed, or has the wrong shape, makes the store read-only; the
    // failure is the alert text "Cannot read history file <path>: <reason>". Until it has run,
    // the store records nothing.
    Result<Done> load();

    // Files one visit under the UTC day of moment, with "time" from the same moment, and hands
    // the file to the writer. False when nothing was recorded: the store is read-only or not
    // loaded, the address is over its cap, or it is a repeat (see kHistoryRepeatWindow).
    bool addVisit(std::string_view url, std::optional<std::string_view> title,
        HistoryClock::time_point moment);

    // Empties the history, and the file becomes {"years": {}}. Fails with the read-only message,
    // or the unreadable one before load().
    Result<Done> clear();

    // Removes the visits at these rows of entries() (rows past the end are ignored), after
    // checking that each is still where it was with the same "url" and "time"; a day, month or
    // year left empty is removed too. On success entries() is rebuilt. Failures: the read-only
    // or changed-while-deleting message, or the unreadable one before load().
    Result<Done> deleteEntries(const std::vector<size_t>& rows);

    // The writes that went wrong since the last call, as alert texts, oldest first:
    // "Could not save history: ...", "Could not clear history: ...", "Could not delete selected
    // history: ...", and once, when the writer found the file damaged, "Cannot update history
    // file: <reason>", after which the store is read-only. Memory keeps every change, so the
    // next write that succeeds carries the ones that failed.
    std::vector<std::string> takeWriteFailures();

    // Shared with the writer's thread.
    struct WriteState;

private:
    struct CachedDay {
        size_t count = 0;
        std::string text;
    };
    using DayCache = std::map<std::string, std::map<std::string, std::map<std::string, CachedDay>>>;

    bool isRepeat(const std::string& url, HistoryClock::time_point moment);
    void submit(std::string_view failurePrefix, std::string_view emptyError = {});
    void forgetDocument();
    void rebuildEntries();
    const std::string& serializeDocument();
    void appendYears(std::string& out, const Json& years);

    std::filesystem::path m_file;
    FileWriter& m_writer;
    std::shared_ptr<WriteState> m_writeState;
    bool m_loaded = false;
    bool m_readOnly = false;
    // A deque, because every visit goes in at the front of a list that may be very long.
    std::deque<HistoryEntry> m_entries;
    // The file's document as loaded and changed since.
    Json m_document;
    // The serialised records of each day array of m_document, extended as records are added.
    DayCache m_dayText;
    std::string m_text;
    // Addresses recorded or repeated within kHistoryRepeatWindow, with when they last came.
    std::unordered_map<std::string, HistoryClock::time_point> m_recent;
};

} // namespace qv

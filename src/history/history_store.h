// The browsing history file "history.json": visits filed under their UTC year, month and day.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstddef>
#include <iterator>
#include <filesystem>
#include <functional>
#include <memory>
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

// Spaces per level of the written text. One space keeps a large file a tenth smaller than two.
inline constexpr int kHistoryIndent = 1;

// The pretty-printed text the store writes for a document: the same text as
// dumpJson(document, kHistoryIndent).
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

// How often at most the journal is folded into the history file while the browser runs.
inline constexpr std::chrono::milliseconds kHistoryFoldInterval { 60000 };

// "history.json.journal": the visits recorded since the history file was last written, one line
// each, beside the file.
std::filesystem::path historyJournalPath(const std::filesystem::path& file);

// What a journal line holds, for readers that check the journal itself.
struct HistoryJournalVisit {
    std::uint64_t number = 0;
    std::string url;
    std::string title;
    std::string time;
};
// A visit line, and the line saying that the history file whose text is fileText holds every
// visit numbered up to upto. Both end in a newline.
std::string historyJournalVisitLine(const HistoryJournalVisit& visit);
std::string historyJournalBaseLine(std::string_view fileText, std::uint64_t upto);

class HistoryModel;

// The visits of a store, newest first. Rows are made on demand from the compact records, so
// operator[] gives a value.
class HistoryEntries {
public:
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = HistoryEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = HistoryEntry;
        iterator(const HistoryEntries* entries, size_t row)
            : m_entries(entries)
            , m_row(row)
        {
        }
        HistoryEntry operator*() const { return (*m_entries)[m_row]; }
        iterator& operator++()
        {
            ++m_row;
            return *this;
        }
        bool operator==(const iterator& other) const { return m_row == other.m_row; }

    private:
        const HistoryEntries* m_entries;
        size_t m_row;
    };

    size_t size() const;
    bool empty() const { return size() == 0; }
    HistoryEntry operator[](size_t row) const;
    HistoryEntry front() const { return (*this)[0]; }
    iterator begin() const { return { this, 0 }; }
    iterator end() const { return { this, size() }; }

private:
    friend class HistoryStore;
    const HistoryModel* m_model = nullptr;
};

struct HistoryLoadData;

// A history read from disk on any thread, for HistoryStore::adopt on the store's.
class HistoryLoad {
public:
    HistoryLoad();
    ~HistoryLoad();
    HistoryLoad(HistoryLoad&&) noexcept;
    HistoryLoad& operator=(HistoryLoad&&) noexcept;

private:
    friend class HistoryStore;
    std::unique_ptr<HistoryLoadData> m_data;
};

class HistoryJournal;

// Owns one history file, its journal and the history in memory, which is authoritative once
// loaded. Memory holds compact records, not a JSON tree. A visit is appended to the journal by
// the journal's own thread (written and flushed to disk at once), and the whole file is written
// by the file writer from a snapshot of memory, at most once per fold interval and whenever the
// writer is flushed; after each such write the journal keeps only what came since. No visit
// reads or writes a file on the calling thread. A history file that exists but cannot be read or
// understood is never overwritten: found at load, or when the file was changed by someone else
// since this store last wrote it, it makes the store read-only for good.
class HistoryStore {
public:
    // writeReported runs on the writer's or the journal's thread whenever takeWriteFailures()
    // has news.
    HistoryStore(std::filesystem::path file, FileWriter& writer,
        std::function<void()> writeReported = {},
        std::chrono::milliseconds foldInterval = kHistoryFoldInterval);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::filesystem::path& fileURL() const { return m_file; }
    bool readOnly() const { return m_readOnly; }
    // Every listed visit of the file and its journal, newest first.
    const HistoryEntries& entries() const { return m_entries; }

    // Reads the file and replays its journal, on any thread: what adopt() takes. A journal line
    // cut short by a kill is skipped; a journal that is not ours, or a link, is not read.
    static HistoryLoad read(const std::filesystem::path& file);
    // Every listed visit of what read() found, oldest first, on the thread that holds it.
    static void forEachVisit(const HistoryLoad& loaded,
        const std::function<void(std::string_view url, std::string_view title, std::string_view time)>& visit);
    // Takes what read() found. A missing file gives an empty, writable history. A file that
    // cannot be read or parsed, or has the wrong shape, makes the store read-only; the failure is
    // the alert text "Cannot read history file <path>: <reason>". Until then the store records
    // nothing.
    Result<Done> adopt(HistoryLoad loaded);
    // read() and adopt() on the calling thread.
    Result<Done> load();

    // Files one visit under the UTC day of moment, with "time" from the same moment, and hands
    // it to the journal. False when nothing was recorded: the store is read-only or not loaded,
    // the address is over its cap, or it is a repeat (see kHistoryRepeatWindow).
    bool addVisit(std::string_view url, std::optional<std::string_view> title,
        HistoryClock::time_point moment);

    // Empties the history, and the file becomes {"years": {}}. Fails with the read-only message,
    // or the unreadable one before load().
    Result<Done> clear();

    // Removes the visits at these rows of entries() (rows past the end are ignored); a day,
    // month or year left empty is removed too. Failures: the read-only or changed-while-deleting
    // message, or the unreadable one before load(). Both this and clear() write the whole file
    // before the journal forgets anything, so a crash never brings a deleted visit back.
    Result<Done> deleteEntries(const std::vector<size_t>& rows);
    // The rows of entries() that are visits of the address.
    std::vector<size_t> rowsOf(std::string_view url) const;

    // The writes that went wrong since the last call, as alert texts, oldest first:
    // "Could not save history: ...", "Could not clear history: ...", "Could not delete selected
    // history: ...", and once, when the file was found damaged, "Cannot update history file:
    // <reason>", after which the store is read-only. Memory keeps every change, so the next
    // write that succeeds carries the ones that failed.
    std::vector<std::string> takeWriteFailures();

    // Shared with the writer's and the journal's threads.
    struct WriteState;

private:
    bool isRepeat(const std::string& url, HistoryClock::time_point moment);
    void submitFold(std::string_view failurePrefix, std::string_view emptyError,
        std::optional<std::chrono::milliseconds> delay, bool quietWhileJournalFails);
    void foldSoon();
    void forget();

    std::filesystem::path m_file;
    FileWriter& m_writer;
    std::shared_ptr<WriteState> m_writeState;
    std::shared_ptr<HistoryJournal> m_journal;
    const std::chrono::milliseconds m_foldInterval;
    bool m_loaded = false;
    bool m_readOnly = false;
    std::unique_ptr<HistoryModel> m_model;
    HistoryEntries m_entries;
    // When the fold of the visits since the last one is due; the next may come an interval later.
    std::optional<std::chrono::steady_clock::time_point> m_foldDue;
    // Addresses recorded or repeated within kHistoryRepeatWindow, with when they last came.
    std::unordered_map<std::string, HistoryClock::time_point> m_recent;
};

} // namespace qv

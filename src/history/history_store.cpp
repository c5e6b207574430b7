// Reading, appending to, clearing and pruning "history.json".
#include "history/history_store.h"

#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/text_util.h"
#include "base/utc_time.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <tuple>

namespace qv {

namespace fs = std::filesystem;

namespace {

void appendIndent(std::string& out, int depth)
{
    out.append(static_cast<size_t>(depth * kHistoryIndent), ' ');
}

// The same escaping as nlohmann's dump without ensure_ascii, so the text reads back unchanged.
void appendQuoted(std::string& out, std::string_view raw)
{
    std::string repaired;
    if (!isValidUtf8(raw)) {
        repaired = sanitizeUtf8(raw);
        raw = repaired;
    }
    static const char* hex = "0123456789abcdef";
    out += '"';
    size_t plain = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        auto c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(raw.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    out.append(raw.substr(plain));
    out += '"';
}

void appendPretty(std::string& out, const Json& value, int depth)
{
    if (value.is_object() || value.is_array()) {
        bool object = value.is_object();
        if (value.empty()) {
            out += object ? "{}" : "[]";
            return;
        }
        out += object ? "{\n" : "[\n";
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first)
                out += ",\n";
            first = false;
            appendIndent(out, depth + 1);
            if (object) {
                appendQuoted(out, it.key());
                out += ": ";
            }
            appendPretty(out, *it, depth + 1);
        }
        out += '\n';
        appendIndent(out, depth);
        out += object ? '}' : ']';
    } else if (value.is_string()) {
        appendQuoted(out, value.get_ref<const std::string&>());
    } else {
        out += dumpJson(value);
    }
}

bool hasHistoryShape(const Json& document)
{
    if (!document.is_object())
        return false;
    auto years = document.find("years");
    return years != document.end() && years->is_object();
}

// Object member by key, or nullptr when missing or of another type.
Json* memberOfType(Json& object, const std::string& key, Json::value_t type)
{
    auto it = object.find(key);
    return it != object.end() && it->type() == type ? &*it : nullptr;
}

std::string textOf(const Json& object, const char* key)
{
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool hasString(const Json& object, const char* key, const std::string& expected)
{
    if (!object.is_object())
        return false;
    auto it = object.find(key);
    return it != object.end() && it->is_string() && it->get_ref<const std::string&>() == expected;
}

bool newerFirst(const HistoryEntry& a, const HistoryEntry& b)
{
    if (a.time != b.time)
        return a.time > b.time;
    return std::tie(a.year, a.month, a.day, a.index) > std::tie(b.year, b.month, b.day, b.index);
}

struct FileStamp {
    bool exists = false;
    std::uintmax_t size = 0;
    fs::file_time_type modified {};
    bool operator==(const FileStamp&) const = default;
};

// Nothing when the path cannot be looked at or is not a regular file.
std::optional<FileStamp> stampFile(const fs::path& file)
{
    std::error_code error;
    fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found)
        return FileStamp {};
    if (error || status.type() != fs::file_type::regular)
        return std::nullopt;
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = fs::file_size(file, error);
    if (error)
        return std::nullopt;
    stamp.modified = fs::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return stamp;
}

enum class FileState { Usable, Missing, Damaged };

// Reads and parses the file; Damaged (with the reason) when it exists but cannot be read or
// is not a history.
FileState readHistoryFile(const fs::path& file, Json& document, std::string& reason)
{
    FileRead read = readWholeFile(file, kHistoryFileLimit);
    if (read.status == ReadStatus::Missing)
        return FileState::Missing;
    if (read.status == ReadStatus::Failed) {
        reason = read.error;
        return FileState::Damaged;
    }
    auto parsed = parseJsonDescribed(read.contents);
    if (!parsed || !hasHistoryShape(*parsed)) {
        reason = parsed ? std::string(kInvalidHistoryFormat) : parsed.error();
        return FileState::Damaged;
    }
    document = std::move(parsed.value());
    return FileState::Usable;
}

} // namespace

struct HistoryStore::WriteState {
    fs::path file;
    std::function<void()> reported;
    std::mutex mutex;
    // The file as this store last read or wrote it; a file that differs was changed by someone
    // else and is checked before it is replaced.
    std::optional<FileStamp> stamp;
    bool refused = false;
    std::vector<std::string> failures;

    // On the writer's thread, just before a write.
    std::optional<std::string> check()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (refused)
                return std::string("the history is read-only");
        }
        std::optional<FileStamp> now = stampFile(file);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (now && (!now->exists || (stamp && *now == *stamp)))
                return std::nullopt;
        }
        // Someone else changed it: a history we can still read is replaced by ours, one we
        // cannot is kept as it is.
        Json ignored;
        std::string reason;
        if (readHistoryFile(file, ignored, reason) == FileState::Damaged)
            return reason;
        return std::nullopt;
    }

    // On the writer's thread, after the write or refusal.
    void done(const FileWriteReport& report, const std::string& failurePrefix,
        const std::string& emptyError)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            switch (report.kind) {
            case FileWriteReport::Kind::Written:
                stamp = stampFile(file);
                return;
            case FileWriteReport::Kind::Failed:
                failures.push_back(
                    failurePrefix + (report.message.empty() ? emptyError : report.message));
                break;
            case FileWriteReport::Kind::Refused:
                // Said once; later writes are refused in silence.
                if (refused)
                    return;
                refused = true;
                failures.push_back("Cannot update history file: " + report.message);
                break;
            }
        }
        if (reported)
            reported();
    }
};

HistoryDayKeys historyDayKeys(HistoryClock::time_point moment)
{
    using namespace std::chrono;
    year_month_day date { floor<days>(moment) };
    HistoryDayKeys keys;
    keys.yearNumber = static_cast<int>(date.year());
    keys.year = std::to_string(keys.yearNumber);
    keys.month = std::string(kHistoryMonthKeys[static_cast<unsigned>(date.month()) - 1]);
    keys.day = std::to_string(static_cast<unsigned>(date.day()));
    return keys;
}

std::string historyTimestamp(HistoryClock::time_point moment)
{
    return utcDateTimeText(moment, "T", "Z");
}

std::string prettyHistoryText(const Json& document)
{
    std::string out;
    appendPretty(out, document, 0);
    return out;
}

std::string historyTitleForStorage(std::string_view title)
{
    return cutUtf8(sanitizeUtf8(title), kMaxHistoryTitleBytes);
}

HistoryStore::HistoryStore(fs::path file, FileWriter& writer, std::function<void()> writeReported)
    : m_file(std::move(file))
    , m_writer(writer)
    , m_writeState(std::make_shared<WriteState>())
{
    m_writeState->file = m_file;
    m_writeState->reported = std::move(writeReported);
}

void HistoryStore::forgetDocument()
{
    m_document = Json();
    m_dayText.clear();
    m_text.clear();
    m_text.shrink_to_fit();
}

bool HistoryStore::isRepeat(const std::string& url, HistoryClock::time_point moment)
{
    // Only addresses seen within the window are kept, so the map stays as small as the burst.
    auto near = [&](HistoryClock::time_point seen) {
        auto apart = moment > seen ? moment - seen : seen - moment;
        return apart < kHistoryRepeatWindow;
    };
    std::erase_if(m_recent, [&](const auto& item) { return !near(item.second); });
    auto [it, fresh] = m_recent.try_emplace(url, moment);
    // A repeat moves the window on, so a page reloading itself for ever stays one visit.
    it->second = moment;
    return !fresh;
}

void HistoryStore::submit(std::string_view failurePrefix, std::string_view emptyError)
{
    std::weak_ptr<WriteState> state = m_writeState;
    FileWriteHooks hooks;
    hooks.check = [state](const fs::path&) -> std::optional<std::string> {
        auto alive = state.lock();
        return alive ? alive->check() : std::nullopt;
    };
    hooks.done = [state, prefix = std::string(failurePrefix),
                     empty = std::string(emptyError)](const FileWriteReport& report) {
        if (auto alive = state.lock())
            alive->done(report, prefix, empty);
    };
    m_writer.submit(m_file, serializeDocument(), std::move(hooks));
}

void HistoryStore::rebuildEntries()
{
    m_entries.clear();
    for (auto& [yearKey, year] : m_document["years"].items()) {
        if (!year.is_object())
            continue;
        for (auto& [monthKey, month] : year.items()) {
            if (!month.is_object())
                continue;
            for (auto& [dayKey, day] : month.items()) {
                if (!day.is_array())
                    continue;
                for (size_t i = 0; i < day.size(); ++i) {
                    const Json& record = day[i];
                    if (!record.is_object())
                        continue;
                    auto url = record.find("url");
                    auto time = record.find("time");
                    if (url == record.end() || !url->is_string() || time == record.end()
                        || !time->is_string())
                        continue;
                    m_entries.push_back({ url->get<std::string>(), textOf(record, "title"),
                        time->get<std::string>(), yearKey, monthKey, dayKey, i });
                }
            }
        }
    }
    std::sort(m_entries.begin(), m_entries.end(), newerFirst);
}

void HistoryStore::appendYears(std::string& out, const Json& years)
{
    // Only the day arrays are cached: they hold nearly all of the text and only ever grow at
    // the end between changes that reset them.
    if (years.empty()) {
        out += "{}";
        return;
    }
    out += "{\n";
    bool firstYear = true;
    for (auto year = years.begin(); year != years.end(); ++year) {
        if (!firstYear)
            out += ",\n";
        firstYear = false;
        appendIndent(out, 2);
        appendQuoted(out, year.key());
        out += ": ";
        if (!year->is_object() || year->empty()) {
            appendPretty(out, *year, 2);
            continue;
        }
        auto& yearCache = m_dayText[year.key()];
        out += "{\n";
        bool firstMonth = true;
        for (auto month = year->begin(); month != year->end(); ++month) {
            if (!firstMonth)
                out += ",\n";
            firstMonth = false;
            appendIndent(out, 3);
            appendQuoted(out, month.key());
            out += ": ";
            if (!month->is_object() || month->empty()) {
                appendPretty(out, *month, 3);
                continue;
            }
            auto& monthCache = yearCache[month.key()];
            out += "{\n";
            bool firstDay = true;
            for (auto day = month->begin(); day != month->end(); ++day) {
                if (!firstDay)
                    out += ",\n";
                firstDay = false;
                appendIndent(out, 4);
                appendQuoted(out, day.key());
                out += ": ";
                if (!day->is_array() || day->empty()) {
                    appendPretty(out, *day, 4);
                    continue;
                }
                CachedDay& cached = monthCache[day.key()];
                if (cached.count > day->size())
                    cached = CachedDay {};
                for (size_t i = cached.count; i < day->size(); ++i) {
                    if (i > 0)
                        cached.text += ",\n";
                    appendIndent(cached.text, 5);
                    appendPretty(cached.text, (*day)[i], 5);
                }
                cached.count = day->size();
                out += "[\n";
                out += cached.text;
                out += '\n';
                appendIndent(out, 4);
                out += ']';
            }
            out += '\n';
            appendIndent(out, 3);
            out += '}';
        }
        out += '\n';
        appendIndent(out, 2);
        out += '}';
    }
    out += '\n';
    appendIndent(out, 1);
    out += '}';
}

const std::string& HistoryStore::serializeDocument()
{
    // The buffer is kept between writes: a fresh one of this size costs a page fault per page.
    std::string& out = m_text;
    out.clear();
    if (m_document.empty()) {
        out += "{}";
        return out;
    }
    out += "{\n";
    bool first = true;
    for (auto it = m_document.begin(); it != m_document.end(); ++it) {
        if (!first)
            out += ",\n";
        first = false;
        appendIndent(out, 1);
        appendQuoted(out, it.key());
        out += ": ";
        if (it.key() == "years" && it->is_object())
            appendYears(out, *it);
        else
            appendPretty(out, *it, 1);
    }
    out += "\n}";
    return out;
}

Result<Done> HistoryStore::load()
{
    m_entries.clear();
    if (m_readOnly)
        return Done {};
    forgetDocument();
    // The stamp is taken before reading, so a change during the read shows up as a change.
    std::optional<FileStamp> stamp = stampFile(m_file);
    std::string reason;
    FileState state = readHistoryFile(m_file, m_document, reason);
    if (state == FileState::Damaged) {
        m_readOnly = true;
        m_loaded = false;
        forgetDocument();
        return Result<Done>::failure("Cannot read history file " + m_file.string() + ": " + reason);
    }
    if (state == FileState::Missing)
        m_document = Json { { "years", Json::object() } };
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        m_writeState->stamp = stamp;
    }
    m_loaded = true;
    rebuildEntries();
    // Fills the day cache now, so the first visit of the session is as quick as the rest.
    serializeDocument();
    return Done {};
}

bool HistoryStore::addVisit(
    std::string_view url, std::optional<std::string_view> title, HistoryClock::time_point moment)
{
    if (m_readOnly || !m_loaded)
        return false;
    std::string address = sanitizeUtf8(url);
    if (address.size() > kMaxHistoryURLBytes || isRepeat(address, moment))
        return false;

    // One reading of the clock gives both the day it is filed under and its "time".
    HistoryDayKeys keys = historyDayKeys(moment);
    Json& years = m_document["years"];
    Json* year = memberOfType(years, keys.year, Json::value_t::object);
    if (!year) {
        m_dayText.erase(keys.year);
        year = &(years[keys.year] = Json::object());
    }
    Json* month = memberOfType(*year, keys.month, Json::value_t::object);
    if (!month) {
        m_dayText[keys.year].erase(keys.month);
        month = &((*year)[keys.month] = Json::object());
    }
    Json* day = memberOfType(*month, keys.day, Json::value_t::array);
    if (!day) {
        m_dayText[keys.year][keys.month].erase(keys.day);
        day = &((*month)[keys.day] = Json::array());
    }

    HistoryEntry entry { std::move(address), historyTitleForStorage(title.value_or("")),
        historyTimestamp(moment), keys.year, keys.month, keys.day, day->size() };
    day->push_back(Json { { "url", entry.url }, { "title", entry.title }, { "time", entry.time } });
    m_document["now"] = Json { { "year", keys.yearNumber }, { "month", keys.month },
        { "day", keys.day }, { "array", entry.index + 1 } };
    m_entries.push_front(std::move(entry));
    submit("Could not save history: ");
    return true;
}

Result<Done> HistoryStore::clear()
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    if (!m_loaded)
        return Result<Done>::failure(std::string(kHistoryDeleteUnreadableMessage));
    forgetDocument();
    m_document = Json { { "years", Json::object() } };
    m_entries.clear();
    m_recent.clear();
    submit("Could not clear history: ");
    return Done {};
}

Result<Done> HistoryStore::deleteEntries(const std::vector<size_t>& rows)
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    if (!m_loaded)
        return Result<Done>::failure(std::string(kHistoryDeleteUnreadableMessage));

    std::vector<HistoryEntry> selected;
    for (size_t row : rows)
        if (row < m_entries.size())
            selected.push_back(m_entries[row]);
    // Within a day the highest index goes first, so a removal never moves a record still to go.
    std::sort(selected.begin(), selected.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
        if (std::tie(a.year, a.month, a.day) != std::tie(b.year, b.month, b.day))
            return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
        return a.index > b.index;
    });

    // Each touched day is edited as a copy and only put back once every removal checked out.
    struct DayEdit {
        std::string year, month, day;
        Json records;
    };
    std::vector<DayEdit> edits;
    Json& years = m_document["years"];
    for (const HistoryEntry& entry : selected) {
        if (edits.empty() || edits.back().year != entry.year || edits.back().month != entry.month
            || edits.back().day != entry.day) {
            Json* year = memberOfType(years, entry.year, Json::value_t::object);
            Json* month = year ? memberOfType(*year, entry.month, Json::value_t::object) : nullptr;
            Json* day = month ? memberOfType(*month, entry.day, Json::value_t::array) : nullptr;
            if (!day)
                return Result<Done>::failure(std::string(kHistoryChangedWhileDeletingMessage));
            edits.push_back({ entry.year, entry.month, entry.day, *day });
        }
        Json& records = edits.back().records;
        if (entry.index >= records.size() || !hasString(records[entry.index], "url", entry.url)
            || !hasString(records[entry.index], "time", entry.time))
            return Result<Done>::failure(std::string(kHistoryChangedWhileDeletingMessage));
        records.erase(entry.index);
    }

    for (DayEdit& edit : edits) {
        Json& year = years[edit.year];
        Json& month = year[edit.month];
        auto& monthCache = m_dayText[edit.year][edit.month];
        monthCache.erase(edit.day);
        if (!edit.records.empty()) {
            month[edit.day] = std::move(edit.records);
            continue;
        }
        month.erase(edit.day);
        if (month.empty()) {
            year.erase(edit.month);
            m_dayText[edit.year].erase(edit.month);
        }
        if (year.empty()) {
            years.erase(edit.year);
            m_dayText.erase(edit.year);
        }
    }

    rebuildEntries();
    submit("Could not delete selected history: ", "write failed");
    return Done {};
}

std::vector<std::string> HistoryStore::takeWriteFailures()
{
    std::vector<std::string> failures;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        failures.swap(m_writeState->failures);
        refused = m_writeState->refused;
    }
    if (refused && !m_readOnly) {
        m_readOnly = true;
        forgetDocument();
        m_recent.clear();
    }
    return failures;
}

} // namespace qv

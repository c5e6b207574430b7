// Reading, appending to, clearing and pruning "history.json".
#include "history/history_store.h"

#include "base/atomic_file.h"
#include "base/text_util.h"
#include "base/utc_time.h"

#include <algorithm>
#include <cstdio>
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

} // namespace

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

HistoryStore::HistoryStore(fs::path file)
    : m_file(std::move(file))
{
}

std::optional<HistoryStore::FileStamp> HistoryStore::stampFile() const
{
    std::error_code error;
    fs::file_status status = fs::status(m_file, error);
    if (status.type() == fs::file_type::not_found)
        return FileStamp {};
    if (error || status.type() != fs::file_type::regular)
        return std::nullopt;
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = fs::file_size(m_file, error);
    if (error)
        return std::nullopt;
    stamp.modified = fs::last_write_time(m_file, error);
    if (error)
        return std::nullopt;
    return stamp;
}

void HistoryStore::forgetDocument()
{
    m_document = Json();
    m_stamp.reset();
    m_dayText.clear();
}

void HistoryStore::rememberWrite()
{
    // Another writer between the rename and this look would go unnoticed until the file changes
    // again; the window is a few microseconds.
    m_stamp = stampFile();
}

HistoryStore::Freshness HistoryStore::refreshDocument(std::string& reason)
{
    // The stamp is taken before reading, so a change during the read shows up next time.
    std::optional<FileStamp> stamp = stampFile();
    if (m_stamp && stamp && *stamp == *m_stamp)
        return stamp->exists ? Freshness::Current : Freshness::Missing;
    forgetDocument();
    FileRead read = readWholeFile(m_file, kHistoryFileLimit);
    if (read.status == ReadStatus::Missing) {
        m_document = Json { { "years", Json::object() } };
        m_stamp = stamp && !stamp->exists ? stamp : std::nullopt;
        return Freshness::Missing;
    }
    if (read.status == ReadStatus::Failed) {
        reason = read.error;
        return Freshness::Unreadable;
    }
    auto document = parseJsonDescribed(read.contents);
    if (!document || !hasHistoryShape(*document)) {
        reason = document ? std::string(kInvalidHistoryFormat) : document.error();
        return Freshness::Invalid;
    }
    m_document = std::move(document.value());
    m_stamp = stamp;
    return Freshness::Current;
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
    std::string reason;
    Freshness freshness = refreshDocument(reason);
    if (freshness == Freshness::Unreadable || freshness == Freshness::Invalid) {
        m_readOnly = true;
        forgetDocument();
        return Result<Done>::failure("Cannot read history file " + m_file.string() + ": " + reason);
    }
    rebuildEntries();
    // Fills the day cache now, so the first visit of the session is as quick as the rest.
    serializeDocument();
    return Done {};
}

Result<bool> HistoryStore::addVisit(
    std::string_view url, std::optional<std::string_view> title, HistoryClock::time_point moment)
{
    if (m_readOnly)
        return false;
    std::string reason;
    Freshness freshness = refreshDocument(reason);
    if (freshness == Freshness::Unreadable || freshness == Freshness::Invalid) {
        m_readOnly = true;
        forgetDocument();
        return Result<bool>::failure("Cannot update history file: " + reason);
    }

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

    HistoryEntry entry { sanitizeUtf8(url), sanitizeUtf8(title.value_or("")),
        historyTimestamp(moment), keys.year, keys.month, keys.day, day->size() };
    day->push_back(Json { { "url", entry.url }, { "title", entry.title }, { "time", entry.time } });
    m_document["now"] = Json { { "year", keys.yearNumber }, { "month", keys.month },
        { "day", keys.day }, { "array", entry.index + 1 } };

    auto written = writeFileAtomically(m_file, serializeDocument());
    if (!written) {
        // The document now differs from the file; the next change reads the file again.
        forgetDocument();
        return Result<bool>::failure("Could not save history: " + written.error());
    }
    rememberWrite();
    m_entries.push_front(std::move(entry));
    return true;
}

Result<Done> HistoryStore::clear()
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    Json empty { { "years", Json::object() } };
    auto written = writeFileAtomically(m_file, prettyHistoryText(empty));
    if (!written)
        return Result<Done>::failure("Could not clear history: " + written.error());
    forgetDocument();
    m_document = std::move(empty);
    rememberWrite();
    m_entries.clear();
    return Done {};
}

Result<Done> HistoryStore::deleteEntries(const std::vector<size_t>& rows)
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    std::string reason;
    if (refreshDocument(reason) != Freshness::Current)
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

    auto written = writeFileAtomically(m_file, serializeDocument());
    if (!written) {
        forgetDocument();
        std::string message = written.error().empty() ? "write failed" : written.error();
        return Result<Done>::failure("Could not delete selected history: " + message);
    }
    rememberWrite();
    rebuildEntries();
    return Done {};
}

} // namespace qv

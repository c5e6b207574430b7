// Reading, appending to, clearing and pruning "history.json" and its journal.
#include "history/history_store.h"

#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/text_util.h"
#include "base/utc_time.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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


std::string prettyText(const Json& value, int depth)
{
    std::string out;
    appendPretty(out, value, depth);
    return out;
}

} // namespace

// Named rather than anonymous: the store's own classes below, which the header declares, hold
// these types, and a member of an internal type in an external class is an ODR hazard.
namespace history_detail {

struct FileStamp {
    bool exists = false;
    std::uintmax_t size = 0;
    fs::file_time_type modified {};
    bool operator==(const FileStamp&) const = default;
};

} // namespace history_detail

using history_detail::FileStamp;

namespace {

// Nothing when the path cannot be looked at or is not a regular file.
std::optional<FileStamp> stampFile(const fs::path& file)
{
    std::error_code error;
    fs::file_status status = fs::symlink_status(file, error);
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

// Names the exact text of a history file in the journal's base lines.
struct TextHash {
    std::uint64_t hash = 0;
    std::uint64_t size = 0;
    bool operator==(const TextHash&) const = default;
};

TextHash hashText(std::string_view text)
{
    std::uint64_t h = 0xcbf29ce484222325ULL ^ text.size();
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = (h ^ word) * 0x100000001b3ULL;
        h ^= h >> 29;
    }
    for (; i < text.size(); ++i)
        h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001b3ULL;
    return { h ^ (h >> 32), text.size() };
}

constexpr std::string_view kJournalMagicLine = "{\"quivel-history-journal\":1}\n";
// The longest journal line read: a visit at its caps, escaped, fits many times over.
constexpr size_t kMaxJournalLineBytes = 256 * 1024;

// A base line for a missing history file says "none".
std::string baseLineFor(std::optional<TextHash> file, std::uint64_t upto)
{
    std::string line = "{\"base\":\"";
    if (file) {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(file->hash));
        line += hex;
        line += "\",\"size\":" + std::to_string(file->size);
    } else {
        line += "none\"";
    }
    line += ",\"upto\":" + std::to_string(upto) + "}\n";
    return line;
}

struct JournalLine {
    enum class Kind { Bad, Magic, Visit, Base } kind = Kind::Bad;
    HistoryJournalVisit visit;
    std::optional<TextHash> base;
    std::uint64_t upto = 0;
};

JournalLine parseJournalLine(std::string_view text)
{
    JournalLine line;
    if (text.size() > kMaxJournalLineBytes)
        return line;
    auto json = parseJson(text);
    if (!json || !json->is_object())
        return line;
    if (json->contains("quivel-history-journal")) {
        line.kind = JournalLine::Kind::Magic;
        return line;
    }
    auto number = [&](const char* key) -> std::optional<std::uint64_t> {
        auto it = json->find(key);
        if (it == json->end() || !it->is_number_unsigned())
            return std::nullopt;
        return it->get<std::uint64_t>();
    };
    auto stringAt = [&](const char* key) -> const std::string* {
        auto it = json->find(key);
        return it != json->end() && it->is_string() ? &it->get_ref<const std::string&>() : nullptr;
    };
    if (const std::string* base = stringAt("base")) {
        auto upto = number("upto");
        if (!upto)
            return line;
        if (*base != "none") {
            auto size = number("size");
            if (!size || base->size() != 16)
                return line;
            char* end = nullptr;
            unsigned long long hash = std::strtoull(base->c_str(), &end, 16);
            if (end != base->c_str() + 16)
                return line;
            line.base = TextHash { hash, *size };
        }
        line.upto = *upto;
        line.kind = JournalLine::Kind::Base;
        return line;
    }
    auto n = number("n");
    const std::string* url = stringAt("url");
    const std::string* title = stringAt("title");
    const std::string* time = stringAt("time");
    if (!n || !url || !title || !time)
        return line;
    line.visit = { *n, *url, *title, *time };
    line.kind = JournalLine::Kind::Visit;
    return line;
}

// The lines of a journal text; the last one may lack its newline.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// "2026-12-06T22:22:48Z" back to the keys of its day; nothing for any other text.
std::optional<HistoryDayKeys> dayKeysOfTime(std::string_view time)
{
    if (time.size() != 20 || time[4] != '-' || time[7] != '-' || time[10] != 'T')
        return std::nullopt;
    auto digits = [&](size_t from, size_t count) -> long {
        long value = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (time[i] < '0' || time[i] > '9')
                return -1;
            value = value * 10 + (time[i] - '0');
        }
        return value;
    };
    long year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    HistoryDayKeys keys;
    keys.yearNumber = year;
    keys.year = std::to_string(year);
    keys.month = std::string(kHistoryMonthKeys[static_cast<size_t>(month - 1)]);
    keys.day = std::to_string(day);
    return keys;
}

// "2026-12-06T22:22:48Z" as 20261206222248, so that such times order as their texts do.
std::optional<std::uint64_t> packedTime(std::string_view time)
{
    static constexpr std::string_view shape = "0000-00-00T00:00:00Z";
    if (time.size() != shape.size())
        return std::nullopt;
    std::uint64_t packed = 0;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != '0') {
            if (time[i] != shape[i])
                return std::nullopt;
            continue;
        }
        if (time[i] < '0' || time[i] > '9')
            return std::nullopt;
        packed = packed * 10 + static_cast<std::uint64_t>(time[i] - '0');
    }
    return packed;
}

std::string nowText(long year, const std::string& month, const std::string& day, size_t array)
{
    // The member "now" as the library prints it, keys sorted.
    std::string out = "{\n  \"array\": " + std::to_string(array) + ",\n  \"day\": ";
    appendQuoted(out, day);
    out += ",\n  \"month\": ";
    appendQuoted(out, month);
    out += ",\n  \"year\": " + std::to_string(year) + "\n }";
    return out;
}

} // namespace

// ---- Records ----------------------------------------------------------------------------------

// Named for the same reason as FileStamp.
namespace history_detail {

enum class RecordKind : std::uint8_t {
    Unused,
    // Exactly {"url", "title", "time"}, all strings: written back from its three texts.
    Visit,
    // Anything else in a day array, kept as its text; listed when it has a "url" and a "time".
    Listed,
    Unlisted,
};

struct VisitRecord {
    std::uint32_t offset = 0;
    std::uint32_t urlSize = 0;
    std::uint32_t titleSize = 0;
    std::uint32_t timeSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t day = 0;
    RecordKind kind = RecordKind::Unused;
    // The change that deleted it, 0 while it is there. Snapshots being written read it.
    std::atomic<std::uint64_t> deletedAt { 0 };
};

// Records and their texts are written once and never move, so a snapshot shares them with the
// store while the store goes on appending past the snapshot's end.
struct RecordChunk {
    static constexpr std::uint32_t kSlots = 1024;
    static constexpr size_t kTextBytes = 128 * 1024;
    explicit RecordChunk(size_t textBytes)
        : records(new VisitRecord[kSlots])
        , text(new char[textBytes])
        , textCapacity(textBytes)
    {
    }
    std::unique_ptr<VisitRecord[]> records;
    std::unique_ptr<char[]> text;
    size_t textCapacity;
};

using ChunkList = std::vector<std::shared_ptr<RecordChunk>>;

struct DayKeys {
    std::string year;
    std::string month;
    std::string day;
};

// The days' keys, written once and shared with snapshots like the records.
struct DayBlock {
    static constexpr std::uint32_t kDays = 1024;
    std::unique_ptr<DayKeys[]> keys { new DayKeys[kDays] };
};
using DayBlockList = std::vector<std::shared_ptr<DayBlock>>;

struct DayTable {
    std::shared_ptr<const DayBlockList> blocks;
    std::uint32_t count = 0;
    const DayKeys& operator[](std::uint32_t day) const
    {
        return (*blocks)[day / DayBlock::kDays]->keys[day % DayBlock::kDays];
    }
};

// What the file holds besides the visit records, as text at its depth: rare and small.
struct RawParts {
    std::map<std::string, std::string> others; // root members but "years" and "now"
    std::map<std::string, std::string> years;
    std::map<std::pair<std::string, std::string>, std::string> months;
    std::map<std::tuple<std::string, std::string, std::string>, std::string> days;
};

struct RecordText {
    std::string_view url, title, time, raw;
};

RecordText textOf(const RecordChunk& chunk, const VisitRecord& record)
{
    const char* at = chunk.text.get() + record.offset;
    RecordText text;
    text.url = { at, record.urlSize };
    at += record.urlSize;
    text.title = { at, record.titleSize };
    at += record.titleSize;
    text.time = { at, record.timeSize };
    at += record.timeSize;
    text.raw = { at, record.rawSize };
    return text;
}

} // namespace history_detail

using namespace history_detail;

// What a whole-file write writes: the store's state at one change, shared, not copied.
struct HistorySnapshot {
    std::shared_ptr<const ChunkList> chunks;
    std::uint32_t count = 0;
    std::uint64_t seq = 0;
    DayTable days;
    std::shared_ptr<const RawParts> raw;
    std::optional<std::string> now;
};

class HistoryModel {
public:
    HistoryModel()
        : m_chunks(std::make_shared<ChunkList>())
        , m_dayBlocks(std::make_shared<DayBlockList>())
        , m_raw(std::make_shared<RawParts>())
    {
    }

    const VisitRecord& record(std::uint32_t id) const
    {
        return (*m_chunks)[id / RecordChunk::kSlots]->records[id % RecordChunk::kSlots];
    }
    VisitRecord& record(std::uint32_t id)
    {
        return (*m_chunks)[id / RecordChunk::kSlots]->records[id % RecordChunk::kSlots];
    }
    RecordText text(std::uint32_t id) const
    {
        return textOf(*(*m_chunks)[id / RecordChunk::kSlots], record(id));
    }
    const DayKeys& dayKeys(std::uint32_t day) const
    {
        return (*m_dayBlocks)[day / DayBlock::kDays]->keys[day % DayBlock::kDays];
    }
    std::uint32_t indexOf(std::uint32_t id) const { return m_indexOf[id]; }

    // Changed only as a copy once snapshots may share it.
    RawParts& rawForChange()
    {
        if (m_shared)
            m_raw = std::make_shared<RawParts>(*m_raw);
        return *m_raw;
    }

    // The day's number, made when new; what the file held in its place that was not a visits
    // array (or the year or month above it) gives way to it, as a visit there replaces it.
    std::uint32_t dayFor(const std::string& year, const std::string& month, const std::string& day)
    {
        std::string key = std::to_string(year.size()) + ':' + year + std::to_string(month.size())
            + ':' + month + day;
        auto found = m_dayByKey.find(key);
        if (found != m_dayByKey.end())
            return found->second;
        const RawParts& raw = *m_raw;
        if (raw.years.count(year) || raw.months.count({ year, month })
            || raw.days.count({ year, month, day })) {
            RawParts& changed = rawForChange();
            changed.years.erase(year);
            changed.months.erase({ year, month });
            changed.days.erase({ year, month, day });
        }
        if (m_dayCount % DayBlock::kDays == 0) {
            if (m_shared)
                m_dayBlocks = std::make_shared<DayBlockList>(*m_dayBlocks);
            m_dayBlocks->push_back(std::make_shared<DayBlock>());
        }
        auto id = m_dayCount++;
        m_dayBlocks->back()->keys[id % DayBlock::kDays] = { year, month, day };
        m_dayState.emplace_back();
        m_dayByKey.emplace(std::move(key), id);
        return id;
    }

    // Appends a record at the end of its day; its number.
    std::uint32_t add(RecordKind kind, std::uint32_t day, std::string_view url,
        std::string_view title, std::string_view time, std::string_view raw = {})
    {
        size_t bytes = url.size() + title.size() + time.size() + raw.size();
        if (m_chunks->empty() || m_slot == RecordChunk::kSlots
            || m_textUsed + bytes > m_chunks->back()->textCapacity) {
            if (m_shared)
                m_chunks = std::make_shared<ChunkList>(*m_chunks);
            m_chunks->push_back(
                std::make_shared<RecordChunk>(std::max(RecordChunk::kTextBytes, bytes)));
            m_slot = 0;
            m_textUsed = 0;
        }
        RecordChunk& chunk = *m_chunks->back();
        auto id = static_cast<std::uint32_t>((m_chunks->size() - 1) * RecordChunk::kSlots + m_slot);
        VisitRecord& record = chunk.records[m_slot++];
        record.offset = static_cast<std::uint32_t>(m_textUsed);
        record.urlSize = static_cast<std::uint32_t>(url.size());
        record.titleSize = static_cast<std::uint32_t>(title.size());
        record.timeSize = static_cast<std::uint32_t>(time.size());
        record.rawSize = static_cast<std::uint32_t>(raw.size());
        record.day = day;
        record.kind = kind;
        char* at = chunk.text.get() + m_textUsed;
        for (std::string_view part : { url, title, time, raw }) {
            std::memcpy(at, part.data(), part.size());
            at += part.size();
        }
        m_textUsed += bytes;
        m_count = id + 1;
        DayState& state = m_dayState[day];
        state.ids.push_back(id);
        if (m_indexOf.size() < m_count)
            m_indexOf.resize(m_count);
        m_indexOf[id] = static_cast<std::uint32_t>(state.ids.size() - 1);
        if (kind == RecordKind::Visit || kind == RecordKind::Listed)
            rows.push_back(id);
        return id;
    }

    size_t dayLength(std::uint32_t day) const { return m_dayState[day].ids.size(); }

    // Marks the records deleted by change number seq and numbers what is left of their days.
    void remove(const std::vector<std::uint32_t>& ids, std::uint64_t seq)
    {
        std::vector<std::uint32_t> days;
        for (std::uint32_t id : ids) {
            VisitRecord& gone = record(id);
            gone.deletedAt.store(seq, std::memory_order_relaxed);
            days.push_back(gone.day);
        }
        std::sort(days.begin(), days.end());
        days.erase(std::unique(days.begin(), days.end()), days.end());
        for (std::uint32_t day : days) {
            auto& dayIds = m_dayState[day].ids;
            std::erase_if(dayIds, [&](std::uint32_t id) {
                return record(id).deletedAt.load(std::memory_order_relaxed) != 0;
            });
            for (size_t i = 0; i < dayIds.size(); ++i)
                m_indexOf[dayIds[i]] = static_cast<std::uint32_t>(i);
        }
        std::erase_if(rows, [&](std::uint32_t id) {
            return record(id).deletedAt.load(std::memory_order_relaxed) != 0;
        });
    }

    HistoryEntry entry(std::uint32_t id) const
    {
        RecordText text = this->text(id);
        const DayKeys& keys = dayKeys(record(id).day);
        return { std::string(text.url), std::string(text.title), std::string(text.time), keys.year,
            keys.month, keys.day, m_indexOf[id] };
    }

    // Newest first as the file's order has it: by time, then by place in the file.
    void sortRows()
    {
        auto newer = [&](std::uint32_t a, std::uint32_t b) {
            std::string_view ta = text(a).time, tb = text(b).time;
            if (ta != tb)
                return ta > tb;
            const DayKeys& da = dayKeys(record(a).day);
            const DayKeys& db = dayKeys(record(b).day);
            return std::tie(da.year, da.month, da.day, m_indexOf[a])
                > std::tie(db.year, db.month, db.day, m_indexOf[b]);
        };
        // Times as the store writes them order as numbers, which spares a million comparisons
        // of texts; any other time in the file orders them all as texts.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
        keyed.reserve(rows.size());
        for (std::uint32_t id : rows) {
            auto packed = packedTime(text(id).time);
            if (!packed)
                break;
            keyed.emplace_back(*packed, id);
        }
        // Kept oldest first, so that a visit goes in at the end.
        if (keyed.size() == rows.size()) {
            std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
                return a.first != b.first ? a.first < b.first : newer(b.second, a.second);
            });
            for (size_t i = 0; i < keyed.size(); ++i)
                rows[i] = keyed[i].second;
            return;
        }
        std::sort(rows.begin(), rows.end(), [&](std::uint32_t a, std::uint32_t b) { return newer(b, a); });
    }

    HistorySnapshot snapshot()
    {
        m_shared = true;
        return { m_chunks, m_count, seq, { m_dayBlocks, m_dayCount }, m_raw, now };
    }

    // The listed records, oldest first. Deques, so that no visit pays for moving all of them.
    std::deque<std::uint32_t> rows;
    std::optional<std::string> now;
    // The number of the last change: visits, deletions and clearing count.
    std::uint64_t seq = 0;

private:
    struct DayState {
        std::deque<std::uint32_t> ids;
    };
    std::shared_ptr<ChunkList> m_chunks;
    std::uint32_t m_slot = 0;
    size_t m_textUsed = 0;
    std::uint32_t m_count = 0;
    std::shared_ptr<DayBlockList> m_dayBlocks;
    std::uint32_t m_dayCount = 0;
    // A deque: growing it never moves the days already there.
    std::deque<DayState> m_dayState;
    std::unordered_map<std::string, std::uint32_t> m_dayByKey;
    std::deque<std::uint32_t> m_indexOf;
    std::shared_ptr<RawParts> m_raw;
    bool m_shared = false;
};

// ---- Reading the file -------------------------------------------------------------------------

namespace {

// Builds the compact history straight from the parser's events: the visit records never become
// a JSON tree, and anything else in the file is kept as its text.
class HistoryReader {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit HistoryReader(HistoryModel& model)
        : m_model(model)
    {
    }

    bool null() { return scalar(Json(nullptr)); }
    bool boolean(bool value) { return scalar(Json(value)); }
    bool number_integer(number_integer_t value) { return scalar(Json(value)); }
    bool number_unsigned(number_unsigned_t value) { return scalar(Json(value)); }
    bool number_float(number_float_t value, const string_t&) { return scalar(Json(value)); }
    bool binary(binary_t&) { return scalar(Json()); }
    bool string(string_t& value)
    {
        if (m_inRecord) {
            setField(std::move(value));
            return true;
        }
        return scalar(Json(std::move(value)));
    }

    bool key(string_t& key)
    {
        if (m_building)
            m_builderKey = key;
        else if (m_inRecord)
            m_recordKey = key;
        else if (!m_levels.empty())
            m_keys[static_cast<size_t>(m_levels.back())] = key;
        return true;
    }

    bool start_object(std::size_t)
    {
        if (m_inRecord)
            recordToTree();
        if (m_building) {
            m_stack.push_back(place(Json::object()));
            return true;
        }
        if (m_levels.empty()) {
            m_rootObject = true;
            return enter(Level::Root);
        }
        switch (m_levels.back()) {
        case Level::Root:
            if (m_keys[0] == "years") {
                m_yearsObject = true;
                return enter(Level::Years);
            }
            break;
        case Level::Years:
            return enter(Level::Year);
        case Level::Year:
            ++m_children[static_cast<size_t>(Level::Year)];
            return enter(Level::Month);
        case Level::Day:
            m_inRecord = true;
            m_fields.clear();
            return true;
        default:
            break;
        }
        beginBuilding(Json::object());
        return true;
    }

    bool start_array(std::size_t)
    {
        if (m_inRecord)
            recordToTree();
        if (m_building) {
            m_stack.push_back(place(Json::array()));
            return true;
        }
        if (!m_levels.empty() && m_levels.back() == Level::Month) {
            ++m_children[static_cast<size_t>(Level::Month)];
            m_day.reset();
            return enter(Level::Day);
        }
        beginBuilding(Json::array());
        return true;
    }

    bool end_object()
    {
        if (m_inRecord) {
            m_inRecord = false;
            addFieldsRecord();
            return true;
        }
        if (m_building)
            return endContainer();
        return leave();
    }
    bool end_array() { return m_building ? endContainer() : leave(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        m_error = error.what();
        return false;
    }

    const std::string& error() const { return m_error; }
    bool hasHistoryShape() const { return m_rootObject && m_yearsObject && !m_yearsOther; }

private:
    enum class Level { Root, Years, Year, Month, Day };

    bool enter(Level level)
    {
        m_levels.push_back(level);
        m_children[static_cast<size_t>(level)] = 0;
        return true;
    }

    bool leave()
    {
        Level level = m_levels.back();
        m_levels.pop_back();
        size_t children = m_children[static_cast<size_t>(level)];
        // Empty objects and arrays stay as they were written.
        if (level == Level::Year && children == 0)
            rawAt(Level::Years, "{}");
        else if (level == Level::Month && children == 0)
            rawAt(Level::Year, "{}");
        else if (level == Level::Day && children == 0)
            rawAt(Level::Month, "[]");
        return true;
    }

    const std::string& keyOf(Level level) const { return m_keys[static_cast<size_t>(level)]; }

    // A value that is not part of the visits' layout, placed at its level as text.
    void rawAt(Level level, std::string text)
    {
        switch (level) {
        case Level::Root:
            if (keyOf(Level::Root) == "now")
                m_model.now = std::move(text);
            else
                m_model.rawForChange().others[keyOf(Level::Root)] = std::move(text);
            break;
        case Level::Years:
            m_model.rawForChange().years[keyOf(Level::Years)] = std::move(text);
            break;
        case Level::Year:
            ++m_children[static_cast<size_t>(Level::Year)];
            m_model.rawForChange().months[{ keyOf(Level::Years), keyOf(Level::Year) }]
                = std::move(text);
            break;
        case Level::Month:
            ++m_children[static_cast<size_t>(Level::Month)];
            m_model.rawForChange().days[{ keyOf(Level::Years), keyOf(Level::Year),
                keyOf(Level::Month) }]
                = std::move(text);
            break;
        case Level::Day:
            break;
        }
    }

    void deliver(Json value)
    {
        if (m_levels.empty()) {
            m_rootObject = false;
            return;
        }
        Level level = m_levels.back();
        if (level == Level::Root && keyOf(Level::Root) == "years") {
            m_yearsOther = true;
            return;
        }
        if (level == Level::Day) {
            addJsonRecord(value);
            return;
        }
        static constexpr int depths[] = { 1, 2, 3, 4 };
        rawAt(level, prettyText(value, depths[static_cast<size_t>(level)]));
    }

    bool scalar(Json value)
    {
        if (m_inRecord)
            recordToTree();
        if (m_building) {
            place(std::move(value));
            return true;
        }
        deliver(std::move(value));
        return true;
    }

    void beginBuilding(Json container)
    {
        m_building = true;
        m_built = std::move(container);
        m_stack.assign(1, &m_built);
    }

    Json* place(Json value)
    {
        Json& parent = *m_stack.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& slot = parent[m_builderKey];
        slot = std::move(value);
        return &slot;
    }

    bool endContainer()
    {
        m_stack.pop_back();
        if (m_stack.empty()) {
            m_building = false;
            deliver(std::move(m_built));
            m_built = Json();
        }
        return true;
    }

    void setField(std::string value)
    {
        for (auto& field : m_fields) {
            if (field.first == m_recordKey) {
                field.second = std::move(value);
                return;
            }
        }
        m_fields.emplace_back(m_recordKey, std::move(value));
    }

    // A record that is more than strings goes on as a tree.
    void recordToTree()
    {
        m_inRecord = false;
        Json object = Json::object();
        for (auto& [key, value] : m_fields)
            object[key] = std::move(value);
        beginBuilding(std::move(object));
        m_builderKey = m_recordKey;
    }

    std::uint32_t day()
    {
        if (!m_day)
            m_day = m_model.dayFor(keyOf(Level::Years), keyOf(Level::Year), keyOf(Level::Month));
        ++m_children[static_cast<size_t>(Level::Day)];
        return *m_day;
    }

    void addFieldsRecord()
    {
        const std::string* url = nullptr;
        const std::string* title = nullptr;
        const std::string* time = nullptr;
        for (const auto& [key, value] : m_fields) {
            if (key == "url")
                url = &value;
            else if (key == "title")
                title = &value;
            else if (key == "time")
                time = &value;
        }
        if (url && title && time && m_fields.size() == 3) {
            m_model.add(RecordKind::Visit, day(), *url, *title, *time);
            return;
        }
        Json object = Json::object();
        for (auto& [key, value] : m_fields)
            object[key] = value;
        addJsonRecord(object);
    }

    void addJsonRecord(const Json& value)
    {
        std::string_view url, title, time;
        RecordKind kind = RecordKind::Unlisted;
        if (value.is_object()) {
            auto u = value.find("url");
            auto t = value.find("time");
            auto ti = value.find("title");
            if (u != value.end() && u->is_string() && t != value.end() && t->is_string()) {
                kind = RecordKind::Listed;
                url = u->get_ref<const std::string&>();
                time = t->get_ref<const std::string&>();
                if (ti != value.end() && ti->is_string())
                    title = ti->get_ref<const std::string&>();
            }
        }
        m_model.add(kind, day(), url, title, time, prettyText(value, 5));
    }

    HistoryModel& m_model;
    std::vector<Level> m_levels;
    std::string m_keys[5];
    size_t m_children[5] = {};
    std::optional<std::uint32_t> m_day;
    bool m_rootObject = false;
    bool m_yearsObject = false;
    bool m_yearsOther = false;
    // A record of strings only, read without a tree.
    bool m_inRecord = false;
    std::vector<std::pair<std::string, std::string>> m_fields;
    std::string m_recordKey;
    // Anything else, read as a tree.
    bool m_building = false;
    Json m_built;
    std::vector<Json*> m_stack;
    std::string m_builderKey;
    std::string m_error;
};

// Reads a history text into model; false with the reason when it is not a history.
bool readHistoryText(std::string_view text, HistoryModel& model, std::string& reason)
{
    if (!jsonDepthWithin(text)) {
        reason = jsonTooDeepText();
        return false;
    }
    HistoryReader reader(model);
    bool parsed = false;
    try {
        parsed = Json::sax_parse(text.begin(), text.end(), &reader);
    } catch (const std::exception& error) {
        reason = error.what();
        return false;
    }
    if (!parsed) {
        reason = reader.error().empty() ? std::string("invalid JSON") : reader.error();
        return false;
    }
    if (!reader.hasHistoryShape()) {
        reason = std::string(kInvalidHistoryFormat);
        return false;
    }
    return true;
}

enum class FileState { Usable, Missing, Damaged };

// Whether the file is a history we can read; Damaged with the reason when it exists but is not.
FileState checkHistoryFile(const fs::path& file, std::string& reason)
{
    FileRead read = readWholeFile(file, kHistoryFileLimit);
    if (read.status == ReadStatus::Missing)
        return FileState::Missing;
    if (read.status == ReadStatus::Failed) {
        reason = read.error;
        return FileState::Damaged;
    }
    HistoryModel ignored;
    return readHistoryText(read.contents, ignored, reason) ? FileState::Usable : FileState::Damaged;
}

// ---- Writing the file -------------------------------------------------------------------------

void appendVisitText(std::string& out, const RecordText& text)
{
    appendIndent(out, 5);
    out += "{\n";
    appendIndent(out, 6);
    out += "\"time\": ";
    appendQuoted(out, text.time);
    out += ",\n";
    appendIndent(out, 6);
    out += "\"title\": ";
    appendQuoted(out, text.title);
    out += ",\n";
    appendIndent(out, 6);
    out += "\"url\": ";
    appendQuoted(out, text.url);
    out += '\n';
    appendIndent(out, 5);
    out += '}';
}

// The file's text for a snapshot, the same as the library's pretty print of the document.
std::string historyText(const HistorySnapshot& snapshot)
{
    const ChunkList& chunks = *snapshot.chunks;
    auto recordOf = [&](std::uint32_t id) -> const VisitRecord& {
        return chunks[id / RecordChunk::kSlots]->records[id % RecordChunk::kSlots];
    };
    std::vector<std::vector<std::uint32_t>> perDay(snapshot.days.count);
    size_t bytes = 64;
    for (std::uint32_t id = 0; id < snapshot.count; ++id) {
        const VisitRecord& record = recordOf(id);
        if (record.kind == RecordKind::Unused)
            continue;
        std::uint64_t deleted = record.deletedAt.load(std::memory_order_relaxed);
        if (deleted != 0 && deleted <= snapshot.seq)
            continue;
        perDay[record.day].push_back(id);
        bytes += 80 + record.urlSize + record.titleSize + record.timeSize + record.rawSize;
    }

    struct DayOut {
        const std::string* raw = nullptr;
        std::optional<std::uint32_t> day;
    };
    struct MonthOut {
        const std::string* raw = nullptr;
        std::map<std::string_view, DayOut> days;
    };
    struct YearOut {
        const std::string* raw = nullptr;
        std::map<std::string_view, MonthOut> months;
    };
    std::map<std::string_view, YearOut> years;
    const RawParts& raw = *snapshot.raw;
    for (const auto& [year, text] : raw.years)
        years[year].raw = &text;
    for (const auto& [key, text] : raw.months)
        years[key.first].months[key.second].raw = &text;
    for (const auto& [key, text] : raw.days)
        years[std::get<0>(key)].months[std::get<1>(key)].days[std::get<2>(key)].raw = &text;
    for (std::uint32_t day = 0; day < perDay.size(); ++day) {
        if (perDay[day].empty())
            continue;
        const DayKeys& keys = snapshot.days[day];
        years[keys.year].months[keys.month].days[keys.day].day = day;
    }

    std::string out;
    out.reserve(bytes);
    auto openMember = [&](bool& first, int depth, std::string_view key) {
        out += first ? "{\n" : ",\n";
        first = false;
        appendIndent(out, depth);
        appendQuoted(out, key);
        out += ": ";
    };
    auto close = [&](bool first, int depth, char bracket) {
        if (first) {
            out += bracket == '}' ? "{}" : "[]";
            return;
        }
        out += '\n';
        appendIndent(out, depth);
        out += bracket;
    };
    auto writeYears = [&] {
        bool firstYear = true;
        for (const auto& [yearKey, year] : years) {
            openMember(firstYear, 2, yearKey);
            if (year.months.empty() && year.raw) {
                out += *year.raw;
                continue;
            }
            bool firstMonth = true;
            for (const auto& [monthKey, month] : year.months) {
                openMember(firstMonth, 3, monthKey);
                if (month.days.empty() && month.raw) {
                    out += *month.raw;
                    continue;
                }
                bool firstDay = true;
                for (const auto& [dayKey, day] : month.days) {
                    openMember(firstDay, 4, dayKey);
                    if (!day.day) {
                        out += *day.raw;
                        continue;
                    }
                    out += "[\n";
                    bool firstRecord = true;
                    for (std::uint32_t id : perDay[*day.day]) {
                        if (!firstRecord)
                            out += ",\n";
                        firstRecord = false;
                        const VisitRecord& record = recordOf(id);
                        RecordText text = textOf(*chunks[id / RecordChunk::kSlots], record);
                        if (record.kind == RecordKind::Visit) {
                            appendVisitText(out, text);
                        } else {
                            appendIndent(out, 5);
                            out += text.raw;
                        }
                    }
                    out += '\n';
                    appendIndent(out, 4);
                    out += ']';
                }
                close(firstDay, 3, '}');
            }
            close(firstMonth, 2, '}');
        }
        close(firstYear, 1, '}');
    };

    // The root's members in the library's order: sorted by key.
    std::map<std::string_view, const std::string*> members;
    for (const auto& [key, text] : raw.others)
        members[key] = &text;
    if (snapshot.now)
        members["now"] = &*snapshot.now;
    members["years"] = nullptr;
    bool first = true;
    for (const auto& [key, text] : members) {
        openMember(first, 1, key);
        if (text)
            out += *text;
        else
            writeYears();
    }
    close(first, 0, '}');
    return out;
}

} // namespace

// ---- Loading ----------------------------------------------------------------------------------

struct HistoryLoadData {
    std::unique_ptr<HistoryModel> model;
    std::optional<std::string> error;
    std::optional<FileStamp> stamp;
    // What the journal becomes before the first visit goes in; nothing when it can be appended
    // to as it is.
    std::optional<std::string> journalReset;
    bool journalForeign = false;
    size_t replayed = 0;
};

HistoryLoad::HistoryLoad() = default;
HistoryLoad::~HistoryLoad() = default;
HistoryLoad::HistoryLoad(HistoryLoad&&) noexcept = default;
HistoryLoad& HistoryLoad::operator=(HistoryLoad&&) noexcept = default;

fs::path historyJournalPath(const fs::path& file)
{
    fs::path journal = file;
    journal += ".journal";
    return journal;
}

std::string historyJournalVisitLine(const HistoryJournalVisit& visit)
{
    std::string line = "{\"n\":" + std::to_string(visit.number) + ",\"time\":";
    appendQuoted(line, visit.time);
    line += ",\"title\":";
    appendQuoted(line, visit.title);
    line += ",\"url\":";
    appendQuoted(line, visit.url);
    line += "}\n";
    return line;
}

std::string historyJournalBaseLine(std::string_view fileText, std::uint64_t upto)
{
    return baseLineFor(hashText(fileText), upto);
}

namespace {

// Files a visit from the journal as addVisit filed it.
bool replayVisit(HistoryModel& model, const HistoryJournalVisit& visit)
{
    auto keys = dayKeysOfTime(visit.time);
    if (!keys || visit.url.size() > kMaxHistoryURLBytes || !isValidUtf8(visit.url))
        return false;
    std::uint32_t day = model.dayFor(keys->year, keys->month, keys->day);
    model.add(RecordKind::Visit, day, visit.url, historyTitleForStorage(visit.title), visit.time);
    model.now = nowText(keys->yearNumber, keys->month, keys->day, model.dayLength(day));
    return true;
}

} // namespace

HistoryLoad HistoryStore::read(const fs::path& file)
{
    HistoryLoad loaded;
    loaded.m_data = std::make_unique<HistoryLoadData>();
    HistoryLoadData& data = *loaded.m_data;
    // The stamp is taken before reading, so a change during the read shows up as a change.
    data.stamp = stampFile(file);
    auto model = std::make_unique<HistoryModel>();
    std::optional<TextHash> fileHash;
    {
        FileRead read = readWholeFile(file, kHistoryFileLimit);
        if (read.status == ReadStatus::Failed) {
            data.error = read.error;
            return loaded;
        }
        if (read.status == ReadStatus::Ok) {
            std::string reason;
            if (!readHistoryText(read.contents, *model, reason)) {
                data.error = reason;
                return loaded;
            }
            fileHash = hashText(read.contents);
        }
    }

    // The journal: the visits after the last base line naming this very file. With none naming
    // it, the file was replaced or removed by someone else and only what came after our last
    // write of it is ours to add.
    fs::path journalFile = historyJournalPath(file);
    FileRead journal = readWholeFile(journalFile, kHistoryFileLimit);
    std::vector<JournalLine> lines;
    bool ours = false;
    bool clean = true;
    if (journal.status == ReadStatus::Ok) {
        auto texts = splitLines(journal.contents);
        // Empty when a kill came right after making it.
        ours = texts.empty() || parseJournalLine(texts[0]).kind == JournalLine::Kind::Magic;
        if (ours) {
            for (size_t i = 1; i < texts.size(); ++i)
                lines.push_back(parseJournalLine(texts[i]));
        }
        clean = journal.contents.empty() || journal.contents.back() == '\n';
    }
    data.journalForeign = journal.status == ReadStatus::Failed || (journal.status == ReadStatus::Ok && !ours);
    journal = {};

    std::optional<std::uint64_t> matched;
    std::optional<std::uint64_t> lastBase;
    std::uint64_t last = 0;
    for (const JournalLine& line : lines) {
        if (line.kind == JournalLine::Kind::Base) {
            lastBase = line.upto;
            if (line.base == fileHash)
                matched = line.upto;
            last = std::max(last, line.upto);
        } else if (line.kind == JournalLine::Kind::Visit) {
            last = std::max(last, line.visit.number);
        }
    }
    std::uint64_t skipUpTo = matched ? *matched : (fileHash && lastBase ? *lastBase : 0);
    std::string kept;
    for (const JournalLine& line : lines) {
        if (line.kind != JournalLine::Kind::Visit || line.visit.number <= skipUpTo)
            continue;
        if (replayVisit(*model, line.visit)) {
            ++data.replayed;
            kept += historyJournalVisitLine(line.visit);
        }
    }
    // A journal that does not name the file as it is now is started again from it, keeping the
    // visits it adds; so is one cut short or not ours.
    if (!matched || !clean || data.journalForeign)
        data.journalReset = std::string(kJournalMagicLine) + baseLineFor(fileHash, skipUpTo) + kept;
    model->seq = last;
    model->sortRows();
    data.model = std::move(model);
    return loaded;
}

// ---- Write state ------------------------------------------------------------------------------

struct HistoryStore::WriteState {
    fs::path file;
    std::function<void()> reported;
    std::mutex mutex;
    // The file as this store last read or wrote it; a file that differs was changed by someone
    // else and is checked before it is replaced.
    std::optional<FileStamp> stamp;
    // A change by someone else already found readable, not read again.
    std::optional<FileStamp> foreignReadable;
    bool refused = false;
    bool journalFailing = false;
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
            if (now
                && (!now->exists || (stamp && *now == *stamp)
                    || (foreignReadable && *now == *foreignReadable)))
                return std::nullopt;
        }
        // Someone else changed it: a history we can still read is replaced by ours, one we
        // cannot is kept as it is.
        std::string reason;
        if (checkHistoryFile(file, reason) == FileState::Damaged)
            return reason;
        std::lock_guard<std::mutex> lock(mutex);
        foreignReadable = now;
        return std::nullopt;
    }

    // On the journal's thread, before a batch of visits.
    void checkBeforeAppend()
    {
        if (auto refusal = check())
            done({ FileWriteReport::Kind::Refused, *refusal }, "", "", false);
    }

    // On the journal's thread, after a batch of visits. While the journal cannot be written,
    // each visit is reported once, and the failing folds behind them are not.
    void journalWritten(const Result<Done>& written)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            journalFailing = !written;
            if (written)
                return;
            failures.push_back("Could not save history: " + written.error());
        }
        if (reported)
            reported();
    }

    // On the writer's thread, after the write or refusal.
    void done(const FileWriteReport& report, const std::string& failurePrefix,
        const std::string& emptyError, bool quietWhileJournalFails)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            switch (report.kind) {
            case FileWriteReport::Kind::Written:
                stamp = stampFile(file);
                foreignReadable.reset();
                return;
            case FileWriteReport::Kind::Failed:
                if (quietWhileJournalFails && journalFailing)
                    return;
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

// ---- The journal's writer ---------------------------------------------------------------------

// Appends to the journal on a thread of its own, flushing every batch to disk; the only writer
// of the journal file.
class HistoryJournal {
public:
    HistoryJournal(fs::path path, std::weak_ptr<HistoryStore::WriteState> state)
        : m_path(std::move(path))
        , m_state(std::move(state))
    {
        m_thread = std::thread([this] { run(); });
    }
    ~HistoryJournal()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    HistoryJournal(const HistoryJournal&) = delete;
    HistoryJournal& operator=(const HistoryJournal&) = delete;

    // What the file becomes before its next write, and whether what is there now is kept aside.
    void prepare(std::optional<std::string> reset, bool moveAside)
    {
        push({ Op::Kind::Prepare, std::move(reset).value_or(""), 0, moveAside });
    }
    void append(std::string line) { push({ Op::Kind::Visit, std::move(line) }); }
    // Waits until the line is on disk, after every visit handed over before it.
    Result<Done> appendBase(std::string line)
    {
        Op op { Op::Kind::Base, std::move(line) };
        auto written = op.done.get_future();
        push(std::move(op));
        return written.get();
    }
    // Keeps only the base line and the visits after upto.
    void compact(std::uint64_t upto, std::string baseLine)
    {
        push({ Op::Kind::Compact, std::move(baseLine), upto });
    }

private:
    struct Op {
        enum class Kind { Prepare, Visit, Base, Compact } kind;
        std::string line;
        std::uint64_t upto = 0;
        bool moveAside = false;
        std::promise<Result<Done>> done {};
    };

    void push(Op op)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ops.push_back(std::move(op));
        }
        m_wake.notify_one();
    }

    void run()
    {
        for (;;) {
            std::deque<Op> ops;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_ops.empty(); });
                if (m_ops.empty())
                    break;
                ops.swap(m_ops);
            }
            std::string visits;
            for (Op& op : ops) {
                if (op.kind == Op::Kind::Visit) {
                    visits += op.line;
                    continue;
                }
                writeVisits(visits);
                switch (op.kind) {
                case Op::Kind::Prepare:
                    closeFile();
                    m_reset = op.line.empty() ? std::nullopt : std::optional(std::move(op.line));
                    m_moveAside = op.moveAside;
                    break;
                case Op::Kind::Base:
                    op.done.set_value(write(op.line));
                    break;
                case Op::Kind::Compact:
                    compactFile(op.upto, op.line);
                    break;
                case Op::Kind::Visit:
                    break;
                }
            }
            writeVisits(visits);
        }
        closeFile();
    }

    void writeVisits(std::string& visits)
    {
        if (visits.empty())
            return;
        auto state = m_state.lock();
        // A history file damaged by someone else stops the store at the next visit.
        if (state)
            state->checkBeforeAppend();
        Result<Done> written = write(visits);
        visits.clear();
        if (state)
            state->journalWritten(written);
    }

    void closeFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    Result<Done> open()
    {
        if (m_fd >= 0)
            return Done {};
        if (m_moveAside) {
            // Not ours, or a link: kept byte for byte beside it, never followed.
            fs::path aside = m_path;
            aside += ".bad";
            std::error_code error;
            fs::rename(m_path, aside, error);
            m_moveAside = false;
        }
        if (m_reset) {
            if (auto started = writeFileAtomically(m_path, *m_reset); !started)
                return started;
            m_reset.reset();
        }
        int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return Result<Done>::failure(std::strerror(errno));
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return Result<Done>::failure("Is not a regular file");
        }
        std::string start;
        if (info.st_size == 0) {
            start = kJournalMagicLine;
        } else {
            // A line cut short by a kill is left behind as a line of its own.
            char lastByte = '\n';
            if (pread(fd, &lastByte, 1, info.st_size - 1) == 1 && lastByte != '\n')
                start = "\n";
        }
        if (!start.empty()) {
            if (int error = writeAll(fd, start)) {
                ::close(fd);
                return Result<Done>::failure(std::strerror(error));
            }
        }
        if (info.st_size == 0) {
            // The new file's name reaches the disk too.
            int folder = ::open(m_path.parent_path().empty() ? "." : m_path.parent_path().c_str(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                fsync(folder);
                ::close(folder);
            }
        }
        m_fd = fd;
        return Done {};
    }

    Result<Done> write(std::string_view bytes)
    {
        if (auto opened = open(); !opened)
            return opened;
        int error = writeAll(m_fd, bytes);
        if (!error && fdatasync(m_fd) != 0)
            error = errno;
        if (error) {
            closeFile();
            return Result<Done>::failure(std::strerror(error));
        }
        return Done {};
    }

    void compactFile(std::uint64_t upto, const std::string& baseLine)
    {
        if (m_reset || m_moveAside)
            return;
        closeFile();
        FileRead read = readWholeFile(m_path, kHistoryFileLimit);
        if (read.status != ReadStatus::Ok)
            return;
        auto texts = splitLines(read.contents);
        if (texts.empty() || parseJournalLine(texts[0]).kind != JournalLine::Kind::Magic)
            return;
        std::string kept = std::string(kJournalMagicLine) + baseLine;
        for (size_t i = 1; i < texts.size(); ++i) {
            JournalLine line = parseJournalLine(texts[i]);
            if (line.kind == JournalLine::Kind::Visit && line.visit.number > upto)
                kept += historyJournalVisitLine(line.visit);
        }
        // Kept as it is when it cannot be replaced: every line in it is still right.
        (void)writeFileAtomically(m_path, kept);
    }

    const fs::path m_path;
    const std::weak_ptr<HistoryStore::WriteState> m_state;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Op> m_ops;
    bool m_stopping = false;
    // Touched by the journal's thread only.
    std::optional<std::string> m_reset;
    bool m_moveAside = false;
    int m_fd = -1;
    std::thread m_thread;
};

// ---- Entries ----------------------------------------------------------------------------------

size_t HistoryEntries::size() const { return m_model ? m_model->rows.size() : 0; }

HistoryEntry HistoryEntries::operator[](size_t row) const
{
    const auto& rows = m_model->rows;
    return m_model->entry(rows[rows.size() - 1 - row]);
}

// ---- The store --------------------------------------------------------------------------------

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

HistoryStore::HistoryStore(fs::path file, FileWriter& writer, std::function<void()> writeReported,
    std::chrono::milliseconds foldInterval)
    : m_file(std::move(file))
    , m_writer(writer)
    , m_writeState(std::make_shared<WriteState>())
    , m_foldInterval(foldInterval)
{
    m_writeState->file = m_file;
    m_writeState->reported = std::move(writeReported);
    m_journal = std::make_shared<HistoryJournal>(historyJournalPath(m_file), m_writeState);
}

HistoryStore::~HistoryStore() = default;

void HistoryStore::forget()
{
    m_entries.m_model = nullptr;
    m_model.reset();
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

void HistoryStore::submitFold(std::string_view failurePrefix, std::string_view emptyError,
    std::optional<std::chrono::milliseconds> delay, bool quietWhileJournalFails)
{
    // Folding, clearing and deleting are all one write of the whole file from a snapshot; the
    // journal learns which file holds which visits before the file is replaced, and forgets
    // them only after.
    auto snapshot = std::make_shared<HistorySnapshot>(m_model->snapshot());
    auto baseLine = std::make_shared<std::string>();
    std::weak_ptr<WriteState> state = m_writeState;
    std::shared_ptr<HistoryJournal> journal = m_journal;
    FileContentsMaker make = [snapshot, baseLine, journal]() -> Result<std::string> {
        std::string text = historyText(*snapshot);
        *baseLine = historyJournalBaseLine(text, snapshot->seq);
        if (auto based = journal->appendBase(*baseLine); !based)
            return Result<std::string>::failure(based.error());
        return text;
    };
    FileWriteHooks hooks;
    hooks.check = [state](const fs::path&) -> std::optional<std::string> {
        auto alive = state.lock();
        return alive ? alive->check() : std::nullopt;
    };
    hooks.done = [state, journal, baseLine, upto = snapshot->seq, quiet = quietWhileJournalFails,
                     prefix = std::string(failurePrefix),
                     empty = std::string(emptyError)](const FileWriteReport& report) {
        if (report.kind == FileWriteReport::Kind::Written)
            journal->compact(upto, *baseLine);
        if (auto alive = state.lock())
            alive->done(report, prefix, empty, quiet);
    };
    m_writer.submitMade(m_file, std::move(make), std::move(hooks), delay);
}

void HistoryStore::foldSoon()
{
    // At most one fold per interval: the first visit after a quiet interval is folded after the
    // writer's delay, later ones wait for the interval to pass since the fold before.
    auto now = std::chrono::steady_clock::now();
    if (!m_foldDue || now >= *m_foldDue) {
        auto soon = now + m_writer.delay();
        m_foldDue = m_foldDue ? std::max(soon, *m_foldDue + m_foldInterval) : soon;
    }
    auto delay = std::chrono::ceil<std::chrono::milliseconds>(*m_foldDue - now);
    // A fold that fails loses nothing the journal holds, so only a failing journal is reported.
    submitFold(
        "Could not save history: ", {}, std::max(delay, std::chrono::milliseconds(0)), true);
}

Result<Done> HistoryStore::adopt(HistoryLoad loaded)
{
    if (m_readOnly)
        return Done {};
    forget();
    if (!loaded.m_data)
        loaded = read(m_file);
    HistoryLoadData& data = *loaded.m_data;
    if (data.error) {
        m_readOnly = true;
        m_loaded = false;
        return Result<Done>::failure(
            "Cannot read history file " + m_file.string() + ": " + *data.error);
    }
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        m_writeState->stamp = data.stamp;
    }
    m_model = std::move(data.model);
    m_entries.m_model = m_model.get();
    m_journal->prepare(std::move(data.journalReset), data.journalForeign);
    m_loaded = true;
    // Visits a kill left in the journal go into the file soon.
    if (data.replayed > 0)
        foldSoon();
    return Done {};
}

Result<Done> HistoryStore::load() { return adopt(read(m_file)); }

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
    HistoryJournalVisit visit { ++m_model->seq, std::move(address),
        historyTitleForStorage(title.value_or("")), historyTimestamp(moment) };
    std::uint32_t day = m_model->dayFor(keys.year, keys.month, keys.day);
    m_model->add(RecordKind::Visit, day, visit.url, visit.title, visit.time);
    m_model->now = nowText(keys.yearNumber, keys.month, keys.day, m_model->dayLength(day));
    m_journal->append(historyJournalVisitLine(visit));
    foldSoon();
    return true;
}

Result<Done> HistoryStore::clear()
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    if (!m_loaded)
        return Result<Done>::failure(std::string(kHistoryDeleteUnreadableMessage));
    std::uint64_t seq = m_model->seq;
    forget();
    m_model = std::make_unique<HistoryModel>();
    m_model->seq = seq + 1;
    m_entries.m_model = m_model.get();
    m_recent.clear();
    submitFold("Could not clear history: ", {}, std::nullopt, false);
    return Done {};
}

void HistoryStore::forEachVisit(const HistoryLoad& loaded,
    const std::function<void(std::string_view, std::string_view, std::string_view)>& visit)
{
    if (!loaded.m_data || !loaded.m_data->model)
        return;
    const HistoryModel& model = *loaded.m_data->model;
    for (std::uint32_t id : model.rows) {
        RecordText text = model.text(id);
        visit(text.url, text.title, text.time);
    }
}

std::vector<size_t> HistoryStore::rowsOf(std::string_view url) const
{
    std::vector<size_t> found;
    if (!m_model)
        return found;
    const auto& listed = m_model->rows;
    for (size_t row = 0; row < listed.size(); ++row) {
        if (m_model->text(listed[listed.size() - 1 - row]).url == url)
            found.push_back(row);
    }
    return found;
}

Result<Done> HistoryStore::deleteEntries(const std::vector<size_t>& rows)
{
    if (m_readOnly)
        return Result<Done>::failure(std::string(kHistoryReadOnlyMessage));
    if (!m_loaded)
        return Result<Done>::failure(std::string(kHistoryDeleteUnreadableMessage));

    const auto& listed = m_model->rows;
    std::vector<std::uint32_t> ids;
    for (size_t row : rows)
        if (row < listed.size())
            ids.push_back(listed[listed.size() - 1 - row]);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (std::uint32_t id : ids)
        if (m_model->record(id).deletedAt.load(std::memory_order_relaxed) != 0)
            return Result<Done>::failure(std::string(kHistoryChangedWhileDeletingMessage));
    m_model->remove(ids, ++m_model->seq);
    submitFold("Could not delete selected history: ", "write failed", std::nullopt, false);
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
        m_recent.clear();
    }
    return failures;
}

} // namespace qv

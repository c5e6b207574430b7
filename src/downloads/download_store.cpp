// Reading, adding to and pruning "downloads.json".
#include "downloads/download_store.h"

#include "base/atomic_file.h"
#include "base/bad_file.h"
#include "base/file_writer.h"
#include "base/paths.h"
#include "base/url.h"
#include "base/utc_time.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace qv {

namespace fs = std::filesystem;

namespace {

std::string stringMember(const Json& object, const char* key)
{
    if (!object.is_object())
        return "";
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

struct ParsedList {
    std::vector<Json> objects;
    std::optional<std::string> problem; // why the file as a whole is unusable
};

ParsedList parseDownloadList(const FileRead& read)
{
    ParsedList list;
    if (read.status == ReadStatus::Failed) {
        list.problem = "cannot be read (" + read.error + ")";
        return list;
    }
    auto document = parseJson(read.contents);
    if (!document) {
        list.problem = read.contents.empty() ? "is empty"
            : !jsonDepthWithin(read.contents) ? "is " + jsonTooDeepText()
                                              : "is not JSON";
        return list;
    }
    if (!document->is_array()) {
        list.problem = "is not a JSON array";
        return list;
    }
    size_t dropped = 0;
    for (const Json& element : *document) {
        // Only the four fields are kept, so nothing else in the file rides along into a rewrite.
        if (element.is_object())
            list.objects.push_back(DownloadRecord::knownFields(element));
        else
            ++dropped;
    }
    if (dropped > 0)
        list.problem = "holds " + std::to_string(dropped) + " element(s) that are not records";
    return list;
}

} // namespace

DownloadRecord DownloadRecord::fromJson(const Json& object)
{
    DownloadRecord record { stringMember(object, "path"), stringMember(object, "name"),
        stringMember(object, "source"), stringMember(object, "date") };
    if (record.name.empty())
        record.name = "download";
    return record;
}

Json DownloadRecord::knownFields(const Json& object)
{
    Json kept = Json::object();
    for (const char* key : { "path", "name", "source", "date" }) {
        auto it = object.find(key);
        if (it != object.end() && it->is_string())
            kept[key] = *it;
    }
    return kept;
}

Json DownloadRecord::toJson() const
{
    return Json { { "path", path }, { "name", name }, { "source", source }, { "date", date } };
}

std::string downloadDateText(DownloadClock::time_point moment)
{
    return utcDateTimeText(moment, " ", " +0000");
}

std::string downloadRecordName(const fs::path& path)
{
    std::string name = path.filename().string();
    return name.empty() || name == "." || name == ".." ? "download" : name;
}

std::string downloadsRemovalQuestion(size_t count)
{
    return "Remove " + std::to_string(count) + " download record(s)?";
}

std::string downloadFailedMessage(std::string_view description)
{
    return "Download failed: " + std::string(description);
}

struct DownloadStore::WriteState {
    fs::path file;
    std::function<void()> reported;
    std::mutex mutex;
    // The file as this store last read or wrote it; another one in its place is checked before
    // it is written over.
    std::optional<FileIdentity> seen;
    // Writes handed to the writer, numbered, and the last one done. The writer coalesces a burst
    // and runs only the latest hooks, so a count of writes would never come back to zero; until
    // the last submitted is done, the file is older than memory.
    std::uint64_t submitted = 0;
    std::uint64_t settled = 0;
    bool inFlight() const { return settled < submitted; }
    // A removal is among the writes not yet done (its failure is shown, not only logged).
    bool removalPending = false;
    // Set while the file in place is unusable and no copy of it could be kept.
    std::optional<std::string> blocked;
    std::vector<DownloadWriteFailure> failures;

    // On the writer's thread, just before a write.
    std::optional<std::string> check()
    {
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        std::optional<FileIdentity> identity = identify(file);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (blocked)
                return blocked;
            if (!identity || (seen && *identity == *seen))
                return std::nullopt;
        }
        // A file put in place by someone else is kept aside when it is unusable.
        FileRead read = readWholeFile(file, kDownloadsFileLimit);
        if (read.status != ReadStatus::Missing && parseDownloadList(read).problem) {
            auto kept = keepBadFileAside(file, read);
            if (!kept)
                return kept.error();
        }
        return std::nullopt;
    }

    // On the writer's thread, after the write or refusal.
    void done(const FileWriteReport& report, std::uint64_t number)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            settled = std::max(settled, number);
            bool removal = removalPending;
            if (!inFlight())
                removalPending = false;
            if (report.kind == FileWriteReport::Kind::Written) {
                seen = identify(file);
                return;
            }
            std::string reason = report.message.empty() ? "write failed" : report.message;
            failures.push_back({ removal ? "Could not update the Downloads list: " + reason
                                         : reason,
                removal });
        }
        if (reported)
            reported();
    }
};

DownloadStore::DownloadStore(fs::path file, FileWriter& writer, std::function<void()> writeReported)
    : m_file(std::move(file))
    , m_writer(writer)
    , m_writeState(std::make_shared<WriteState>())
{
    m_writeState->file = m_file;
    m_writeState->reported = std::move(writeReported);
}

// Writes still queued finish without us: their hooks hold the state, not the store.
DownloadStore::~DownloadStore() = default;

std::optional<DownloadStore::FileIdentity> DownloadStore::identify(const fs::path& file)
{
    struct stat st;
    if (lstat(file.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity { static_cast<std::uintmax_t>(st.st_dev),
        static_cast<std::uintmax_t>(st.st_ino), static_cast<std::uintmax_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec };
}

DownloadRecord DownloadStore::recordAt(size_t row) const
{
    return row < m_entries.size() ? DownloadRecord::fromJson(m_entries[row]) : DownloadRecord {};
}

std::optional<std::string> DownloadStore::load()
{
    // This run's own records stay listed, on top, whatever the file now holds.
    std::vector<Json> runOnly;
    for (size_t i = m_entries.size(); i-- > 0;) {
        if (i < m_runOnly.size() && m_runOnly[i]) {
            runOnly.insert(runOnly.begin(), std::move(m_entries[i]));
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    std::optional<std::string> problem = loadFile();
    m_runOnly.assign(m_entries.size(), false);
    m_entries.insert(m_entries.begin(), std::make_move_iterator(runOnly.begin()),
        std::make_move_iterator(runOnly.end()));
    m_runOnly.insert(m_runOnly.begin(), runOnly.size(), true);
    return problem;
}

std::optional<std::string> DownloadStore::loadFile()
{
    WriteState& state = *m_writeState;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (m_loaded && state.inFlight())
            return std::nullopt;
    }
    m_loaded = true;
    m_entries.clear();
    // Taken before reading, so a change during the read is noticed before the next write.
    std::optional<FileIdentity> identity = identify(m_file);
    FileRead read = readWholeFile(m_file, kDownloadsFileLimit);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.seen = identity;
    if (read.status == ReadStatus::Missing) {
        state.blocked.reset();
        state.seen.reset();
        return std::nullopt;
    }
    ParsedList list = parseDownloadList(read);
    m_entries = std::move(list.objects);
    if (!list.problem) {
        state.blocked.reset();
        return std::nullopt;
    }
    if (identity && m_reportedFile && *identity == *m_reportedFile)
        return std::nullopt;
    m_reportedFile = identity;
    std::string message = "The Downloads list " + m_file.string() + " " + *list.problem;
    auto kept = keepBadFileAside(m_file, read);
    if (kept) {
        state.blocked.reset();
        if (read.status != ReadStatus::Ok)
            state.seen.reset(); // it was moved away
        return message + "; it was kept as " + kept->string() + " and a new list was started.";
    }
    state.blocked = message + " and " + kept.error();
    return *state.blocked + "; the list will not be saved.";
}

void DownloadStore::submit(bool removal)
{
    Json list = Json::array();
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (i >= m_runOnly.size() || !m_runOnly[i])
            list.push_back(m_entries[i]);
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        number = ++m_writeState->submitted;
        m_writeState->removalPending = m_writeState->removalPending || removal;
    }
    FileWriteHooks hooks;
    hooks.check = [state = m_writeState](const fs::path&) { return state->check(); };
    hooks.done = [state = m_writeState, number](const FileWriteReport& report) {
        state->done(report, number);
    };
    m_writer.submit(m_file, dumpJson(list, 2) + "\n", std::move(hooks));
}

std::vector<DownloadWriteFailure> DownloadStore::takeWriteFailures()
{
    std::lock_guard<std::mutex> lock(m_writeState->mutex);
    return std::exchange(m_writeState->failures, {});
}

DownloadRecording DownloadStore::recordCompletedDownload(const fs::path& file,
    std::optional<std::string_view> sourceURL, DownloadClock::time_point moment, Keep keep)
{
    DownloadRecording outcome;
    std::error_code ec;
    if (file.empty() || !file.is_absolute() || !fs::is_regular_file(file, ec))
        return outcome;
    // A list edited or replaced on disk since it was read is read again, so its records are
    // not lost by writing the old list over them. While a write of ours is on its way, the
    // change on disk is ours.
    std::optional<FileIdentity> identity = identify(m_file);
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        const auto& seen = m_writeState->seen;
        changed = !m_writeState->inFlight()
            && (identity ? !(seen && *identity == *seen) : seen.has_value());
    }
    if (!m_loaded || changed)
        outcome.loadProblem = load();

    std::string source;
    if (sourceURL && parseURL(*sourceURL, URLSyntax::Loose))
        source = std::string(*sourceURL);
    DownloadRecord record { standardizedPath(file).string(), downloadRecordName(file), source,
        downloadDateText(moment) };
    m_entries.insert(m_entries.begin(), record.toJson());
    m_runOnly.insert(m_runOnly.begin(), keep == Keep::ThisRunOnly);
    outcome.recorded = true;
    if (keep == Keep::ThisRunOnly)
        return outcome;
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        outcome.writeProblem = m_writeState->blocked;
    }
    if (!outcome.writeProblem)
        submit(false);
    return outcome;
}

DownloadRecording DownloadStore::recordCompletedDownloadURL(std::string_view fileURL,
    std::optional<std::string_view> sourceURL, DownloadClock::time_point moment, Keep keep)
{
    auto path = pathFromFileURL(fileURL);
    if (!path)
        return {};
    return recordCompletedDownload(*path, sourceURL, moment, keep);
}

Result<Done> DownloadStore::removeRecords(const std::vector<size_t>& rows)
{
    {
        std::lock_guard<std::mutex> lock(m_writeState->mutex);
        if (m_writeState->blocked)
            return Result<Done>::failure(
                "Could not update the Downloads list: " + *m_writeState->blocked);
    }
    std::vector<size_t> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
        if (*it < m_entries.size()) {
            m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(*it));
            m_runOnly.erase(m_runOnly.begin() + static_cast<std::ptrdiff_t>(*it));
        }
    }
    submit(true);
    return Done {};
}

Result<fs::path> DownloadStore::revealablePath(long row, const fs::path& downloadsFolder) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_entries.size())
        return Result<fs::path>::failure(std::string(kDownloadFileMissingMessage));
    return revealableDownloadPath(
        stringMember(m_entries[static_cast<size_t>(row)], "path"), downloadsFolder);
}

Result<fs::path> revealableDownloadPath(std::string_view recordPath, const fs::path& downloadsFolder)
{
    using R = Result<fs::path>;
    const R outside = R::failure(std::string(kDownloadOutsideFolderMessage));
    fs::path path { std::string(recordPath) };
    if (recordPath.empty() || recordPath.find('\0') != std::string_view::npos
        || !path.is_absolute() || !downloadsFolder.is_absolute())
        return outside;
    for (const fs::path& part : path)
        if (part == "." || part == "..")
            return outside;
    // Lexically inside first, so nothing outside is even looked at.
    auto insideOf = [](const fs::path& file, const fs::path& folder) {
        auto [end, at] = std::mismatch(folder.begin(), folder.end(), file.begin(), file.end());
        return end == folder.end() && at != file.end();
    };
    fs::path folder = downloadsFolder.lexically_normal();
    if (!folder.has_filename())
        folder = folder.parent_path();
    if (!insideOf(path.lexically_normal(), folder))
        return outside;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return R::failure(std::string(kDownloadFileMissingMessage));
    // A link inside the folder that leads out of it is not followed out.
    fs::path resolvedFolder = fs::canonical(folder, ec);
    if (ec)
        return outside;
    fs::path resolved = fs::canonical(path, ec);
    if (ec)
        return R::failure(std::string(kDownloadFileMissingMessage));
    if (!insideOf(resolved, resolvedFolder))
        return outside;
    return resolved;
}

} // namespace qv

// Reading, adding to and pruning "downloads.json".
#include "downloads/download_store.h"

#include "base/atomic_file.h"
#include "base/bad_file.h"
#include "base/paths.h"
#include "base/url.h"
#include "base/utc_time.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <system_error>

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

DownloadStore::DownloadStore(fs::path file)
    : m_file(std::move(file))
{
}

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
    m_loaded = true;
    m_entries.clear();
    // Taken before reading, so a change during the read is noticed before the next write.
    std::optional<FileIdentity> identity = identify(m_file);
    FileRead read = readWholeFile(m_file, kDownloadsFileLimit);
    m_seenFile = identity;
    if (read.status == ReadStatus::Missing) {
        m_writeBlocked.reset();
        m_seenFile.reset();
        return std::nullopt;
    }
    ParsedList list = parseDownloadList(read);
    m_entries = std::move(list.objects);
    if (!list.problem) {
        m_writeBlocked.reset();
        return std::nullopt;
    }
    if (identity && m_reportedFile && *identity == *m_reportedFile)
        return std::nullopt;
    m_reportedFile = identity;
    std::string message = "The Downloads list " + m_file.string() + " " + *list.problem;
    auto kept = keepBadFileAside(m_file, read);
    if (kept) {
        m_writeBlocked.reset();
        if (read.status != ReadStatus::Ok)
            m_seenFile.reset(); // it was moved away
        return message + "; it was kept as " + kept->string() + " and a new list was started.";
    }
    m_writeBlocked = message + " and " + kept.error();
    return *m_writeBlocked + "; the list will not be saved.";
}

Result<Done> DownloadStore::write(const std::vector<Json>& entries)
{
    // A file put in place since this store last looked is checked before it is replaced.
    std::optional<FileIdentity> identity = identify(m_file);
    if (identity && !(m_seenFile && *identity == *m_seenFile)) {
        FileRead read = readWholeFile(m_file, kDownloadsFileLimit);
        if (read.status != ReadStatus::Missing && parseDownloadList(read).problem) {
            auto kept = keepBadFileAside(m_file, read);
            if (!kept)
                return Result<Done>::failure(kept.error());
            m_writeBlocked.reset();
        }
    }
    if (m_writeBlocked)
        return Result<Done>::failure(*m_writeBlocked);
    Json list = Json::array();
    for (const Json& entry : entries)
        list.push_back(entry);
    std::error_code ec;
    fs::create_directories(m_file.parent_path(), ec);
    auto written = writeFileAtomically(m_file, dumpJson(list, 2) + "\n");
    if (!written)
        return written;
    m_seenFile = identify(m_file);
    return Done {};
}

DownloadRecording DownloadStore::recordCompletedDownload(const fs::path& file,
    std::optional<std::string_view> sourceURL, DownloadClock::time_point moment)
{
    DownloadRecording outcome;
    std::error_code ec;
    if (file.empty() || !file.is_absolute() || !fs::is_regular_file(file, ec))
        return outcome;
    // A list edited or replaced on disk since it was read is read again, so its records are
    // not lost by writing the old list over them.
    std::optional<FileIdentity> identity = identify(m_file);
    bool changed = identity ? !(m_seenFile && *identity == *m_seenFile) : m_seenFile.has_value();
    if (!m_loaded || changed)
        outcome.loadProblem = load();

    std::string source;
    if (sourceURL && parseURL(*sourceURL, URLSyntax::Loose))
        source = std::string(*sourceURL);
    DownloadRecord record { standardizedPath(file).string(), downloadRecordName(file), source,
        downloadDateText(moment) };
    m_entries.insert(m_entries.begin(), record.toJson());
    outcome.recorded = true;
    auto written = write(m_entries);
    if (!written)
        outcome.writeProblem = written.error();
    return outcome;
}

DownloadRecording DownloadStore::recordCompletedDownloadURL(std::string_view fileURL,
    std::optional<std::string_view> sourceURL, DownloadClock::time_point moment)
{
    auto path = pathFromFileURL(fileURL);
    if (!path)
        return {};
    return recordCompletedDownload(*path, sourceURL, moment);
}

Result<Done> DownloadStore::removeRecords(const std::vector<size_t>& rows)
{
    std::vector<size_t> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<Json> remaining = m_entries;
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it)
        if (*it < remaining.size())
            remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(*it));
    auto written = write(remaining);
    if (!written)
        return Result<Done>::failure("Could not update the Downloads list: "
            + (written.error().empty() ? std::string("write failed") : written.error()));
    m_entries = std::move(remaining);
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

// ZIP unpacking and packing with libarchive.
#include "platform/archive.h"

#include "base/atomic_file.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <iterator>
#include <optional>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace qv {

namespace {

struct ReadArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteArchiveFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

std::string archiveError(archive* a, const char* fallback)
{
    const char* text = archive_error_string(a);
    return text && *text ? std::string(text) : std::string(fallback);
}

// The entry's path below the destination, or nothing when it is absolute or climbs out.
std::optional<fs::path> safeRelativePath(const char* name)
{
    if (!name || !*name)
        return std::nullopt;
    fs::path path(name);
    if (path.is_absolute() || path.has_root_name() || path.has_root_directory())
        return std::nullopt;
    fs::path clean;
    for (const fs::path& part : path) {
        if (part == "..")
            return std::nullopt;
        if (part == "." || part.empty())
            continue;
        clean /= part;
    }
    if (clean.empty())
        return std::nullopt;
    return clean;
}

} // namespace

Result<ZipExtractOutcome> extractZipArchive(
    const fs::path& archivePath, const fs::path& destination, const ZipExtractLimits& limits)
{
    // Opened by the browser's own rules, so a pipe or device never blocks or streams forever;
    // the archive the user chose may be a link. It outlives the reader that uses it.
    OpenedFile file;
    if (openRegularFile(archivePath, FileLinks::Follow, file).status != ReadStatus::Ok)
        return Result<ZipExtractOutcome>::failure("archive is invalid");
    std::unique_ptr<archive, ReadArchiveFree> reader(archive_read_new());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_fd(reader.get(), file.fd(), 64 * 1024) != ARCHIVE_OK)
        return Result<ZipExtractOutcome>::failure("archive is invalid");

    // Every entry counts, and so does each folder first implied by an entry's path, all before
    // anything is created: an archive of endless empty folders stops at the limit too.
    std::uint64_t items = 0;
    std::set<fs::path> folders;
    auto countParentFolders = [&](const fs::path& relative) {
        fs::path folder;
        for (auto part = relative.begin(); std::next(part) != relative.end(); ++part) {
            folder /= *part;
            if (folders.insert(folder).second && ++items > limits.maxEntries)
                return false;
        }
        return true;
    };
    std::uint64_t totalBytes = 0;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        archive_entry* entry = nullptr;
        int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            return Result<ZipExtractOutcome>::failure("archive is invalid");
        if (++items > limits.maxEntries)
            return ZipExtractOutcome::OverLimits;

        const char* name = archive_entry_pathname_utf8(entry);
        if (!name)
            name = archive_entry_pathname(entry);
        std::optional<fs::path> relative = safeRelativePath(name);
        if (!relative) {
            // "./" alone names the destination itself and is harmless.
            if (name && (std::string_view(name) == "./" || std::string_view(name) == "."))
                continue;
            return Result<ZipExtractOutcome>::failure(
                "entry \u201C" + std::string(name ? name : "") + "\u201D lies outside the folder");
        }
        fs::path target = destination / *relative;
        std::error_code ec;
        mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            if (!countParentFolders(*relative))
                return ZipExtractOutcome::OverLimits;
            folders.insert(*relative);
            fs::create_directories(target, ec);
            if (ec)
                return Result<ZipExtractOutcome>::failure(ec.message());
            continue;
        }
        if (type != AE_IFREG || archive_entry_hardlink(entry))
            return ZipExtractOutcome::HoldsLink;
        if (!countParentFolders(*relative))
            return ZipExtractOutcome::OverLimits;

        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return Result<ZipExtractOutcome>::failure(ec.message());
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out)
            return Result<ZipExtractOutcome>::failure(
                "cannot write \u201C" + relative->string() + "\u201D");
        for (;;) {
            la_ssize_t read = archive_read_data(reader.get(), buffer.data(), buffer.size());
            if (read == 0)
                break;
            if (read < 0)
                return Result<ZipExtractOutcome>::failure(
                    archiveError(reader.get(), "archive is invalid"));
            totalBytes += static_cast<std::uint64_t>(read);
            if (totalBytes > limits.maxTotalBytes)
                return ZipExtractOutcome::OverLimits;
            out.write(buffer.data(), read);
            if (!out)
                return Result<ZipExtractOutcome>::failure(
                    "cannot write \u201C" + relative->string() + "\u201D");
        }
    }
    return ZipExtractOutcome::Extracted;
}

Result<Done> writeZipArchiveOfFolder(
    const fs::path& folder, const fs::path& destination, const ZipProgress& progress)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return Result<Done>::failure("the folder does not exist");
    fs::path base = fs::path(folder).lexically_normal();
    if (!base.has_filename())
        base = base.parent_path();
    const fs::path top = base.filename();

    // Sorted, so the same folder always packs the same way.
    std::vector<fs::path> items;
    for (fs::recursive_directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec))
            continue;
        items.push_back(it->path());
    }
    if (ec)
        return Result<Done>::failure(ec.message());
    std::sort(items.begin(), items.end());

    fs::path partial = destination;
    partial += ".partial";
    std::unique_ptr<archive, WriteArchiveFree> writer(archive_write_new());
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), partial.c_str()) != ARCHIVE_OK)
        return Result<Done>::failure(archiveError(writer.get(), "cannot create the file"));

    auto fail = [&](std::string message) {
        writer.reset();
        fs::remove(partial, ec);
        return Result<Done>::failure(std::move(message));
    };
    auto writeHeader = [&](const fs::path& name, mode_t type, std::int64_t size) {
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        std::string path = name.generic_string();
        if (type == AE_IFDIR)
            path += "/";
        archive_entry_set_pathname_utf8(entry.get(), path.c_str());
        archive_entry_set_filetype(entry.get(), type);
        archive_entry_set_perm(entry.get(), type == AE_IFDIR ? 0755 : 0644);
        archive_entry_set_size(entry.get(), size);
        return archive_write_header(writer.get(), entry.get()) == ARCHIVE_OK;
    };

    if (!writeHeader(top, AE_IFDIR, 0))
        return fail(archiveError(writer.get(), "cannot write the archive"));
    std::vector<char> buffer(64 * 1024);
    std::size_t packed = 0;
    for (const fs::path& item : items) {
        if (progress && !progress(packed++, items.size()))
            return fail("cancelled");
        fs::path name = top / item.lexically_relative(base);
        // What was listed may have been swapped for a link since: never follow one.
        if (fs::is_directory(fs::symlink_status(item, ec))) {
            if (!writeHeader(name, AE_IFDIR, 0))
                return fail(archiveError(writer.get(), "cannot write the archive"));
            continue;
        }
        // Links were left out above; one put in an item's place since, or a pipe or device,
        // is left out too, and never waited on.
        OpenedFile in;
        FileRead opened = openRegularFile(item, FileLinks::Refuse, in);
        if (opened.refusal == ReadRefusal::Link || opened.refusal == ReadRefusal::NotRegular)
            continue;
        if (opened.status != ReadStatus::Ok)
            return fail("cannot read \u201C" + item.lexically_relative(base).string() + "\u201D");
        // The header promises the size the file had when opened; no more than that is packed.
        if (!writeHeader(name, AE_IFREG, static_cast<std::int64_t>(in.size())))
            return fail(archiveError(writer.get(), "cannot write the archive"));
        std::uintmax_t left = in.size();
        while (left > 0) {
            ssize_t got = read(in.fd(), buffer.data(),
                static_cast<size_t>(std::min<std::uintmax_t>(buffer.size(), left)));
            if (got < 0 && errno == EINTR)
                continue;
            // A file cut short meanwhile would leave the entry shorter than its header says.
            if (got <= 0)
                return fail(
                    "cannot read \u201C" + item.lexically_relative(base).string() + "\u201D");
            if (archive_write_data(writer.get(), buffer.data(), static_cast<size_t>(got)) < 0)
                return fail(archiveError(writer.get(), "cannot write the archive"));
            left -= static_cast<std::uintmax_t>(got);
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return fail(archiveError(writer.get(), "cannot write the archive"));
    writer.reset();
    fs::rename(partial, destination, ec);
    if (ec) {
        fs::remove(partial, ec);
        return Result<Done>::failure("cannot write \u201C" + destination.string() + "\u201D");
    }
    return Done {};
}

} // namespace qv

// Files of downloads: collision-free names in a folder, names held by downloads in progress, and
// replacing a file only once its successor is complete.
#pragma once

#include "base/result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace qv {

// The name a suggestion gives inside a folder: its last path component, so no suggestion can
// leave the folder; "download" when nothing usable remains ("", ".", "..", "/"). A name too long
// for the file system is shortened, keeping its extension.
std::string downloadFileName(std::string_view suggested);

// "archive.tar.gz" -> {"archive.tar", "gz"}; a leading or trailing dot starts no extension
// (".profile", "notes.").
struct FileNameParts {
    std::string base;
    std::string extension; // without the dot; may be empty
};
FileNameParts splitFileName(std::string_view name);

// Candidate n of a name: n = 0 is the name itself, then "base (n).ext" or "base (n)".
std::string numberedFileName(const FileNameParts& parts, unsigned long n);

class ReservedDownloadFile;

// Names handed to downloads that are still running, so that a second download of the same
// name never gets the first one's file even before the first has written anything.
class DownloadNameReservations {
public:
    DownloadNameReservations();
    bool isReserved(const std::filesystem::path& file) const;
    size_t count() const;

private:
    friend class ReservedDownloadFile;
    friend Result<ReservedDownloadFile> createUniqueDownloadFile(
        const std::filesystem::path&, std::string_view, DownloadNameReservations&);
    std::shared_ptr<std::set<std::filesystem::path>> m_names;
};

// A newly created empty file whose name stays reserved while this object lives. Keep it with
// the download in progress and let it go when the download finishes or fails.
class ReservedDownloadFile {
public:
    ReservedDownloadFile(ReservedDownloadFile&& other) noexcept;
    ReservedDownloadFile& operator=(ReservedDownloadFile&& other) noexcept;
    ReservedDownloadFile(const ReservedDownloadFile&) = delete;
    ReservedDownloadFile& operator=(const ReservedDownloadFile&) = delete;
    ~ReservedDownloadFile();

    const std::filesystem::path& path() const { return m_path; }

    // Removes the file when it is still the empty one made here, as after a download that
    // failed before writing anything. Anything else in its place is left alone.
    void removeIfUnused();
    // Removes what a download that ended unfinished left under the name: a regular file there,
    // whoever wrote it. Links and folders are left alone.
    void removePartial();

private:
    friend Result<ReservedDownloadFile> createUniqueDownloadFile(
        const std::filesystem::path&, std::string_view, DownloadNameReservations&);
    ReservedDownloadFile(std::filesystem::path path, std::uintmax_t device, std::uintmax_t inode,
        std::weak_ptr<std::set<std::filesystem::path>> names);
    void release();

    std::filesystem::path m_path;
    std::uintmax_t m_device = 0;
    std::uintmax_t m_inode = 0;
    std::weak_ptr<std::set<std::filesystem::path>> m_names;
};

// Picks the first candidate of the suggested name that is neither reserved nor present in the
// folder (a dangling link counts as present) and creates it, empty, with O_EXCL: a name that
// someone else takes in the meantime moves on to the next candidate. The download then writes
// into that file, replacing it.
Result<ReservedDownloadFile> createUniqueDownloadFile(const std::filesystem::path& folder,
    std::string_view suggestedName, DownloadNameReservations& reservations);

// A file written next to its destination under a temporary name and renamed over the
// destination only when it is complete, so the file already there stays intact until then and
// whenever anything fails. Dropped without commit(), the temporary file is removed.
class FileReplacement {
public:
    // Creates the temporary file in the destination's folder.
    static Result<FileReplacement> begin(const std::filesystem::path& destination);

    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&& other) noexcept;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    const std::filesystem::path& temporaryPath() const { return m_temporary; }
    const std::filesystem::path& destination() const { return m_destination; }

    Result<Done> append(std::string_view bytes);
    // Appends the whole of another file, e.g. one a download task left elsewhere.
    Result<Done> appendFile(const std::filesystem::path& source);
    // Flushes, then renames over the destination. The value is the size written. The file is
    // always a new one of mode 0644, never the old file's inode or mode. A destination that is a
    // folder is refused and left as it is.
    Result<std::uintmax_t> commit();
    void abandon();

private:
    FileReplacement(std::filesystem::path destination, std::filesystem::path temporary, int fd);
    Result<Done> failure(int error);

    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    std::uintmax_t m_size = 0;
};

// Puts a complete file (for example a finished download in a temporary folder) at destination
// through a FileReplacement. Failure: "Could not save download: <reason>"; the old file at the
// destination is then untouched.
Result<std::uintmax_t> replaceFileWithCopy(
    const std::filesystem::path& source, const std::filesystem::path& destination);

} // namespace qv

// Whole-file writes that replace the old file atomically, and whole-file reads.
#pragma once

#include "base/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

// Writes all of contents to fd, again after an interruption: the errno of a failed write, or 0.
int writeAll(int fd, std::string_view contents);

// Writes to a temporary file ".<name>.XXXXXX.tmp" in the same folder, flushes it to disk and
// renames it over path. On failure the old file is untouched and the message says what went
// wrong. The temporary is locked while it exists, and the first write to a path in a process
// first removes that path's unlocked temporaries, left by a process killed while writing.
Result<Done> writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

// A plain write for files rebuilt from their sources (a local copy of a site): no temporary and no
// flush to disk, so a crash can leave the file cut short until it is written again.
Result<Done> writeWholeFile(const std::filesystem::path& path, std::string_view contents);

// Whether a folder item's name is a temporary of writeFileAtomically for the named file.
bool isAtomicWriteTemporaryName(std::string_view item, std::string_view fileName);

// Removes the temporaries of path that no writer holds, and says how many went.
size_t removeStaleAtomicWriteTemporaries(const std::filesystem::path& path);

enum class ReadStatus { Ok, Missing, Failed };

// Why a file that is there was not read; None for any other outcome.
enum class ReadRefusal { None, Link, NotRegular, TooLarge };

struct FileRead {
    ReadStatus status = ReadStatus::Missing;
    std::string contents;
    std::string error; // set when status is Failed
    ReadRefusal refusal = ReadRefusal::None;
};

// Whether the last component of a path may be a symbolic link. Data files the browser keeps
// itself never are; a file the user picked by name in a file chooser may be one.
enum class FileLinks { Refuse, Follow };

// Limit for readers that name none; every reader in the browser names its own.
inline constexpr std::uintmax_t kDefaultReadLimit = 64 * 1024 * 1024;

// The one reader of whole files. Only a regular file is read: a link (unless allowed), a
// folder, a device, a socket or a named pipe is refused without a byte read, and a pipe never
// blocks the open. At most maxBytes + 1 bytes are read, so a file larger than maxBytes, or one
// that grows past it while read, is refused too. Missing means exactly "no such file"; any other
// problem is Failed with a short description ("Is a symbolic link", "Is not a regular file",
// "Is larger than 1 MB", or the system's text).
FileRead readWholeFile(const std::filesystem::path& path,
    std::uintmax_t maxBytes = kDefaultReadLimit, FileLinks links = FileLinks::Refuse);

// An open regular file, for readers that stream it rather than hold it (archives). Opened by the
// same rules as readWholeFile; fd is closed with the object.
class OpenedFile {
public:
    OpenedFile() = default;
    OpenedFile(OpenedFile&& other) noexcept;
    OpenedFile& operator=(OpenedFile&& other) noexcept;
    ~OpenedFile();

    int fd() const { return m_fd; }
    std::uintmax_t size() const { return m_size; }

private:
    friend FileRead openRegularFile(const std::filesystem::path&, FileLinks, OpenedFile&);
    int m_fd = -1;
    std::uintmax_t m_size = 0;
};

// Opens path for reading into opened. The FileRead carries the status and error only; its
// contents stay empty.
FileRead openRegularFile(const std::filesystem::path& path, FileLinks links, OpenedFile& opened);

} // namespace qv

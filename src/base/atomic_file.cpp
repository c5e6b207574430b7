// Atomic whole-file replacement with POSIX calls.
#include "base/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr size_t kTemporaryRandomLength = 6; // mkstemps' XXXXXX


bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Paths whose stale temporaries this process has already removed. A temporary only goes stale
// when its writer dies, so one sweep per path and process is enough, and a folder written file
// by file (a local copy) is not listed again for every file.
bool firstWriteInProcess(const fs::path& path)
{
    static std::mutex mutex;
    static std::set<std::string> swept;
    std::lock_guard<std::mutex> lock(mutex);
    return swept.insert(path.lexically_normal().string()).second;
}

std::string failureText(const fs::path& path, int err)
{
    return "Could not write " + path.string() + ": " + std::strerror(err);
}

} // namespace

bool isAtomicWriteTemporaryName(std::string_view item, std::string_view fileName)
{
    const size_t prefix = 1 + fileName.size() + 1;
    if (fileName.empty()
        || item.size() != prefix + kTemporaryRandomLength + kTemporarySuffix.size())
        return false;
    if (item[0] != '.' || item.substr(1, fileName.size()) != fileName || item[prefix - 1] != '.')
        return false;
    if (item.substr(prefix + kTemporaryRandomLength) != kTemporarySuffix)
        return false;
    for (char c : item.substr(prefix, kTemporaryRandomLength)) {
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum)
            return false;
    }
    return true;
}

size_t removeStaleAtomicWriteTemporaries(const fs::path& path)
{
    fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const std::string name = path.filename().string();
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (isAtomicWriteTemporaryName(it->path().filename().string(), name))
            candidates.push_back(it->path());
    }
    size_t removed = 0;
    for (const fs::path& candidate : candidates) {
        int fd = open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        // A live writer holds its lock until the rename; a killed one held it until it died.
        struct stat opened;
        struct stat named;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0
            && lstat(candidate.c_str(), &named) == 0 && S_ISREG(named.st_mode)
            && sameFile(opened, named) && unlink(candidate.c_str()) == 0)
            ++removed;
        close(fd);
    }
    return removed;
}

int writeAll(int fd, std::string_view contents)
{
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        written += static_cast<size_t>(n);
    }
    return 0;
}

Result<Done> writeFileAtomically(const fs::path& path, std::string_view contents)
{
    if (firstWriteInProcess(path))
        removeStaleAtomicWriteTemporaries(path);
    fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const std::string pattern = (dir / ("." + path.filename().string() + ".XXXXXX")).string()
        + std::string(kTemporarySuffix);
    std::string tmpl;
    int fd = -1;
    // Another process's sweep may take a temporary in the moment before it is locked; a new
    // one is made then.
    for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
        tmpl = pattern;
        fd = mkostemps(tmpl.data(), static_cast<int>(kTemporarySuffix.size()), O_CLOEXEC);
        if (fd < 0)
            return Result<Done>::failure(failureText(path, errno));
        struct stat opened;
        struct stat named;
        if (flock(fd, LOCK_EX) != 0) {
            int err = errno;
            close(fd);
            unlink(tmpl.c_str());
            return Result<Done>::failure(failureText(path, err));
        }
        if (fstat(fd, &opened) != 0 || lstat(tmpl.c_str(), &named) != 0
            || !sameFile(opened, named)) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return Result<Done>::failure(failureText(path, ENOENT));
    auto fail = [&](int err) {
        close(fd);
        unlink(tmpl.c_str());
        return Result<Done>::failure(failureText(path, err));
    };
    if (int err = writeAll(fd, contents); err != 0)
        return fail(err);
    // Keep the permissions of the file being replaced, else the usual 0644.
    struct stat st;
    fchmod(fd, stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (fsync(fd) != 0)
        return fail(errno);
    // Renamed while still locked, so no sweep can take it between the rename and the close.
    if (rename(tmpl.c_str(), path.c_str()) != 0)
        return fail(errno);
    // The data reached the disk with fsync, so a late close error changes nothing.
    close(fd);
    return Done {};
}

Result<Done> writeWholeFile(const fs::path& path, std::string_view contents)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Result<Done>::failure(failureText(path, errno));
    int err = writeAll(fd, contents);
    if (close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        return Result<Done>::failure(failureText(path, err));
    return Done {};
}

OpenedFile::OpenedFile(OpenedFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_size(other.m_size)
{
}

OpenedFile& OpenedFile::operator=(OpenedFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
    }
    return *this;
}

OpenedFile::~OpenedFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

namespace {

FileRead failedRead(int err)
{
    FileRead result;
    result.status = err == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    if (result.status == ReadStatus::Failed)
        result.error = std::strerror(err);
    return result;
}

FileRead refusedRead(ReadRefusal refusal, std::string error)
{
    FileRead result;
    result.status = ReadStatus::Failed;
    result.refusal = refusal;
    result.error = std::move(error);
    return result;
}

FileRead notRegular(mode_t mode)
{
    // A folder keeps the system's own words, as every reader has always said.
    return refusedRead(
        ReadRefusal::NotRegular, S_ISDIR(mode) ? std::strerror(EISDIR) : "Is not a regular file");
}

std::string sizeText(std::uintmax_t bytes)
{
    constexpr std::uintmax_t kMegabyte = 1024 * 1024;
    if (bytes >= kMegabyte && bytes % kMegabyte == 0)
        return std::to_string(bytes / kMegabyte) + " MB";
    return std::to_string(bytes) + " bytes";
}

FileRead tooLarge(std::uintmax_t maxBytes)
{
    return refusedRead(ReadRefusal::TooLarge, "Is larger than " + sizeText(maxBytes));
}

} // namespace

FileRead openRegularFile(const fs::path& path, FileLinks links, OpenedFile& opened)
{
    opened = OpenedFile();
    // Looked at before opening, so no device is ever opened (some act on open); the descriptor
    // is checked again below, since the name may change in between.
    struct stat named;
    int looked = links == FileLinks::Follow ? stat(path.c_str(), &named)
                                            : lstat(path.c_str(), &named);
    if (looked != 0)
        return failedRead(errno);
    if (S_ISLNK(named.st_mode))
        return refusedRead(ReadRefusal::Link, "Is a symbolic link");
    if (!S_ISREG(named.st_mode))
        return notRegular(named.st_mode);
    // O_NONBLOCK: a named pipe put in its place meanwhile opens at once instead of waiting for a
    // writer, and is refused by the check that follows.
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK
        | (links == FileLinks::Refuse ? O_NOFOLLOW : 0);
    int fd = open(path.c_str(), flags);
    if (fd < 0) {
        if (errno == ELOOP && links == FileLinks::Refuse)
            return refusedRead(ReadRefusal::Link, "Is a symbolic link");
        return failedRead(errno);
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        return failedRead(err);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return notRegular(st.st_mode);
    }
    opened.m_fd = fd;
    opened.m_size = static_cast<std::uintmax_t>(st.st_size);
    FileRead result;
    result.status = ReadStatus::Ok;
    return result;
}

FileRead readWholeFile(const fs::path& path, std::uintmax_t maxBytes, FileLinks links)
{
    OpenedFile file;
    FileRead result = openRegularFile(path, links, file);
    if (result.status != ReadStatus::Ok)
        return result;
    if (file.size() > maxBytes)
        return tooLarge(maxBytes);
    result.contents.reserve(static_cast<size_t>(file.size()));
    char buffer[65536];
    // One byte past the limit tells a file that grew while read from one that fits exactly.
    std::uintmax_t wanted = maxBytes + 1;
    while (result.contents.size() < wanted) {
        size_t chunk = static_cast<size_t>(
            std::min<std::uintmax_t>(sizeof buffer, wanted - result.contents.size()));
        ssize_t n = read(file.fd(), buffer, chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failedRead(errno == EAGAIN ? EIO : errno);
        }
        if (n == 0)
            break;
        result.contents.append(buffer, static_cast<size_t>(n));
    }
    if (result.contents.size() > maxBytes)
        return tooLarge(maxBytes);
    return result;
}

} // namespace qv

// Atomic whole-file replacement with POSIX calls.
#include "base/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr size_t kTemporaryRandomLength = 6; // mkstemps' XXXXXX

// The errno of the failed write, or 0.
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

FileRead readWholeFile(const fs::path& path)
{
    FileRead result;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.status = errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
        if (result.status == ReadStatus::Failed)
            result.error = std::strerror(errno);
        return result;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        result.status = ReadStatus::Failed;
        result.error = std::strerror(EISDIR);
        return result;
    }
    if (st.st_size > 0)
        result.contents.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.status = ReadStatus::Failed;
            result.error = std::strerror(errno);
            close(fd);
            return result;
        }
        if (n == 0)
            break;
        result.contents.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    result.status = ReadStatus::Ok;
    return result;
}

} // namespace qv

// Atomic whole-file replacement with POSIX calls.
#include "base/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

Result<Done> writeFileAtomically(const fs::path& path, std::string_view contents)
{
    fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return Result<Done>::failure("Could not write " + path.string() + ": " + std::strerror(errno));
    auto fail = [&](int err) {
        close(fd);
        unlink(tmpl.c_str());
        return Result<Done>::failure("Could not write " + path.string() + ": " + std::strerror(err));
    };
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        written += static_cast<size_t>(n);
    }
    // Keep the permissions of the file being replaced, else the usual 0644.
    struct stat st;
    fchmod(fd, stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (fsync(fd) != 0)
        return fail(errno);
    if (close(fd) != 0) {
        int err = errno;
        unlink(tmpl.c_str());
        return Result<Done>::failure("Could not write " + path.string() + ": " + std::strerror(err));
    }
    if (rename(tmpl.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(tmpl.c_str());
        return Result<Done>::failure("Could not write " + path.string() + ": " + std::strerror(err));
    }
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

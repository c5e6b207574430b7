// Exclusive creation of ".bad" copies, so two keepers never share or clobber one.
#include "base/bad_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxBadCopies = 1000;

fs::path candidateName(const fs::path& file, int n)
{
    std::string name = file.string() + ".bad";
    if (n > 1)
        name += "." + std::to_string(n);
    return fs::path(name);
}

// 0 when written, EEXIST when the name is taken, else the error.
int writeExclusively(const fs::path& path, const std::string& contents)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            close(fd);
            unlink(path.c_str());
            return err == EEXIST ? EIO : err;
        }
        written += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        int err = errno;
        unlink(path.c_str());
        return err == EEXIST ? EIO : err;
    }
    return 0;
}

} // namespace

Result<fs::path> keepBadFileAside(const fs::path& file, const FileRead& read)
{
    int err = 0;
    for (int n = 1; n <= kMaxBadCopies; ++n) {
        fs::path candidate = candidateName(file, n);
        if (read.status == ReadStatus::Ok) {
            err = writeExclusively(candidate, read.contents);
        } else {
            // RENAME_NOREPLACE makes the name check and the move one step.
            err = renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE)
                    == 0
                ? 0
                : errno;
        }
        if (err == 0)
            return candidate;
        if (err != EEXIST)
            break;
    }
    return Result<fs::path>::failure("could not keep a copy of " + file.string() + ": "
        + std::strerror(err == EEXIST ? EEXIST : err));
}

} // namespace qv

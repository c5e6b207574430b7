// A new folder held open by descriptor; files and folders inside are made with *at calls.
#include "base/new_folder.h"

#include "base/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

// Enough for a user who builds the same site again and again into one folder.
constexpr int kMaxNameAttempts = 1000;

std::string errorText(int err) { return std::strerror(err); }


// A folder below `at` by one name, made when missing; a link there is never entered.
int openOrMakeFolder(int at, const std::string& name)
{
    if (mkdirat(at, name.c_str(), 0755) != 0 && errno != EEXIST)
        return -1;
    return openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

bool isPlainFileName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".."
        && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

NewFolder::NewFolder(int fd, fs::path path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

NewFolder::NewFolder(NewFolder&& other) noexcept
    : m_fd(other.m_fd)
    , m_path(std::move(other.m_path))
    , m_created(std::move(other.m_created))
{
    other.m_fd = -1;
}

NewFolder& NewFolder::operator=(NewFolder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        m_created = std::move(other.m_created);
        other.m_fd = -1;
    }
    return *this;
}

NewFolder::~NewFolder()
{
    if (m_fd >= 0)
        close(m_fd);
}

Result<NewFolder> NewFolder::createInside(const fs::path& parent, std::string_view name)
{
    if (!isPlainFileName(name))
        return Result<NewFolder>::failure("the folder name is not valid");
    // The folder the user chose is taken as it is, a link to it included; below it, nothing is.
    int parentFd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return Result<NewFolder>::failure(errorText(errno));
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        std::string candidate(name);
        if (attempt > 1)
            candidate += "-" + std::to_string(attempt);
        if (mkdirat(parentFd, candidate.c_str(), 0755) != 0) {
            if (errno == EEXIST)
                continue;
            int err = errno;
            close(parentFd);
            return Result<NewFolder>::failure(errorText(err));
        }
        int fd = openat(
            parentFd, candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int err = errno;
        close(parentFd);
        if (fd < 0)
            return Result<NewFolder>::failure(errorText(err));
        return NewFolder(fd, parent / candidate);
    }
    close(parentFd);
    return Result<NewFolder>::failure(errorText(EEXIST));
}

Result<Done> NewFolder::writeFile(const std::vector<std::string>& names, std::string_view contents)
{
    if (names.empty() || m_fd < 0)
        return Result<Done>::failure(errorText(EINVAL));
    for (const std::string& name : names) {
        if (!isPlainFileName(name))
            return Result<Done>::failure(errorText(EINVAL));
    }
    int at = m_fd;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        int next = openOrMakeFolder(at, names[i]);
        int err = errno;
        if (at != m_fd)
            close(at);
        if (next < 0)
            return Result<Done>::failure(errorText(err == ELOOP ? ENOTDIR : err));
        at = next;
    }
    // A new file, or one this object made before: never a file or a link that was there already.
    const std::string& leaf = names.back();
    bool ours = m_created.count(names) > 0;
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (ours ? O_TRUNC : O_EXCL);
    int fd = openat(at, leaf.c_str(), flags, 0644);
    int err = errno;
    if (at != m_fd)
        close(at);
    if (fd < 0)
        return Result<Done>::failure(errorText(err == ELOOP ? EEXIST : err));
    m_created.insert(names);
    err = writeAll(fd, contents);
    if (close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        return Result<Done>::failure(errorText(err));
    return Done {};
}

} // namespace qv

// Unique download names created exclusively, and replacing files by rename.
#include "downloads/download_files.h"

#include "base/text_util.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

// Room under the usual 255-byte limit for " (99999)" and a temporary prefix and suffix.
constexpr size_t kMaxDownloadNameBytes = 200;
constexpr size_t kMaxKeptExtensionBytes = 32;
constexpr unsigned long kMaxNameCandidates = 10000;

Result<Done> saveFailure(int error)
{
    return Result<Done>::failure(std::string("Could not save download: ") + std::strerror(error));
}

} // namespace

std::string downloadFileName(std::string_view suggested)
{
    std::string name = lastPathComponent(suggested);
    if (name.empty())
        return "download";
    if (name.size() > kMaxDownloadNameBytes) {
        FileNameParts parts = splitFileName(name);
        if (!parts.extension.empty() && parts.extension.size() <= kMaxKeptExtensionBytes) {
            size_t room = kMaxDownloadNameBytes - parts.extension.size() - 1;
            name = cutUtf8(parts.base, room) + "." + parts.extension;
        } else {
            name = cutUtf8(name, kMaxDownloadNameBytes);
        }
    }
    return name.empty() ? "download" : name;
}

FileNameParts splitFileName(std::string_view name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return { std::string(name), "" };
    return { std::string(name.substr(0, dot)), std::string(name.substr(dot + 1)) };
}

std::string numberedFileName(const FileNameParts& parts, unsigned long n)
{
    std::string name = parts.base;
    if (n > 0)
        name += " (" + std::to_string(n) + ")";
    if (!parts.extension.empty())
        name += "." + parts.extension;
    return name;
}

DownloadNameReservations::DownloadNameReservations()
    : m_names(std::make_shared<std::set<fs::path>>())
{
}

bool DownloadNameReservations::isReserved(const fs::path& file) const
{
    return m_names->count(file.lexically_normal()) > 0;
}

size_t DownloadNameReservations::count() const { return m_names->size(); }

ReservedDownloadFile::ReservedDownloadFile(fs::path path, std::uintmax_t device,
    std::uintmax_t inode, std::weak_ptr<std::set<fs::path>> names)
    : m_path(std::move(path))
    , m_device(device)
    , m_inode(inode)
    , m_names(std::move(names))
{
}

ReservedDownloadFile::ReservedDownloadFile(ReservedDownloadFile&& other) noexcept
    : m_path(std::move(other.m_path))
    , m_device(other.m_device)
    , m_inode(other.m_inode)
    , m_names(std::move(other.m_names))
{
    other.m_names.reset();
    other.m_path.clear();
}

ReservedDownloadFile& ReservedDownloadFile::operator=(ReservedDownloadFile&& other) noexcept
{
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_names = std::move(other.m_names);
        other.m_names.reset();
        other.m_path.clear();
    }
    return *this;
}

ReservedDownloadFile::~ReservedDownloadFile() { release(); }

void ReservedDownloadFile::release()
{
    if (auto names = m_names.lock())
        names->erase(m_path);
    m_names.reset();
}

void ReservedDownloadFile::removeIfUnused()
{
    struct stat st;
    if (m_path.empty() || lstat(m_path.c_str(), &st) != 0)
        return;
    if (S_ISREG(st.st_mode) && st.st_size == 0 && static_cast<std::uintmax_t>(st.st_dev) == m_device
        && static_cast<std::uintmax_t>(st.st_ino) == m_inode)
        unlink(m_path.c_str());
}

void ReservedDownloadFile::removePartial()
{
    struct stat st;
    if (m_path.empty() || lstat(m_path.c_str(), &st) != 0)
        return;
    // The engine writes the download in our file's place under the name we hold; only a regular
    // file there is taken away, never a link or a folder.
    if (S_ISREG(st.st_mode))
        unlink(m_path.c_str());
}

Result<ReservedDownloadFile> createUniqueDownloadFile(
    const fs::path& folder, std::string_view suggestedName, DownloadNameReservations& reservations)
{
    using R = Result<ReservedDownloadFile>;
    FileNameParts parts = splitFileName(downloadFileName(suggestedName));
    fs::path base = folder.lexically_normal();
    for (unsigned long n = 0; n < kMaxNameCandidates; ++n) {
        fs::path candidate = base / numberedFileName(parts, n);
        if (reservations.m_names->count(candidate))
            continue;
        struct stat st;
        if (lstat(candidate.c_str(), &st) == 0)
            continue;
        // O_EXCL also refuses a symbolic link in the name's place, dangling or not.
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return R::failure(
                "Could not create " + candidate.string() + ": " + std::strerror(errno));
        }
        fstat(fd, &st);
        close(fd);
        reservations.m_names->insert(candidate);
        return ReservedDownloadFile(candidate, static_cast<std::uintmax_t>(st.st_dev),
            static_cast<std::uintmax_t>(st.st_ino), reservations.m_names);
    }
    return R::failure("Could not find a free file name for " + numberedFileName(parts, 0) + " in "
        + folder.string());
}

FileReplacement::FileReplacement(fs::path destination, fs::path temporary, int fd)
    : m_destination(std::move(destination))
    , m_temporary(std::move(temporary))
    , m_fd(fd)
{
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : m_destination(std::move(other.m_destination))
    , m_temporary(std::move(other.m_temporary))
    , m_fd(other.m_fd)
    , m_size(other.m_size)
{
    other.m_fd = -1;
    other.m_temporary.clear();
}

FileReplacement& FileReplacement::operator=(FileReplacement&& other) noexcept
{
    if (this != &other) {
        abandon();
        m_destination = std::move(other.m_destination);
        m_temporary = std::move(other.m_temporary);
        m_fd = other.m_fd;
        m_size = other.m_size;
        other.m_fd = -1;
        other.m_temporary.clear();
    }
    return *this;
}

FileReplacement::~FileReplacement() { abandon(); }

Result<FileReplacement> FileReplacement::begin(const fs::path& destination)
{
    using R = Result<FileReplacement>;
    std::string name = destination.filename().string();
    if (name.empty() || name == "." || name == "..")
        return R::failure("Could not save download: " + std::string(std::strerror(EISDIR)));
    fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    std::string pattern = (folder / ("." + name + ".XXXXXX")).string();
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return R::failure(std::string("Could not save download: ") + std::strerror(errno));
    return FileReplacement(destination, fs::path(pattern), fd);
}

Result<Done> FileReplacement::failure(int error)
{
    abandon();
    return saveFailure(error);
}

Result<Done> FileReplacement::append(std::string_view bytes)
{
    if (m_fd < 0)
        return saveFailure(EBADF);
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(m_fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(errno);
        written += static_cast<size_t>(n);
    }
    m_size += bytes.size();
    return Done {};
}

Result<Done> FileReplacement::appendFile(const fs::path& source)
{
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failure(errno);
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            close(in);
            return failure(err);
        }
        if (n == 0)
            break;
        auto appended = append(std::string_view(buffer, static_cast<size_t>(n)));
        if (!appended) {
            close(in);
            return appended;
        }
    }
    close(in);
    return Done {};
}

Result<std::uintmax_t> FileReplacement::commit()
{
    using R = Result<std::uintmax_t>;
    if (m_fd < 0)
        return R::failure(saveFailure(EBADF).error());
    struct stat st;
    bool replacing = lstat(m_destination.c_str(), &st) == 0;
    // rename(2) would replace an empty folder; a folder is never what a download replaces.
    if (replacing && S_ISDIR(st.st_mode))
        return R::failure(failure(EISDIR).error());
    // A new file with the ordinary mode: a replaced program does not lend the download its
    // run bit (nor a setuid or sticky bit), whatever the file it replaces allowed.
    if (fchmod(m_fd, 0644) != 0)
        return R::failure(failure(errno).error());
    if (fsync(m_fd) != 0)
        return R::failure(failure(errno).error());
    int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0 || rename(m_temporary.c_str(), m_destination.c_str()) != 0) {
        int err = errno;
        abandon();
        return R::failure(saveFailure(err).error());
    }
    m_temporary.clear();
    return m_size;
}

void FileReplacement::abandon()
{
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

Result<std::uintmax_t> replaceFileWithCopy(const fs::path& source, const fs::path& destination)
{
    auto replacement = FileReplacement::begin(destination);
    if (!replacement)
        return Result<std::uintmax_t>::failure(replacement.error());
    auto copied = replacement.value().appendFile(source);
    if (!copied)
        return Result<std::uintmax_t>::failure(copied.error());
    return replacement.value().commit();
}

} // namespace qv

// Rules of the two extension installers.
#include "extensions/extension_installation_rules.h"

#include "base/text_util.h"
#include "base/url.h"
#include "navigation/address_resolution.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace qv {

namespace {

std::vector<std::string> permissionsWithout(std::initializer_list<std::string_view> left)
{
    std::vector<std::string> names;
    for (std::string_view name : kExtensionPermissionNames) {
        if (std::find(left.begin(), left.end(), name) == left.end())
            names.emplace_back(name);
    }
    return names;
}

} // namespace

bool isAcceptableExtensionArchive(const fs::path& archive, std::uintmax_t size)
{
    std::string extension = archive.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    return toLowerAscii(extension) == "zip" && size <= kMaxExtensionArchiveBytes;
}

std::vector<fs::path> zipArchivesAmong(const std::vector<fs::path>& files)
{
    std::vector<fs::path> archives;
    for (const fs::path& file : files) {
        if (toLowerAscii(file.extension().string()) == ".zip")
            archives.push_back(file);
    }
    return archives;
}

std::string archiveBaseName(const fs::path& archive)
{
    return trimUnicodeWhitespace(archive.stem().string());
}

ExtensionID archiveExtensionID(std::string_view baseName)
{
    return extensionIDFromName(baseName.empty() ? std::string_view("extension") : baseName);
}

std::string archiveExtensionName(std::string_view baseName)
{
    return baseName.empty() ? std::string("Extension") : std::string(baseName);
}

std::vector<std::string> archiveExtensionPermissions()
{
    return permissionsWithout({ "addressBar", "userActivity", "source" });
}

std::vector<std::string> websiteExtensionPermissions() { return permissionsWithout({ "ui" }); }

Json archiveExtensionManifest(
    const ExtensionID& id, const std::string& name, const std::string& entry)
{
    return Json { { "id", id }, { "name", name }, { "entry", entry },
        { "permissions", archiveExtensionPermissions() } };
}

Json websiteExtensionManifest(const ExtensionID& id, const std::string& address)
{
    std::string name = address;
    if (auto parts = parseURL(address); parts && !parts->host.empty())
        name = parts->host;
    return Json { { "id", id }, { "name", name }, { "type", "url" }, { "url", address },
        { "permissions", websiteExtensionPermissions() } };
}

std::optional<fs::path> findArchiveIndex(const fs::path& folder)
{
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::optional<fs::path> index;
    // Depth first in name order; false stops the whole walk.
    std::function<bool(const fs::path&)> walk = [&](const fs::path& dir) {
        auto items = listVisibleItems(dir);
        if (!items)
            return false;
        for (const fs::path& item : *items) {
            std::error_code ec;
            fs::file_status status = fs::symlink_status(item, ec);
            if (ec || fs::is_symlink(status))
                return false;
            if (fs::is_directory(status)) {
                if (!walk(item))
                    return false;
                continue;
            }
            if (!fs::is_regular_file(status))
                continue;
            bytes += fs::file_size(item, ec);
            if (++files > kMaxExtensionArchiveFiles || bytes > kMaxExtensionArchiveUnpackedBytes)
                return false;
            if (!index && toLowerAscii(item.filename().string()) == "index.html")
                index = item;
        }
        return true;
    };
    if (!walk(folder))
        return std::nullopt;
    return index;
}

std::optional<std::string> archiveEntryPath(const fs::path& folder, const fs::path& index)
{
    std::error_code ec;
    fs::path root = fs::weakly_canonical(folder, ec);
    if (ec)
        return std::nullopt;
    fs::path file = fs::weakly_canonical(index, ec);
    if (ec)
        return std::nullopt;
    std::string prefix = root.string();
    if (prefix.empty() || prefix.back() != '/')
        prefix += '/';
    std::string path = file.string();
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return path.substr(prefix.size());
}

std::string extensionInstallFolderName(const ExtensionID& id,
    const std::optional<std::string>& installedFolder, const std::set<std::string>& storeItems)
{
    if (installedFolder && !installedFolder->empty() && *installedFolder != "."
        && *installedFolder != ".." && installedFolder->find('/') == std::string::npos)
        return *installedFolder;
    if (!storeItems.count(id))
        return id;
    for (unsigned suffix = 2;; ++suffix) {
        std::string name = id + "-" + std::to_string(suffix);
        if (!storeItems.count(name))
            return name;
    }
}

std::string extensionUpdateBackupName(const ExtensionID& id, const std::string& uuid)
{
    return "." + id + ".update-" + uuid;
}

Result<std::string> websiteExtensionAddress(std::string_view typed)
{
    auto address = normalizedAddress(trimUnicodeWhitespace(typed));
    if (address) {
        auto parts = parseURL(*address);
        if (parts && parts->isHTTP() && !parts->host.empty())
            return *address;
    }
    return Result<std::string>::failure(std::string(kInvalidWebsiteMessage));
}

std::error_code copyFolderRecursively(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    return ec;
}

Result<Done> replaceExtensionFolder(const fs::path& source, const fs::path& destination,
    const fs::path& backup, const FolderCopy& copy)
{
    std::error_code ec;
    bool hadDestination = fs::exists(fs::symlink_status(destination, ec));
    if (hadDestination) {
        fs::rename(destination, backup, ec);
        if (ec)
            return Result<Done>::failure("Could not prepare Extension update: "
                + (ec.message().empty() ? std::string("existing Extension could not be moved")
                                        : ec.message()));
    }
    if (std::error_code copied = copy(source, destination)) {
        std::error_code ignored;
        fs::remove_all(destination, ignored);
        if (hadDestination)
            fs::rename(backup, destination, ignored);
        return Result<Done>::failure("Could not install Extension: " + copied.message());
    }
    if (hadDestination)
        fs::remove_all(backup, ec);
    return Done {};
}

} // namespace qv

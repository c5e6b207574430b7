// Installing extensions from ZIP archives and website addresses: names, limits, generated
// manifests and replacing a folder in the store with a way back.
#pragma once

#include "extensions/extension_manifest.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace qv {

inline constexpr std::uintmax_t kMaxExtensionArchiveBytes = 104857600;
// Entries of an unpacked archive, folders included.
inline constexpr std::uint64_t kMaxExtensionArchiveFiles = 5000;
inline constexpr std::uint64_t kMaxExtensionArchiveUnpackedBytes = 262144000;

inline constexpr std::string_view kChooseZipMessage = "Choose a ZIP archive smaller than 100 MB.";
inline constexpr std::string_view kZipNeedsIndexMessage = "ZIP needs an index.html file.";
inline constexpr std::string_view kZipIndexOutsideMessage
    = "Could not locate index.html inside the ZIP folder.";
inline constexpr std::string_view kZipPrepareMessage
    = "Could not prepare this ZIP as an Extension.";
inline constexpr std::string_view kZipOpenIndexMessage = "Could not open index.html from this ZIP.";
inline constexpr std::string_view kInvalidWebsiteMessage
    = "Enter a valid website address using HTTP or HTTPS.";

// A path extension of "zip" in any case, and no more than 100 MiB.
bool isAcceptableExtensionArchive(const std::filesystem::path& archive, std::uintmax_t size);

// The files among dropped ones that can be extension archives: a path extension of "zip", in
// any case, kept in order.
std::vector<std::filesystem::path> zipArchivesAmong(const std::vector<std::filesystem::path>& files);

// The archive's file name without its extension, trimmed of white space and line breaks.
std::string archiveBaseName(const std::filesystem::path& archive);

// The ID an archive's base name gives ("extension" for an empty name); empty when nothing of
// the name survives the ID rule, and the caller takes a new UUID.
ExtensionID archiveExtensionID(std::string_view baseName);
std::string archiveExtensionName(std::string_view baseName);

// The granted sets of the two installers, in the fixed permission order.
std::vector<std::string> archiveExtensionPermissions(); // all but addressBar, userActivity, source
std::vector<std::string> websiteExtensionPermissions(); // all but ui

Json archiveExtensionManifest(
    const ExtensionID& id, const std::string& name, const std::string& entry);
// `address` is absolute; the name is its host, or the address when it has none.
Json websiteExtensionManifest(const ExtensionID& id, const std::string& address);

// The first regular file named index.html (any case) below an unpacked archive, depth first,
// hidden items skipped, in name order. Nothing when there is none, or when the walk meets a
// symbolic link or more than 5000 files or 250 MiB.
std::optional<std::filesystem::path> findArchiveIndex(const std::filesystem::path& folder);

// The index's path relative to the folder when it lies inside it, both standardized.
std::optional<std::string> archiveEntryPath(
    const std::filesystem::path& folder, const std::filesystem::path& index);

// The store folder an archive with this ID goes into. An update goes into the folder of the
// installed record with the ID (`installedFolder`, when that record lies in the store), whatever
// its name, so no second folder with the same ID appears. Otherwise the ID itself, or the first
// of "<id>-2", "<id>-3", ... that no item of the store (`storeItems`, every name listed) holds:
// a folder that belongs to another extension is never moved aside or deleted.
std::string extensionInstallFolderName(const ExtensionID& id,
    const std::optional<std::string>& installedFolder, const std::set<std::string>& storeItems);

// ".<id>.update-<uuid>": hidden, so loading never lists it.
std::string extensionUpdateBackupName(const ExtensionID& id, const std::string& uuid);

// The typed text as an absolute http or https address with a host, or kInvalidWebsiteMessage.
Result<std::string> websiteExtensionAddress(std::string_view typed);

using FolderCopy
    = std::function<std::error_code(const std::filesystem::path&, const std::filesystem::path&)>;
std::error_code copyFolderRecursively(
    const std::filesystem::path& from, const std::filesystem::path& to);

// Puts `source` at `destination`. An existing destination is first moved to `backup`; a failed
// copy removes what reached the destination and moves the backup back; success removes the
// backup. Failures carry the alert's whole message.
Result<Done> replaceExtensionFolder(const std::filesystem::path& source,
    const std::filesystem::path& destination, const std::filesystem::path& backup,
    const FolderCopy& copy = copyFolderRecursively);

} // namespace qv

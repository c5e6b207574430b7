// Extension folders and their manifests: the ID rule, permission names, records and the store.
#pragma once

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "base/result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using ExtensionID = std::string;

inline constexpr std::string_view kExtensionIDAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789-_.";

// The thirteen permission names, in their fixed order.
inline constexpr std::array<std::string_view, 13> kExtensionPermissionNames = {
    "tabs",
    "page",
    "scripting",
    "browser",
    "spoofing",
    "storage",
    "network",
    "downloads",
    "events",
    "addressBar",
    "userActivity",
    "source",
    "ui",
};

inline constexpr std::string_view kManifestFileName = "manifest.json";
inline constexpr std::string_view kRuntimePageFileName = "__quivel_runtime__.html";
// Manifests are small; anything this large is not one and is not read into memory.
inline constexpr std::uintmax_t kMaxManifestBytes = 1024 * 1024;

// The defaults keys of the extension system are named in app/user_defaults.h.

bool isExtensionPermissionName(std::string_view name);
std::vector<std::string> allExtensionPermissionNames();

// Non-empty and every character from kExtensionIDAlphabet (no upper case).
bool isValidExtensionID(std::string_view id);

// The ID a folder (or archive) name gives: lower-cased, runs outside the alphabet become "-",
// "--" collapsed, "-", "_" and "." trimmed at both ends. May be empty.
ExtensionID extensionIDFromName(std::string_view name);

// One installed extension. `manifest` is the manifest as read with `id`, `name`,
// `permissions` and `type` (and `url` for website extensions) replaced.
struct ExtensionRecord {
    Json manifest = Json::object();
    std::filesystem::path rootURL; // the folder as listed
    std::optional<std::filesystem::path> entryURL; // file extensions only, standardized

    ExtensionID id() const;
    std::string name() const;
    bool isWebsite() const; // manifest `type` is "url"
    std::string websiteURL() const;
    std::vector<std::string> requestedPermissions() const;
};

// The manifest file's text as an object: too large, not JSON and not an object are refused
// with a reason.
Result<Json> parseManifestText(std::string_view text);

// What a manifest asks for, before the folder is looked at.
struct ManifestPlan {
    Json manifest; // amended copy
    ExtensionID id;
    std::string name;
    bool website = false;
    std::string websiteURL; // website extensions
    std::optional<std::string> pagePath; // entry, action or browser_action default_popup
    std::optional<std::string> scriptPath;
    std::vector<std::string> permissions;
};

// Applies the ID, name, permission and kind rules to a parsed manifest; `folderName` gives the
// ID when the manifest has none. Failures name the rule that was broken.
Result<ManifestPlan> planManifest(const Json& manifest, std::string_view folderName);

// Relative path of the first non-folder "index.html" (any case) below dir, depth first, hidden
// items skipped, entries visited in name order.
std::optional<std::string> findIndexHTML(const std::filesystem::path& dir);

// The src value for a script file below the folder, given as its standardized relative path:
// bytes that would change which file a relative URL names ("%", "#", "?", "\", ":", blanks,
// controls, non-ASCII) are percent-encoded, then the text is escaped for an attribute.
std::string runtimeScriptSource(std::string_view relativePath);

// The generated page; with a script, one script element loading it (see runtimeScriptSource).
std::string runtimePageHTML(const std::optional<std::string>& scriptRelativePath);

// The record for a folder, or why there is none. Reads manifest.json and, for a file extension
// without a page, writes __quivel_runtime__.html into the folder.
Result<ExtensionRecord> extensionAtDirectory(const std::filesystem::path& dir);

// Non-hidden immediate items of a folder in name order; fails when the folder cannot be listed.
Result<std::vector<std::filesystem::path>> listVisibleItems(const std::filesystem::path& dir);

std::string duplicateExtensionLogLine(const ExtensionID& id);
std::string extensionsDirectoryUnavailableLogLine(const std::string& error);

// The loaded set and the lines to write to the log.
struct ExtensionLoad {
    std::map<ExtensionID, ExtensionRecord> extensions;
    std::vector<std::string> logLines;
};

// Adds a record unless its ID is taken; the first one wins and the duplicate is logged.
void addExtensionRecord(ExtensionLoad& load, ExtensionRecord record);

// Every folder of the store that makes a valid record (folders in name order).
ExtensionLoad loadExtensionRecords(const std::filesystem::path& store);

enum class BundledCopy { Copy, SkipDeleted, SkipExisting };

// Whether a built-in item goes into the store: skipped when its manifest parses as an object
// whose `id` is a deleted ID, or when something is already at its place in the store.
BundledCopy bundledCopyDecision(
    const FileRead& manifest, const std::set<ExtensionID>& deleted, bool destinationExists);

// Copies the built-in items into the store by that decision; copy failures are ignored.
void copyBundledExtensions(const std::filesystem::path& bundled, const std::filesystem::path& store,
    const std::set<ExtensionID>& deleted);

// The ID set kept in the defaults as an array ("QuivelEnabledExtensions",
// "QuivelDeletedBundledExtensions"): non-arrays give an empty set, non-strings are skipped.
std::set<ExtensionID> extensionIDSetFromDefaults(const Json& value);
Json extensionIDSetToDefaults(const std::set<ExtensionID>& ids);

} // namespace qv

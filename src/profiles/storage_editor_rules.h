// The website storage editor without a toolkit: origins, the localStorage page scripts and
// their answers, texts, and exporting and importing key files.
#pragma once

#include "base/confirmation.h"
#include "base/result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct StorageEntry {
    std::string key;
    std::string value;
    bool operator==(const StorageEntry&) const = default;
};

inline constexpr std::string_view kChooseWebsiteTitle = "Choose website\u2026";
inline constexpr std::string_view kStorageIdleStatus
    = "Select a profile and website to inspect localStorage.";
inline constexpr std::string_view kStorageChooseOriginStatus = "Choose an origin to read its live "
                                                               "localStorage. Websites must be "
                                                               "open in a tab for same-origin "
                                                               "access.";
inline constexpr std::string_view kStorageNoOriginsStatus
    = "No open website origins in this profile. Open a page in this profile, then select it here.";
inline constexpr std::string_view kStorageNotLoadedStatus
    = "This website is not currently loaded. Open it in a tab and retry.";
inline constexpr std::string_view kStorageUnreachableStatus
    = "Could not reach this website tab. Keep the profile page open and try again.";
inline constexpr std::string_view kStorageNeedKeyStatus
    = "Choose a website and enter a storage key before saving.";
inline constexpr std::string_view kStorageNewKeyStatus
    = "Enter a key and value, then choose Save Value to create it.";
inline constexpr std::string_view kStorageConflictStatus
    = "That key already exists. Choose a different key or select the existing one to edit it.";
inline constexpr std::string_view kStorageUnconfirmedStatus = "The page did not confirm the "
                                                              "saved value. Check whether the "
                                                              "site changed storage while "
                                                              "editing.";
inline constexpr std::string_view kStorageNothingToImportStatus
    = "Choose a website and drop valid JSON key files or a folder.";

// The address with path, query and fragment dropped: scheme://[user@]host[:port]. Nothing
// without a scheme or a host.
std::optional<std::string> originForStorageURL(std::string_view address);

// What storageTabIndex needs of one tab.
struct StorageTab {
    std::string profileID;
    bool hasWebView = false;
    std::string webViewURL; // the web view's current address, "" when it has none
    std::string storedURL; // the tab's "url"
};

// The first tab, in tab order, of the profile with a web view on the origin (of its current
// address, else of its stored one). Unloaded tabs never qualify.
std::optional<size_t> storageTabIndex(
    const std::vector<StorageTab>& tabs, std::string_view profileID, std::string_view origin);

// The website pop-up after "Choose website…": the distinct origins of the profile's web views'
// current addresses, sorted without regard to case.
std::vector<std::string> storageWebsiteChoices(const std::vector<std::string>& webViewURLs);
std::string storageResetStatus(const std::vector<std::string>& websiteChoices);

// Keys in the editor's order: case-insensitively, then by their exact text.
void sortStorageEntries(std::vector<StorageEntry>& entries);

// The page scripts. They should run in an isolated script world, so that a page that replaces
// JSON or Array methods cannot change what they do; the storage itself is shared. Results are
// JSON texts or true, and keys travel as [key, value] pairs, never as object members, so that
// "__proto__" is a key like any other.
std::string_view storageReadScript();
std::string storageSaveScript(
    std::string_view key, std::string_view value, const std::optional<std::string>& oldKey);
std::string storageDeleteScript(const std::vector<std::string>& keys);
std::string storageImportScript(const std::vector<StorageEntry>& entries);

// A page's answer is refused unread past this length (localStorage holds far less).
inline constexpr size_t kMaxStorageResultLength = 16 * 1024 * 1024;
bool storageResultWithinLimit(size_t length);

// The read script's answer, sorted. Elements that are not [string, string or null] are skipped,
// and so is a repeated key. Failures are the reason shown after "Could not read storage: ".
Result<std::vector<StorageEntry>> parseStorageReadResult(std::string_view json);

struct StorageSaveAnswer {
    bool conflict = false;
    std::optional<std::string> value; // what the page stores under the key now
};
Result<StorageSaveAnswer> parseStorageSaveResult(std::string_view json);

struct StorageSaveRequest {
    std::string key;
    std::string script;
};

// "Save Value": the key is the field's text without line breaks at either end. Failures are the
// status texts for a missing profile, website or key and for text that cannot be encoded.
Result<StorageSaveRequest> storageSaveRequest(bool profileSelected,
    const std::optional<std::string>& website, std::string_view keyFieldText,
    std::string_view valueText, const std::optional<std::string>& editingKey);

// A save that renames oldKey to key would overwrite another key: the page's own test, applied
// to the last read so the window can refuse at once.
bool storageRenameConflicts(const std::vector<StorageEntry>& entries, std::string_view key,
    const std::optional<std::string>& oldKey);

struct StorageSaveOutcome {
    std::string status;
    // The value is stored: the saved key becomes the editing key and the storage is read again.
    bool verified = false;
};

// What a finished save means, tested in order: conflict, script error, the stored value equal
// to the editor's current text, anything else.
StorageSaveOutcome storageSaveOutcome(const Result<StorageSaveAnswer>& answer,
    std::string_view editorText, std::string_view key, std::string_view origin);

std::string storageReadingStatus(std::string_view origin);
std::string storageReadFailedStatus(std::string_view reason);
std::string storageReadStatus(std::string_view origin, size_t count);

// After a read, the row of the key being edited; nothing when it is gone (the editor is then
// emptied and the editing key cleared).
std::optional<size_t> editingRowAfterRead(
    const std::vector<StorageEntry>& entries, const std::optional<std::string>& editingKey);

// "Delete Selected": nothing without selected keys.
std::optional<Confirmation> storageDeleteConfirmation(
    size_t selectedCount, std::string_view origin);

// The keys and website are taken when the alert opens: a read finishing while it is open
// rebuilds the rows, and the selected rows would then name other keys.
struct StorageDeleteRequest {
    Confirmation confirmation;
    std::vector<std::string> keys;
    std::string origin;
    std::string script;
};

// Rows past the end are skipped; nothing without a website or a selected key.
std::optional<StorageDeleteRequest> storageDeleteRequest(const std::vector<StorageEntry>& entries,
    const std::vector<size_t>& selectedRows, const std::optional<std::string>& website);
std::string storageDeleteFailedStatus(std::string_view reason);

// Export. The folder name keeps letters and digits of the origin and turns the rest into "_".
std::string storageExportFolderName(std::string_view origin);

// A key's file name: the key percent-encoded except letters, digits, "-", "_" and "." (a leading
// "." encoded too, so no key makes a hidden file), then ".json". The empty key gives
// "storage-key~empty.json"; a key too long for one file name keeps a prefix and a "~" and hash
// of the whole key. "~" is always encoded, so these names never meet an encoded key, and no
// name can contain "/" or be "." or "..".
std::string storageKeyFileName(std::string_view key);

// The key a name made by storageKeyFileName stands for; nothing for shortened names and for
// names it does not make. Importing reads keys from file contents, not from names.
std::optional<std::string> storageKeyFromFileName(std::string_view fileName);

// The names of a batch of keys, made distinct also without regard to case (for file systems
// that ignore case) by a "~2", "~3" ... before the extension.
std::vector<std::string> storageKeyFileNames(const std::vector<std::string>& keys);

// A pretty-printed object with one member, the key and its value.
std::string storageKeyFileText(const StorageEntry& entry);

// Writes each entry's file into the website's folder inside the chosen folder, stopping at the
// first failure. The value is the status text; the failure "Export failed: <reason>".
Result<std::string> exportStorageEntries(const std::filesystem::path& chosenFolder,
    std::string_view origin, const std::vector<StorageEntry>& entries);

// Import. Folders are searched recursively for "json" files in any case (hidden items skipped,
// links not followed), in name order; other paths are taken when their extension is "json".
std::vector<std::filesystem::path> storageImportFiles(
    const std::vector<std::filesystem::path>& dropped);

inline constexpr std::uintmax_t kMaxStorageImportFileBytes = 16 * 1024 * 1024;

struct StorageImport {
    std::vector<StorageEntry> entries; // sorted; a later file wins for a repeated key
    // The failure of the last file read when no later one succeeded.
    std::optional<std::string> lastError;
    bool cancelled = false; // stopped by the progress callback: nothing to import
};

// Told the files read so far and their number before each file; false stops the reading.
using StorageImportProgress = std::function<bool(size_t read, size_t total)>;

StorageImport readStorageImportFiles(
    const std::vector<std::filesystem::path>& files, const StorageImportProgress& progress = {});

// "Reading files to import · <read>/<total>"
std::string storageImportProgressStatus(size_t read, size_t total);
inline constexpr std::string_view kStorageImportCancelledStatus = "Import cancelled.";

std::string storageImportedStatus(size_t count, std::string_view origin);
std::string storageImportFailedStatus(std::string_view reason);
// The status when there is nothing to import or nowhere to import it.
std::string storageNothingImportedStatus(const std::optional<std::string>& lastError);

} // namespace qv

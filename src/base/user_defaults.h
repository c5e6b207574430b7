// User defaults: one JSON document of typed keys, read once and rewritten atomically on every set.
#pragma once

#include "base/json_text.h"
#include "base/result.h"

#include <cstdint>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

class FileWriter;

inline constexpr const char* kDarkModeKey = "QuivelDarkMode";
inline constexpr const char* kProfilesKey = "QuivelProfiles";
inline constexpr const char* kCurrentProfileKey = "QuivelCurrentProfile";
inline constexpr const char* kEnabledExtensionsKey = "QuivelEnabledExtensions";
inline constexpr const char* kDeletedBundledExtensionsKey = "QuivelDeletedBundledExtensions";
inline constexpr const char* kExtensionPermissionsKey = "QuivelExtensionPermissions";
inline constexpr const char* kExtensionStoragePrefix = "QuivelExtensionStorage.";
// Unloading background tabs when memory runs low: off unless turned on in Settings.
inline constexpr const char* kUnloadTabsUnderMemoryPressureKey = "QuivelUnloadTabsUnderMemoryPressure";
// At launch, the tabs of the last session come back instead of the home page: off unless chosen
// in Settings.
inline constexpr const char* kRestoreSessionOnLaunchKey = "QuivelRestoreSessionOnLaunch";
// Inline completion of a visited host in the address field: on unless turned off in Settings.
inline constexpr const char* kInlineCompletionKey = "QuivelInlineCompletion";
// The browser's own memory limit for that, in MiB (all its processes); unset, half the machine's.
inline constexpr const char* kTabMemoryLimitKey = "QuivelTabMemoryLimitMiB";
// Websites' permissions each profile remembers: {profileID: {origin: {kind: "allow"|"deny"}}}.
inline constexpr const char* kSitePermissionsKey = "QuivelSitePermissions";

// Hosts where a profile's content-blocker lists are not applied: {"<profile ID>": ["host", ...]}.
inline constexpr const char* kContentBlockingAllowedSitesKey = "QuivelContentBlockingAllowedSites";

// The secret that local-copy marks are made with (64 hex digits), made with the first copy.
inline constexpr const char* kLocalCopyMarkKey = "QuivelLocalCopyMarkKey";

// Extension storage lives in the defaults too; a larger file is not read into memory.
inline constexpr std::uintmax_t kDefaultsFileLimit = 64 * 1024 * 1024;

enum class DefaultsType { Boolean, String, Array, Object };

// The type every known key must have; nothing for keys the browser does not know.
std::optional<DefaultsType> defaultsTypeForKey(std::string_view key);

// Drops members whose type is wrong for their key and says which ones went.
struct DefaultsValidation {
    Json values = Json::object();
    std::vector<std::string> droppedKeys;
};
DefaultsValidation validateDefaults(const Json& document);

class UserDefaults {
public:
    // Reads the file once. A file that is empty, not a JSON object or holds wrongly typed keys is
    // copied aside (see badCopyPath) before anything new is written, and loadProblem says why. A
    // file that cannot be read is moved aside; when neither works, nothing is ever written.
    explicit UserDefaults(std::filesystem::path file);

    bool boolForKey(std::string_view key) const;
    std::string stringForKey(std::string_view key) const;
    // The stored value, or null when the key is missing.
    Json objectForKey(std::string_view key) const;
    // The same without a copy; valid until the key is next set or removed.
    const Json& valueForKey(std::string_view key) const;

    // From now on the file is written by `writer`, off the calling thread: a set only fails when
    // the file is never to be written; a write that fails later is handed to `failed`, on the
    // writer's thread.
    void writeThrough(FileWriter& writer, std::function<void(const std::string&)> failed);

    Result<Done> setObject(std::string_view key, Json value);
    Result<Done> setBool(std::string_view key, bool value) { return setObject(key, Json(value)); }
    Result<Done> removeObject(std::string_view key);

    // Whether the address field completes visited hosts as the user types (true when unset).
    bool inlineCompletionEnabled() const;

    const std::optional<std::string>& loadProblem() const { return m_loadProblem; }
    const std::filesystem::path& badCopyPath() const { return m_badCopyPath; }
    const std::filesystem::path& file() const { return m_file; }

private:
    Result<Done> write();

    std::filesystem::path m_file;
    std::filesystem::path m_badCopyPath;
    Json m_values = Json::object();
    std::optional<std::string> m_loadProblem;
    bool m_unkeptFile = false; // unusable and not copied aside: never written over
    FileWriter* m_writer = nullptr;
    std::function<void(const std::string&)> m_writeFailed;
};

} // namespace qv

// Remembered answers to websites' permission requests: per profile, per origin, per kind, and
// their form in the defaults ("QuivelSitePermissions").
#pragma once

#include "base/json_text.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class PermissionKind {
    Camera,
    Microphone,
    Screen,
    Location,
    Notifications,
    Clipboard,
    PointerLock,
    DeviceInfo,
    MediaKeys,
    StorageAccess,
};

enum class PermissionDecision { Allow, Deny };

// The stored name of a kind ("camera", "pointer-lock", ...) and back.
std::string_view permissionKindName(PermissionKind kind);
std::optional<PermissionKind> permissionKindFromName(std::string_view name);
// What the site asks, to follow "wants to": "use your camera".
std::string permissionKindRequestText(PermissionKind kind);
// The kind as a list shows it: "Camera".
std::string permissionKindTitle(PermissionKind kind);
// "use your camera and microphone" for several kinds at once.
std::string permissionRequestText(const std::vector<PermissionKind>& kinds);

// The origin an answer is kept for: "scheme://host[:port]" of an http(s) address, scheme and
// host lower-cased, the scheme's default port dropped. Nothing for other addresses.
std::optional<std::string> permissionOriginForURL(std::string_view url);

// Limits on what is kept, so stored or page-made data cannot grow without bound.
inline constexpr size_t kMaxPermissionProfiles = 256;
inline constexpr size_t kMaxPermissionOriginsPerProfile = 2000;
inline constexpr size_t kMaxPermissionOriginLength = 300;
inline constexpr size_t kMaxPermissionProfileIDLength = 128;

struct RememberedPermission {
    std::string origin;
    PermissionKind kind = PermissionKind::Camera;
    PermissionDecision decision = PermissionDecision::Deny;
    bool operator==(const RememberedPermission&) const = default;
};

class PermissionStore {
public:
    // Whatever the stored value holds: entries of a wrong shape, unknown kinds, origins that are
    // not in their canonical form and anything beyond the limits are dropped.
    static PermissionStore fromJson(const Json& stored);
    Json toJson() const;

    std::optional<PermissionDecision> decision(
        const std::string& profileID, const std::string& origin, PermissionKind kind) const;
    // The answer for all kinds: deny when one is denied, allow when all are allowed, else none.
    std::optional<PermissionDecision> decision(const std::string& profileID,
        const std::string& origin, const std::vector<PermissionKind>& kinds) const;
    // False when the origin is not canonical or a limit is reached.
    bool remember(const std::string& profileID, const std::string& origin, PermissionKind kind,
        PermissionDecision decision);
    bool forget(const std::string& profileID, const std::string& origin, PermissionKind kind);
    bool forgetProfile(const std::string& profileID);
    // Sorted by origin, then kind.
    std::vector<RememberedPermission> entriesForProfile(const std::string& profileID) const;
    std::vector<std::string> profileIDs() const;

private:
    using Kinds = std::map<PermissionKind, PermissionDecision>;
    std::map<std::string, std::map<std::string, Kinds>, std::less<>> m_profiles;
};

} // namespace qv

// Remembered permission answers and their stored form.
#include "permissions/permission_store.h"

#include "base/url.h"

#include <array>
#include <utility>

namespace qv {

namespace {

struct KindNames {
    PermissionKind kind;
    std::string_view name;
    std::string_view request;
    std::string_view title;
};

constexpr std::array<KindNames, 10> kKindNames { {
    { PermissionKind::Camera, "camera", "use your camera", "Camera" },
    { PermissionKind::Microphone, "microphone", "use your microphone", "Microphone" },
    { PermissionKind::Screen, "screen", "share your screen", "Screen sharing" },
    { PermissionKind::Location, "location", "know your location", "Location" },
    { PermissionKind::Notifications, "notifications", "show notifications", "Notifications" },
    { PermissionKind::Clipboard, "clipboard", "read your clipboard", "Clipboard" },
    { PermissionKind::PointerLock, "pointer-lock", "lock your pointer", "Pointer lock" },
    { PermissionKind::DeviceInfo, "device-info", "list your cameras and microphones",
        "Device list" },
    { PermissionKind::MediaKeys, "media-keys", "play protected media", "Protected media" },
    { PermissionKind::StorageAccess, "storage-access", "use its data stored on other sites",
        "Cross-site data" },
} };

const KindNames& namesOf(PermissionKind kind)
{
    for (const KindNames& names : kKindNames) {
        if (names.kind == kind)
            return names;
    }
    return kKindNames[0];
}

std::optional<PermissionDecision> decisionFromName(const Json& value)
{
    if (!value.is_string())
        return std::nullopt;
    const auto& text = value.get_ref<const std::string&>();
    if (text == "allow")
        return PermissionDecision::Allow;
    if (text == "deny")
        return PermissionDecision::Deny;
    return std::nullopt;
}

bool validProfileID(std::string_view id)
{
    return !id.empty() && id.size() <= kMaxPermissionProfileIDLength;
}

bool canonicalOrigin(std::string_view origin)
{
    if (origin.size() > kMaxPermissionOriginLength)
        return false;
    auto canonical = permissionOriginForURL(origin);
    return canonical && *canonical == origin;
}

} // namespace

std::string_view permissionKindName(PermissionKind kind)
{
    return namesOf(kind).name;
}

std::optional<PermissionKind> permissionKindFromName(std::string_view name)
{
    for (const KindNames& names : kKindNames) {
        if (names.name == name)
            return names.kind;
    }
    return std::nullopt;
}

std::string permissionKindRequestText(PermissionKind kind)
{
    return std::string(namesOf(kind).request);
}

std::string permissionKindTitle(PermissionKind kind)
{
    return std::string(namesOf(kind).title);
}

std::string permissionRequestText(const std::vector<PermissionKind>& kinds)
{
    // Camera and microphone together read as one request, as a page asks for them at once.
    bool camera = false, microphone = false;
    for (PermissionKind kind : kinds) {
        camera = camera || kind == PermissionKind::Camera;
        microphone = microphone || kind == PermissionKind::Microphone;
    }
    std::vector<std::string> parts;
    if (camera && microphone)
        parts.emplace_back("use your camera and microphone");
    for (PermissionKind kind : kinds) {
        if (camera && microphone
            && (kind == PermissionKind::Camera || kind == PermissionKind::Microphone))
            continue;
        parts.push_back(permissionKindRequestText(kind));
    }
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

std::optional<std::string> permissionOriginForURL(std::string_view url)
{
    auto parts = parseURL(url, URLSyntax::Loose);
    if (!parts || !parts->isHTTP() || !parts->hasAuthority || parts->host.empty())
        return std::nullopt;
    if (parts->userInfo)
        return std::nullopt;
    if (parts->port && !isURLPort(*parts->port))
        return std::nullopt;
    std::string scheme = parts->lowerScheme();
    std::string origin = scheme + "://";
    std::string host = parts->lowerHost();
    for (char c : host) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_' || (parts->hostIsIPv6 && c == ':');
        if (!plain)
            return std::nullopt;
    }
    origin += parts->hostIsIPv6 ? "[" + host + "]" : host;
    if (parts->port && !parts->port->empty()) {
        std::string port = *parts->port;
        while (port.size() > 1 && port.front() == '0')
            port.erase(port.begin());
        bool defaultPort = (scheme == "https" && port == "443") || (scheme == "http" && port == "80");
        if (!defaultPort)
            origin += ":" + port;
    }
    if (origin.size() > kMaxPermissionOriginLength)
        return std::nullopt;
    return origin;
}

PermissionStore PermissionStore::fromJson(const Json& stored)
{
    PermissionStore store;
    if (!stored.is_object())
        return store;
    for (auto profile = stored.begin(); profile != stored.end(); ++profile) {
        if (!profile.value().is_object() || !validProfileID(profile.key()))
            continue;
        for (auto origin = profile.value().begin(); origin != profile.value().end(); ++origin) {
            if (!origin.value().is_object())
                continue;
            for (auto kind = origin.value().begin(); kind != origin.value().end(); ++kind) {
                auto known = permissionKindFromName(kind.key());
                auto decision = decisionFromName(kind.value());
                if (known && decision)
                    store.remember(profile.key(), origin.key(), *known, *decision);
            }
        }
    }
    return store;
}

Json PermissionStore::toJson() const
{
    Json stored = Json::object();
    for (const auto& [profileID, origins] : m_profiles) {
        Json profile = Json::object();
        for (const auto& [origin, kinds] : origins) {
            Json entry = Json::object();
            for (const auto& [kind, decision] : kinds)
                entry[std::string(permissionKindName(kind))]
                    = decision == PermissionDecision::Allow ? "allow" : "deny";
            profile[origin] = std::move(entry);
        }
        stored[profileID] = std::move(profile);
    }
    return stored;
}

std::optional<PermissionDecision> PermissionStore::decision(
    const std::string& profileID, const std::string& origin, PermissionKind kind) const
{
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end())
        return std::nullopt;
    auto entry = profile->second.find(origin);
    if (entry == profile->second.end())
        return std::nullopt;
    auto answer = entry->second.find(kind);
    if (answer == entry->second.end())
        return std::nullopt;
    return answer->second;
}

std::optional<PermissionDecision> PermissionStore::decision(const std::string& profileID,
    const std::string& origin, const std::vector<PermissionKind>& kinds) const
{
    if (kinds.empty())
        return std::nullopt;
    bool someUnanswered = false;
    for (PermissionKind kind : kinds) {
        auto answer = decision(profileID, origin, kind);
        if (answer == PermissionDecision::Deny)
            return PermissionDecision::Deny;
        if (!answer)
            someUnanswered = true;
    }
    if (someUnanswered)
        return std::nullopt;
    return PermissionDecision::Allow;
}

bool PermissionStore::remember(const std::string& profileID, const std::string& origin,
    PermissionKind kind, PermissionDecision decision)
{
    if (!validProfileID(profileID) || !canonicalOrigin(origin))
        return false;
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end()) {
        if (m_profiles.size() >= kMaxPermissionProfiles)
            return false;
        profile = m_profiles.emplace(profileID, std::map<std::string, Kinds>()).first;
    }
    auto entry = profile->second.find(origin);
    if (entry == profile->second.end()) {
        if (profile->second.size() >= kMaxPermissionOriginsPerProfile)
            return false;
        entry = profile->second.emplace(origin, Kinds()).first;
    }
    entry->second[kind] = decision;
    return true;
}

bool PermissionStore::forget(
    const std::string& profileID, const std::string& origin, PermissionKind kind)
{
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end())
        return false;
    auto entry = profile->second.find(origin);
    if (entry == profile->second.end() || entry->second.erase(kind) == 0)
        return false;
    if (entry->second.empty())
        profile->second.erase(entry);
    if (profile->second.empty())
        m_profiles.erase(profile);
    return true;
}

bool PermissionStore::forgetProfile(const std::string& profileID)
{
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end())
        return false;
    m_profiles.erase(profile);
    return true;
}

std::vector<RememberedPermission> PermissionStore::entriesForProfile(
    const std::string& profileID) const
{
    std::vector<RememberedPermission> entries;
    auto profile = m_profiles.find(profileID);
    if (profile == m_profiles.end())
        return entries;
    for (const auto& [origin, kinds] : profile->second) {
        for (const auto& [kind, decision] : kinds)
            entries.push_back({ origin, kind, decision });
    }
    return entries;
}

std::vector<std::string> PermissionStore::profileIDs() const
{
    std::vector<std::string> ids;
    for (const auto& entry : m_profiles)
        ids.push_back(entry.first);
    return ids;
}

} // namespace qv

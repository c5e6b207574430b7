// Browser profiles as stored in the user defaults: the built-in profile, repair, presets.
#pragma once

#include "base/json_text.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// "default" for the built-in profile, otherwise an upper-case UUID string.
using ProfileID = std::string;

inline constexpr std::string_view kBuiltInProfileID = "default";
inline constexpr std::string_view kBuiltInProfileName = "Default";
inline constexpr std::string_view kNewProfileName = "New Profile";
inline constexpr std::string_view kNewPrivateProfileName = "Private Profile";

inline constexpr std::string_view kProfilesDefaultsKey = "QuivelProfiles";
inline constexpr std::string_view kCurrentProfileDefaultsKey = "QuivelCurrentProfile";

inline constexpr std::array<std::string_view, 5> kSearchEngines
    = { "Google", "Bing", "DuckDuckGo", "Yahoo", "Brave" };
inline constexpr std::string_view kDefaultSearchEngine = "Google";

inline constexpr std::string_view kSafariUserAgent
    = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
      "Version/26.0 Safari/605.1.15";
inline constexpr std::string_view kChromeUserAgent
    = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/131.0.0.0 Safari/537.36";
inline constexpr std::string_view kFirefoxUserAgent
    = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15; rv:132.0) Gecko/20100101 Firefox/132.0";

// The names the profiles window offers, in order.
inline constexpr std::array<std::string_view, 5> kProfilePresetNames
    = { "Safari Default", "WebKit", "Chrome (sample)", "Firefox (sample)", "Other\u2026" };
inline constexpr std::string_view kOtherPresetName = "Other\u2026";

struct BrowserProfile {
    ProfileID id;
    std::string name;
    // Missing for a stored non-default profile that never had one; it behaves as "".
    std::optional<std::string> userAgent;
    std::string searchEngine { kDefaultSearchEngine };
    // Its website data lives in memory only and it leaves no visits, tabs or downloads behind.
    // Chosen when it is made.
    bool isPrivate = false;
    // The engine's tracking prevention; a profile stored before the switch existed has it off.
    std::optional<bool> trackingPrevention;
    // Identifiers of the content-blocker lists the profile uses ("contentBlockers").
    std::vector<std::string> contentBlockers;
    // Stored as "httpsOnly": http addresses are tried over https first.
    bool httpsOnly = false;
    // Every other stored key (including a "userAgent", "contentBlockers" or a switch of another
    // type), written back as is.
    Json extra = Json::object();

    // The User-Agent to set on a web view, or "" for WebKit's own.
    std::string effectiveUserAgent() const { return userAgent.value_or(""); }
    bool preventsTracking() const { return trackingPrevention.value_or(false); }
};

bool operator==(const BrowserProfile& a, const BrowserProfile& b);

// {"default", "Default", Safari preset, "Google"}.
BrowserProfile builtInProfile();

// What the profiles window's "New Profile" makes: a fresh UUID, WebKit's User-Agent, Google,
// tracking prevention on; a private one is named "Private Profile".
enum class ProfileKind { Persistent, Private };
BrowserProfile makeNewProfile(ProfileKind kind = ProfileKind::Persistent);

bool isKnownSearchEngine(std::string_view engine);

// "default" or a canonical upper-case UUID.
bool isValidProfileID(std::string_view id);

// The identity of the profile's persistent website data (a folder name under the data
// directory): the upper-case UUID for a UUID ID in either case, nothing for "default" (the
// engine's default store) and for any other text (which gets a non-persistent store), so a
// stored ID can never name a path outside the profiles folder.
std::optional<std::string> persistentStoreIdentifier(std::string_view id);

// The profile whose "id" equals id; nothing for an empty ID or one that names no profile.
const BrowserProfile* profileForID(
    const std::vector<BrowserProfile>& profiles, std::string_view id);
BrowserProfile* profileForID(std::vector<BrowserProfile>& profiles, std::string_view id);

// A stored element, when it is an object whose "id" and "name" are strings.
std::optional<BrowserProfile> profileFromJson(const Json& value);
Json profileToJson(const BrowserProfile& profile);
Json profilesToJson(const std::vector<BrowserProfile>& profiles);

struct RepairedProfiles {
    std::vector<BrowserProfile> profiles;
    ProfileID currentProfileID;
    // True when the stored values differ from what saving these profiles would store.
    bool mustSave = false;
};

// The profile list and current ID from the stored "QuivelProfiles" and "QuivelCurrentProfile"
// values (nullptr when the key is missing): malformed elements dropped, later duplicates of an
// ID dropped, the built-in profile recreated at the front when missing or given the Safari
// User-Agent when its own is not a string, unknown engines set to "Google", and a current ID
// that names no profile replaced by "default".
RepairedProfiles repairStoredProfiles(const Json* storedProfiles, const Json* storedCurrentProfile);

// The User-Agent of a preset name, or nothing for "Other…" and unknown names.
std::optional<std::string> userAgentForProfilePreset(std::string_view presetName);

// The preset name shown for a stored User-Agent (nothing or "" shows as "WebKit").
std::string profilePresetForUserAgent(const std::optional<std::string>& userAgent);

} // namespace qv

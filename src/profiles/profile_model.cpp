// Profile values, their stored JSON form and the repair done when they are loaded.
#include "profiles/profile_model.h"

#include "base/text_util.h"
#include "base/uuid.h"

#include <algorithm>
#include <set>

namespace qv {

bool operator==(const BrowserProfile& a, const BrowserProfile& b)
{
    return a.id == b.id && a.name == b.name && a.userAgent == b.userAgent
        && a.searchEngine == b.searchEngine && a.isPrivate == b.isPrivate
        && a.trackingPrevention == b.trackingPrevention && a.contentBlockers == b.contentBlockers
        && a.httpsOnly == b.httpsOnly
        && a.extra == b.extra;
}

BrowserProfile builtInProfile()
{
    BrowserProfile profile;
    profile.id = std::string(kBuiltInProfileID);
    profile.name = std::string(kBuiltInProfileName);
    profile.userAgent = std::string(kSafariUserAgent);
    profile.searchEngine = std::string(kDefaultSearchEngine);
    return profile;
}

BrowserProfile makeNewProfile(ProfileKind kind)
{
    BrowserProfile profile;
    profile.id = makeUUIDString();
    profile.isPrivate = kind == ProfileKind::Private;
    profile.name = std::string(profile.isPrivate ? kNewPrivateProfileName : kNewProfileName);
    profile.trackingPrevention = true;
    profile.userAgent = std::string();
    profile.searchEngine = std::string(kDefaultSearchEngine);
    return profile;
}

bool isKnownSearchEngine(std::string_view engine)
{
    return std::find(kSearchEngines.begin(), kSearchEngines.end(), engine) != kSearchEngines.end();
}

bool isValidProfileID(std::string_view id) { return id == kBuiltInProfileID || isUUIDString(id); }

std::optional<std::string> persistentStoreIdentifier(std::string_view id)
{
    std::string upper(id);
    for (char& c : upper)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    if (!isUUIDString(upper))
        return std::nullopt;
    return upper;
}

const BrowserProfile* profileForID(const std::vector<BrowserProfile>& profiles, std::string_view id)
{
    if (id.empty())
        return nullptr;
    for (const BrowserProfile& profile : profiles)
        if (profile.id == id)
            return &profile;
    return nullptr;
}

BrowserProfile* profileForID(std::vector<BrowserProfile>& profiles, std::string_view id)
{
    const auto& constProfiles = profiles;
    return const_cast<BrowserProfile*>(profileForID(constProfiles, id));
}

std::optional<BrowserProfile> profileFromJson(const Json& value)
{
    if (!value.is_object())
        return std::nullopt;
    auto id = value.find("id");
    auto name = value.find("name");
    if (id == value.end() || !id->is_string() || name == value.end() || !name->is_string())
        return std::nullopt;
    BrowserProfile profile;
    profile.id = id->get<std::string>();
    profile.name = name->get<std::string>();
    profile.extra = value;
    profile.extra.erase("id");
    profile.extra.erase("name");
    if (auto ua = value.find("userAgent"); ua != value.end() && ua->is_string()) {
        profile.userAgent = ua->get<std::string>();
        profile.extra.erase("userAgent");
    }
    // An engine that is not a string reads as "", which repair replaces with "Google".
    auto engine = value.find("searchEngine");
    profile.searchEngine
        = engine != value.end() && engine->is_string() ? engine->get<std::string>() : "";
    profile.extra.erase("searchEngine");
    // Switches of another type stay as stored, and the profile keeps the switch off.
    if (auto priv = value.find("private"); priv != value.end() && priv->is_boolean()) {
        profile.isPrivate = priv->get<bool>();
        profile.extra.erase("private");
    }
    if (auto itp = value.find("trackingPrevention"); itp != value.end() && itp->is_boolean()) {
        profile.trackingPrevention = itp->get<bool>();
        profile.extra.erase("trackingPrevention");
    }
    if (auto lists = value.find("contentBlockers"); lists != value.end() && lists->is_array()
        && std::all_of(lists->begin(), lists->end(), [](const Json& id) { return id.is_string(); })) {
        for (const Json& id : *lists)
            profile.contentBlockers.push_back(id.get<std::string>());
        profile.extra.erase("contentBlockers");
    }
    if (auto httpsOnly = value.find("httpsOnly"); httpsOnly != value.end() && httpsOnly->is_boolean()) {
        profile.httpsOnly = httpsOnly->get<bool>();
        profile.extra.erase("httpsOnly");
    }
    return profile;
}

Json profileToJson(const BrowserProfile& profile)
{
    Json value = profile.extra.is_object() ? profile.extra : Json::object();
    value["id"] = sanitizeUtf8(profile.id);
    value["name"] = sanitizeUtf8(profile.name);
    if (profile.userAgent)
        value["userAgent"] = sanitizeUtf8(*profile.userAgent);
    value["searchEngine"] = sanitizeUtf8(profile.searchEngine);
    if (profile.isPrivate)
        value["private"] = true;
    if (profile.trackingPrevention)
        value["trackingPrevention"] = *profile.trackingPrevention;
    // Absent when empty, as older builds stored it.
    if (!profile.contentBlockers.empty()) {
        value["contentBlockers"] = Json::array();
        for (const std::string& id : profile.contentBlockers)
            value["contentBlockers"].push_back(sanitizeUtf8(id));
    }
    if (profile.httpsOnly)
        value["httpsOnly"] = true;
    return value;
}

Json profilesToJson(const std::vector<BrowserProfile>& profiles)
{
    Json list = Json::array();
    for (const BrowserProfile& profile : profiles)
        list.push_back(profileToJson(profile));
    return list;
}

RepairedProfiles repairStoredProfiles(const Json* storedProfiles, const Json* storedCurrentProfile)
{
    RepairedProfiles result;
    std::set<std::string> seen;
    if (storedProfiles && storedProfiles->is_array()) {
        for (const Json& element : *storedProfiles) {
            auto profile = profileFromJson(element);
            // A second profile with the same ID could never be found or told apart from the
            // first, and would share its website data, so only the first is kept.
            if (!profile || !seen.insert(profile->id).second)
                continue;
            result.profiles.push_back(std::move(*profile));
        }
    }

    if (BrowserProfile* builtIn = profileForID(result.profiles, kBuiltInProfileID)) {
        if (!builtIn->userAgent) {
            builtIn->userAgent = std::string(kSafariUserAgent);
            builtIn->extra.erase("userAgent");
        }
        // The engine's own store holds the built-in profile's data: it cannot be forgotten.
        builtIn->isPrivate = false;
    } else {
        result.profiles.insert(result.profiles.begin(), builtInProfile());
    }

    for (BrowserProfile& profile : result.profiles) {
        if (!isKnownSearchEngine(profile.searchEngine))
            profile.searchEngine = std::string(kDefaultSearchEngine);
    }

    result.currentProfileID = std::string(kBuiltInProfileID);
    if (storedCurrentProfile && storedCurrentProfile->is_string()) {
        const std::string& stored = storedCurrentProfile->get_ref<const std::string&>();
        if (profileForID(result.profiles, stored))
            result.currentProfileID = stored;
    }

    bool listMatches = storedProfiles && *storedProfiles == profilesToJson(result.profiles);
    bool currentMatches = storedCurrentProfile && storedCurrentProfile->is_string()
        && storedCurrentProfile->get_ref<const std::string&>() == result.currentProfileID;
    result.mustSave = !listMatches || !currentMatches;
    return result;
}

std::optional<std::string> userAgentForProfilePreset(std::string_view presetName)
{
    if (presetName == "WebKit")
        return std::string();
    if (presetName == "Safari Default" || presetName == "Safari"
        || presetName == "Safari-compatible")
        return std::string(kSafariUserAgent);
    if (presetName == "Chrome" || presetName == "Chrome (sample)")
        return std::string(kChromeUserAgent);
    if (presetName == "Firefox" || presetName == "Firefox (sample)")
        return std::string(kFirefoxUserAgent);
    return std::nullopt;
}

std::string profilePresetForUserAgent(const std::optional<std::string>& userAgent)
{
    if (!userAgent || userAgent->empty())
        return "WebKit";
    if (*userAgent == kSafariUserAgent)
        return "Safari Default";
    if (*userAgent == kChromeUserAgent)
        return "Chrome (sample)";
    if (*userAgent == kFirefoxUserAgent)
        return "Firefox (sample)";
    return std::string(kOtherPresetName);
}

} // namespace qv

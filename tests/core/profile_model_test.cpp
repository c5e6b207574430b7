// Profile repair, stored form, presets and profile IDs.
#include "profiles/profile_model.h"

#include "base/uuid.h"

#include <gtest/gtest.h>

#include <cctype>

namespace qv {

namespace {

const std::string kSomeID = "0F8E3C6A-2B7D-4E1F-9A5C-3D2B1A0F9E8D";

RepairedProfiles repair(const char* profilesJson, const char* currentJson)
{
    std::optional<Json> profiles = profilesJson ? parseJson(profilesJson) : std::nullopt;
    std::optional<Json> current = currentJson ? parseJson(currentJson) : std::nullopt;
    return repairStoredProfiles(profiles ? &*profiles : nullptr, current ? &*current : nullptr);
}

TEST(ProfileRepair, NothingStoredGivesExactlyTheBuiltInProfileCurrent)
{
    RepairedProfiles result = repair(nullptr, nullptr);
    ASSERT_EQ(result.profiles.size(), 1u);
    EXPECT_EQ(result.profiles[0], builtInProfile());
    EXPECT_EQ(result.profiles[0].id, "default");
    EXPECT_EQ(result.profiles[0].name, "Default");
    EXPECT_EQ(result.profiles[0].userAgent, std::string(kSafariUserAgent));
    EXPECT_EQ(result.profiles[0].searchEngine, "Google");
    EXPECT_EQ(result.currentProfileID, "default");
    EXPECT_TRUE(result.mustSave);
}

TEST(ProfileRepair, StoredValueThatIsNotAnArrayCountsAsEmpty)
{
    for (const char* stored : { "{}", "\"x\"", "3", "null" }) {
        RepairedProfiles result = repair(stored, "\"default\"");
        ASSERT_EQ(result.profiles.size(), 1u) << stored;
        EXPECT_EQ(result.profiles[0], builtInProfile());
        EXPECT_TRUE(result.mustSave);
    }
}

TEST(ProfileRepair, MalformedElementsAreDroppedAndOrderKept)
{
    std::string stored = R"([1, "x", null, {"id": 5, "name": "A"}, {"id": "a"},
        {"name": "no id"}, {"id": "B", "name": 7},
        {"id": ")"
        + kSomeID + R"(", "name": "Work", "userAgent": "", "searchEngine": "Bing"},
        {"id": "default", "name": "Mine", "userAgent": "UA", "searchEngine": "Brave"}])";
    RepairedProfiles result = repair(stored.c_str(), "\"default\"");
    ASSERT_EQ(result.profiles.size(), 2u);
    EXPECT_EQ(result.profiles[0].id, kSomeID);
    EXPECT_EQ(result.profiles[0].searchEngine, "Bing");
    EXPECT_EQ(result.profiles[1].id, "default");
    EXPECT_EQ(result.profiles[1].name, "Mine");
    EXPECT_EQ(result.profiles[1].userAgent, "UA");
    EXPECT_EQ(result.profiles[1].searchEngine, "Brave");
    EXPECT_TRUE(result.mustSave);
}

TEST(ProfileRepair, MissingBuiltInProfileIsInsertedAtTheFront)
{
    std::string stored = R"([{"id": ")" + kSomeID + R"(", "name": "Work"}])";
    RepairedProfiles result = repair(stored.c_str(), nullptr);
    ASSERT_EQ(result.profiles.size(), 2u);
    EXPECT_EQ(result.profiles[0], builtInProfile());
    EXPECT_EQ(result.profiles[1].id, kSomeID);
}

TEST(ProfileRepair, BuiltInProfileWithoutStringUserAgentGetsSafari)
{
    for (const char* stored : { R"([{"id": "default", "name": "D"}])",
             R"([{"id": "default", "name": "D", "userAgent": 12}])" }) {
        RepairedProfiles result = repair(stored, "\"default\"");
        ASSERT_EQ(result.profiles.size(), 1u);
        EXPECT_EQ(result.profiles[0].userAgent, std::string(kSafariUserAgent)) << stored;
        EXPECT_EQ(profileToJson(result.profiles[0])["userAgent"], std::string(kSafariUserAgent));
    }
}

TEST(ProfileRepair, OtherProfileWithoutUserAgentKeepsLackingIt)
{
    std::string stored = R"([{"id": "default", "name": "D", "userAgent": "", "searchEngine":
        "Google"}, {"id": ")"
        + kSomeID + R"(", "name": "W", "searchEngine": "Google"}])";
    RepairedProfiles result = repair(stored.c_str(), "\"default\"");
    ASSERT_EQ(result.profiles.size(), 2u);
    EXPECT_FALSE(result.profiles[1].userAgent.has_value());
    EXPECT_EQ(result.profiles[1].effectiveUserAgent(), "");
    EXPECT_FALSE(profileToJson(result.profiles[1]).contains("userAgent"));
    EXPECT_FALSE(result.mustSave);
}

TEST(ProfileRepair, UnknownOrWronglyTypedSearchEnginesBecomeGoogle)
{
    const char* engines[] = { "\"google\"", "\"Bing \"", "\"\"", "3", "null", "[]", "\"Ask\"" };
    for (const char* engine : engines) {
        std::string stored = std::string(R"([{"id": "default", "name": "D", "userAgent": "",
            "searchEngine": )")
            + engine + "}]";
        RepairedProfiles result = repair(stored.c_str(), "\"default\"");
        EXPECT_EQ(result.profiles[0].searchEngine, "Google") << engine;
        EXPECT_EQ(profileToJson(result.profiles[0])["searchEngine"], "Google");
        EXPECT_TRUE(result.mustSave);
    }
    for (std::string_view engine : kSearchEngines) {
        std::string stored = R"([{"id": "default", "name": "D", "userAgent": "", "searchEngine": ")"
            + std::string(engine) + "\"}]";
        EXPECT_EQ(repair(stored.c_str(), "\"default\"").profiles[0].searchEngine, engine);
    }
}

TEST(ProfileRepair, LaterDuplicatesOfAnIDAreDropped)
{
    std::string stored = R"([{"id": "default", "name": "D1"}, {"id": ")" + kSomeID
        + R"(", "name": "W1"}, {"id": "default", "name": "D2"}, {"id": ")" + kSomeID
        + R"(", "name": "W2"}])";
    RepairedProfiles result = repair(stored.c_str(), nullptr);
    ASSERT_EQ(result.profiles.size(), 2u);
    EXPECT_EQ(result.profiles[0].name, "D1");
    EXPECT_EQ(result.profiles[1].name, "W1");
    EXPECT_TRUE(result.mustSave);
}

TEST(ProfileRepair, CurrentProfileNamingNoProfileFallsBackToDefault)
{
    std::string stored = R"([{"id": ")" + kSomeID + R"(", "name": "W"}])";
    EXPECT_EQ(repair(stored.c_str(), ("\"" + kSomeID + "\"").c_str()).currentProfileID, kSomeID);
    for (const char* current :
        { "\"0F8E3C6A-0000-4E1F-9A5C-3D2B1A0F9E8D\"", "\"\"", "7", "null", "[\"default\"]" })
        EXPECT_EQ(repair(stored.c_str(), current).currentProfileID, "default") << current;
    EXPECT_EQ(repair(stored.c_str(), nullptr).currentProfileID, "default");
}

TEST(ProfileRepair, OtherKeysAreKeptThroughTheStoredForm)
{
    std::string stored = R"([{"id": "default", "name": "D", "userAgent": "", "searchEngine":
        "Yahoo", "colour": "red", "extra": {"a": [1, 2]}, "contentBlockers": ["A", 1]}])";
    RepairedProfiles result = repair(stored.c_str(), "\"default\"");
    Json saved = profilesToJson(result.profiles);
    EXPECT_EQ(saved, *parseJson(stored));
    EXPECT_FALSE(result.mustSave);
}

TEST(ProfileRepair, AlreadyRepairedValuesNeedNoSave)
{
    std::vector<BrowserProfile> profiles { builtInProfile(), makeNewProfile() };
    Json stored = profilesToJson(profiles);
    Json current = profiles[1].id;
    RepairedProfiles result = repairStoredProfiles(&stored, &current);
    EXPECT_EQ(result.profiles, profiles);
    EXPECT_EQ(result.currentProfileID, profiles[1].id);
    EXPECT_FALSE(result.mustSave);
    Json otherCurrent = "nobody";
    EXPECT_TRUE(repairStoredProfiles(&stored, &otherCurrent).mustSave);
    EXPECT_TRUE(repairStoredProfiles(&stored, nullptr).mustSave);
}

TEST(ProfileModel, NewProfileHasAFreshUUIDWebKitUserAgentAndGoogle)
{
    BrowserProfile a = makeNewProfile();
    BrowserProfile b = makeNewProfile();
    EXPECT_TRUE(isUUIDString(a.id));
    EXPECT_NE(a.id, b.id);
    EXPECT_EQ(a.name, "New Profile");
    EXPECT_EQ(a.userAgent, "");
    EXPECT_EQ(a.searchEngine, "Google");
    EXPECT_EQ(profilePresetForUserAgent(a.userAgent), "WebKit");
}

TEST(ProfileModel, LookupByIDIgnoresEmptyAndUnknownIDs)
{
    std::vector<BrowserProfile> profiles { builtInProfile(), makeNewProfile() };
    EXPECT_EQ(profileForID(profiles, "default"), &profiles[0]);
    EXPECT_EQ(profileForID(profiles, profiles[1].id), &profiles[1]);
    EXPECT_EQ(profileForID(profiles, ""), nullptr);
    EXPECT_EQ(profileForID(profiles, "Default"), nullptr);
}

TEST(ProfileModel, StoredFormRoundTrips)
{
    BrowserProfile profile = makeNewProfile();
    profile.name = "Caf\xC3\xA9";
    profile.userAgent = std::string(kChromeUserAgent);
    profile.searchEngine = "DuckDuckGo";
    profile.extra["pinned"] = true;
    profile.isPrivate = true;
    profile.trackingPrevention = false;
    profile.contentBlockers = { "0A1B2C3D-0000-4000-8000-000000000001" };
    auto back = profileFromJson(profileToJson(profile));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, profile);
    Json json = profileToJson(profile);
    EXPECT_EQ(json["id"], profile.id);
    EXPECT_EQ(json["name"], "Caf\xC3\xA9");
    EXPECT_EQ(json["searchEngine"], "DuckDuckGo");
    EXPECT_EQ(json["private"], true);
    EXPECT_EQ(json["trackingPrevention"], false);
    EXPECT_EQ(json["contentBlockers"], Json::array({ "0A1B2C3D-0000-4000-8000-000000000001" }));
    EXPECT_FALSE(profileToJson(makeNewProfile()).contains("contentBlockers"));
}

TEST(ProfileModel, SwitchesOfOtherTypesStayStoredAndTheBuiltInProfileIsNeverPrivate)
{
    Json stored = Json::parse(R"([{"id":"default","name":"Default","private":true},
        {"id":"6F1C2D3E-0000-4000-8000-000000000001","name":"P","private":"yes",
         "trackingPrevention":1}])");
    RepairedProfiles repaired = repairStoredProfiles(&stored, nullptr);
    ASSERT_EQ(repaired.profiles.size(), 2u);
    EXPECT_FALSE(repaired.profiles[0].isPrivate);
    EXPECT_FALSE(repaired.profiles[1].isPrivate);
    EXPECT_FALSE(repaired.profiles[1].preventsTracking());
    EXPECT_EQ(profileToJson(repaired.profiles[1])["private"], "yes");
    EXPECT_EQ(profileToJson(repaired.profiles[1])["trackingPrevention"], 1);
    EXPECT_TRUE(makeNewProfile().preventsTracking());
    EXPECT_TRUE(makeNewProfile(ProfileKind::Private).isPrivate);
}

TEST(ProfileModel, StoredFormNeverCarriesInvalidUtf8)
{
    BrowserProfile profile = builtInProfile();
    profile.name = "bad \xFF";
    EXPECT_EQ(profileToJson(profile)["name"], "bad \xEF\xBF\xBD");
    EXPECT_FALSE(dumpJson(profilesToJson({ profile })).empty());
}

TEST(ProfileIDs, ValidityAndPersistentStoreIdentity)
{
    std::string id = makeUUIDString();
    EXPECT_TRUE(isValidProfileID("default"));
    EXPECT_TRUE(isValidProfileID(id));
    std::string lower = id;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* bad : { "", "Default", "DEFAULT", "../x", "0F8E3C6A2B7D4E1F9A5C3D2B1A0F9E8D" })
        EXPECT_FALSE(isValidProfileID(bad)) << bad;
    EXPECT_FALSE(isValidProfileID(lower));

    EXPECT_EQ(persistentStoreIdentifier(id), id);
    EXPECT_EQ(persistentStoreIdentifier(lower), id);
    for (const char* none : { "default", "", "../../etc", "Work", "/tmp/x" })
        EXPECT_FALSE(persistentStoreIdentifier(none).has_value()) << none;
}

TEST(UserAgentPresets, NamesMapToStrings)
{
    struct Case {
        const char* preset;
        std::optional<std::string_view> userAgent;
    };
    const Case cases[] = {
        { "WebKit", "" },
        { "Safari Default", kSafariUserAgent },
        { "Safari", kSafariUserAgent },
        { "Safari-compatible", kSafariUserAgent },
        { "Chrome", kChromeUserAgent },
        { "Chrome (sample)", kChromeUserAgent },
        { "Firefox", kFirefoxUserAgent },
        { "Firefox (sample)", kFirefoxUserAgent },
        { "Other\u2026", std::nullopt },
        { "webkit", std::nullopt },
        { "", std::nullopt },
    };
    for (const Case& c : cases) {
        auto userAgent = userAgentForProfilePreset(c.preset);
        ASSERT_EQ(userAgent.has_value(), c.userAgent.has_value()) << c.preset;
        if (userAgent) {
            EXPECT_EQ(*userAgent, *c.userAgent) << c.preset;
        }
    }
}

TEST(UserAgentPresets, StringsMapBackToShownNames)
{
    std::string almostChrome(kChromeUserAgent);
    almostChrome.back() = '7';
    struct Case {
        std::optional<std::string> userAgent;
        const char* preset;
    };
    const Case cases[] = {
        { std::nullopt, "WebKit" },
        { "", "WebKit" },
        { std::string(kSafariUserAgent), "Safari Default" },
        { std::string(kChromeUserAgent), "Chrome (sample)" },
        { std::string(kFirefoxUserAgent), "Firefox (sample)" },
        { almostChrome, "Other\u2026" },
        { "Custom/1.0", "Other\u2026" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(profilePresetForUserAgent(c.userAgent), c.preset);
    // Every name offered in the window maps back to itself through its string.
    for (std::string_view name : kProfilePresetNames) {
        auto userAgent = userAgentForProfilePreset(name);
        if (userAgent) {
            EXPECT_EQ(profilePresetForUserAgent(*userAgent), name);
        }
    }
}

TEST(ProfileModel, HttpsOnlyIsReadAsABooleanAndAnotherTypeIsKeptAsWritten)
{
    struct Case {
        const char* stored;
        bool httpsOnly;
        const char* written; // the stored "httpsOnly" after a write, "" when absent
    };
    const Case cases[] = {
        { R"({"id": "default", "name": "D", "httpsOnly": true})", true, "true" },
        { R"({"id": "default", "name": "D", "httpsOnly": false})", false, "" },
        { R"({"id": "default", "name": "D"})", false, "" },
        { R"({"id": "default", "name": "D", "httpsOnly": "yes"})", false, "\"yes\"" },
    };
    for (const Case& c : cases) {
        auto profile = profileFromJson(*parseJson(c.stored));
        ASSERT_TRUE(profile) << c.stored;
        EXPECT_EQ(profile->httpsOnly, c.httpsOnly) << c.stored;
        Json written = profileToJson(*profile);
        EXPECT_EQ(written.contains("httpsOnly") ? written["httpsOnly"].dump() : "", c.written)
            << c.stored;
    }
}

} // namespace

} // namespace qv

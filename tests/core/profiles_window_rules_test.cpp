// Profiles window: name validation, User-Agent choices both ways, engines, rows and texts.
#include "profiles/profiles_window_rules.h"
#include "profiles/website_data_rules.h"

#include <gtest/gtest.h>

namespace qv {

struct NameCase {
    const char* typed;
    std::optional<std::string> stored;
};

class ProfileNameValidation : public testing::TestWithParam<NameCase> { };

TEST_P(ProfileNameValidation, TrimsBlanksAndRefusesEmptyNames)
{
    EXPECT_EQ(validatedProfileName(GetParam().typed), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Names, ProfileNameValidation,
    testing::Values(NameCase { "Work", "Work" }, NameCase { "  Work Stuff \n", "Work Stuff" },
        NameCase { "", std::nullopt }, NameCase { " \t\r\n ", std::nullopt },
        NameCase { "\u00A0\u2003", std::nullopt },
        NameCase { "\u00A0Caf\u00E9\u2003", "Caf\u00E9" }));

struct ChoiceCase {
    std::optional<std::string_view> preset;
    const char* field;
    std::string stored;
    bool editable;
};

class UserAgentChoice : public testing::TestWithParam<ChoiceCase> { };

TEST_P(UserAgentChoice, PresetsStoreTheirStringAndOtherStoresTheField)
{
    const auto& c = GetParam();
    EXPECT_EQ(chosenUserAgent(c.preset, c.field), c.stored);
    auto view = userAgentChoiceView(c.preset);
    EXPECT_EQ(view.userAgentEditable, c.editable);
    if (c.editable) {
        EXPECT_EQ(view.userAgentText, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Choices, UserAgentChoice,
    testing::Values(ChoiceCase { "WebKit", "ignored", "", false },
        ChoiceCase { "Chrome (sample)", "", std::string(kChromeUserAgent), false },
        ChoiceCase { "Safari Default", "x", std::string(kSafariUserAgent), false },
        ChoiceCase { "Other\u2026", "MyAgent/1.0", "MyAgent/1.0", true },
        ChoiceCase { std::nullopt, "MyAgent/2.0", "MyAgent/2.0", true },
        ChoiceCase { "Other\u2026", "Agent\r\nX-Injected: 1", "AgentX-Injected: 1", true }));

struct ReverseCase {
    std::optional<std::string> stored;
    std::string preset;
    std::string field;
    std::string listText;
};

class UserAgentShown : public testing::TestWithParam<ReverseCase> { };

TEST_P(UserAgentShown, PaneAndListShowThePresetOrTheString)
{
    const auto& c = GetParam();
    BrowserProfile profile = makeNewProfile();
    profile.userAgent = c.stored;
    auto view = profileSettingsView(profile, { builtInProfile(), profile }, "default");
    EXPECT_EQ(view.presetName, c.preset);
    EXPECT_EQ(view.userAgentText, c.field);
    EXPECT_EQ(view.userAgentEditable, c.preset == kOtherPresetName);
    EXPECT_EQ(profileListRow(profile, "default").userAgentText, c.listText);
}

std::string oneOff(std::string_view text)
{
    std::string changed(text);
    changed.back() = 'X';
    return changed;
}

INSTANTIATE_TEST_SUITE_P(Stored, UserAgentShown,
    testing::Values(ReverseCase { std::nullopt, "WebKit", "", "WebKit" },
        ReverseCase { std::string(kChromeUserAgent), "Chrome (sample)",
            std::string(kChromeUserAgent), "Chrome (sample)" },
        ReverseCase { oneOff(kChromeUserAgent), "Other\u2026", oneOff(kChromeUserAgent),
            oneOff(kChromeUserAgent) },
        ReverseCase { std::string(kFirefoxUserAgent), "Firefox (sample)",
            std::string(kFirefoxUserAgent), "Firefox (sample)" }));

TEST(ProfileEngineChoice, UnknownOrMissingEnginesBecomeGoogle)
{
    EXPECT_EQ(chosenSearchEngine("DuckDuckGo"), "DuckDuckGo");
    EXPECT_EQ(chosenSearchEngine("duckduckgo"), "Google");
    EXPECT_EQ(chosenSearchEngine(std::nullopt), "Google");
}

TEST(ProfileSaveSettings, KeepsTheNameWhenTheFieldIsBlank)
{
    BrowserProfile profile = makeNewProfile();
    profile.name = "Work";
    auto saved = profileWithSavedSettings(profile, "  ", "WebKit", "ignored", "Brave");
    EXPECT_EQ(saved.name, "Work");
    EXPECT_EQ(saved.userAgent, "");
    EXPECT_EQ(saved.searchEngine, "Brave");
    EXPECT_EQ(saved.id, profile.id);
    EXPECT_EQ(profileWithSavedSettings(profile, " Home ", "WebKit", "", "Bing").name, "Home");
}

TEST(ProfileRowsAndStatus, MarkTheProfileInUse)
{
    BrowserProfile work = makeNewProfile();
    work.name = "Work";
    std::vector<BrowserProfile> profiles = { builtInProfile(), work };
    auto row = profileListRow(work, work.id);
    EXPECT_TRUE(row.inUse);
    EXPECT_EQ(row.nameText, "\u25CF  Work");
    EXPECT_EQ(profileListRow(work, "default").nameText, "Work");
    EXPECT_EQ(profileCurrentLabel(profiles, work.id), "\u25CF  Using Work");
    EXPECT_EQ(profileCurrentLabel(profiles, "gone"), "\u25CF  Using Default");

    EXPECT_EQ(profileSettingsView(work, profiles, work.id).status, kProfileInUseStatus);
    EXPECT_EQ(profileSettingsView(work, profiles, "default").status, kProfileSwitchHintStatus);
    BrowserProfile legacy = work;
    legacy.id = "not-a-uuid";
    EXPECT_EQ(profileSettingsView(legacy, profiles, "default").status, kProfileSessionOnlyStatus);
}

TEST(ProfileDelete, DefaultIsRefusedOthersAreConfirmed)
{
    auto refused = profileDeleteDecision(builtInProfile());
    EXPECT_EQ(refused.refusal, std::string(kDefaultProfileUndeletableStatus));
    BrowserProfile work = makeNewProfile();
    work.name = "Work";
    auto asked = profileDeleteDecision(work);
    EXPECT_FALSE(asked.refusal);
    EXPECT_EQ(asked.confirmation.message, "Delete Work?");
    EXPECT_TRUE(asked.confirmation.confirmedBy(0));
    EXPECT_EQ(tabsClosedWithProfile({ "P", "default", "P", "", "P" }, "P"),
        (std::vector<size_t> { 4, 2, 0 }));
    EXPECT_EQ(tabsClosedWithProfile({ "P", "" }, "default"), std::vector<size_t> { 1 });
}

} // namespace qv

namespace qv {

TEST(WebsiteDataRules, KindsAreNamedOnceInOrderAndRowsJoinRepeatedSites)
{
    using namespace WebsiteDataKind;
    const std::pair<std::uint32_t, const char*> table[] = {
        { Cookies, "Cookies" },
        { ServiceWorkers | Cookies | DiskCache | MemoryCache, "Cookies, Cache, Service Workers" },
        { SessionStorage | LocalStorage | IndexedDB, "Local Storage, IndexedDB" },
        { HSTSCache | TrackingPrevention, "Other data" },
    };
    for (const auto& [kinds, text] : table)
        EXPECT_EQ(websiteDataKindsText(kinds), text) << kinds;

    auto rows = websiteDataRows({ { "b.test", Cookies }, { "", LocalStorage }, { "a.test", DiskCache },
        { "b.test", IndexedDB } });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].site, "a.test");
    EXPECT_EQ(rows[1].kinds, Cookies | IndexedDB);
}

TEST(WebsiteDataRules, ClearingARangeTakesCookiesWhateverTheirAge)
{
    using namespace WebsiteDataKind;
    auto ranged = websiteDataClearings(ClearRange::LastHour, true, true);
    ASSERT_EQ(ranged.size(), 2u);
    EXPECT_EQ(ranged[0].kinds, Cookies);
    EXPECT_EQ(ranged[0].span.count(), 0);
    EXPECT_EQ(ranged[1].kinds, (SiteData | Caches) & ~Cookies);
    EXPECT_EQ(ranged[1].span.count(), 3600);
    auto everything = websiteDataClearings(ClearRange::AllTime, true, false);
    ASSERT_EQ(everything.size(), 1u);
    EXPECT_EQ(everything[0].kinds, SiteData);
    EXPECT_TRUE(websiteDataClearings(ClearRange::LastDay, false, false).empty());
    EXPECT_EQ(websiteDataClearings(ClearRange::LastDay, false, true)[0].span.count(), 86400);
}

} // namespace qv

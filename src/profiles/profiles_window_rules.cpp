// Profiles window rows, settings pane, validation and texts.
#include "profiles/profiles_window_rules.h"

#include "navigation/address_resolution.h"

#include <algorithm>

namespace qv {

namespace {

    constexpr std::string_view kInUseMark = "\u25CF  ";

} // namespace

ProfileListRow profileListRow(const BrowserProfile& profile, std::string_view currentProfileID)
{
    ProfileListRow row;
    row.inUse = profile.id == currentProfileID;
    row.nameText = row.inUse ? std::string(kInUseMark) + profile.name : profile.name;
    row.nameTooltip = profile.name;
    std::string userAgent = profile.effectiveUserAgent();
    std::string preset = profilePresetForUserAgent(userAgent);
    if (preset == kOtherPresetName)
        row.userAgentText = userAgent.empty() ? std::string(kCustomUserAgentLabel) : userAgent;
    else
        row.userAgentText = preset;
    row.userAgentTooltip = userAgent;
    return row;
}

std::string profileCurrentLabel(
    const std::vector<BrowserProfile>& profiles, std::string_view currentProfileID)
{
    const BrowserProfile* current = profileForID(profiles, currentProfileID);
    std::string name = current ? current->name : std::string(kBuiltInProfileName);
    return std::string(kInUseMark) + "Using " + name;
}

std::string profileNowCurrentStatus(const BrowserProfile& profile)
{
    return "Current profile: " + profile.name;
}

ProfileSettingsView profileSettingsView(const BrowserProfile& profile,
    const std::vector<BrowserProfile>& profiles, std::string_view currentProfileID)
{
    ProfileSettingsView view;
    view.name = profile.name;
    std::string userAgent = profile.effectiveUserAgent();
    view.presetName = profilePresetForUserAgent(userAgent);
    view.userAgentEditable = view.presetName == kOtherPresetName;
    view.userAgentText = view.userAgentEditable
        ? userAgent
        : userAgentForProfilePreset(view.presetName).value_or("");
    view.searchEngine
        = profile.searchEngine.empty() ? std::string(kDefaultSearchEngine) : profile.searchEngine;
    view.currentLabel = profileCurrentLabel(profiles, currentProfileID);
    view.status = std::string(
        profile.id == currentProfileID ? kProfileInUseStatus : kProfileSwitchHintStatus);
    // A profile whose ID cannot name persistent website data keeps it only for this run.
    if (profile.id != kBuiltInProfileID && !persistentStoreIdentifier(profile.id))
        view.status = std::string(kProfileSessionOnlyStatus);
    return view;
}

UserAgentChoiceView userAgentChoiceView(std::optional<std::string_view> presetTitle)
{
    std::string_view title = presetTitle.value_or(kOtherPresetName);
    auto preset = userAgentForProfilePreset(title);
    UserAgentChoiceView view;
    view.userAgentEditable = !preset;
    view.userAgentText = preset.value_or("");
    if (!preset)
        view.status = "Enter the User-Agent string you want this profile to use.";
    else if (title == "WebKit")
        view.status = "Use WebKit's default User-Agent.";
    else
        view.status = "Presets are templates. Choose Other for another version or exact string.";
    return view;
}

std::optional<std::string> validatedProfileName(std::string_view typed)
{
    std::string name = trimUnicodeWhitespace(typed);
    if (name.empty())
        return std::nullopt;
    return name;
}

std::string chosenUserAgent(std::optional<std::string_view> presetTitle, std::string_view fieldText)
{
    if (auto preset = userAgentForProfilePreset(presetTitle.value_or(kOtherPresetName)))
        return *preset;
    std::string custom;
    custom.reserve(fieldText.size());
    for (char c : fieldText) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            custom += c;
    }
    return custom;
}

std::string chosenSearchEngine(std::optional<std::string_view> engineTitle)
{
    if (engineTitle && isKnownSearchEngine(*engineTitle))
        return std::string(*engineTitle);
    return std::string(kDefaultSearchEngine);
}

BrowserProfile profileWithSavedSettings(BrowserProfile profile, std::string_view nameText,
    std::optional<std::string_view> presetTitle, std::string_view userAgentFieldText,
    std::optional<std::string_view> engineTitle)
{
    if (auto name = validatedProfileName(nameText))
        profile.name = std::move(*name);
    profile.userAgent = chosenUserAgent(presetTitle, userAgentFieldText);
    profile.searchEngine = chosenSearchEngine(engineTitle);
    // A stored "userAgent" of another type is replaced, not written back beside the new one.
    if (profile.extra.is_object())
        profile.extra.erase("userAgent");
    return profile;
}

ProfileDeleteDecision profileDeleteDecision(const BrowserProfile& profile)
{
    ProfileDeleteDecision decision;
    if (profile.id == kBuiltInProfileID) {
        decision.refusal = std::string(kDefaultProfileUndeletableStatus);
        return decision;
    }
    decision.confirmation = { "Delete " + profile.name + "?",
        "This closes its tabs and permanently deletes its cookies, local storage, and other "
        "WebKit website data.",
        { "Delete Profile", "Cancel" }, 0 };
    return decision;
}

std::vector<size_t> tabsClosedWithProfile(
    const std::vector<std::string>& tabProfileIDs, std::string_view profileID)
{
    std::vector<size_t> indices;
    for (size_t i = tabProfileIDs.size(); i-- > 0;) {
        std::string_view owner = tabProfileIDs[i].empty() ? kBuiltInProfileID : tabProfileIDs[i];
        if (owner == profileID)
            indices.push_back(i);
    }
    return indices;
}

} // namespace qv

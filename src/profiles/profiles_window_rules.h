// What the profiles window shows and decides: list rows, the settings pane, validation and texts.
#pragma once

#include "base/confirmation.h"
#include "profiles/profile_model.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::string_view kProfileInUseStatus = "This profile is currently in use.";
inline constexpr std::string_view kProfileSwitchHintStatus
    = "Select Use Profile to switch the Browser to this profile.";
inline constexpr std::string_view kProfileSessionOnlyStatus
    = "Isolated for this session only. Persistent profiles require macOS 14 or later.";
inline constexpr std::string_view kProfileRenamedStatus = "Profile name updated.";
inline constexpr std::string_view kProfileSavedStatus
    = "Saved. Reload open pages to apply the User-Agent.";
inline constexpr std::string_view kDefaultProfileUndeletableStatus
    = "The Default profile cannot be deleted.";
inline constexpr std::string_view kCustomUserAgentLabel = "Custom User-Agent";

// One row of the profile list.
struct ProfileListRow {
    std::string nameText; // "●  Name" for the profile in use
    bool inUse = false; // drawn semibold in the accent colour
    std::string nameTooltip;
    std::string userAgentText; // the preset name, or the custom string itself
    std::string userAgentTooltip;
};

ProfileListRow profileListRow(const BrowserProfile& profile, std::string_view currentProfileID);

// "●  Using <name of the profile in use>", or "Default" when that profile is missing.
std::string profileCurrentLabel(
    const std::vector<BrowserProfile>& profiles, std::string_view currentProfileID);

// "Current profile: <name>" once a profile has been made current.
std::string profileNowCurrentStatus(const BrowserProfile& profile);

// The settings pane filled in for a selected profile.
struct ProfileSettingsView {
    std::string name;
    std::string presetName; // the User-Agent pop-up's choice
    std::string userAgentText;
    bool userAgentEditable = false; // only for "Other…"
    std::string searchEngine; // the engine pop-up's choice
    std::string currentLabel;
    std::string status;
};

ProfileSettingsView profileSettingsView(const BrowserProfile& profile,
    const std::vector<BrowserProfile>& profiles, std::string_view currentProfileID);

// The User-Agent pop-up changed: the field's text and state and the status line. Nothing is
// stored until the settings are saved.
struct UserAgentChoiceView {
    std::string userAgentText;
    bool userAgentEditable = false;
    std::string status;
};

UserAgentChoiceView userAgentChoiceView(std::optional<std::string_view> presetTitle);

// A name as typed, trimmed of white space and line breaks at both ends; nothing when empty.
std::optional<std::string> validatedProfileName(std::string_view typed);

// The User-Agent stored for a pop-up choice and the field's text: the preset's string, or the
// custom text with control characters removed (they cannot go into a request header).
std::string chosenUserAgent(
    std::optional<std::string_view> presetTitle, std::string_view fieldText);

// The engine stored for the pop-up's choice: "Google" without a choice or for an unknown one.
std::string chosenSearchEngine(std::optional<std::string_view> engineTitle);

// "Save Changes" applied to a profile: the name only when it validates, User-Agent and engine
// as chosen. Other stored keys stay.
BrowserProfile profileWithSavedSettings(BrowserProfile profile, std::string_view nameText,
    std::optional<std::string_view> presetTitle, std::string_view userAgentFieldText,
    std::optional<std::string_view> engineTitle);

// "Delete": the built-in profile is refused with a status text, any other is confirmed.
struct ProfileDeleteDecision {
    std::optional<std::string> refusal;
    Confirmation confirmation;
};

ProfileDeleteDecision profileDeleteDecision(const BrowserProfile& profile);

// The indices of the tabs of a deleted profile, from the last to the first, so each close
// leaves the rest valid.
std::vector<size_t> tabsClosedWithProfile(
    const std::vector<std::string>& tabProfileIDs, std::string_view profileID);

} // namespace qv

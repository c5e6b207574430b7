// The profile service: the profiles in the user defaults, the current one, each profile's
// website data store, and using, editing and deleting a profile.
#pragma once

#include "platform/gobject_ptr.h"
#include "profiles/profile_model.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <map>
#include <string>
#include <vector>

namespace qv {

struct Services;

class ProfileService {
public:
    explicit ProfileService(const Services& services);
    ~ProfileService();
    ProfileService(const ProfileService&) = delete;
    ProfileService& operator=(const ProfileService&) = delete;

    void loadProfiles();
    void saveProfiles();
    const std::vector<BrowserProfile>& profiles() const { return m_profiles; }
    const BrowserProfile* profileForID(const ProfileID& profileID) const;
    ProfileID currentProfile() const;
    WebKitNetworkSession* websiteDataStoreForProfile(const ProfileID& profileID);
    // The engine's default session, with the proxy applied; made when a web view first needs it.
    WebKitNetworkSession* defaultNetworkSession();
    const std::map<ProfileID, GObjectPtr<WebKitNetworkSession>>& profileDataStores() const
    {
        return m_profileDataStores;
    }
    std::string userAgentForProfile(const ProfileID& profileID) const;
    std::string homePageURLForProfile(const ProfileID& profileID) const;
    std::string searchURLForProfile(const ProfileID& profileID, const std::string& text) const;
    std::string searchURLForCurrentProfile(const std::string& query) const;

    // Makes the profile current and saves; the profiles window hears of it when `announce`.
    enum class Announce { No, Yes };
    void setCurrentProfile(const ProfileID& profileID, Announce announce);
    // Appends a "New Profile" (or a private one) and saves; returns its ID.
    ProfileID createProfile(ProfileKind kind = ProfileKind::Persistent);
    bool isPrivateProfile(const ProfileID& profileID) const;
    // Stores the switch and applies it to the profile's session at once.
    void setTrackingPrevention(const ProfileID& profileID, bool enabled);
    // A private profile whose last tab has closed lets go of its in-memory session and closed
    // tabs; its next tab starts with nothing stored.
    void forgetPrivateProfilesWithoutTabs();
    // Stores a trimmed, non-empty name; false when there is nothing to store.
    bool renameProfile(const ProfileID& profileID, const std::string& typedName);
    // Stores the profile's edited fields and gives its open tabs the new User-Agent.
    void saveProfileSettings(const BrowserProfile& edited);
    // Stores the content-blocker lists the profile uses.
    void setProfileContentBlockers(const ProfileID& profileID, const std::vector<std::string>& lists);
    // Turns HTTPS-only on or off for the profile and saves at once.
    void setHttpsOnly(const ProfileID& profileID, bool on);
    // Using a profile: makes it current, selects its first tab or opens its home page.
    void selectCurrentProfile(const ProfileID& profileID);
    // After the confirmation alert: closes the profile's tabs, removes it and, on a later
    // main-loop turn, its website data. False when refused (the built-in profile, unknown ID,
    // cancelled).
    bool deleteProfile(const ProfileID& profileID);

    // The list or the current profile changed by using or deleting a profile.
    sigc::signal<void()>& signalCurrentProfileChanged() { return m_currentProfileChanged; }
    // A private profile has forgotten what it stored; others forget their part of it.
    sigc::signal<void(const ProfileID&)>& signalPrivateProfileForgotten()
    {
        return m_privateProfileForgotten;
    }

private:
    const Services& m_services;
    std::vector<BrowserProfile> m_profiles;
    std::map<ProfileID, GObjectPtr<WebKitNetworkSession>> m_profileDataStores;
    ProfileID m_currentProfileID;
    sigc::signal<void()> m_currentProfileChanged;
    sigc::signal<void(const ProfileID&)> m_privateProfileForgotten;
};

} // namespace qv

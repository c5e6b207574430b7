// Profiles in the user defaults, their website data stores, using and deleting a profile.
#include "profiles/profile_service.h"

#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/web_views.h"
#include "navigation/address_resolution.h"
#include "profiles/profiles_window_rules.h"

#include "platform/alerts.h"
#include "platform/log.h"
#include "platform/storage_locations.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCookiesFileName = "cookies.sqlite";

// Cookies stay in memory unless the session is given a file for them.
void keepCookiesIn(WebKitNetworkSession* session, const fs::path& directory)
{
    WebKitCookieManager* cookies = webkit_network_session_get_cookie_manager(session);
    webkit_cookie_manager_set_persistent_storage(cookies, (directory / kCookiesFileName).c_str(),
        WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
}

// What is left to remove of a deleted profile once the current action has finished.
struct ProfileDataRemoval {
    GObjectPtr<WebKitNetworkSession> session;
    std::vector<fs::path> folders;
};

enum class ReportFailures { Yes, No };

void removeProfileFolders(const std::vector<fs::path>& folders, ReportFailures report)
{
    for (const fs::path& folder : folders) {
        std::error_code ec;
        fs::remove_all(folder, ec);
        if (ec && report == ReportFailures::Yes)
            logLine("Could not remove profile website data: " + ec.message());
    }
}

gboolean removeProfileData(gpointer data)
{
    std::unique_ptr<ProfileDataRemoval> removal(static_cast<ProfileDataRemoval*>(data));
    if (!removal->session) {
        removeProfileFolders(removal->folders, ReportFailures::Yes);
        return G_SOURCE_REMOVE;
    }
    WebKitWebsiteDataManager* manager
        = webkit_network_session_get_website_data_manager(removal->session.get());
    webkit_website_data_manager_clear(manager, WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ProfileDataRemoval> removal(static_cast<ProfileDataRemoval*>(data));
            GError* error = nullptr;
            if (!webkit_website_data_manager_clear_finish(
                    WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error)) {
                logLine(std::string("Could not remove profile website data: ")
                    + (error ? error->message : "unknown error"));
            }
            if (error)
                g_error_free(error);
            // Let go of the session first; its network and web processes can still write a
            // last file while they wind down, so a second pass follows once they have.
            removal->session.reset();
            removeProfileFolders(removal->folders, ReportFailures::Yes);
            g_timeout_add_seconds(2, +[](gpointer data) {
                std::unique_ptr<ProfileDataRemoval> late(static_cast<ProfileDataRemoval*>(data));
                removeProfileFolders(late->folders, ReportFailures::No);
                return G_SOURCE_REMOVE;
            }, removal.release());
        },
        removal.release());
    return G_SOURCE_REMOVE;
}

} // namespace

ProfileService::ProfileService(const Services& services)
    : m_services(services)
{
}

ProfileService::~ProfileService() = default;

void ProfileService::loadProfiles()
{
    Json stored = m_services.shell->defaults().objectForKey(kProfilesKey);
    Json current = m_services.shell->defaults().objectForKey(kCurrentProfileKey);
    RepairedProfiles repaired = repairStoredProfiles(stored.is_null() ? nullptr : &stored,
        current.is_null() ? nullptr : &current);
    m_profiles = std::move(repaired.profiles);
    m_currentProfileID = std::move(repaired.currentProfileID);
    m_profileDataStores.clear();
    saveProfiles();
}

void ProfileService::saveProfiles()
{
    m_services.shell->setDefaultsValue(kProfilesKey, profilesToJson(m_profiles));
    if (!m_currentProfileID.empty())
        m_services.shell->setDefaultsValue(kCurrentProfileKey, m_currentProfileID);
}

ProfileID ProfileService::currentProfile() const
{
    return m_currentProfileID.empty() ? ProfileID(kDefaultProfileID) : m_currentProfileID;
}

const BrowserProfile* ProfileService::profileForID(const ProfileID& profileID) const
{
    return qv::profileForID(m_profiles, profileID);
}

WebKitNetworkSession* ProfileService::defaultNetworkSession()
{
    // Extension pages and the built-in profile share it. Making it starts the engine, which can
    // wait until the window is on screen. It lives for the whole process: set it up once.
    WebKitNetworkSession* session = webkit_network_session_get_default();
    static bool ready = false;
    if (!ready) {
        ready = true;
        applyNetworkProxy(session);
        // The built-in profile's switch holds from the start, not only once it is flipped.
        const BrowserProfile* builtIn = profileForID(ProfileID(kBuiltInProfileID));
        webkit_network_session_set_itp_enabled(session, builtIn && builtIn->preventsTracking());
        const char* base = webkit_website_data_manager_get_base_data_directory(
            webkit_network_session_get_website_data_manager(session));
        if (base) {
            std::error_code ec;
            fs::create_directories(base, ec);
            keepCookiesIn(session, base);
        }
    }
    return session;
}

WebKitNetworkSession* ProfileService::websiteDataStoreForProfile(const ProfileID& profileID)
{
    if (profileID.empty() || profileID == kBuiltInProfileID)
        return defaultNetworkSession();
    if (auto it = m_profileDataStores.find(profileID); it != m_profileDataStores.end())
        return it->second.get();

    GObjectPtr<WebKitNetworkSession> session;
    const BrowserProfile* profile = profileForID(profileID);
    auto identifier = persistentStoreIdentifier(profileID);
    if (profile && profile->isPrivate) {
        // Nothing of a private profile touches the disk.
        session = GObjectPtr<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    } else if (identifier) {
        fs::path data = profileDataDirectory(*identifier);
        fs::path cache = profileCacheDirectory(*identifier);
        std::error_code ec;
        fs::create_directories(data, ec);
        fs::create_directories(cache, ec);
        session = GObjectPtr<WebKitNetworkSession>::adopt(
            webkit_network_session_new(data.c_str(), cache.c_str()));
        keepCookiesIn(session.get(), data);
    } else {
        // An ID that is no UUID names no folder; its data lasts as long as the process.
        session = GObjectPtr<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    }
    WebKitNetworkSession* result = session.get();
    applyNetworkProxy(result);
    webkit_network_session_set_itp_enabled(result, profile && profile->preventsTracking());
    m_profileDataStores[profileID] = std::move(session);
    return result;
}

bool ProfileService::isPrivateProfile(const ProfileID& profileID) const
{
    const BrowserProfile* profile = profileForID(profileID);
    return profile && profile->isPrivate;
}

void ProfileService::setTrackingPrevention(const ProfileID& profileID, bool enabled)
{
    BrowserProfile* profile = qv::profileForID(m_profiles, profileID);
    if (!profile)
        return;
    profile->trackingPrevention = enabled;
    saveProfiles();
    if (auto it = m_profileDataStores.find(profileID); it != m_profileDataStores.end())
        webkit_network_session_set_itp_enabled(it->second.get(), enabled);
    else if (profileID == kBuiltInProfileID)
        webkit_network_session_set_itp_enabled(defaultNetworkSession(), enabled);
}

void ProfileService::forgetPrivateProfilesWithoutTabs()
{
    std::vector<ProfileID> forgotten;
    for (const auto& [id, session] : m_profileDataStores) {
        if (!isPrivateProfile(id))
            continue;
        bool hasTab = false;
        for (const Tab& tab : m_services.tabs->tabList()) {
            if (tab.profileID() == id) {
                hasTab = true;
                break;
            }
        }
        if (!hasTab)
            forgotten.push_back(id);
    }
    for (const ProfileID& id : forgotten) {
        // Views still closing hold the session until they are gone; no new view gets it.
        m_profileDataStores.erase(id);
        m_services.tabs->forgetClosedTabsOfProfile(id);
        m_privateProfileForgotten.emit(id);
    }
}

std::string ProfileService::userAgentForProfile(const ProfileID& profileID) const
{
    const BrowserProfile* profile = profileForID(profileID.empty() ? kDefaultProfileID : profileID);
    return profile ? profile->effectiveUserAgent() : std::string();
}

void ProfileService::setCurrentProfile(const ProfileID& profileID, Announce announce)
{
    m_currentProfileID = profileID;
    saveProfiles();
    if (announce == Announce::Yes)
        m_currentProfileChanged.emit();
}

ProfileID ProfileService::createProfile(ProfileKind kind)
{
    BrowserProfile profile = makeNewProfile(kind);
    ProfileID id = profile.id;
    m_profiles.push_back(std::move(profile));
    saveProfiles();
    return id;
}

void ProfileService::selectCurrentProfile(const ProfileID& profileID)
{
    if (!profileForID(profileID))
        return;
    m_currentProfileID = profileID;
    saveProfiles();
    std::optional<size_t> first;
    TabService& tabService = *m_services.tabs;
    const TabList& tabs = tabService.browserTabs();
    for (size_t i = 0; i < tabs.size() && !first; ++i) {
        if (tabs[i].profileID() == profileID)
            first = i;
    }
    // Either way the selection moves to a tab of the profile, and the strip follows it.
    if (first)
        tabService.selectBrowserTabAtIndex(*first);
    else
        tabService.createBrowserTabWithURL(homePageURLForProfile(profileID));
    m_currentProfileChanged.emit();
}

bool ProfileService::deleteProfile(const ProfileID& id)
{
    // A copy: the caller's ID may live in the list this removes it from.
    const ProfileID profileID = id;
    const BrowserProfile* profile = profileForID(profileID);
    if (!profile || profileID == kBuiltInProfileID)
        return false;
    BrowserWindow* window = m_services.shell->window();
    int answer = runModalAlert(window ? GTK_WINDOW(window->gobj()) : nullptr,
        { "Delete " + profile->name + "?",
            "This closes its tabs and permanently deletes its cookies, local storage, and other "
            "WebKit website data.",
            { "Delete Profile", "Cancel" } });
    if (answer != 0)
        return false;

    TabService& tabService = *m_services.tabs;
    if (currentProfile() == profileID) {
        // The window keeps at least one tab of a surviving profile.
        m_currentProfileID = kBuiltInProfileID;
        saveProfiles();
        tabService.createBrowserTabWithURL(homePageURLForProfile(m_currentProfileID));
    }
    const TabList& tabs = tabService.browserTabs();
    for (size_t i = tabs.size(); i-- > 0;) {
        if (i < tabs.size() && tabs[i].profileID() == profileID)
            tabService.closeBrowserTabAtIndex(i);
    }

    auto removal = std::make_unique<ProfileDataRemoval>();
    if (auto it = m_profileDataStores.find(profileID); it != m_profileDataStores.end()) {
        removal->session = std::move(it->second);
        m_profileDataStores.erase(it);
    }
    if (auto identifier = persistentStoreIdentifier(profileID)) {
        removal->folders.push_back(profileDataDirectory(*identifier));
        removal->folders.push_back(profileCacheDirectory(*identifier));
    }
    g_idle_add(removeProfileData, removal.release());

    std::erase_if(m_profiles, [&](const BrowserProfile& p) { return p.id == profileID; });
    saveProfiles();
    m_currentProfileChanged.emit();
    return true;
}

std::string ProfileService::searchURLForProfile(
    const ProfileID& profileID, const std::string& text) const
{
    ProfileID id = profileID.empty() ? ProfileID(kDefaultProfileID) : profileID;
    return qv::searchURLForProfile(text, profileForID(id));
}

std::string ProfileService::searchURLForCurrentProfile(const std::string& query) const
{
    return searchURLForProfile(currentProfile(), query);
}

std::string ProfileService::homePageURLForProfile(const ProfileID& profileID) const
{
    ProfileID id = profileID.empty() ? ProfileID(kDefaultProfileID) : profileID;
    return qv::homePageURLForProfile(profileForID(id));
}

bool ProfileService::renameProfile(const ProfileID& profileID, const std::string& typedName)
{
    BrowserProfile* profile = qv::profileForID(m_profiles, profileID);
    std::optional<std::string> name = validatedProfileName(typedName);
    if (!profile || !name)
        return false;
    profile->name = *name;
    saveProfiles();
    return true;
}

void ProfileService::setHttpsOnly(const ProfileID& profileID, bool on)
{
    BrowserProfile* profile = qv::profileForID(m_profiles, profileID);
    if (!profile || profile->httpsOnly == on)
        return;
    profile->httpsOnly = on;
    saveProfiles();
}

void ProfileService::saveProfileSettings(const BrowserProfile& edited)
{
    BrowserProfile* profile = qv::profileForID(m_profiles, edited.id);
    if (!profile)
        return;
    *profile = edited;
    std::string agent = edited.effectiveUserAgent();
    // Open pages keep what they loaded; their next requests send the new User-Agent.
    for (const Tab& tab : m_services.tabs->browserTabs()) {
        if (tab.profileID() == edited.id && tab.webView())
            webkit_settings_set_user_agent(webkit_web_view_get_settings(tab.webView()),
                agent.empty() ? nullptr : agent.c_str());
    }
    saveProfiles();
}

void ProfileService::setProfileContentBlockers(
    const ProfileID& profileID, const std::vector<std::string>& lists)
{
    BrowserProfile* profile = qv::profileForID(m_profiles, profileID);
    if (!profile || profile->contentBlockers == lists)
        return;
    profile->contentBlockers = lists;
    profile->extra.erase("contentBlockers");
    saveProfiles();
}

} // namespace qv

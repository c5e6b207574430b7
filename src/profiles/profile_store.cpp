// The current profile and its website data store.
#include "app/browser_controller.h"

#include "tabs/tab_model.h"

namespace qv {

void BrowserController::loadProfiles()
{
    std::string stored = m_defaults->stringForKey(kCurrentProfileKey);
    m_currentProfileID = stored.empty() ? kDefaultProfileID : stored;
}

void BrowserController::saveProfiles()
{
    if (auto saved = m_defaults->setObject(kCurrentProfileKey, m_currentProfileID); !saved)
        showError(saved.error());
}

ProfileID BrowserController::currentProfile() const
{
    return m_currentProfileID.empty() ? ProfileID(kDefaultProfileID) : m_currentProfileID;
}

WebKitNetworkSession* BrowserController::websiteDataStoreForProfile(const ProfileID&)
{
    return webkit_network_session_get_default();
}

std::string BrowserController::userAgentForProfile(const ProfileID&) const { return {}; }

void BrowserController::profilesWindowDidChangeCurrentProfile() { }

} // namespace qv

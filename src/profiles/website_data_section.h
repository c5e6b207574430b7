// The profiles window's "Website Data" section: the sites that stored data in the selected
// profile, removing one site's data or all of it, and the profile's tracking prevention.
#pragma once

#include "app/web_views.h"
#include "profiles/profile_model.h"
#include "profiles/website_data_rules.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class ProfileService;

class WebsiteDataSection : public Gtk::Box {
public:
    // clearBrowsingData opens the dialog for the profile shown.
    WebsiteDataSection(ProfileService& profiles, std::function<void(const ProfileID&)> clearBrowsingData);
    ~WebsiteDataSection() override;

    // Shows the profile's sites (read from its session, off the main loop), or nothing.
    void showProfile(const std::optional<ProfileID>& profileID);
    // Reads the sites again.
    void reload();
    // Removes everything the site stored in the profile; false when it is not listed.
    bool removeSite(const std::string& site);
    void removeAllData();

    // For tests and screenshots.
    const std::vector<WebsiteDataRow>& rows() const { return m_rows; }
    unsigned readsFinished() const { return m_readsFinished; }
    Gtk::Switch* trackingPreventionSwitch() const { return m_trackingSwitch; }
    Gtk::Label* statusLabel() const { return m_status; }
    Gtk::ListBox* siteList() const { return m_list; }

private:
    WebKitWebsiteDataManager* dataManager() const;
    void showRows(std::vector<WebsiteDataRow> rows, GList* data);
    void setStatus(const std::string& text);
    void releaseData();

    ProfileService& m_profiles;
    std::function<void(const ProfileID&)> m_clearBrowsingData;
    std::optional<ProfileID> m_profileID;
    Gtk::Switch* m_trackingSwitch = nullptr;
    Gtk::ListBox* m_list = nullptr;
    Gtk::Label* m_status = nullptr;
    Gtk::Button* m_removeAll = nullptr;
    Gtk::Button* m_clear = nullptr;
    std::vector<WebsiteDataRow> m_rows;
    // The engine's records of the sites shown, which removal hands back to it.
    std::map<std::string, std::vector<WebKitWebsiteData*>> m_data;
    bool m_filling = false;
    unsigned m_readGeneration = 0;
    unsigned m_readsFinished = 0;
    Lifetime m_lifetime;
};

} // namespace qv

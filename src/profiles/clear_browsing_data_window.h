// "Clear Browsing Data…": removes the history of a time range and a profile's website data
// of that range.
#pragma once

#include "app/auxiliary_window.h"
#include "app/web_views.h"
#include "profiles/profile_model.h"
#include "profiles/website_data_rules.h"

#include <webkit/webkit.h>

#include <memory>

namespace qv {

class HistoryService;
class ProfileService;

class ClearBrowsingDataWindow : public AuxiliaryWindow {
public:
    ClearBrowsingDataWindow(Shell& shell, ProfileService& profiles, HistoryService& history);
    ~ClearBrowsingDataWindow() override;

    // Sets the window up for the profile; what was ticked stays as the user left it.
    void showForProfile(const ProfileID& profileID);
    // Removes what is ticked; the window closes once the engine has done its part.
    void clearData();

    // For tests.
    Gtk::DropDown* rangeChoice() const { return m_range; }
    Gtk::CheckButton* historyCheck() const { return m_historyCheck; }
    Gtk::CheckButton* siteDataCheck() const { return m_siteData; }
    Gtk::CheckButton* cacheCheck() const { return m_cache; }
    Gtk::Label* statusLabel() const { return m_status; }
    unsigned clearsFinished() const { return m_clearsFinished; }

private:
    struct ClearRequest;
    void runClearings(WebKitWebsiteDataManager* manager, std::unique_ptr<ClearRequest> request);
    void finish(const std::string& failure);

    ProfileService& m_profiles;
    HistoryService& m_history;
    ProfileID m_profileID;
    Gtk::Label* m_profileLabel = nullptr;
    Gtk::DropDown* m_range = nullptr;
    Gtk::CheckButton* m_historyCheck = nullptr;
    Gtk::CheckButton* m_siteData = nullptr;
    Gtk::CheckButton* m_cache = nullptr;
    Gtk::Button* m_clearButton = nullptr;
    Gtk::Label* m_status = nullptr;
    unsigned m_clearsFinished = 0;
    Lifetime m_lifetime;
};

} // namespace qv

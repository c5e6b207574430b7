// The Browser Profiles window: the profile list, the selected profile's settings and its
// website storage editor.
#pragma once

#include "app/auxiliary_window.h"
#include "app/web_views.h"
#include "platform/gobject_ptr.h"
#include "profiles/profile_model.h"
#include "profiles/storage_editor_rules.h"

#include <webkit/webkit.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qv {

class ContentBlockingSection;
class ContentBlockingService;
class HttpsOnlySection;
class TabService;
class ProfileService;
class Shell;
class WebsiteDataSection;

class ProfilesWindow : public AuxiliaryWindow {
public:
    // The storage editor reads and writes a website's keys through a tab of the profile.
    ProfilesWindow(Shell& shell, ProfileService& profiles, TabService& tabs,
        ContentBlockingService& contentBlocking);
    ~ProfilesWindow() override;

    // Rebuilds the list and selects the profile with this ID (nothing selected when absent).
    void reloadProfiles(const std::optional<ProfileID>& select);
    // The profile of the selected row, if any.
    std::optional<ProfileID> selectedProfileID() const;
    // Fills the settings pane from the selected profile and resets the storage section.
    void profileSelectionDidChange();
    // A section of another part of the browser, appended to the settings pane just before
    // "Save Changes"; `selected` hears of the selected profile (nothing when none is) from now.
    using SectionSelection = std::function<void(const std::optional<ProfileID>&)>;
    void addSettingsSection(Gtk::Widget& section, SectionSelection selected);
    // The window is shown again: the list is reloaded and the current profile filled in,
    // unless the user has unsaved edits in the fields.
    void showAgain(const std::optional<ProfileID>& current);

    // What the website data section's "Clear Browsing Data…" opens.
    void setClearBrowsingDataHandler(std::function<void(const ProfileID&)> handler)
    {
        m_clearBrowsingData = std::move(handler);
    }
    WebsiteDataSection* websiteDataSection() const { return m_websiteData; }

    // The window's actions.
    void createProfile(ProfileKind kind = ProfileKind::Persistent);
    void renameProfile();
    void saveProfileSettings();
    void profileUserAgentChoiceChanged();
    void selectCurrentProfile();
    void deleteProfile();

    // The storage editor's actions (profiles/storage_editor.cpp).
    void refreshProfileStorage();
    void saveSelectedProfileStorage();
    void newProfileStorageKey();
    void deleteSelectedProfileStorage();
    void exportSelectedProfileStorage();
    void importProfileStorageFiles();
    // Reads the files (folders searched) off the main loop with progress, then imports them.
    void importProfileStorageURLs(const std::vector<std::filesystem::path>& urls);
    void cancelStorageImport();
    bool importingStorage() const { return m_storageImport != nullptr; }

    // Controls, for tests and the controller.
    Gtk::ColumnView* profilesTable() const { return m_profilesTable; }
    Gtk::Entry* profileNameField() const { return m_profileNameField; }
    Gtk::DropDown* profileUserAgentChoice() const { return m_profileUserAgentChoice; }
    Gtk::Entry* profileUserAgentField() const { return m_profileUserAgentField; }
    Gtk::DropDown* profileSearchEngineChoice() const { return m_profileSearchEngineChoice; }
    Gtk::Label* profileStatusLabel() const { return m_profileStatusLabel; }
    Gtk::Label* profileCurrentLabel() const { return m_profileCurrentLabel; }
    ContentBlockingSection* contentBlockingSection() const { return m_contentBlockingSection; }
    Gtk::DropDown* profileStorageWebsiteChoice() const { return m_storageWebsiteChoice; }
    Gtk::ColumnView* profileStorageTable() const { return m_storageTable; }
    Gtk::Entry* profileStorageKeyField() const { return m_storageKeyField; }
    Gtk::TextView* profileStorageValueEditor() const { return m_storageValueEditor; }
    Gtk::Label* profileStorageStatus() const { return m_storageStatus; }
    HttpsOnlySection* httpsOnlySection() const { return m_httpsOnlySection; }
    Gtk::Button* profileStorageExportButton() const { return m_storageExportButton; }
    const std::vector<StorageEntry>& profileStorageEntries() const { return m_storageEntries; }
    const std::optional<std::string>& profileStorageSelectedWebsite() const
    {
        return m_storageSelectedWebsite;
    }
    const std::optional<std::string>& profileStorageEditingKey() const
    {
        return m_storageEditingKey;
    }
    // Selects the website in the pop-up (which reads its storage) and the given entry rows.
    bool chooseStorageWebsite(const std::string& origin);
    void selectStorageRows(const std::vector<size_t>& rows);
    std::vector<size_t> selectedStorageRows() const;
    // Reads answered so far; tests wait on it.
    unsigned storageReadsFinished() const { return m_storageReadsFinished; }

private:
    Gtk::Widget* makeProfileList();
    Gtk::Widget* makeSettingsPane();
    Gtk::Widget* makeStorageSection();
    void setStatus(const std::string& text);
    void showCurrentLabel();
    const BrowserProfile* selectedProfile() const;

    // Storage editor helpers (profiles/storage_editor.cpp).
    void resetStorageSection();
    void storageEntrySelectionDidChange();
    void reloadStorageTable();
    void setStorageStatus(const std::string& text);
    std::string storageValueText() const;
    void setStorageValueText(const std::string& text);
    void runStorageScript(WebKitWebView* view, const std::string& script,
        std::function<void(bool ok, std::string text)> done);
    bool acceptStorageDrop(const Glib::ValueBase& value);

    Gtk::ColumnView* m_profilesTable = nullptr;
    Glib::RefPtr<Gtk::StringList> m_profileRows; // profile IDs in list order
    Glib::RefPtr<Gtk::SingleSelection> m_profileSelection;
    Gtk::Entry* m_profileNameField = nullptr;
    Gtk::DropDown* m_profileUserAgentChoice = nullptr;
    Gtk::Entry* m_profileUserAgentField = nullptr;
    Gtk::DropDown* m_profileSearchEngineChoice = nullptr;
    Gtk::Label* m_profileStatusLabel = nullptr;
    Gtk::Label* m_profileCurrentLabel = nullptr;
    bool m_reloadingProfiles = false;
    bool m_fillingSettings = false;
    bool m_settingsEdited = false;
    // The profile whose settings the fields show; Save Changes writes only into it.
    std::optional<ProfileID> m_settingsProfile;
    Gtk::Button* m_saveButton = nullptr;
    ContentBlockingService& m_contentBlocking;
    ContentBlockingSection* m_contentBlockingSection = nullptr;
    HttpsOnlySection* m_httpsOnlySection = nullptr;

    Gtk::DropDown* m_storageWebsiteChoice = nullptr;
    Glib::RefPtr<Gtk::StringList> m_storageWebsites;
    Gtk::ColumnView* m_storageTable = nullptr;
    Glib::RefPtr<Gtk::StringList> m_storageRows; // keys in entry order
    Glib::RefPtr<Gtk::MultiSelection> m_storageSelection;
    Gtk::Entry* m_storageKeyField = nullptr;
    Gtk::TextView* m_storageValueEditor = nullptr;
    Gtk::Label* m_storageStatus = nullptr;
    Gtk::Button* m_storageExportButton = nullptr;
    std::vector<StorageEntry> m_storageEntries;
    std::optional<std::string> m_storageSelectedWebsite;
    std::optional<std::string> m_storageEditingKey;
    bool m_rebuildingWebsites = false;
    bool m_reloadingStorage = false;
    // A read answer is used only when it is the latest.
    // A running import: its worker, how far it is and whether it must stop.
    struct StorageImportJob {
        std::thread worker;
        std::atomic<bool> stop { false };
        std::atomic<size_t> read { 0 };
        std::atomic<size_t> total { 0 };
        sigc::connection ticker;

        ~StorageImportJob()
        {
            stop = true;
            ticker.disconnect();
            if (worker.joinable())
                worker.join();
        }
    };
    void finishStorageImport(StorageImport import);
    void watchStorageWebsiteChosenAgain();
    std::unique_ptr<StorageImportJob> m_storageImport;
    Gtk::Box* m_storageImportRow = nullptr;
    Gtk::ProgressBar* m_storageImportProgress = nullptr;
    bool m_storageChoiceChanged = false;
    unsigned m_storageReadGeneration = 0;
    unsigned m_storageReadsFinished = 0;
    // Page scripts and panels that answer late find the window gone.
    Lifetime m_lifetime;
    // Lists the profiles again after the current one changed, keeping the selection if it
    // still exists.
    void currentProfileDidChange();

    WebsiteDataSection* m_websiteData = nullptr;
    std::function<void(const ProfileID&)> m_clearBrowsingData;

    ProfileService& m_profiles;
    TabService& m_tabs;
    std::vector<SectionSelection> m_sections;
};

} // namespace qv

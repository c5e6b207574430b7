// The Browser Profiles window: the list, the settings pane and the profile actions.
#include "profiles/profiles_window.h"

#include "navigation/https_only_section.h"
#include "tabs/tab_service.h"
#include "contentblocking/content_blocking_section.h"
#include "app/view_helpers.h"
#include "profiles/profile_service.h"
#include "profiles/profiles_window_rules.h"
#include "profiles/website_data_section.h"

namespace qv {

namespace {

    constexpr const char* kProfilesCss = R"CSS(
.qv-profiles-title { font-size: 25pt; font-weight: bold; }
.qv-profiles-section { font-size: 19pt; font-weight: 600; }
.qv-profiles-current { font-size: 12pt; font-weight: 600; color: @theme_selected_bg_color; }
.qv-profiles-panel { border-radius: 14px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.6); }
.qv-profile-cell { font-size: 12pt; min-height: 46px; }
.qv-profile-cell.in-use { font-weight: 600; color: @theme_selected_bg_color; }
row:selected .qv-profile-cell.in-use { color: inherit; }
.qv-storage-cell { font-family: monospace; font-size: 11pt; min-height: 20px; }
.qv-storage-note { font-size: 11pt; }
.qv-storage-value { font-family: monospace; font-size: 12pt; }
.qv-danger { color: #e01b24; }
)CSS";

    Gtk::Label* plainLabel(const std::string& text, const char* cssClass = nullptr)
    {
        auto* label = Gtk::make_managed<Gtk::Label>(text);
        label->set_xalign(0);
        if (cssClass)
            label->add_css_class(cssClass);
        return label;
    }

} // namespace

// Shared with the storage section.
Gtk::Button* profileActionButton(
    const char* title, const char* symbol, const char* description, std::function<void()> action)
{
    Gtk::Button* button = titledSymbolButton(title, symbol, description);
    button->set_tooltip_text(description);
    button->signal_clicked().connect(std::move(action));
    return button;
}

ProfilesWindow::ProfilesWindow(Shell& shell, ProfileService& profiles, TabService& tabs,
    ContentBlockingService& contentBlocking)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::Profiles, "Browser Profiles")
    , m_contentBlocking(contentBlocking)
    , m_profiles(profiles)
    , m_tabs(tabs)
{
    m_profiles.signalCurrentProfileChanged().connect(
        sigc::mem_fun(*this, &ProfilesWindow::currentProfileDidChange));
    set_default_size(1160, 800);
    set_size_request(1020, 680);
    addApplicationStyleSheet(kProfilesCss);

    auto* root = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
    root->set_margin(22);
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* titles = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    titles->set_hexpand(true);
    titles->append(*plainLabel("Profiles", "qv-profiles-title"));
    titles->append(
        *secondaryLabel("Each profile keeps its own website data, User-Agent, and search engine."));
    m_profileCurrentLabel = plainLabel("", "qv-profiles-current");
    m_profileCurrentLabel->set_xalign(1);
    m_profileCurrentLabel->set_valign(Gtk::Align::START);
    header->append(*titles);
    header->append(*m_profileCurrentLabel);
    root->append(*header);

    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    split->set_vexpand(true);
    split->set_start_child(*makeProfileList());
    split->set_end_child(*makeSettingsPane());
    split->set_shrink_start_child(false);
    split->set_shrink_end_child(false);
    split->set_resize_start_child(false);
    split->set_position(420);
    root->append(*split);
    set_child(*root);
}

ProfilesWindow::~ProfilesWindow()
{
    m_lifetime.end();
    m_storageImport.reset();
}

Gtk::Widget* ProfilesWindow::makeProfileList()
{
    m_profileRows = Gtk::StringList::create({});
    m_profileSelection = Gtk::SingleSelection::create(m_profileRows);
    m_profileSelection->set_autoselect(false);
    m_profileSelection->set_can_unselect(true);
    m_profileSelection->property_selected().signal_changed().connect([this] {
        if (!m_reloadingProfiles)
            profileSelectionDidChange();
    });
    m_profilesTable = Gtk::make_managed<Gtk::ColumnView>(m_profileSelection);
    m_profilesTable->set_name("profilesTable");

    auto column = [this](const char* title, int width, bool nameColumn) {
        auto factory = Gtk::SignalListItemFactory::create();
        factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto* label = Gtk::make_managed<Gtk::Label>();
            label->set_xalign(0);
            label->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
            label->add_css_class("qv-profile-cell");
            item->set_child(*label);
        });
        factory->signal_bind().connect([this, nameColumn](const Glib::RefPtr<Gtk::ListItem>& item) {
            auto* label = dynamic_cast<Gtk::Label*>(item->get_child());
            auto row = std::dynamic_pointer_cast<Gtk::StringObject>(item->get_item());
            const BrowserProfile* profile
                = row ? m_profiles.profileForID(row->get_string()) : nullptr;
            if (!label || !profile)
                return;
            ProfileListRow view = profileListRow(*profile, m_profiles.currentProfile());
            label->set_text(nameColumn ? view.nameText : view.userAgentText);
            label->set_tooltip_text(nameColumn ? view.nameTooltip : view.userAgentTooltip);
            if (nameColumn && view.inUse)
                label->add_css_class("in-use");
            else
                label->remove_css_class("in-use");
        });
        auto result = Gtk::ColumnViewColumn::create(title, factory);
        result->set_fixed_width(width);
        result->set_resizable(true);
        return result;
    };
    m_profilesTable->append_column(column("PROFILE", 175, true));
    auto userAgentColumn = column("USER-AGENT", 215, false);
    userAgentColumn->set_expand(true);
    m_profilesTable->append_column(userAgentColumn);

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_child(*m_profilesTable);
    scroller->set_vexpand(true);
    auto* panel = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    panel->add_css_class("qv-profiles-panel");
    panel->set_overflow(Gtk::Overflow::HIDDEN);
    panel->set_size_request(360, -1);
    panel->append(*scroller);
    return panel;
}

Gtk::Widget* ProfilesWindow::makeSettingsPane()
{
    auto* stack = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    stack->set_margin(18);
    stack->append(*plainLabel("Profile settings", "qv-profiles-section"));
    stack->append(*plainLabel("Name"));
    m_profileNameField = Gtk::make_managed<Gtk::Entry>();
    m_profileNameField->set_placeholder_text("Profile name");
    setAccessibleLabel(*m_profileNameField, "Profile name");
    stack->append(*m_profileNameField);

    stack->append(*plainLabel("User-Agent"));
    std::vector<Glib::ustring> presets;
    for (std::string_view name : kProfilePresetNames)
        presets.emplace_back(std::string(name));
    m_profileUserAgentChoice = Gtk::make_managed<Gtk::DropDown>(presets);
    setAccessibleLabel(*m_profileUserAgentChoice, "User-Agent");
    m_profileUserAgentChoice->property_selected().signal_changed().connect([this] {
        if (!m_fillingSettings)
            profileUserAgentChoiceChanged();
    });
    stack->append(*m_profileUserAgentChoice);
    m_profileUserAgentField = Gtk::make_managed<Gtk::Entry>();
    m_profileUserAgentField->set_placeholder_text("Enter a custom User-Agent");
    setAccessibleLabel(*m_profileUserAgentField, "Custom User-Agent");
    stack->append(*m_profileUserAgentField);

    stack->append(*plainLabel("Default Search Engine"));
    std::vector<Glib::ustring> engines;
    for (std::string_view name : kSearchEngines)
        engines.emplace_back(std::string(name));
    m_profileSearchEngineChoice = Gtk::make_managed<Gtk::DropDown>(engines);
    setAccessibleLabel(*m_profileSearchEngineChoice, "Default Search Engine");
    stack->append(*m_profileSearchEngineChoice);
    // Any change the user makes to the fields is kept until saved or another profile is chosen.
    auto edited = [this] {
        if (!m_fillingSettings)
            m_settingsEdited = true;
    };
    m_profileNameField->signal_changed().connect(edited);
    m_profileUserAgentField->signal_changed().connect(edited);
    m_profileUserAgentChoice->property_selected().signal_changed().connect(edited);
    m_profileSearchEngineChoice->property_selected().signal_changed().connect(edited);
    stack->append(*secondaryLabel("Cookies, local storage, IndexedDB, and cache are isolated. "
                                  "Chrome/Firefox entries are sample strings; use Other for "
                                  "exact values. WebKit controls other fingerprint values."));

    stack->append(*makeStorageSection());
    m_websiteData = Gtk::make_managed<WebsiteDataSection>(m_profiles, [this](const ProfileID& id) {
        if (m_clearBrowsingData)
            m_clearBrowsingData(id);
    });
    stack->append(*m_websiteData);
    m_contentBlockingSection = Gtk::make_managed<ContentBlockingSection>(m_contentBlocking);
    stack->append(*m_contentBlockingSection);
    m_httpsOnlySection = Gtk::make_managed<HttpsOnlySection>(m_profiles);
    stack->append(*m_httpsOnlySection);

    auto* save = profileActionButton("Save Changes", "object-select-symbolic", "Save Changes",
        [this] { saveProfileSettings(); });
    m_saveButton = save;
    save->add_css_class("suggested-action");
    save->set_halign(Gtk::Align::START);
    stack->append(*save);
    m_profileStatusLabel = secondaryLabel("");
    stack->append(*m_profileStatusLabel);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* use = profileActionButton(
        "Use Profile", "emblem-ok-symbolic", "Use Profile", [this] { selectCurrentProfile(); });
    use->add_css_class("suggested-action");
    buttons->append(*use);
    buttons->append(*profileActionButton(
        "\uFF0B New", "list-add-symbolic", "New Profile", [this] { createProfile(); }));
    buttons->append(*profileActionButton("\uFF0B Private", "view-conceal-symbolic",
        "New Private Profile", [this] { createProfile(ProfileKind::Private); }));
    buttons->append(*profileActionButton(
        "Rename", "document-edit-symbolic", "Rename Profile", [this] { renameProfile(); }));
    auto* remove = profileActionButton(
        "Delete", "user-trash-symbolic", "Delete Profile", [this] { deleteProfile(); });
    remove->add_css_class("qv-danger");
    buttons->append(*remove);
    stack->append(*buttons);

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_child(*stack);
    auto* panel = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    panel->add_css_class("qv-profiles-panel");
    panel->set_overflow(Gtk::Overflow::HIDDEN);
    panel->set_size_request(560, -1);
    scroller->set_vexpand(true);
    panel->append(*scroller);
    return panel;
}

void ProfilesWindow::reloadProfiles(const std::optional<ProfileID>& select)
{
    m_reloadingProfiles = true;
    std::vector<Glib::ustring> ids;
    guint position = GTK_INVALID_LIST_POSITION;
    for (const auto& profile : m_profiles.profiles()) {
        if (select && profile.id == *select)
            position = static_cast<guint>(ids.size());
        ids.emplace_back(profile.id);
    }
    m_profileRows->splice(0, m_profileRows->get_n_items(), ids);
    m_profileSelection->set_selected(position);
    m_reloadingProfiles = false;
    showCurrentLabel();
}

std::optional<ProfileID> ProfilesWindow::selectedProfileID() const
{
    guint position = m_profileSelection->get_selected();
    if (position == GTK_INVALID_LIST_POSITION || position >= m_profileRows->get_n_items())
        return std::nullopt;
    return ProfileID(m_profileRows->get_string(position));
}

const BrowserProfile* ProfilesWindow::selectedProfile() const
{
    auto id = selectedProfileID();
    return id ? m_profiles.profileForID(*id) : nullptr;
}

void ProfilesWindow::setStatus(const std::string& text) { m_profileStatusLabel->set_text(text); }

void ProfilesWindow::showCurrentLabel()
{
    m_profileCurrentLabel->set_text(
        qv::profileCurrentLabel(m_profiles.profiles(), m_profiles.currentProfile()));
}

namespace {

    guint indexIn(auto names, std::string_view name)
    {
        for (guint i = 0; i < names.size(); ++i) {
            if (names[i] == name)
                return i;
        }
        return 0;
    }

    std::optional<std::string_view> choiceTitle(auto names, const Gtk::DropDown& choice)
    {
        guint i = choice.get_selected();
        return i < names.size() ? std::optional(names[i]) : std::nullopt;
    }

} // namespace

void ProfilesWindow::showAgain(const std::optional<ProfileID>& current)
{
    // Fields the user is editing stay as they are, with their profile selected.
    if (m_settingsEdited && m_settingsProfile && m_profiles.profileForID(*m_settingsProfile)) {
        reloadProfiles(m_settingsProfile);
        return;
    }
    reloadProfiles(current);
    profileSelectionDidChange();
}

void ProfilesWindow::addSettingsSection(Gtk::Widget& section, SectionSelection selected)
{
    if (auto* stack = dynamic_cast<Gtk::Box*>(m_saveButton->get_parent()))
        stack->insert_child_after(section, *m_saveButton->get_prev_sibling());
    selected(selectedProfileID());
    m_sections.push_back(std::move(selected));
}

void ProfilesWindow::profileSelectionDidChange()
{
    const BrowserProfile* profile = selectedProfile();
    if (m_contentBlockingSection)
        m_contentBlockingSection->showProfile(profile ? std::optional(profile->id) : std::nullopt);
    for (auto& selected : m_sections)
        selected(profile ? std::optional(profile->id) : std::nullopt);
    if (m_httpsOnlySection)
        m_httpsOnlySection->showProfile(profile ? std::optional<ProfileID>(profile->id) : std::nullopt);
    if (!profile) {
        // The fields no longer belong to a selected profile: nothing can be saved into one.
        m_settingsProfile.reset();
        if (m_saveButton)
            m_saveButton->set_sensitive(false);
        m_websiteData->showProfile(std::nullopt);
        return;
    }
    m_settingsProfile = profile->id;
    m_settingsEdited = false;
    if (m_saveButton)
        m_saveButton->set_sensitive(true);
    ProfileSettingsView view
        = profileSettingsView(*profile, m_profiles.profiles(), m_profiles.currentProfile());
    m_fillingSettings = true;
    m_profileNameField->set_text(view.name);
    m_profileUserAgentChoice->set_selected(indexIn(kProfilePresetNames, view.presetName));
    m_profileUserAgentField->set_text(view.userAgentText);
    m_profileUserAgentField->set_editable(view.userAgentEditable);
    m_profileUserAgentField->set_sensitive(view.userAgentEditable);
    m_profileSearchEngineChoice->set_selected(indexIn(kSearchEngines, view.searchEngine));
    m_fillingSettings = false;
    m_profileCurrentLabel->set_text(view.currentLabel);
    setStatus(view.status);
    if (profile->isPrivate)
        setStatus(view.status + " Private: its website data lives in memory only and is forgotten "
                                "when its last tab closes; its visits, tabs and downloads are not kept.");
    resetStorageSection();
    m_websiteData->showProfile(profile->id);
}

void ProfilesWindow::createProfile(ProfileKind kind)
{
    ProfileID id = m_profiles.createProfile(kind);
    reloadProfiles(id);
    profileSelectionDidChange();
}

void ProfilesWindow::renameProfile()
{
    auto id = selectedProfileID();
    if (!id || !m_profiles.renameProfile(*id, m_profileNameField->get_text()))
        return;
    reloadProfiles(id);
    setStatus(std::string(kProfileRenamedStatus));
}

void ProfilesWindow::saveProfileSettings()
{
    const BrowserProfile* profile = selectedProfile();
    // The fields are saved only into the profile they were filled from.
    if (!profile || profile->id != m_settingsProfile)
        return;
    ProfileID id = profile->id;
    m_profiles.saveProfileSettings(
        profileWithSavedSettings(*profile, m_profileNameField->get_text().raw(),
            choiceTitle(kProfilePresetNames, *m_profileUserAgentChoice),
            m_profileUserAgentField->get_text().raw(),
            choiceTitle(kSearchEngines, *m_profileSearchEngineChoice)));
    reloadProfiles(id);
    m_settingsEdited = false;
    setStatus(std::string(kProfileSavedStatus));
}

void ProfilesWindow::profileUserAgentChoiceChanged()
{
    UserAgentChoiceView view
        = userAgentChoiceView(choiceTitle(kProfilePresetNames, *m_profileUserAgentChoice));
    m_profileUserAgentField->set_text(view.userAgentText);
    m_profileUserAgentField->set_editable(view.userAgentEditable);
    m_profileUserAgentField->set_sensitive(view.userAgentEditable);
    setStatus(view.status);
}

void ProfilesWindow::selectCurrentProfile()
{
    auto id = selectedProfileID();
    if (!id)
        return;
    m_profiles.selectCurrentProfile(*id);
    if (const BrowserProfile* profile = m_profiles.profileForID(*id))
        setStatus(profileNowCurrentStatus(*profile));
    showCurrentLabel();
}

void ProfilesWindow::deleteProfile()
{
    const BrowserProfile* profile = selectedProfile();
    if (!profile)
        return;
    ProfileDeleteDecision decision = profileDeleteDecision(*profile);
    if (decision.refusal) {
        setStatus(*decision.refusal);
        return;
    }
    if (!m_profiles.deleteProfile(profile->id))
        return;
    const auto& profiles = m_profiles.profiles();
    reloadProfiles(profiles.empty() ? std::nullopt : std::optional(profiles.front().id));
    profileSelectionDidChange();
}

void ProfilesWindow::currentProfileDidChange()
{
    std::optional<ProfileID> selected = selectedProfileID();
    if (!selected || !m_profiles.profileForID(*selected)) {
        const auto& profiles = m_profiles.profiles();
        selected = profiles.empty() ? std::nullopt : std::optional(profiles.front().id);
    }
    reloadProfiles(selected);
    // Another profile selected in the fields' place: they show that one now.
    if (selected != m_settingsProfile)
        profileSelectionDidChange();
}

} // namespace qv

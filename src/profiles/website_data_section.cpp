// The website data section: reads and removes a profile's stored website data through its
// session's data manager; the engine does the work off the main loop.
#include "profiles/website_data_section.h"

#include "app/view_helpers.h"
#include "platform/alerts.h"
#include "platform/log.h"
#include "profiles/profile_service.h"

#include <memory>

namespace qv {

static_assert(WEBKIT_WEBSITE_DATA_ALL == WebsiteDataKind::All);
static_assert(WEBKIT_WEBSITE_DATA_COOKIES == WebsiteDataKind::Cookies);
static_assert(WEBKIT_WEBSITE_DATA_SERVICE_WORKER_REGISTRATIONS == WebsiteDataKind::ServiceWorkers);

namespace {

    // An engine answer finds the section gone, or a later read asked for, and is dropped.
    struct DataRequest {
        WebsiteDataSection* section;
        Lifetime::Token alive;
        unsigned generation;
    };

    std::string errorText(GError* error)
    {
        std::string text = error && error->message ? error->message : "unknown error";
        if (error)
            g_error_free(error);
        return text;
    }

} // namespace

WebsiteDataSection::WebsiteDataSection(
    ProfileService& profiles, std::function<void(const ProfileID&)> clearBrowsingData)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8)
    , m_profiles(profiles)
    , m_clearBrowsingData(std::move(clearBrowsingData))
{
    set_name("websiteDataSection");
    auto* title = Gtk::make_managed<Gtk::Label>("Website Data");
    title->set_xalign(0);
    title->add_css_class("qv-profiles-section");
    append(*title);
    append(*secondaryLabel("Sites that stored cookies, local storage, IndexedDB, caches or service "
                           "workers in this profile. Removing a site's data signs you out of it."));

    auto* trackingRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* trackingLabel = Gtk::make_managed<Gtk::Label>("Prevent cross-site tracking");
    trackingLabel->set_xalign(0);
    trackingLabel->set_hexpand(true);
    m_trackingSwitch = Gtk::make_managed<Gtk::Switch>();
    m_trackingSwitch->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*m_trackingSwitch, "Prevent cross-site tracking");
    m_trackingSwitch->property_active().signal_changed().connect([this] {
        if (!m_filling && m_profileID)
            m_profiles.setTrackingPrevention(*m_profileID, m_trackingSwitch->get_active());
    });
    trackingRow->append(*trackingLabel);
    trackingRow->append(*m_trackingSwitch);
    append(*trackingRow);

    m_list = Gtk::make_managed<Gtk::ListBox>();
    m_list->set_selection_mode(Gtk::SelectionMode::NONE);
    m_list->add_css_class("boxed-list");
    auto* placeholder = dimLabel("No website data stored.");
    placeholder->set_margin(12);
    m_list->set_placeholder(*placeholder);
    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_min_content_height(150);
    scroller->set_max_content_height(260);
    scroller->set_propagate_natural_height(true);
    scroller->set_child(*m_list);
    append(*scroller);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
    m_removeAll = titledSymbolButton("Remove All Data", "user-trash-symbolic");
    m_removeAll->add_css_class("qv-danger");
    m_removeAll->signal_clicked().connect([this] { removeAllData(); });
    m_clear = titledSymbolButton("Clear Browsing Data\u2026", "edit-clear-all-symbolic");
    m_clear->signal_clicked().connect([this] {
        if (m_profileID && m_clearBrowsingData)
            m_clearBrowsingData(*m_profileID);
    });
    buttons->append(*m_removeAll);
    buttons->append(*m_clear);
    append(*buttons);
    m_status = secondaryLabel("");
    append(*m_status);
}

WebsiteDataSection::~WebsiteDataSection()
{
    m_lifetime.end();
    releaseData();
}

void WebsiteDataSection::releaseData()
{
    for (auto& [site, records] : m_data)
        for (WebKitWebsiteData* record : records)
            webkit_website_data_unref(record);
    m_data.clear();
}

void WebsiteDataSection::setStatus(const std::string& text) { m_status->set_text(text); }

WebKitWebsiteDataManager* WebsiteDataSection::dataManager() const
{
    if (!m_profileID)
        return nullptr;
    WebKitNetworkSession* session = m_profiles.websiteDataStoreForProfile(*m_profileID);
    return session ? webkit_network_session_get_website_data_manager(session) : nullptr;
}

void WebsiteDataSection::showProfile(const std::optional<ProfileID>& profileID)
{
    const BrowserProfile* profile = profileID ? m_profiles.profileForID(*profileID) : nullptr;
    m_profileID = profile ? std::optional(profile->id) : std::nullopt;
    m_filling = true;
    m_trackingSwitch->set_active(profile && profile->preventsTracking());
    m_filling = false;
    m_trackingSwitch->set_sensitive(profile != nullptr);
    m_removeAll->set_sensitive(profile != nullptr);
    m_clear->set_sensitive(profile != nullptr);
    setStatus("");
    reload();
}

void WebsiteDataSection::reload()
{
    unsigned generation = ++m_readGeneration;
    WebKitWebsiteDataManager* manager = dataManager();
    if (!manager) {
        showRows({}, nullptr);
        return;
    }
    webkit_website_data_manager_fetch(manager, WEBKIT_WEBSITE_DATA_ALL, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<DataRequest> request(static_cast<DataRequest*>(data));
            GError* error = nullptr;
            GList* sites = webkit_website_data_manager_fetch_finish(
                WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
            if (request->alive.expired() || request->generation != request->section->m_readGeneration) {
                g_list_free_full(sites, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
                if (error)
                    g_error_free(error);
                return;
            }
            WebsiteDataSection& section = *request->section;
            if (error) {
                section.setStatus("Could not read the website data: " + errorText(error));
                section.showRows({}, nullptr);
                return;
            }
            std::vector<WebsiteDataRow> rows;
            for (GList* item = sites; item; item = item->next) {
                auto* record = static_cast<WebKitWebsiteData*>(item->data);
                const char* name = webkit_website_data_get_name(record);
                rows.push_back({ name ? name : "", webkit_website_data_get_types(record) });
            }
            section.showRows(std::move(rows), sites);
        },
        new DataRequest { this, m_lifetime.token(), generation });
}

void WebsiteDataSection::showRows(std::vector<WebsiteDataRow> rows, GList* data)
{
    releaseData();
    // The list takes the records the engine handed over; removal gives them back by site.
    for (GList* item = data; item; item = item->next) {
        auto* record = static_cast<WebKitWebsiteData*>(item->data);
        const char* name = webkit_website_data_get_name(record);
        m_data[name ? name : ""].push_back(record);
    }
    g_list_free(data);
    m_rows = websiteDataRows(std::move(rows));
    while (Gtk::Widget* child = m_list->get_first_child())
        m_list->remove(*child);
    for (const WebsiteDataRow& row : m_rows) {
        auto* line = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
        line->set_margin(8);
        auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
        texts->set_hexpand(true);
        auto* site = Gtk::make_managed<Gtk::Label>(row.site);
        site->set_xalign(0);
        site->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        texts->append(*site);
        texts->append(*dimLabel(websiteDataKindsText(row.kinds), 10));
        texts->get_last_child()->set_halign(Gtk::Align::START);
        line->append(*texts);
        auto* remove = titledSymbolButton("Remove", "user-trash-symbolic", "Remove data of " + row.site);
        remove->set_valign(Gtk::Align::CENTER);
        remove->signal_clicked().connect([this, name = row.site] { removeSite(name); });
        line->append(*remove);
        m_list->append(*line);
    }
    ++m_readsFinished;
}

bool WebsiteDataSection::removeSite(const std::string& site)
{
    auto found = m_data.find(site);
    WebKitWebsiteDataManager* manager = dataManager();
    if (found == m_data.end() || !manager)
        return false;
    GList* records = nullptr;
    for (WebKitWebsiteData* record : found->second)
        records = g_list_prepend(records, webkit_website_data_ref(record));
    webkit_website_data_manager_remove(manager, WEBKIT_WEBSITE_DATA_ALL, records, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<DataRequest> request(static_cast<DataRequest*>(data));
            GError* error = nullptr;
            bool removed = webkit_website_data_manager_remove_finish(
                WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
            std::string failure = removed ? "" : errorText(error);
            if (removed && error)
                g_error_free(error);
            if (request->alive.expired())
                return;
            WebsiteDataSection& section = *request->section;
            if (!removed) {
                logLine("Could not remove website data: " + failure);
                section.setStatus("Could not remove the website data: " + failure);
            } else {
                section.setStatus("Website data removed.");
            }
            section.reload();
        },
        new DataRequest { this, m_lifetime.token(), m_readGeneration });
    g_list_free_full(records, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
    setStatus("Removing the data of " + site + "\u2026");
    return true;
}

void WebsiteDataSection::removeAllData()
{
    WebKitWebsiteDataManager* manager = dataManager();
    if (!manager)
        return;
    Confirmation confirmation { "Remove all website data of this profile?",
        "Cookies, local storage, IndexedDB, caches and service workers of every site are removed, "
        "which signs you out of them.",
        { "Remove All Data", "Cancel" }, 0 };
    auto* window = dynamic_cast<Gtk::Window*>(get_root());
    if (!runConfirmationAlert(window ? window->gobj() : nullptr, confirmation))
        return;
    webkit_website_data_manager_clear(manager, WEBKIT_WEBSITE_DATA_ALL, 0, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<DataRequest> request(static_cast<DataRequest*>(data));
            GError* error = nullptr;
            bool cleared = webkit_website_data_manager_clear_finish(
                WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
            std::string failure = cleared ? "" : errorText(error);
            if (cleared && error)
                g_error_free(error);
            if (request->alive.expired())
                return;
            WebsiteDataSection& section = *request->section;
            section.setStatus(cleared ? "All website data of this profile removed."
                                      : "Could not remove the website data: " + failure);
            section.reload();
        },
        new DataRequest { this, m_lifetime.token(), m_readGeneration });
    setStatus("Removing all website data\u2026");
}

} // namespace qv

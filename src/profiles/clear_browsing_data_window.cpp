// The clear-browsing-data window: the history goes through the history service, the website
// data through the profile's session, which removes it off the main loop.
#include "profiles/clear_browsing_data_window.h"

#include "app/view_helpers.h"
#include "history/history_service.h"
#include "platform/log.h"
#include "profiles/profile_service.h"

#include <memory>

namespace qv {

struct ClearBrowsingDataWindow::ClearRequest {
    ClearBrowsingDataWindow* window;
    Lifetime::Token alive;
    std::string failure;
    std::vector<WebsiteDataClearing> clearings;
};

ClearBrowsingDataWindow::ClearBrowsingDataWindow(
    Shell& shell, ProfileService& profiles, HistoryService& history)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::ClearBrowsingData, "Clear Browsing Data")
    , m_profiles(profiles)
    , m_history(history)
{
    set_default_size(440, -1);
    set_resizable(false);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    box->set_margin(20);
    auto* title = Gtk::make_managed<Gtk::Label>("Clear Browsing Data");
    title->set_xalign(0);
    title->add_css_class("title-3");
    box->append(*title);
    m_profileLabel = secondaryLabel("");
    box->append(*m_profileLabel);

    auto* rangeRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    auto* rangeLabel = Gtk::make_managed<Gtk::Label>("Time range");
    rangeLabel->set_hexpand(true);
    rangeLabel->set_xalign(0);
    std::vector<Glib::ustring> ranges;
    for (std::string_view range : kClearRangeTitles)
        ranges.emplace_back(std::string(range));
    m_range = Gtk::make_managed<Gtk::DropDown>(ranges);
    setAccessibleLabel(*m_range, "Time range");
    rangeRow->append(*rangeLabel);
    rangeRow->append(*m_range);
    box->append(*rangeRow);

    m_historyCheck = Gtk::make_managed<Gtk::CheckButton>("Browsing history (shared by all profiles)");
    m_historyCheck->set_active(true);
    m_siteData = Gtk::make_managed<Gtk::CheckButton>("Cookies and site data of this profile");
    m_siteData->set_active(true);
    m_cache = Gtk::make_managed<Gtk::CheckButton>("Cached images and files of this profile");
    m_cache->set_active(true);
    box->append(*m_historyCheck);
    box->append(*m_siteData);
    box->append(*m_cache);
    box->append(*dimLabel("Cookies go whatever their age: the engine does not keep when they were set.", 10));
    box->get_last_child()->set_halign(Gtk::Align::START);
    m_status = secondaryLabel("");
    box->append(*m_status);

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_halign(Gtk::Align::END);
    auto* cancel = Gtk::make_managed<Gtk::Button>("Cancel");
    cancel->signal_clicked().connect([this] { close(); });
    m_clearButton = Gtk::make_managed<Gtk::Button>("Clear Data");
    m_clearButton->add_css_class("destructive-action");
    m_clearButton->signal_clicked().connect([this] { clearData(); });
    buttons->append(*cancel);
    buttons->append(*m_clearButton);
    box->append(*buttons);
    set_child(*box);
}

ClearBrowsingDataWindow::~ClearBrowsingDataWindow() { m_lifetime.end(); }

void ClearBrowsingDataWindow::showForProfile(const ProfileID& profileID)
{
    m_profileID = profileID;
    const BrowserProfile* profile = m_profiles.profileForID(profileID);
    m_profileLabel->set_text("Profile: " + (profile ? profile->name : std::string(kBuiltInProfileName)));
    m_status->set_text("");
    m_clearButton->set_sensitive(true);
}

void ClearBrowsingDataWindow::clearData()
{
    guint chosen = m_range->get_selected();
    auto range = chosen < std::size(kClearRangeTitles) ? static_cast<ClearRange>(chosen) : ClearRange::LastHour;
    std::chrono::seconds span = clearRangeSpan(range);

    std::string historyFailure;
    if (m_historyCheck->get_active()) {
        Result<Done> removed = span.count() == 0
            ? m_history.clear()
            : m_history.deleteVisitsSince(HistoryClock::now() - span);
        if (!removed)
            historyFailure = removed.error();
    }
    auto clearings = websiteDataClearings(range, m_siteData->get_active(), m_cache->get_active());
    WebKitNetworkSession* session
        = clearings.empty() ? nullptr : m_profiles.websiteDataStoreForProfile(m_profileID);
    if (!session) {
        finish(historyFailure);
        return;
    }
    m_clearButton->set_sensitive(false);
    m_status->set_text("Clearing\u2026");
    runClearings(webkit_network_session_get_website_data_manager(session),
        std::make_unique<ClearRequest>(ClearRequest { this, m_lifetime.token(), historyFailure, clearings }));
}

void ClearBrowsingDataWindow::runClearings(
    WebKitWebsiteDataManager* manager, std::unique_ptr<ClearRequest> request)
{
    if (request->clearings.empty()) {
        if (!request->alive.expired())
            finish(request->failure);
        return;
    }
    WebsiteDataClearing next = request->clearings.front();
    request->clearings.erase(request->clearings.begin());
    // The engine takes the span in microseconds; zero is everything.
    GTimeSpan timeSpan = static_cast<GTimeSpan>(next.span.count()) * G_TIME_SPAN_SECOND;
    webkit_website_data_manager_clear(manager, static_cast<WebKitWebsiteDataTypes>(next.kinds), timeSpan,
        nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<ClearRequest> request(static_cast<ClearRequest*>(data));
            auto* manager = WEBKIT_WEBSITE_DATA_MANAGER(source);
            GError* error = nullptr;
            if (!webkit_website_data_manager_clear_finish(manager, result, &error)) {
                std::string reason = error && error->message ? error->message : "unknown error";
                logLine("Could not clear website data: " + reason);
                request->failure += (request->failure.empty() ? "" : " ")
                    + ("Could not clear the website data: " + reason);
            }
            if (error)
                g_error_free(error);
            // The window outlives nothing it started: a closed browser drops the rest.
            if (request->alive.expired())
                return;
            request->window->runClearings(manager, std::move(request));
        },
        request.release());
}

void ClearBrowsingDataWindow::finish(const std::string& failure)
{
    ++m_clearsFinished;
    m_clearButton->set_sensitive(true);
    if (!failure.empty()) {
        m_status->set_text(failure);
        return;
    }
    m_status->set_text("");
    close();
}

} // namespace qv

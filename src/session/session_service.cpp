// The session file, restoring the last session, and the offer to after a crash.
#include "session/session_service.h"

#include "app/browser_window.h"
#include "app/shell.h"
#include "app/view_helpers.h"
#include "base/atomic_file.h"
#include "base/bad_file.h"
#include "history/history_service.h"
#include "platform/log.h"
#include "profiles/profile_service.h"
#include "tabs/tab_list.h"
#include "tabs/tab_service.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

// A burst of changes (a page animating its title, a restore of many tabs) is one write.
constexpr unsigned kSaveDelayMs = 100;
// Reading a tab's back and forward list takes this thread a millisecond or more, so a save
// waits for the pages being loaded, checking this often, but never past kLatestSaveMs after
// the first change it holds: the file is still on disk within a quarter second.
constexpr unsigned kLoadCheckMs = 15;
constexpr unsigned kLatestSaveMs = 190;

constexpr const char* kOfferBarCss = R"CSS(
.qv-session-offer-box { border-radius: 10px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.85); padding: 4px 10px; }
)CSS";

// "Quivel Browser quit unexpectedly." with Restore Session and a close button.
class CrashOfferBar : public Gtk::Revealer {
public:
    CrashOfferBar(std::function<void()> restore)
    {
        set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
        set_transition_duration(120);
        set_name("session-crash-offer");
        addApplicationStyleSheet(kOfferBarCss);
        auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        box->add_css_class("qv-session-offer-box");
        box->set_margin_start(12);
        box->set_margin_end(12);
        box->set_margin_top(6);
        box->set_margin_bottom(4);
        auto* icon = Gtk::make_managed<Gtk::Image>();
        icon->set_from_icon_name("dialog-information-symbolic");
        box->append(*icon);
        auto* label = Gtk::make_managed<Gtk::Label>(
            "Quivel Browser quit unexpectedly. Restore the tabs you had open?");
        label->set_xalign(0);
        label->set_hexpand(true);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        box->append(*label);
        auto* restoreButton = Gtk::make_managed<Gtk::Button>("Restore Session");
        restoreButton->set_name("session-restore");
        restoreButton->add_css_class("suggested-action");
        restoreButton->signal_clicked().connect([this, restore = std::move(restore)] {
            set_reveal_child(false);
            restore();
        });
        box->append(*restoreButton);
        Gtk::Button* close = symbolButton("window-close-symbolic", "Close", 16);
        close->set_name("session-offer-close");
        close->add_css_class("flat");
        close->signal_clicked().connect([this] { set_reveal_child(false); });
        box->append(*close);
        set_child(*box);
    }
};

bool profileStillThere(const ProfileService& profiles, const std::string& id)
{
    return id.empty() || id == kDefaultProfileID || profiles.profileForID(id);
}

} // namespace

SessionService::SessionService(const Services& services)
    : m_services(services)
{
    services.tabs->signalWebViewCreated().connect(sigc::mem_fun(*this, &SessionService::watchWebView));
    services.tabs->signalWebViewReleasing().connect(
        [this](WebKitWebView* view) { g_signal_handlers_disconnect_by_data(webkit_web_view_get_back_forward_list(view), this); });
}

SessionService::~SessionService()
{
    m_lifetime.end();
    m_saveTimer.disconnect();
    if (m_read.valid())
        m_read.wait();
}

fs::path SessionService::sessionFile() const
{
    return m_folder.empty() ? fs::path() : m_folder / kSessionFileName;
}

SessionService::LastRun SessionService::readLastRun(const fs::path& folder)
{
    LastRun run;
    fs::path mark = folder / kRunningMarkName;
    std::error_code ec;
    run.crashed = fs::is_regular_file(fs::symlink_status(mark, ec));
    if (auto marked = writeFileAtomically(mark, "running\n"); !marked)
        logLine("Could not mark the session as running: " + marked.error());

    fs::path file = folder / kSessionFileName;
    FileRead read = readWholeFile(file, kSessionFileLimit);
    if (read.status == ReadStatus::Missing)
        return run;
    std::string problem;
    if (read.status == ReadStatus::Failed) {
        problem = read.error;
    } else {
        Result<Session> session = parseSession(read.contents);
        if (session) {
            run.session = std::move(session.value());
            // Many tabs share an icon: each distinct one is decoded once.
            std::map<std::string, GdkTexture*> decoded;
            for (const SessionTab& tab : run.session->tabs) {
                GdkTexture* icon = nullptr;
                if (!tab.icon.empty()) {
                    auto found = decoded.find(tab.icon);
                    if (found == decoded.end()) {
                        GBytes* bytes = g_bytes_new(tab.icon.data(), tab.icon.size());
                        found = decoded.emplace(tab.icon, gdk_texture_new_from_bytes(bytes, nullptr)).first;
                        g_bytes_unref(bytes);
                    }
                    icon = found->second ? GDK_TEXTURE(g_object_ref(found->second)) : nullptr;
                }
                run.icons.push_back(icon);
            }
            for (auto& [bytes, texture] : decoded)
                if (texture)
                    g_object_unref(texture);
        } else {
            problem = session.error();
        }
    }
    if (!problem.empty()) {
        // Kept byte for byte before this run writes its own session over it.
        Result<fs::path> kept = keepBadFileAside(file, read);
        run.problem = "The last session could not be restored: " + problem
            + (kept ? " It was kept as \u201c" + kept->string() + "\u201d." : " " + kept.error());
    }
    return run;
}

void SessionService::readLastSession(std::function<void()> known)
{
    if (m_read.valid() || m_known || m_knownCallback)
        return;
    m_folder = m_services.history->historyFileURL().parent_path();
    m_knownCallback = std::move(known);
    if (!m_folder.empty()) {
        m_read = std::async(std::launch::async, [folder = m_folder, alive = m_lifetime.token(), self = this] {
            LastRun run = readLastRun(folder);
            runOnMainLoop(alive, [self] {
                self->m_readFinished = true;
                self->adoptWhenReady();
            });
            return run;
        });
    }
    // Many restored tabs take a while to add: the window's first frame goes first.
    BrowserWindow* window = m_services.shell->window();
    if (!window) {
        m_firstFrameShown = true;
        runOnMainLoop(m_lifetime.token(), [this] { adoptWhenReady(); });
        return;
    }
    runAfterNextFrame(GTK_WIDGET(window->gobj()), m_lifetime.token(), [this] {
        m_firstFrameShown = true;
        adoptWhenReady();
    });
}

void SessionService::adoptWhenReady()
{
    if (m_known || !m_firstFrameShown)
        return;
    if (!m_read.valid()) {
        adoptLastRun({});
        return;
    }
    // Once the worker has reported, it is only returning what it read.
    if (m_readFinished)
        adoptLastRun(m_read.get());
}

void SessionService::adoptLastRun(LastRun run)
{
    m_known = true;
    m_lastRunCrashed = run.crashed;
    m_lastSession = std::move(run.session);
    for (GdkTexture* icon : run.icons)
        m_lastSessionIcons.push_back(icon ? Glib::wrap(icon, false) : Glib::RefPtr<Gdk::Texture>());
    if (run.problem)
        m_services.shell->showError(*run.problem);
    if (m_saveWanted)
        scheduleSave();
    m_availabilityChanged.emit();
    if (auto known = std::move(m_knownCallback))
        known();
}

bool SessionService::canRestorePreviousSession() const
{
    return m_lastSession && !m_lastSessionRestored && !m_lastSession->tabs.empty();
}

bool SessionService::restorePreviousSession()
{
    if (!canRestorePreviousSession())
        return false;
    m_lastSessionRestored = true;
    if (m_offerBar)
        m_offerBar->set_reveal_child(false);
    std::vector<RestoredTab> tabs;
    std::optional<size_t> selected;
    for (size_t i = 0; i < m_lastSession->tabs.size(); ++i) {
        SessionTab& from = m_lastSession->tabs[i];
        // A deleted profile took its website data with it; its tabs do not come back.
        if (!profileStillThere(*m_services.profiles, from.profileID))
            continue;
        if (m_lastSession->selected == i)
            selected = tabs.size();
        tabs.push_back({ from.profileID.empty() ? kDefaultProfileID : from.profileID, from.url,
            from.title, from.lazy, from.zoom, std::move(from.state),
            i < m_lastSessionIcons.size() ? m_lastSessionIcons[i] : Glib::RefPtr<Gdk::Texture>() });
    }
    m_lastSession.reset();
    m_lastSessionIcons.clear();
    m_availabilityChanged.emit();
    if (tabs.empty())
        return false;
    m_services.tabs->restoreTabs(std::move(tabs), selected);
    return true;
}

void SessionService::offerRestoreAfterCrash()
{
    BrowserWindow* window = m_services.shell->window();
    if (!window || !canRestorePreviousSession())
        return;
    if (!m_offerBar) {
        auto* bar = Gtk::make_managed<CrashOfferBar>([this] { restorePreviousSession(); });
        window->addBarUnderToolbar(*bar);
        m_offerBar = bar;
    }
    m_offerBar->set_reveal_child(true);
}

void SessionService::watchWebView(WebKitWebView* view)
{
    g_signal_connect_swapped(webkit_web_view_get_back_forward_list(view), "changed",
        G_CALLBACK(+[](SessionService* self, WebKitBackForwardListItem*, gpointer, WebKitBackForwardList* list) {
            self->backForwardListChanged(list);
        }),
        this);
}

void SessionService::backForwardListChanged(WebKitBackForwardList* list)
{
    for (Tab& tab : m_services.tabs->tabList()) {
        if (tab.webView() && webkit_web_view_get_back_forward_list(tab.webView()) == list) {
            tab.markSessionStateStale();
            scheduleSave();
            return;
        }
    }
}

void SessionService::scheduleSave()
{
    if (m_final)
        return;
    if (!m_known) {
        m_saveWanted = true;
        return;
    }
    if (m_saveTimer.connected() || m_folder.empty())
        return;
    auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLatestSaveMs);
    // True while the save still waits for a load.
    auto waitOrSave = [this, due] {
        if (aPageIsLoading() && std::chrono::steady_clock::now() < due)
            return true;
        save();
        return false;
    };
    m_saveTimer = Glib::signal_timeout().connect(
        [this, waitOrSave] {
            if (waitOrSave())
                m_saveTimer = Glib::signal_timeout().connect(waitOrSave, kLoadCheckMs);
            return false;
        },
        kSaveDelayMs);
}

bool SessionService::aPageIsLoading() const
{
    for (const Tab& tab : m_services.tabs->tabList()) {
        if (tab.webView() && webkit_web_view_is_loading(tab.webView()))
            return true;
    }
    return false;
}

void SessionService::saveFinalSession()
{
    if (m_final)
        return;
    m_saveTimer.disconnect();
    if (m_known && !m_folder.empty())
        save();
    m_final = true;
}

void SessionService::save()
{
    m_saveTimer.disconnect();
    TabList& list = m_services.tabs->tabList();
    std::vector<SessionTab> tabs;
    std::vector<Glib::RefPtr<Gdk::Texture>> icons;
    tabs.reserve(list.size());
    std::optional<size_t> selected;
    for (Tab& tab : list) {
        // A private profile's pages are never written down.
        if (m_services.profiles->isPrivateProfile(tab.profileID()))
            continue;
        WebKitWebView* view = tab.webView();
        if (view && tab.sessionStateStale())
            tab.setSessionState(webViewSessionState(view));
        std::string url = webViewURI(view);
        if (url.empty())
            url = tab.url();
        url = m_services.devtools->localCopies().lastingAddress(url);
        // A tab that never had a page (or shows one of ours) has nothing to come back to.
        if (!restorableSessionAddress(url))
            continue;
        if (&tab == list.selected())
            selected = tabs.size();
        std::string title = webViewTitle(view);
        // A load that never got as far as a title leaves nothing worth showing.
        if (title.empty() && tab.title() != kLoadingTitle)
            title = tab.title();
        tabs.push_back({ tab.profileID(), url, title, tab.lazy(),
            view ? webkit_web_view_get_zoom_level(view) : tab.zoomLevel(), tab.sessionState(), {} });
        icons.push_back(tab.favicon());
    }
    // The text, and the base64 of every state, are made on the writer's thread.
    m_services.shell->fileWriter().submitMade(sessionFile(),
        [tabs = std::move(tabs), icons = std::move(icons), selected, cache = m_iconCache]() mutable
            -> Result<std::string> {
            std::lock_guard lock(cache->mutex);
            std::map<const GdkTexture*, std::pair<Glib::RefPtr<Gdk::Texture>, std::string>> used;
            std::vector<std::string> entries;
            entries.reserve(tabs.size());
            for (size_t i = 0; i < tabs.size(); ++i) {
                if (const Glib::RefPtr<Gdk::Texture>& icon = icons[i]) {
                    auto found = cache->encoded.find(icon->gobj());
                    if (found == cache->encoded.end()) {
                        GBytes* png = gdk_texture_save_to_png_bytes(icon->gobj());
                        gsize size = 0;
                        const auto* data = static_cast<const char*>(g_bytes_get_data(png, &size));
                        std::string bytes = size <= kMaxSessionIconBytes ? std::string(data, size) : "";
                        g_bytes_unref(png);
                        found = cache->encoded.emplace(icon->gobj(), std::make_pair(icon, std::move(bytes))).first;
                    }
                    tabs[i].icon = found->second.second;
                    used.insert(*found);
                }
                entries.push_back(sessionTabJson(tabs[i]));
            }
            cache->encoded.swap(used);
            return sessionJson(entries, selected);
        },
        {}, std::chrono::milliseconds(0));
}

void SessionService::quitNormally()
{
    // The worker may still be setting the mark.
    if (m_read.valid())
        m_read.wait();
    if (m_folder.empty())
        return;
    std::error_code ec;
    fs::remove(m_folder / kRunningMarkName, ec);
}

} // namespace qv

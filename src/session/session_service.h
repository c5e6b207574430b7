// The session service: the session file kept current while the browser runs, the last run's
// session brought back at launch or from the menu, and the offer to do so after a crash.
#pragma once

#include "app/services.h"
#include "app/web_views.h"
#include "session/session_file.h"

#include <gtkmm.h>
#include <sigc++/sigc++.h>

#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class SessionService : public sigc::trackable {
public:
    explicit SessionService(const Services& services);
    ~SessionService();
    SessionService(const SessionService&) = delete;
    SessionService& operator=(const SessionService&) = delete;

    // Reads the last session, and whether the last run ended without quitting, on a worker,
    // and marks this run as running; `known` runs on the main loop once both are known and the
    // window's first frame is on screen. Until then nothing is written over the last session.
    void readLastSession(std::function<void()> known);
    bool lastSessionKnown() const { return m_known; }
    bool lastRunCrashed() const { return m_lastRunCrashed; }
    // The last session held tabs that have not been brought back in this run.
    bool canRestorePreviousSession() const;
    // Opens the last session's tabs after the open ones, skipping profiles deleted since; false
    // when none came back.
    bool restorePreviousSession();
    sigc::signal<void()>& signalRestoreAvailabilityChanged() { return m_availabilityChanged; }

    // Offers, in a bar of the browser window, to restore the session a crash ended.
    void offerRestoreAfterCrash();
    Gtk::Revealer* crashOfferBar() const { return m_offerBar; }

    // The tabs changed: the file is written a moment later with every change until then.
    void scheduleSave();
    // The window closes: the session as it stands now, and nothing after it.
    void saveFinalSession();
    // A normal quit, once the files are written: the mark goes, so the next launch knows this
    // run ended well.
    void quitNormally();

    std::filesystem::path sessionFile() const;

private:
    bool aPageIsLoading() const;
    struct LastRun {
        std::optional<Session> session;
        // Each tab's icon, decoded on the worker: a reference or nullptr, as many as tabs.
        std::vector<GdkTexture*> icons;
        std::optional<std::string> problem;
        bool crashed = false;
    };
    static LastRun readLastRun(const std::filesystem::path& folder);
    void adoptWhenReady();
    void adoptLastRun(LastRun run);
    void watchWebView(WebKitWebView* view);
    void backForwardListChanged(WebKitBackForwardList* list);
    void save();

    const Services& m_services;
    std::filesystem::path m_folder;
    std::future<LastRun> m_read;
    std::function<void()> m_knownCallback;
    bool m_known = false;
    bool m_firstFrameShown = false;
    bool m_readFinished = false;
    bool m_lastRunCrashed = false;
    std::optional<Session> m_lastSession;
    std::vector<Glib::RefPtr<Gdk::Texture>> m_lastSessionIcons;
    // PNG bytes of the icons the last write used, so an icon is encoded once, on the writer's
    // thread.
    struct IconCache {
        std::mutex mutex;
        std::map<const GdkTexture*, std::pair<Glib::RefPtr<Gdk::Texture>, std::string>> encoded;
    };
    std::shared_ptr<IconCache> m_iconCache = std::make_shared<IconCache>();
    bool m_lastSessionRestored = false;
    bool m_saveWanted = false;
    bool m_final = false;
    sigc::connection m_saveTimer;
    Gtk::Revealer* m_offerBar = nullptr;
    sigc::signal<void()> m_availabilityChanged;
    Lifetime m_lifetime;
};

} // namespace qv

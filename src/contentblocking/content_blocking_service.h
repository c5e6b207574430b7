// The content-blocker lists: added from files, compiled once into the engine's store, attached
// to the content managers of each profile's browser tabs, and the per-site allowance.
#pragma once

#include "app/web_views.h"
#include "base/result.h"
#include "platform/gobject_ptr.h"
#include "profiles/profile_model.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Gtk {
class Widget;
}

namespace qv {

struct Services;
class ContentBlockingButton;
class ElementHidingTable;

inline constexpr const char* kContentBlockersFolder = "ContentBlockers";

struct ContentBlockerListInfo {
    std::string identifier;
    std::string name;
    size_t ruleCount = 0;
    size_t skippedCount = 0;
};

// What the shield in the address capsule shows for the selected page.
struct BlockingPageState {
    // The page's profile uses a compiled list.
    bool shown = false;
    ProfileID profile;
    std::string host;
    bool allowed = false;
    unsigned blocked = 0;
};

class ContentBlockingService : public sigc::trackable {
public:
    explicit ContentBlockingService(const Services& services);
    ~ContentBlockingService();
    ContentBlockingService(const ContentBlockingService&) = delete;
    ContentBlockingService& operator=(const ContentBlockingService&) = delete;

    // Reads the list index and the allowed sites, and loads each list from the compiled store,
    // compiling only what the store lacks.
    void start();

    const std::vector<ContentBlockerListInfo>& lists() const { return m_lists; }
    // The list is compiled and can be attached.
    bool listReady(const std::string& identifier) const { return m_filters.contains(identifier); }
    // Reads and converts the file and writes the engine rules off the UI thread, then compiles
    // them; `done` gets the new list or the reason it was refused.
    void addListFromFile(const std::filesystem::path& file,
        std::function<void(Result<ContentBlockerListInfo>)> done);
    void removeList(const std::string& identifier);

    bool listUsedInProfile(const ProfileID& profile, const std::string& identifier) const;
    void setListUsedInProfile(const ProfileID& profile, const std::string& identifier, bool used);

    bool siteAllowed(const ProfileID& profile, const std::string& host) const;
    // Stores the allowance and reloads the selected page when it is on that host, so what was
    // blocked loads now.
    void setSiteAllowed(const ProfileID& profile, const std::string& host, bool allowed);

    BlockingPageState selectedPageState() const;
    unsigned blockedCountForWebView(WebKitWebView* view) const;
    // The lists attached to the view's content manager now.
    std::set<std::string> attachedLists(WebKitWebView* view) const;

    // The shield with its popover, made on first use.
    Gtk::Widget& shieldButton();
    ContentBlockingButton* shieldButtonWidget() const { return m_button; }

    // Lists added, removed, compiled or used differently.
    sigc::signal<void()>& signalListsChanged() { return m_listsChanged; }
    // The selected page's shield state may differ.
    sigc::signal<void()>& signalPageStateChanged() { return m_pageStateChanged; }

    // How long the last compile and the last load from the store took, in milliseconds.
    double lastCompileMilliseconds() const { return m_lastCompileMilliseconds; }
    double lastLoadMilliseconds() const { return m_lastLoadMilliseconds; }

    // Called by the engine's message handler for the counting script.
    void blockedLoadReported(WebKitUserContentManager* content, JSCValue* value);
    void webViewLoadChanged(WebKitWebView* view, WebKitLoadEvent event);

private:
    struct ViewState {
        ProfileID profile;
        WebKitUserContentManager* content = nullptr;
        std::set<std::string> attached;
        std::string host;
        unsigned blocked = 0;
        SignalConnection loadChanged;
    };

    std::filesystem::path folder() const;
    void readIndex();
    void saveIndex();
    void readAllowedSites();
    void saveAllowedSites();
    void loadOrCompile(const std::string& identifier, std::shared_ptr<const ElementHidingTable> hiding);
    // Moves the list's generic hiding into its own file and table, and compiles the rest.
    void compile(const std::string& identifier, std::function<void(const GError*)> done);
    void compileEngineRules(const std::string& identifier, const std::string& rules,
        std::shared_ptr<const ElementHidingTable> hiding, std::function<void(const GError*)> done);
    void filterReady(const std::string& identifier, WebKitUserContentFilter* filter);
    void deleteListFiles(const std::string& identifier);
    std::string hidingStyleFor(WebKitUserContentManager* content, const std::vector<std::string>& tokens) const;
    void webViewCreated(WebKitWebView* view);
    void webViewReleasing(WebKitWebView* view);
    ProfileID profileOfWebView(WebKitWebView* view) const;
    std::vector<std::string> profileLists(const ProfileID& profile) const;
    void applyFilters(ViewState& state);
    void applyFiltersEverywhere();

    const Services& m_services;
    GObjectPtr<WebKitUserContentFilterStore> m_store;
    std::vector<ContentBlockerListInfo> m_lists;
    std::map<std::string, std::shared_ptr<WebKitUserContentFilter>> m_filters;
    // The allowed hosts of each profile.
    std::map<ProfileID, std::set<std::string>> m_allowedSites;
    std::map<WebKitWebView*, ViewState> m_views;
    std::map<std::string, std::shared_ptr<const ElementHidingTable>> m_hidingTables;
    struct PageScripts;
    std::map<WebKitUserContentManager*, std::unique_ptr<PageScripts>> m_pageScripts;
    std::future<void> m_hidingRead;
    ContentBlockingButton* m_button = nullptr;
    double m_lastCompileMilliseconds = 0;
    double m_lastLoadMilliseconds = 0;
    sigc::signal<void()> m_listsChanged;
    sigc::signal<void()> m_pageStateChanged;
    Lifetime m_lifetime;
};

} // namespace qv

// The extension service: the installed extensions, the web view each enabled one runs in, its
// permissions and bridge, the events sent to it, the activity reporter of browser tabs, and
// installing, exporting and deleting extensions.
#pragma once

#include "app/sender.h"
#include "app/web_views.h"
#include "extensions/bridge_dispatcher.h"
#include "extensions/extension_events.h"
#include "extensions/extension_manifest.h"
#include "extensions/user_activity_limiter.h"
#include "platform/gobject_ptr.h"

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace qv {

struct Services;

class ExtensionService {
public:
    explicit ExtensionService(const Services& services);
    ~ExtensionService();
    ExtensionService(const ExtensionService&) = delete;
    ExtensionService& operator=(const ExtensionService&) = delete;

    void loadExtensions();
    bool extensionsLoaded() const { return m_extensionsLoaded; }
    void stopAllExtensionWebViews();
    // Starts the enabled extensions that are not running yet; each may ask for its permissions.
    void startEnabledExtensions();
    void emitExtensionEvent(const std::string& name, const Json& detail);
    bool isExtensionWebView(WebKitWebView* webView) const;
    // Reply of the user-activity reporter's message; also feeds "page.userInteraction".
    Json handleUserActivityMessage(WebKitWebView* webView, const Json& detail);
    // A browser tab's activity reporter posted a message through its content manager.
    gboolean userActivityMessageReceived(
        WebKitUserContentManager* manager, JSCValue* message, WebKitScriptMessageReply* reply);
    // Tells the activity reporter of the page just committed in `view` which tab it is in.
    void markActivityReporter(WebKitWebView* view);
    // A browser tab's new content manager gets the reporter while one is wanted.
    void addActivityReporterTo(WebKitUserContentManager* content);
    // Runtime host; a sender's identifier is the ExtensionID.
    void openExtension(const Sender& sender);
    void toggleExtension(const Sender& sender);
    bool requestPermissionsForExtension(const ExtensionID& id);
    bool extensionHasPermission(const ExtensionID& id, std::string_view name) const;
    // Installation and removal.
    void installExtensionFromButton(const Sender& sender);
    void installExtensionArchive(const std::filesystem::path& archive);
    void addExtensionFromURL(const Sender& sender);
    void exportSelectedExtension(const Sender& sender);
    void deleteExtension(const Sender& sender);

    // The manager's selection: the extension shown, and whether its settings are.
    void selectExtension(const Sender& sender);
    void showExtensionSettings();
    const std::string& selectedExtensionID() const { return m_selectedExtensionID; }
    bool extensionSettingsVisible() const { return m_extensionSettingsVisible; }

    const std::map<ExtensionID, ExtensionRecord>& extensions() const { return m_extensions; }
    const std::map<ExtensionID, GObjectPtr<WebKitWebView>>& extensionWebViews() const
    {
        return m_extensionWebViews;
    }
    const std::map<WebKitWebView*, ExtensionID>& extensionIDByWebView() const
    {
        return m_extensionIDByWebView;
    }
    const std::set<ExtensionID>& enabledExtensionIDs() const { return m_enabledExtensionIDs; }
    // Why the extension was turned off by the browser rather than the user ("" when it was
    // not); kept until it is turned on again.
    std::string extensionStopMessage(const ExtensionID& id) const;
    ExtensionEventSubscriptions& extensionEventSubscriptions()
    {
        return m_extensionEventSubscriptions;
    }

    // The set, a running state or the selection changed: the manager shows it again.
    sigc::signal<void()>& signalChanged() { return m_changed; }
    // Only the selected extension's pane needs showing again.
    sigc::signal<void()>& signalSelectionChanged() { return m_selectionChanged; }
    // An extension is opened before the manager was ever shown: it is made first.
    sigc::signal<void()>& signalManagerNeeded() { return m_managerNeeded; }

private:
    GObjectPtr<WebKitWebView> newExtensionWebView(const std::string& bridgeScript);
    // Stops the web view, disconnects our signals, unregisters the bridge and forgets it.
    void stopExtensionWebView(const ExtensionID& id);
    // Stops it and takes it out of the enabled set, as the manager's switch does.
    void turnExtensionOff(const ExtensionID& id);
    void extensionWebViewProcessTerminated(
        WebKitWebView* webView, WebKitWebProcessTerminationReason reason);
    void saveEnabledExtensionIDs();
    std::optional<ExtensionID> extensionIDForContentManager(WebKitUserContentManager* manager) const;
    GtkWindow* extensionAlertParent() const;
    // Puts the reporter into every tab, or takes it out, as running extensions need it.
    void updateActivityReporters();
    WebKitUserScript* activityReporterScript();
    bool managerShown() const;
    gboolean extensionBridgeMessageReceived(
        WebKitUserContentManager* manager, JSCValue* message, WebKitScriptMessageReply* reply);
    gboolean extensionWebViewDecidePolicy(
        WebKitWebView* webView, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    GtkWidget* extensionWebViewCreate(WebKitWebView* webView, WebKitNavigationAction* action);

    const Services& m_services;
    bool m_extensionsLoaded = false;
    std::map<ExtensionID, ExtensionRecord> m_extensions;
    std::map<ExtensionID, GObjectPtr<WebKitWebView>> m_extensionWebViews;
    std::map<WebKitWebView*, ExtensionID> m_extensionIDByWebView; // keys do not own
    ExtensionEventSubscriptions m_extensionEventSubscriptions;
    std::set<ExtensionID> m_enabledExtensionIDs;
    std::map<ExtensionID, std::string> m_stopMessages;
    std::unique_ptr<BridgeHost> m_bridgeHost;
    UserActivityRateLimiter m_userActivityLimiter;
    bool m_activityReporting = false;
    std::unique_ptr<WebKitUserScript, decltype(&webkit_user_script_unref)> m_activityScript {
        nullptr, webkit_user_script_unref
    };
    std::string m_selectedExtensionID;
    bool m_extensionSettingsVisible = false;
    sigc::signal<void()> m_changed;
    sigc::signal<void()> m_selectionChanged;
    sigc::signal<void()> m_managerNeeded;
    // Work queued for a later turn is dropped once the service has gone.
    Lifetime m_lifetime;
};

} // namespace qv

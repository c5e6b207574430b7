// Running extensions: loading the set, their web views and bridge, permissions and events.
#include "extensions/extension_service.h"

#include "app/auxiliary_window.h"
#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "profiles/profile_service.h"
#include "app/web_views.h"

#include "base/atomic_file.h"
#include "base/url.h"
#include "extensions/bridge_host_adapter.h"
#include "extensions/extension_permissions.h"
#include "extensions/extension_runtime_rules.h"
#include "platform/alerts.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

#include <memory>

namespace qv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kInstallScript = "globalThis.__qvInstall({bridgeName:'qvBridge'});";

fs::path bridgeClientLocation()
{
    std::error_code ec;
    fs::path bundled = resourcesDirectory() / "qv.js";
    if (fs::exists(bundled, ec))
        return bundled;
    return fs::current_path(ec) / "qv.js";
}

fs::path bundledExtensionsLocation()
{
    std::error_code ec;
    fs::path bundled = resourcesDirectory() / "Extensions";
    if (fs::exists(bundled, ec))
        return bundled;
    return fs::current_path(ec) / "extensions";
}

// Replies go back through the message's own channel; both handles are kept until then.
BridgeReplyHandler scriptMessageReplyHandler(WebKitScriptMessageReply* reply, JSCContext* context)
{
    std::shared_ptr<WebKitScriptMessageReply> channel(
        webkit_script_message_reply_ref(reply), webkit_script_message_reply_unref);
    auto jsContext = GObjectPtr<JSCContext>::retain(context);
    return [channel, jsContext](const BridgeReply& answer) {
        JSCValue* value = jsc_value_new_from_json(jsContext.get(), answer.text().c_str());
        webkit_script_message_reply_return_value(channel.get(), value);
        g_object_unref(value);
    };
}

} // namespace

Json jsonFromScriptValue(JSCValue* value)
{
    if (!value)
        return nullptr;
    // One call into the engine: each takes its lock, and releasing it is not free.
    char* text = jsc_value_to_json(value, 0);
    if (!text)
        return nullptr; // undefined, functions and symbols have no JSON form
    Json parsed = parseEngineJson(text).value_or(Json());
    g_free(text);
    return parsed;
}

ExtensionService::ExtensionService(const Services& services)
    : m_services(services)
{
    // Every start and stop of an extension is told through it.
    m_changed.connect(sigc::mem_fun(*this, &ExtensionService::updateActivityReporters));
}

ExtensionService::~ExtensionService() { stopAllExtensionWebViews(); }

void ExtensionService::loadExtensions()
{
    // A reload must not leave web views running that the new maps do not know.
    std::vector<ExtensionID> wereRunning;
    for (const auto& entry : m_extensionWebViews)
        wereRunning.push_back(entry.first);
    stopAllExtensionWebViews();

    m_extensions.clear();
    m_extensionWebViews.clear();
    m_extensionIDByWebView.clear();
    m_extensionEventSubscriptions.clear();
    m_enabledExtensionIDs
        = extensionIDSetFromDefaults(m_services.shell->defaults().objectForKey(kEnabledExtensionsKey));
    m_extensionsLoaded = true;
    if (!m_bridgeHost)
        m_bridgeHost = std::make_unique<ServicesBridgeHost>(m_services);

    std::error_code ec;
    fs::path store = extensionStoreURL();
    if (!fs::exists(store, ec))
        fs::create_directories(store, ec);
    copyBundledExtensions(bundledExtensionsLocation(), store,
        extensionIDSetFromDefaults(m_services.shell->defaults().objectForKey(kDeletedBundledExtensionsKey)));
    if (!fs::exists(store, ec))
        store = fs::current_path(ec) / "extensions";
    ExtensionLoad load = loadExtensionRecords(store);
    for (const std::string& line : load.logLines)
        logLine(line);
    m_extensions = std::move(load.extensions);

    if (wereRunning.empty())
        return;
    // Restarting must not move the manager's selection to whichever extension came last.
    std::string selected = m_selectedExtensionID;
    bool settingsVisible = m_extensionSettingsVisible;
    for (const ExtensionID& id : wereRunning) {
        if (m_enabledExtensionIDs.count(id) && m_extensions.count(id))
            openExtension(Sender::identified(id));
    }
    m_selectedExtensionID = selected;
    m_extensionSettingsVisible = settingsVisible && m_extensions.count(selected);
    m_changed.emit();
}

bool ExtensionService::isExtensionWebView(WebKitWebView* webView) const
{
    return webView && m_extensionIDByWebView.count(webView);
}

bool ExtensionService::extensionHasPermission(const ExtensionID& id, std::string_view name) const
{
    auto it = m_extensions.find(id);
    if (it == m_extensions.end())
        return false;
    auto granted
        = grantedPermissionsFromDefaults(m_services.shell->defaults().valueForKey(kExtensionPermissionsKey), id);
    return qv::extensionHasPermission(it->second, granted, name);
}

bool ExtensionService::requestPermissionsForExtension(const ExtensionID& id)
{
    auto it = m_extensions.find(id);
    if (it == m_extensions.end())
        return false;
    Json dictionary = m_services.shell->defaults().objectForKey(kExtensionPermissionsKey);
    auto missing = missingPermissions(it->second, grantedPermissionsFromDefaults(dictionary, id));
    if (missing.empty())
        return true;
    int answer = runModalAlert(extensionAlertParent(),
        { permissionPromptMessage(it->second.name()), permissionPromptInformativeText(missing),
            { "Deny", "Allow" } });
    if (answer != 1)
        return false;
    m_services.shell->setDefaultsValue(kExtensionPermissionsKey, withGrantedPermissions(dictionary, id, missing));
    return true;
}

void ExtensionService::saveEnabledExtensionIDs()
{
    m_services.shell->setDefaultsValue(kEnabledExtensionsKey, extensionIDSetToDefaults(m_enabledExtensionIDs));
}

void ExtensionService::openExtension(const Sender& sender)
{
    const ExtensionID id = sender.identifier;
    if (m_extensionWebViews.count(id)) {
        if (m_selectedExtensionID != id)
            m_extensionSettingsVisible = false;
        m_selectedExtensionID = id;
        m_changed.emit();
        return;
    }
    // A start that does not happen is told too: a switch the user turned on goes back off.
    if (!m_extensions.count(id) || !requestPermissionsForExtension(id)) {
        m_changed.emit();
        return;
    }
    if (m_selectedExtensionID != id)
        m_extensionSettingsVisible = false;
    m_selectedExtensionID = id;

    // Packagers may install resources as links.
    FileRead script
        = readWholeFile(bridgeClientLocation(), kMaxResourceFileBytes, FileLinks::Follow);
    if (script.status != ReadStatus::Ok) {
        m_services.shell->showError("Cannot load qv.js: "
            + (script.status == ReadStatus::Missing ? std::string("No such file or directory")
                                                    : script.error));
        m_changed.emit();
        return;
    }
    // The manager is built before the web view is registered: building it reloads the
    // extension set, which would otherwise stop this web view straight away. Building it also
    // starts the enabled extensions, which may include this one.
    if (!managerShown()) {
        m_managerNeeded.emit();
        if (m_extensionWebViews.count(id)) {
            m_selectedExtensionID = id;
            m_changed.emit();
            return;
        }
    }
    auto record = m_extensions.find(id);
    if (record == m_extensions.end())
        return;

    GObjectPtr<WebKitWebView> view = newExtensionWebView(script.contents);
    m_stopMessages.erase(id);
    m_extensionWebViews[id] = view;
    m_extensionIDByWebView[view.get()] = id;
    m_enabledExtensionIDs.insert(id);
    saveEnabledExtensionIDs();
    m_changed.emit();

    const ExtensionRecord& extension = record->second;
    if (extension.isWebsite() && !extension.websiteURL().empty()) {
        webkit_web_view_load_uri(view.get(), extension.websiteURL().c_str());
    } else if (extension.entryURL) {
        // Sub-resources of file pages load without further grants; the navigation fence keeps
        // every frame inside the folder.
        std::string entry = fileURLFromPath(*extension.entryURL);
        webkit_web_view_load_uri(view.get(), entry.c_str());
    }
}

void ExtensionService::toggleExtension(const Sender& sender)
{
    const ExtensionID id = sender.identifier;
    if (m_enabledExtensionIDs.count(id)) {
        turnExtensionOff(id);
        return;
    }
    m_extensionSettingsVisible = false;
    m_selectedExtensionID = id;
    openExtension(sender);
}

void ExtensionService::turnExtensionOff(const ExtensionID& id)
{
    stopExtensionWebView(id);
    m_enabledExtensionIDs.erase(id);
    saveEnabledExtensionIDs();
    m_changed.emit();
}

std::string ExtensionService::extensionStopMessage(const ExtensionID& id) const
{
    auto it = m_stopMessages.find(id);
    return it == m_stopMessages.end() ? std::string() : it->second;
}

void ExtensionService::extensionWebViewProcessTerminated(
    WebKitWebView* view, WebKitWebProcessTerminationReason reason)
{
    // Only stopping an extension ends its process through the engine.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API)
        return;
    auto owner = m_extensionIDByWebView.find(view);
    if (owner == m_extensionIDByWebView.end())
        return;
    ExtensionID id = owner->second;
    auto held = GObjectPtr<WebKitWebView>::retain(view);
    // Not inside the view's own signal: turning the extension off lets the view go.
    runOnMainLoop(m_lifetime.token(), [this, id, held] {
        auto running = m_extensionWebViews.find(id);
        if (running == m_extensionWebViews.end() || running->second.get() != held.get())
            return;
        auto record = m_extensions.find(id);
        std::string name = record == m_extensions.end() || record->second.name().empty()
            ? id
            : record->second.name();
        m_stopMessages[id] = extensionPageCrashedMessage(name);
        turnExtensionOff(id);
    });
}

GObjectPtr<WebKitWebView> ExtensionService::newExtensionWebView(const std::string& bridgeScript)
{
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler_with_reply(
        content, kBridgeMessageHandlerName, nullptr);
    connectSignal<&ExtensionService::extensionBridgeMessageReceived>(
        content, "script-message-with-reply-received::qvBridge", this);
    for (const char* source : { bridgeScript.c_str(), kInstallScript }) {
        WebKitUserScript* script
            = webkit_user_script_new(source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }

    WebKitSettings* settings = newBrowserWebSettings();
    // Appended to the engine's own user agent; profiles do not apply to extensions.
    webkit_settings_set_user_agent_with_application_details(settings, "QuivelBrowser", "1.0");

    GtkWidget* widget = GTK_WIDGET(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", m_services.profiles->defaultNetworkSession(),
            "user-content-manager", content, "settings", settings, nullptr));
    g_object_unref(content);
    g_object_unref(settings);
    auto view = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);
    connectSignal<&ExtensionService::extensionWebViewDecidePolicy>(
        view.get(), "decide-policy", this);
    connectSignal<&ExtensionService::extensionWebViewCreate>(view.get(), "create", this);
    connectSignal<&ExtensionService::extensionWebViewProcessTerminated>(
        view.get(), "web-process-terminated", this);
    return view;
}

void ExtensionService::stopExtensionWebView(const ExtensionID& id)
{
    auto it = m_extensionWebViews.find(id);
    if (it != m_extensionWebViews.end()) {
        GObjectPtr<WebKitWebView> view = std::move(it->second);
        m_extensionWebViews.erase(it);
        // The content manager is this extension's alone.
        WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view.get());
        g_signal_handlers_disconnect_by_data(content, this);
        webkit_user_content_manager_unregister_script_message_handler(
            content, kBridgeMessageHandlerName, nullptr);
        m_extensionIDByWebView.erase(view.get());
        releaseWebView(view, this);
    }
    m_extensionEventSubscriptions.removeExtension(id);
}

void ExtensionService::stopAllExtensionWebViews()
{
    std::vector<ExtensionID> running;
    for (const auto& entry : m_extensionWebViews)
        running.push_back(entry.first);
    for (const ExtensionID& id : running)
        stopExtensionWebView(id);
}

std::optional<ExtensionID> ExtensionService::extensionIDForContentManager(
    WebKitUserContentManager* manager) const
{
    for (const auto& [id, view] : m_extensionWebViews) {
        if (webkit_web_view_get_user_content_manager(view.get()) == manager)
            return id;
    }
    return std::nullopt;
}

gboolean ExtensionService::extensionBridgeMessageReceived(
    WebKitUserContentManager* manager, JSCValue* value, WebKitScriptMessageReply* reply)
{
    BridgeReplyHandler answer = scriptMessageReplyHandler(reply, jsc_value_get_context(value));
    Json body = jsonFromScriptValue(value);

    // Each extension has a content manager of its own, which names the sender. The engine
    // does not say which frame posted; qv.js is only injected into the main frame and every
    // frame's navigation is fenced into the extension's folder.
    BridgeMessageSource source;
    BridgeCaller caller;
    auto id = extensionIDForContentManager(manager);
    WebKitWebView* view = id ? m_extensionWebViews.at(*id).get() : nullptr;
    source.hasWebView = view != nullptr;
    source.frameURL = webViewURI(view);
    if (id) {
        auto record = m_extensions.find(*id);
        if (record != m_extensions.end())
            caller.record = &record->second;
        caller.grantedPermissions = grantedPermissionsFromDefaults(
            m_services.shell->defaults().valueForKey(kExtensionPermissionsKey), *id);
    }
    dispatchBridgeMessage(body, source, caller, *m_bridgeHost, std::move(answer));
    return TRUE;
}

gboolean ExtensionService::extensionWebViewDecidePolicy(
    WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type)
{
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
        return FALSE;
    auto owner = m_extensionIDByWebView.find(view);
    auto record = owner == m_extensionIDByWebView.end() ? m_extensions.end()
                                                        : m_extensions.find(owner->second);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (record != m_extensions.end() && uri
        && extensionMayNavigateTo(record->second, uri))
        webkit_policy_decision_use(decision);
    else
        webkit_policy_decision_ignore(decision);
    return TRUE;
}

GtkWidget* ExtensionService::extensionWebViewCreate(WebKitWebView*, WebKitNavigationAction*)
{
    // Extension pages open no windows of their own; tabs come from "tabs.create".
    return nullptr;
}

void ExtensionService::emitExtensionEvent(const std::string& name, const Json& detail)
{
    auto recipients = extensionEventRecipients(
        m_extensionEventSubscriptions, name,
        [this](const ExtensionID& id, std::string_view permission) {
            return extensionHasPermission(id, permission);
        },
        [this](const ExtensionID& id) { return m_extensionWebViews.count(id) > 0; });
    if (recipients.empty())
        return;
    PageScript script = extensionEventDeliveryScript(name, detail);
    for (const ExtensionID& id : recipients) {
        runPageScript(m_extensionWebViews.at(id).get(), script, Lifetime::ofProcess(),
            [name](JSCValue*, const GError* error) {
                if (error)
                    logLine(extensionEventFailureLogLine(name, error->message));
            });
    }
}

Json ExtensionService::handleUserActivityMessage(WebKitWebView* webView, const Json& detail)
{
    if (!m_bridgeHost)
        return BridgeReply::interactionRejected().json();
    UserActivitySource source;
    // The reporter runs only in the main frame of its own world.
    source.isMainFrame = webView != nullptr;
    source.tabID = webView ? m_services.tabs->tabIDForWebView(webView) : std::nullopt;
    Json answer;
    qv::handleUserActivityMessage(
        detail, source, *m_bridgeHost,
        [&answer](const BridgeReply& reply) { answer = reply.json(); }, &m_userActivityLimiter);
    return answer;
}

gboolean ExtensionService::userActivityMessageReceived(
    WebKitUserContentManager* manager, JSCValue* value, WebKitScriptMessageReply* reply)
{
    // The reporter names its tab; windows a page opened share their opener's content manager,
    // so the name is taken only from a tab that has this manager. Before the page is marked the
    // report counts for the first such tab.
    Json body = jsonFromScriptValue(value);
    std::string named = body.is_object() ? jsonString(body, "view") : std::string();
    WebKitWebView* view = nullptr;
    for (const Tab& tab : m_services.tabs->browserTabs()) {
        if (!tab.webView() || webkit_web_view_get_user_content_manager(tab.webView()) != manager)
            continue;
        if (!view || tab.id() == named)
            view = tab.webView();
        if (tab.id() == named)
            break;
    }
    Json answer = handleUserActivityMessage(view, body);
    JSCValue* result
        = jsc_value_new_from_json(jsc_value_get_context(value), dumpJson(answer).c_str());
    webkit_script_message_reply_return_value(reply, result);
    g_object_unref(result);
    return TRUE;
}

void ExtensionService::startEnabledExtensions()
{
    std::set<ExtensionID> enabled = m_enabledExtensionIDs;
    for (const ExtensionID& id : enabled) {
        if (m_extensions.count(id) && !m_extensionWebViews.count(id))
            openExtension(Sender::identified(id));
    }
}

void ExtensionService::selectExtension(const Sender& sender)
{
    m_selectedExtensionID = sender.identifier;
    m_extensionSettingsVisible = false;
    m_selectionChanged.emit();
}

void ExtensionService::showExtensionSettings()
{
    if (!m_extensions.count(m_selectedExtensionID))
        return;
    m_extensionSettingsVisible = !m_extensionSettingsVisible;
    m_selectionChanged.emit();
}

bool ExtensionService::managerShown() const
{
    return m_services.shell->auxiliaryWindow(AuxiliaryWindowKind::ExtensionManager) != nullptr;
}

} // namespace qv

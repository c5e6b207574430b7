// BridgeHost on top of the controller: tabs, chrome, address field, page scripts, storage.
#include "extensions/bridge_host_adapter.h"

#include "app/browser_window.h"
#include "app/web_views.h"

#include "extensions/extension_storage.h"
#include "navigation/address_resolution.h"
#include "platform/log.h"
#include "profiles/profile_model.h"

#include <memory>

namespace qv {

namespace {

// The completion of one page script, carried through the engine's callback.
struct PendingScript {
    ScriptCompletion completion;
};

void finishPageScript(JSCValue* value, GError* error, PendingScript& pending)
{
    if (error) {
        pending.completion(Result<Json>::failure(error->message));
        g_error_free(error);
        return;
    }
    Json result = jsonFromScriptValue(value);
    if (value)
        g_object_unref(value);
    pending.completion(std::move(result));
}

} // namespace

WebKitWebView* ControllerBridgeHost::webViewAt(std::size_t index) const
{
    const auto& tabs = m_controller.browserTabs();
    return index < tabs.size() ? tabs[index].webView.get() : nullptr;
}

std::vector<BridgeTabInfo> ControllerBridgeHost::browserTabs()
{
    std::vector<BridgeTabInfo> list;
    for (const BrowserTab& tab : m_controller.browserTabs()) {
        BridgeTabInfo info;
        info.id = tab.id;
        info.storedURL = tab.url;
        info.storedTitle = tab.title;
        if (WebKitWebView* view = tab.webView.get()) {
            info.hasWebView = true;
            info.selected = view == m_controller.selectedWebView();
            info.currentURL = webViewURI(view);
            info.pageTitle = webViewTitle(view);
            info.isLoading = webkit_web_view_is_loading(view);
            info.canGoBack = webkit_web_view_can_go_back(view);
            info.canGoForward = webkit_web_view_can_go_forward(view);
        }
        list.push_back(std::move(info));
    }
    return list;
}

void ControllerBridgeHost::selectBrowserTab(std::size_t index)
{
    m_controller.selectBrowserTabAtIndex(index);
}

void ControllerBridgeHost::closeBrowserTab(std::size_t index)
{
    m_controller.closeBrowserTabAtIndex(index);
}

TabID ControllerBridgeHost::createBrowserTab(const std::string& url)
{
    TabID id = m_controller.createBrowserTabWithURL(url);
    if (BrowserWindow* window = m_controller.window())
        window->present();
    return id;
}

std::string ControllerBridgeHost::homePageURL()
{
    return m_controller.homePageURLForProfile(m_controller.currentProfile());
}

std::optional<std::string> ControllerBridgeHost::normalizedAddress(const std::string& text)
{
    return qv::normalizedAddress(text);
}

std::string ControllerBridgeHost::searchURL(const std::string& query)
{
    return m_controller.searchURLForProfile(m_controller.currentProfile(), query);
}

BridgeUIState ControllerBridgeHost::uiState()
{
    BridgeUIState state;
    state.darkMode = m_controller.darkMode();
    state.currentProfileID = m_controller.currentProfile();
    UserDefaults& defaults = m_controller.defaults();
    Json stored = defaults.objectForKey(kProfilesKey);
    Json current = defaults.objectForKey(kCurrentProfileKey);
    RepairedProfiles profiles = repairStoredProfiles(
        stored.is_null() ? nullptr : &stored, current.is_null() ? nullptr : &current);
    if (const BrowserProfile* profile = profileForID(profiles.profiles, state.currentProfileID))
        state.currentProfileName = profile->name;
    state.extensionTabsVisible = m_controller.extensionTabsVisible();
    state.extensionToolbarVisible = m_controller.extensionToolbarVisible();
    state.browserElementFullscreen = m_controller.browserElementFullscreen();
    return state;
}

void ControllerBridgeHost::setDarkMode(bool dark) { m_controller.setDarkModeFromExtension(dark); }

void ControllerBridgeHost::setChromeVisibility(
    std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible)
{
    m_controller.setExtensionChromeVisibility(tabsVisible, toolbarVisible);
}

std::string ControllerBridgeHost::addressFieldText()
{
    BrowserWindow* window = m_controller.window();
    return window ? window->requestField().get_text().raw() : std::string();
}

void ControllerBridgeHost::setAddressFieldText(const std::string& text)
{
    m_controller.setAddressFieldText(text);
}

void ControllerBridgeHost::submitAddressField(AddressSubmitter submitter)
{
    if (submitter == AddressSubmitter::Extension)
        m_controller.submitAddressFieldFromExtension();
    else
        m_controller.openRequest();
}

void ControllerBridgeHost::loadURL(std::size_t index, const std::string& url)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_load_uri(view, url.c_str());
}

void ControllerBridgeHost::reload(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_reload(view);
}

void ControllerBridgeHost::goBack(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_go_back(view);
}

void ControllerBridgeHost::goForward(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_go_forward(view);
}

void ControllerBridgeHost::setCustomUserAgent(
    std::size_t index, const std::optional<std::string>& agent)
{
    WebKitWebView* view = webViewAt(index);
    if (!view)
        return;
    // Null gives the engine's own user agent back.
    webkit_settings_set_user_agent(
        webkit_web_view_get_settings(view), agent ? agent->c_str() : nullptr);
}

void ControllerBridgeHost::runPageScript(
    std::size_t index, const PageScript& script, ScriptCompletion completion)
{
    WebKitWebView* view = webViewAt(index);
    if (!view) {
        completion(Result<Json>::failure("No browser tab with that ID exists."));
        return;
    }
    AsyncCall<PendingScript> pending(PendingScript { std::move(completion) });
    auto length = static_cast<gssize>(script.source.size());
    if (script.kind == PageScriptKind::Expression) {
        webkit_web_view_evaluate_javascript(
            view, script.source.c_str(), length, nullptr, nullptr, nullptr,
            +[](GObject* object, GAsyncResult* result, gpointer data) {
                auto owned = AsyncCall<PendingScript>::take(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_evaluate_javascript_finish(
                    WEBKIT_WEB_VIEW(object), result, &error);
                finishPageScript(value, error, *owned);
            },
            pending.release());
    } else {
        webkit_web_view_call_async_javascript_function(
            view, script.source.c_str(), length, nullptr, nullptr, nullptr, nullptr,
            +[](GObject* object, GAsyncResult* result, gpointer data) {
                auto owned = AsyncCall<PendingScript>::take(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
                    WEBKIT_WEB_VIEW(object), result, &error);
                finishPageScript(value, error, *owned);
            },
            pending.release());
    }
}

Json ControllerBridgeHost::extensionStorage(const ExtensionID& id)
{
    return m_controller.defaults().objectForKey(extensionStorageKey(id));
}

void ControllerBridgeHost::setExtensionStorage(const ExtensionID& id, const Json& dictionary)
{
    m_controller.setDefaultsValue(extensionStorageKey(id), dictionary);
}

ExtensionEventSubscriptions& ControllerBridgeHost::extensionEventSubscriptions()
{
    return m_controller.extensionEventSubscriptions();
}

void ControllerBridgeHost::emitExtensionEvent(const std::string& name, const Json& detail)
{
    m_controller.emitExtensionEvent(name, detail);
}

// Network and download services are not part of this build; the bridge answers them with
// its plain refusal.
void ControllerBridgeHost::performExtensionFetch(
    const ExtensionFetchRequest&, BridgeReplyHandler reply)
{
    reply(BridgeReply::failure(""));
}

void ControllerBridgeHost::performExtensionDownload(
    const ExtensionDownloadRequest&, const ExtensionID&, BridgeReplyHandler reply)
{
    reply(BridgeReply::failure(""));
}

} // namespace qv

namespace qv {

void BrowserController::setExtensionChromeVisibility(
    std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible)
{
    if (tabsVisible)
        m_extensionTabsVisible = *tabsVisible;
    if (toolbarVisible)
        m_extensionToolbarVisible = *toolbarVisible;
    applyBrowserChromeVisibility();
}

void BrowserController::setDarkModeFromExtension(bool dark) { setDarkMode(dark); }

} // namespace qv

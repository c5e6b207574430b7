// Bridge intake: origin, identity and permission checks, and the interface action families.
#include "extensions/bridge_dispatcher.h"

#include "base/paths.h"
#include "base/text_util.h"
#include "base/url.h"
#include "extensions/bridge_dispatch_context.h"
#include "extensions/extension_address.h"
#include "extensions/extension_permissions.h"
#include "extensions/extension_storage.h"

#include <algorithm>
#include <array>
#include <utility>

namespace qv {

namespace bridge {

ReplyOnce::ReplyOnce(BridgeReplyHandler handler)
    : m_state(std::make_shared<State>())
{
    m_state->handler = std::move(handler);
}

void ReplyOnce::operator()(const BridgeReply& reply) const
{
    if (m_state->done)
        return;
    m_state->done = true;
    if (m_state->handler)
        m_state->handler(reply);
}

BridgeReplyHandler ReplyOnce::handler() const
{
    ReplyOnce self = *this;
    return [self](const BridgeReply& reply) { self(reply); };
}

ReplyOnce::State::~State()
{
    if (done || !handler)
        return;
    done = true;
    try {
        handler(BridgeReply::failure(""));
    } catch (...) {
        // A destructor must not throw; the reply channel is gone anyway.
    }
}

bool Dispatch::has(std::string_view permission) const
{
    return extensionHasPermission(record, granted, permission);
}

std::optional<std::size_t> findTabIndex(
    const std::vector<BridgeTabInfo>& tabs, const std::string& tabID)
{
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        if (tabID.empty() ? tabs[i].selected : tabs[i].id == tabID)
            return i;
    }
    return std::nullopt;
}

std::optional<ResolvedTab> resolvePageTab(BridgeHost& host, const Json& args)
{
    std::vector<BridgeTabInfo> tabs = host.browserTabs();
    auto index = findTabIndex(tabs, jsonString(args, "tabId"));
    if (!index || !tabs[*index].hasWebView)
        return std::nullopt;
    return ResolvedTab { *index, tabs[*index] };
}

void runScript(Dispatch& dispatch, std::size_t index, const PageScript& script,
    std::function<BridgeReply(const Json&)> onValue)
{
    ReplyOnce reply = dispatch.reply;
    dispatch.host.runPageScript(index, script, [reply, onValue](Result<Json> result) {
        try {
            if (!result)
                reply(BridgeReply::failure(result.error()));
            else
                reply(onValue(result.value()));
        } catch (...) {
            reply(BridgeReply::failure(""));
        }
    });
}

namespace {

// A Boolean argument: absent or null is none; booleans and numbers are accepted.
enum class FlagParse { Missing, Value, Invalid };

FlagParse parseFlag(const Json& args, const char* key, std::optional<bool>& out)
{
    auto it = args.find(key);
    if (it == args.end() || it->is_null())
        return FlagParse::Missing;
    if (it->is_boolean()) {
        out = it->get<bool>();
        return FlagParse::Value;
    }
    if (it->is_number()) {
        out = it->get<double>() != 0;
        return FlagParse::Value;
    }
    return FlagParse::Invalid;
}

void uiGetState(Dispatch& d)
{
    BridgeUIState state = d.host.uiState();
    bool fullscreen = state.browserElementFullscreen;
    d.reply(BridgeReply::success(Json {
        { "theme", state.darkMode ? "dark" : "light" },
        { "profile",
            { { "id", state.currentProfileID.empty() ? "default" : state.currentProfileID },
                { "name",
                    state.currentProfileName.empty() ? "Default" : state.currentProfileName } } },
        { "tabsVisible", !fullscreen && state.extensionTabsVisible },
        { "toolbarVisible", !fullscreen && state.extensionToolbarVisible },
        { "pageFullscreen", fullscreen },
    }));
}

void uiSetTheme(Dispatch& d)
{
    std::string theme = toLowerAscii(jsonString(d.args(), "theme"));
    if (theme != "dark" && theme != "light") {
        d.reply(BridgeReply::failure("Theme must be 'dark' or 'light'."));
        return;
    }
    d.host.setDarkMode(theme == "dark");
    d.reply(BridgeReply::success(true));
}

void uiSetChromeVisibility(Dispatch& d)
{
    std::optional<bool> tabs, toolbar;
    FlagParse tabsParse = parseFlag(d.args(), "tabsVisible", tabs);
    FlagParse toolbarParse = parseFlag(d.args(), "toolbarVisible", toolbar);
    bool invalid = tabsParse == FlagParse::Invalid || toolbarParse == FlagParse::Invalid;
    if (invalid || (!tabs && !toolbar)) {
        d.reply(BridgeReply::failure("Provide tabsVisible and/or toolbarVisible as a boolean."));
        return;
    }
    d.host.setChromeVisibility(tabs, toolbar);
    d.reply(BridgeReply::success(true));
}

void tabsList(Dispatch& d)
{
    Json list = Json::array();
    for (const BridgeTabInfo& tab : d.host.browserTabs()) {
        std::string url
            = tab.hasWebView && !tab.currentURL.empty() ? tab.currentURL : tab.storedURL;
        list.push_back(Json {
            { "id", tab.id },
            { "url", url },
            { "title", tab.storedTitle },
            { "active", tab.hasWebView && tab.selected },
            { "isLoading", tab.hasWebView && tab.isLoading },
        });
    }
    d.reply(BridgeReply::success(std::move(list)));
}

void tabsCreate(Dispatch& d)
{
    std::string text = jsonString(d.args(), "url");
    // The tab keeps its address for later loads, so it must already be a web address.
    std::string url = text.empty()
        ? d.host.homePageURL()
        : webAddressForExtensionText(
              text, [&d](const std::string& query) { return d.host.searchURL(query); });
    d.reply(BridgeReply::success(d.host.createBrowserTab(url)));
}

// Activate and close find the tab among all tabs, so an unloaded lazy tab that "tabs.list"
// reports can be activated (which loads it) or closed.
void tabsActivateOrClose(Dispatch& d, bool close)
{
    std::vector<BridgeTabInfo> tabs = d.host.browserTabs();
    auto index = findTabIndex(tabs, jsonString(d.args(), "tabId"));
    if (!index) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    if (close)
        d.host.closeBrowserTab(*index);
    else
        d.host.selectBrowserTab(*index);
    d.reply(BridgeReply::success(true));
}

void scriptingExecuteScript(Dispatch& d)
{
    auto code = d.args().find("code");
    std::size_t length = code != d.args().end() && code->is_string()
        ? utf16Length(code->get_ref<const std::string&>())
        : 0;
    if (length < 1 || length > 262144) {
        d.reply(BridgeReply::failure("Script code must contain 1 to 262144 characters."));
        return;
    }
    auto tab = resolvePageTab(d.host, d.args());
    if (!tab) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    runScript(d, tab->index, executeScriptScript(code->get<std::string>()),
        [](const Json& value) { return BridgeReply::success(value); });
}

void spoofingSetUserAgent(Dispatch& d)
{
    auto tab = resolvePageTab(d.host, d.args());
    if (!tab) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    std::optional<std::string> agent;
    auto value = d.args().find("userAgent");
    if (value != d.args().end() && !value->is_null()) {
        if (!value->is_string() || utf16Length(value->get_ref<const std::string&>()) > 1024) {
            d.reply(
                BridgeReply::failure("User-Agent must be null or a string up to 1024 characters."));
            return;
        }
        agent = value->get<std::string>();
    }
    d.host.setCustomUserAgent(tab->index, agent);
    d.reply(BridgeReply::success(true));
}

void browserGetUserAgent(Dispatch& d)
{
    auto tab = resolvePageTab(d.host, d.args());
    if (!tab) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    runScript(d, tab->index, userAgentScript(), [](const Json& value) {
        return BridgeReply::success(value.is_string() ? value : Json(""));
    });
}

void storageAction(Dispatch& d)
{
    Json dictionary = extensionStorageDictionary(d.host.extensionStorage(d.id));
    if (d.action() == "storage.clear") {
        d.host.setExtensionStorage(d.id, Json::object());
        d.reply(BridgeReply::success(true));
        return;
    }
    std::string key = jsonString(d.args(), "key");
    if (key.empty()) {
        d.reply(BridgeReply::failure("Storage keys must be non-empty strings."));
        return;
    }
    if (d.action() == "storage.remove") {
        d.host.setExtensionStorage(d.id, extensionStorageWithout(dictionary, key));
        d.reply(BridgeReply::success(true));
    } else if (d.action() == "storage.get") {
        d.reply(BridgeReply::success(extensionStorageValue(dictionary, key)));
    } else {
        auto value = d.args().find("value");
        if (value == d.args().end()) {
            d.reply(BridgeReply::failure("Storage value must be JSON serializable."));
            return;
        }
        d.host.setExtensionStorage(d.id, extensionStorageWithValue(dictionary, key, *value));
        d.reply(BridgeReply::success(true));
    }
}

void eventsAction(Dispatch& d, bool subscribe)
{
    std::string name = jsonString(d.args(), "name");
    auto check = checkEventSubscription(name, d.has("addressBar"), d.has("userActivity"));
    if (!check) {
        d.reply(BridgeReply::failure(check.error()));
        return;
    }
    ExtensionEventSubscriptions& subscriptions = d.host.extensionEventSubscriptions();
    if (subscribe)
        subscriptions.subscribe(d.id, name);
    else
        subscriptions.unsubscribe(d.id, name);
    d.reply(BridgeReply::success(true));
}

void addressBarSetValue(Dispatch& d)
{
    auto text = d.args().find("text");
    if (text == d.args().end() || !text->is_string()
        || utf16Length(text->get_ref<const std::string&>()) > 8192) {
        d.reply(BridgeReply::failure("Address bar text must be a string up to 8192 characters."));
        return;
    }
    d.host.setAddressFieldText(text->get<std::string>());
    d.reply(BridgeReply::success(true));
}

void addressBarSubmit(Dispatch& d)
{
    if (trim(d.host.addressFieldText()).empty()) {
        d.reply(BridgeReply::failure("The address bar is empty."));
        return;
    }
    d.host.submitAddressField(AddressSubmitter::Extension);
    d.reply(BridgeReply::success(true));
}

const BridgeAction kBrowserActions[] = {
    { "ui.getState", "ui", &uiGetState },
    { "ui.setTheme", "ui", &uiSetTheme },
    { "ui.setChromeVisibility", "ui", &uiSetChromeVisibility },
    { "tabs.list", "tabs", &tabsList },
    { "tabs.create", "tabs", &tabsCreate },
    { "tabs.activate", "tabs", [](Dispatch& d) { tabsActivateOrClose(d, false); } },
    { "tabs.close", "tabs", [](Dispatch& d) { tabsActivateOrClose(d, true); } },
    { "browser.getInfo", "browser",
        [](Dispatch& d) {
            d.reply(BridgeReply::success(Json {
                { "engine", "WebKit" }, { "name", "Quivel Browser" }, { "version", "1.0" } }));
        } },
    { "browser.getHomePage", "browser",
        [](Dispatch& d) { d.reply(BridgeReply::success(d.host.homePageURL())); } },
    { "browser.getUserAgent", "browser", &browserGetUserAgent },
    { "scripting.executeScript", "scripting", &scriptingExecuteScript },
    { "spoofing.setUserAgent", "spoofing", &spoofingSetUserAgent },
    { "storage.get", "storage", &storageAction },
    { "storage.set", "storage", &storageAction },
    { "storage.remove", "storage", &storageAction },
    { "storage.clear", "storage", &storageAction },
    { "events.subscribe", "events", [](Dispatch& d) { eventsAction(d, true); } },
    { "events.unsubscribe", "events", [](Dispatch& d) { eventsAction(d, false); } },
    { "addressBar.getValue", "addressBar",
        [](Dispatch& d) { d.reply(BridgeReply::success(d.host.addressFieldText())); } },
    { "addressBar.setValue", "addressBar", &addressBarSetValue },
    { "addressBar.submit", "addressBar", &addressBarSubmit },
};

} // namespace

std::span<const BridgeAction> browserActions() { return kBrowserActions; }

const BridgeAction* findBridgeAction(std::string_view name)
{
    for (auto rows : { browserActions(), tabActions() })
        for (const BridgeAction& row : rows)
            if (row.name == name)
                return &row;
    return nullptr;
}

namespace {

void dispatch(Dispatch& d)
{
    const BridgeAction* row = findBridgeAction(d.action());
    if (row && row->browser) {
        row->browser(d);
        return;
    }
    // Tab actions, and names no row has, resolve their tab first.
    auto tab = resolvePageTab(d.host, d.args());
    if (!tab) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    if (row)
        row->tab(d, *tab);
    else
        unknownTabAction(d, *tab);
}

} // namespace

} // namespace bridge

std::size_t utf16Length(std::string_view text)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1
            : (c & 0xE0) == 0xC0      ? 2
            : (c & 0xF0) == 0xE0      ? 3
            : (c & 0xF8) == 0xF0      ? 4
                                      : 1;
        if (i + length > text.size())
            length = 1;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

std::string permissionForBridgeAction(std::string_view action)
{
    if (const bridge::BridgeAction* row = bridge::findBridgeAction(action))
        return std::string(row->permission);
    // Names no row has are refused by the permission of their family, as the rows are.
    static const std::array<std::pair<std::string_view, std::string_view>, 12> kPrefixes = { {
        { "tabs.", "tabs" },
        { "page.", "page" },
        { "addressBar.", "addressBar" },
        { "source.", "source" },
        { "scripting.", "scripting" },
        { "browser.", "browser" },
        { "spoofing.", "spoofing" },
        { "storage.", "storage" },
        { "network.", "network" },
        { "download.", "downloads" },
        { "events.", "events" },
        { "ui.", "ui" },
    } };
    for (const auto& [prefix, permission] : kPrefixes) {
        if (startsWith(action, prefix))
            return std::string(permission);
    }
    return "required";
}

void dispatchBridgeMessage(const Json& body, const BridgeMessageSource& source,
    const BridgeCaller& caller, BridgeHost& host, BridgeReplyHandler handler)
{
    bridge::ReplyOnce reply(std::move(handler));
    try {
        auto frame = parseURL(source.frameURL, URLSyntax::Loose);
        if (source.handlerName != kBridgeMessageHandlerName || !source.isMainFrame
            || !source.hasWebView || !frame || frame->lowerScheme() != "file") {
            reply(BridgeReply::rejected());
            return;
        }
        BridgeRequest request = BridgeRequest::fromMessageBody(body);
        auto framePath = pathFromFileURL(source.frameURL);
        if (!caller.record || !framePath
            || !isPathInsideOrEqual(*framePath, caller.record->rootURL)) {
            reply(BridgeReply::failure("Extension identity or local runtime URL is invalid."));
            return;
        }
        ExtensionID id = caller.record->id();
        std::string permission = permissionForBridgeAction(request.action);
        if (!extensionHasPermission(*caller.record, caller.grantedPermissions, permission)) {
            reply(BridgeReply::failure(
                "Extension " + id + " does not have the " + permission + " permission."));
            return;
        }
        bridge::Dispatch dispatch { std::move(request), id, *caller.record,
            caller.grantedPermissions, host, reply };
        bridge::dispatch(dispatch);
    } catch (...) {
        reply(BridgeReply::failure(""));
    }
}

std::optional<Json> userInteractionDetail(const Json& body, const UserActivitySource& source)
{
    static const std::array<std::string_view, 4> kTypes = { "click", "keydown", "input", "submit" };
    if (!body.is_object() || !source.isMainFrame || !source.tabID)
        return std::nullopt;
    auto type = body.find("type");
    if (type == body.end() || !type->is_string())
        return std::nullopt;
    const std::string& typeName = type->get_ref<const std::string&>();
    if (std::find(kTypes.begin(), kTypes.end(), typeName) == kTypes.end())
        return std::nullopt;
    Json detail = {
        { "tabId", *source.tabID },
        { "type", typeName },
        { "tag", jsonString(body, "tag") },
        { "id", jsonString(body, "id") },
        { "role", jsonString(body, "role") },
        { "inputType", jsonString(body, "inputType") },
    };
    std::string key = jsonString(body, "key");
    if (!key.empty())
        detail["key"] = key;
    return detail;
}

void handleUserActivityMessage(const Json& body, const UserActivitySource& source,
    BridgeHost& host, BridgeReplyHandler handler, UserActivityRateLimiter* limiter)
{
    bridge::ReplyOnce reply(std::move(handler));
    try {
        auto detail = userInteractionDetail(body, source);
        if (!detail
            || (limiter && !limiter->allow(*source.tabID, UserActivityRateLimiter::Clock::now()))) {
            reply(BridgeReply::interactionRejected());
            return;
        }
        host.emitExtensionEvent("page.userInteraction", *detail);
        reply(BridgeReply::interactionAccepted());
    } catch (...) {
        reply(BridgeReply::interactionRejected());
    }
}

} // namespace qv

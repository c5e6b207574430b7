// The extension bridge: origin, identity and permission checks, and every action's dispatch.
#pragma once

#include "base/json_text.h"
#include "base/result.h"
#include "extensions/bridge_page_scripts.h"
#include "extensions/bridge_reply.h"
#include "extensions/extension_events.h"
#include "extensions/extension_manifest.h"
#include "extensions/extension_network.h"
#include "extensions/user_activity_limiter.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using TabID = std::string;

// One entry of `browserTabs`, in tab order, as the bridge sees it.
struct BridgeTabInfo {
    TabID id; // may be empty
    std::string storedURL; // the record's `url`
    std::string storedTitle; // the record's `title`
    bool hasWebView = false; // false for an unloaded lazy tab
    bool selected = false; // its web view is the selected `webView`
    // The rest describes the web view; ignored without one.
    std::string currentURL; // the web view's absolute URL, "" when it has none
    std::string pageTitle;
    bool isLoading = false;
    bool canGoBack = false;
    bool canGoForward = false;
};

struct BridgeUIState {
    bool darkMode = false; // "QuivelDarkMode"
    std::string currentProfileID; // "" when none
    std::string currentProfileName; // "" when that profile does not exist
    bool extensionTabsVisible = true;
    bool extensionToolbarVisible = true;
    bool browserElementFullscreen = false;
};

// Who submits the address field: an extension's submission resolves only to a web address or a
// search, never to a local file or folder.
enum class AddressSubmitter { User, Extension };

// A page script's outcome: the result as JSON (undefined gives null), or the platform error's
// localized description.
using ScriptCompletion = std::function<void(Result<Json>)>;

// Everything the bridge needs of the browser. Tabs are addressed by their index in
// `browserTabs` as returned by the latest browserTabs() call of the same dispatch; every call
// is made synchronously within the dispatch except the completions, which may come later.
class BridgeHost {
public:
    virtual ~BridgeHost() = default;

    virtual std::vector<BridgeTabInfo> browserTabs() = 0;
    // `selectBrowserTab:`; loads an unloaded lazy tab as selecting one does.
    virtual void selectBrowserTab(std::size_t index) = 0;
    // `closeBrowserTabAtIndex:`.
    virtual void closeBrowserTab(std::size_t index) = 0;
    // `createBrowserTabWithURL:` (emits "tabs.created"), then brings the browser window to the
    // front and makes it key. Returns the new TabID.
    virtual TabID createBrowserTab(const std::string& url) = 0;

    // `homePageURLForProfile:` of the current profile.
    virtual std::string homePageURL() = 0;
    // `searchURLForCurrentProfile:`.
    virtual std::string searchURL(const std::string& query) = 0;

    virtual BridgeUIState uiState() = 0;
    // Stores "QuivelDarkMode", sets the dark-mode button and calls `applyTheme`.
    virtual void setDarkMode(bool dark) = 0;
    // Sets each given flag (`extensionTabsVisible`, `extensionToolbarVisible`) and calls
    // `applyBrowserChromeVisibility`.
    virtual void setChromeVisibility(
        std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible)
        = 0;

    // The `requestField` text; setting it does not navigate or emit.
    virtual std::string addressFieldText() = 0;
    virtual void setAddressFieldText(const std::string& text) = 0;
    // `openRequest:` with the field's text (it emits "addressBar.submitted").
    virtual void submitAddressField(AddressSubmitter submitter) = 0;

    // Web view operations; only called for a tab that has a web view.
    virtual void loadURL(std::size_t index, const std::string& url) = 0;
    virtual void reload(std::size_t index) = 0;
    virtual void goBack(std::size_t index) = 0; // only called when canGoBack
    virtual void goForward(std::size_t index) = 0; // only called when canGoForward
    // A custom user agent for that web view; nothing restores WebKit's default.
    virtual void setCustomUserAgent(std::size_t index, const std::optional<std::string>& agent) = 0;
    // Runs the script in the tab's main frame, in the script's world, and fails with the
    // limit's message a result past the script's limit, measured before it is converted. The
    // completion must be called at most once, on the main thread; if it is dropped uncalled,
    // the request is answered with a failure anyway.
    virtual void runPageScript(
        std::size_t index, const PageScript& script, ScriptCompletion completion)
        = 0;

    // The defaults value under extensionStorageKey(id) (anything; non-objects count as {}),
    // and its replacement.
    virtual Json extensionStorage(const ExtensionID& id) = 0;
    virtual void setExtensionStorage(const ExtensionID& id, const Json& dictionary) = 0;

    virtual ExtensionEventSubscriptions& extensionEventSubscriptions() = 0;
    // `emitExtensionEvent:detail:`.
    virtual void emitExtensionEvent(const std::string& name, const Json& detail) = 0;

    // The request is already checked; the host sends it and replies exactly once
    // (extensionFetchReply, or a failure with the transport error's description).
    virtual void performExtensionFetch(
        const ExtensionFetchRequest& request, BridgeReplyHandler reply)
        = 0;
    // Shows the save panel, downloads, records the download and replies once.
    virtual void performExtensionDownload(
        const ExtensionDownloadRequest& request, const ExtensionID& id, BridgeReplyHandler reply)
        = 0;
};

// Where a "qvBridge" message came from.
struct BridgeMessageSource {
    std::string handlerName = kBridgeMessageHandlerName;
    bool isMainFrame = true;
    bool hasWebView = true;
    std::string frameURL; // the main frame's request URL
};

// The sending extension: `extensions`[`extensionIDByWebView`[web view]] (null when unknown)
// and its granted list from "QuivelExtensionPermissions", read for this message.
struct BridgeCaller {
    const ExtensionRecord* record = nullptr;
    std::vector<std::string> grantedPermissions;
};

// The permission an action needs by its prefix; "required" (which nobody holds) otherwise.
std::string permissionForBridgeAction(std::string_view action);

// Checks and runs one "qvBridge" message. `reply` is called exactly once, now or from a
// completion. The host must outlive pending completions.
void dispatchBridgeMessage(const Json& body, const BridgeMessageSource& source,
    const BridgeCaller& caller, BridgeHost& host, BridgeReplyHandler reply);

// Where a "qvUserActivity" message came from.
struct UserActivitySource {
    bool isMainFrame = false;
    std::optional<TabID> tabID; // `tabIDForWebView:`; nothing when the web view is no tab
};

// The "page.userInteraction" detail of a report, or nothing when the report is rejected.
std::optional<Json> userInteractionDetail(const Json& body, const UserActivitySource& source);

// Emits "page.userInteraction" for an accepted report, then replies {ok: true}; otherwise
// replies "Browser interaction event rejected." and emits nothing. With a limiter, a report
// past its tab's rate is rejected too.
void handleUserActivityMessage(const Json& body, const UserActivitySource& source,
    BridgeHost& host, BridgeReplyHandler reply, UserActivityRateLimiter* limiter = nullptr);

// Number of UTF-16 code units, how the bridge's character limits count (an invalid byte
// counts as one).
std::size_t utf16Length(std::string_view text);

} // namespace qv

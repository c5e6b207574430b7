// Browser events for extensions: names, subscriptions, who receives them and the delivery script.
#pragma once

#include "base/json_text.h"
#include "base/result.h"
#include "extensions/bridge_page_scripts.h"
#include "extensions/extension_manifest.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::array<std::string_view, 10> kExtensionEventNames = {
    "tabs.created",
    "tabs.activated",
    "tabs.removed",
    "page.navigationStarted",
    "page.navigationCommitted",
    "page.loaded",
    "page.loadFailed",
    "page.userInteraction",
    "addressBar.changed",
    "addressBar.submitted",
};

bool isExtensionEventName(std::string_view name);

// The permission an event needs beyond "events": "addressBar" for "addressBar." names,
// "userActivity" for "page.userInteraction", none otherwise.
std::optional<std::string> extraPermissionForEvent(std::string_view name);

// `extensionEventSubscriptions`: ID -> set of event names, in memory only.
class ExtensionEventSubscriptions {
public:
    // Both create the ID's set when it has none; both are idempotent.
    void subscribe(const ExtensionID& id, const std::string& name);
    void unsubscribe(const ExtensionID& id, const std::string& name);

    bool isSubscribed(const ExtensionID& id, std::string_view name) const;
    bool hasSubscriptionSet(const ExtensionID& id) const;
    // Turning an extension off or deleting it drops its set.
    void removeExtension(const ExtensionID& id);
    void clear();
    // IDs that have a set, in ID order: the snapshot a delivery walks.
    std::vector<ExtensionID> extensionIDs() const;

private:
    std::map<ExtensionID, std::set<std::string>, std::less<>> m_sets;
};

// The subscribe and unsubscribe checks, in order: "Unknown Quivel event name.", then the
// addressBar and userActivity requirements.
Result<Done> checkEventSubscription(
    std::string_view name, bool hasAddressBar, bool hasUserActivity);

using ExtensionPermissionQuery = std::function<bool(const ExtensionID&, std::string_view)>;
using ExtensionRunningQuery = std::function<bool(const ExtensionID&)>;

// The extensions an event goes to: subscribed, holding the event's extra permission at this
// moment, and running.
std::vector<ExtensionID> extensionEventRecipients(const ExtensionEventSubscriptions& subscriptions,
    std::string_view name, const ExtensionPermissionQuery& hasPermission,
    const ExtensionRunningQuery& isRunning);

// "globalThis.__qvDispatchNativeEvent(name, detail);" with `name` and `detail` bound as JSON
// (a null or non-object detail becomes {}); run as an async function body in the page world.
PageScript extensionEventDeliveryScript(std::string_view name, const Json& detail);

// "Extension event %@ failed: %@".
std::string extensionEventFailureLogLine(std::string_view name, std::string_view error);

} // namespace qv

// Event names, subscription bookkeeping and delivery texts.
#include "extensions/extension_events.h"

#include "base/text_util.h"

#include <algorithm>

namespace qv {

bool isExtensionEventName(std::string_view name)
{
    return std::find(kExtensionEventNames.begin(), kExtensionEventNames.end(), name)
        != kExtensionEventNames.end();
}

std::optional<std::string> extraPermissionForEvent(std::string_view name)
{
    if (startsWith(name, "addressBar."))
        return "addressBar";
    if (name == "page.userInteraction")
        return "userActivity";
    return std::nullopt;
}

void ExtensionEventSubscriptions::subscribe(const ExtensionID& id, const std::string& name)
{
    m_sets[id].insert(name);
}

void ExtensionEventSubscriptions::unsubscribe(const ExtensionID& id, const std::string& name)
{
    m_sets[id].erase(name);
}

bool ExtensionEventSubscriptions::isSubscribed(const ExtensionID& id, std::string_view name) const
{
    auto it = m_sets.find(id);
    return it != m_sets.end() && it->second.count(std::string(name));
}

bool ExtensionEventSubscriptions::hasSubscriptionSet(const ExtensionID& id) const
{
    return m_sets.count(id) > 0;
}

void ExtensionEventSubscriptions::removeExtension(const ExtensionID& id) { m_sets.erase(id); }

void ExtensionEventSubscriptions::clear() { m_sets.clear(); }

std::vector<ExtensionID> ExtensionEventSubscriptions::extensionIDs() const
{
    std::vector<ExtensionID> ids;
    for (const auto& entry : m_sets)
        ids.push_back(entry.first);
    return ids;
}

Result<Done> checkEventSubscription(std::string_view name, bool hasAddressBar, bool hasUserActivity)
{
    if (!isExtensionEventName(name))
        return Result<Done>::failure("Unknown Quivel event name.");
    if (startsWith(name, "addressBar.") && !hasAddressBar)
        return Result<Done>::failure(
            "The addressBar permission is required for address bar events.");
    if (name == "page.userInteraction" && !hasUserActivity)
        return Result<Done>::failure(
            "The userActivity permission is required for interaction events.");
    return Done {};
}

std::vector<ExtensionID> extensionEventRecipients(const ExtensionEventSubscriptions& subscriptions,
    std::string_view name, const ExtensionPermissionQuery& hasPermission,
    const ExtensionRunningQuery& isRunning)
{
    std::vector<ExtensionID> recipients;
    auto extra = extraPermissionForEvent(name);
    for (const ExtensionID& id : subscriptions.extensionIDs()) {
        if (!subscriptions.isSubscribed(id, name))
            continue;
        if (extra && !hasPermission(id, *extra))
            continue;
        if (!isRunning(id))
            continue;
        recipients.push_back(id);
    }
    return recipients;
}

PageScript extensionEventDeliveryScript(std::string_view name, const Json& detail)
{
    Json detailObject = detail.is_object() ? detail : Json::object();
    PageScript script
        = asyncFunctionWithArguments("globalThis.__qvDispatchNativeEvent(name, detail);",
            { { "name", std::string(name) }, { "detail", detailObject } });
    // The receiver is the extension page's own function.
    script.world = PageScriptWorld::Page;
    return script;
}

std::string extensionEventFailureLogLine(std::string_view name, std::string_view error)
{
    return "Extension event " + std::string(name) + " failed: " + std::string(error);
}

} // namespace qv

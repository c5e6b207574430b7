// Extension event names, subscriptions, recipients and the delivery script.
#include "extensions/extension_events.h"

#include <gtest/gtest.h>

namespace qv {

TEST(ExtensionEvents, TenNamesInTheirOrder)
{
    ASSERT_EQ(kExtensionEventNames.size(), 10u);
    EXPECT_EQ(kExtensionEventNames.front(), "tabs.created");
    EXPECT_EQ(kExtensionEventNames[7], "page.userInteraction");
    EXPECT_EQ(kExtensionEventNames.back(), "addressBar.submitted");
    for (auto name : kExtensionEventNames)
        EXPECT_TRUE(isExtensionEventName(name)) << name;
    EXPECT_FALSE(isExtensionEventName("tabs.updated"));
    EXPECT_FALSE(isExtensionEventName("Tabs.created"));
    EXPECT_FALSE(isExtensionEventName(""));
}

TEST(ExtensionEvents, SubscriptionChecksInOrder)
{
    struct Case {
        const char* name;
        bool addressBar;
        bool userActivity;
        const char* error; // nullptr: allowed
    };
    const Case cases[] = {
        { "tabs.created", false, false, nullptr },
        { "page.loadFailed", false, false, nullptr },
        { "nope", true, true, "Unknown Quivel event name." },
        { "addressBar.other", true, true, "Unknown Quivel event name." },
        { "addressBar.changed", false, true,
            "The addressBar permission is required for address bar events." },
        { "addressBar.submitted", true, false, nullptr },
        { "page.userInteraction", true, false,
            "The userActivity permission is required for interaction events." },
        { "page.userInteraction", false, true, nullptr },
    };
    for (const Case& c : cases) {
        auto result = checkEventSubscription(c.name, c.addressBar, c.userActivity);
        if (c.error)
            EXPECT_EQ(result.ok() ? "" : result.error(), c.error) << c.name;
        else
            EXPECT_TRUE(result.ok()) << c.name;
    }
}

TEST(ExtensionEvents, SubscribingTwiceAndUnsubscribingOnceLeavesNoSubscription)
{
    ExtensionEventSubscriptions subscriptions;
    subscriptions.subscribe("a", "tabs.created");
    subscriptions.subscribe("a", "tabs.created");
    subscriptions.unsubscribe("a", "tabs.created");
    EXPECT_FALSE(subscriptions.isSubscribed("a", "tabs.created"));
    EXPECT_TRUE(subscriptions.hasSubscriptionSet("a"));
}

TEST(ExtensionEvents, UnsubscribingCreatesTheSetAndTurningOffDropsIt)
{
    ExtensionEventSubscriptions subscriptions;
    subscriptions.unsubscribe("b", "page.loaded");
    EXPECT_TRUE(subscriptions.hasSubscriptionSet("b"));
    subscriptions.subscribe("c", "page.loaded");
    EXPECT_EQ(subscriptions.extensionIDs(), (std::vector<ExtensionID> { "b", "c" }));
    subscriptions.removeExtension("c");
    EXPECT_FALSE(subscriptions.isSubscribed("c", "page.loaded"));
    EXPECT_FALSE(subscriptions.hasSubscriptionSet("c"));
    subscriptions.clear();
    EXPECT_TRUE(subscriptions.extensionIDs().empty());
}

TEST(ExtensionEvents, RecipientsAreSubscribedPermittedAndRunning)
{
    ExtensionEventSubscriptions subscriptions;
    for (const char* id : { "plain", "bar", "nobar", "off" }) {
        subscriptions.subscribe(id, "addressBar.changed");
        subscriptions.subscribe(id, "tabs.created");
    }
    subscriptions.subscribe("other", "page.loaded");
    auto hasPermission = [](const ExtensionID& id, std::string_view permission) {
        return permission == "addressBar" && (id == "bar" || id == "off");
    };
    auto isRunning = [](const ExtensionID& id) { return id != "off"; };

    EXPECT_EQ(extensionEventRecipients(subscriptions, "tabs.created", hasPermission, isRunning),
        (std::vector<ExtensionID> { "bar", "nobar", "plain" }));
    EXPECT_EQ(
        extensionEventRecipients(subscriptions, "addressBar.changed", hasPermission, isRunning),
        (std::vector<ExtensionID> { "bar" }));
    EXPECT_TRUE(
        extensionEventRecipients(subscriptions, "page.userInteraction", hasPermission, isRunning)
            .empty());
}

TEST(ExtensionEvents, InteractionEventsNeedUserActivityAtDelivery)
{
    ExtensionEventSubscriptions subscriptions;
    subscriptions.subscribe("x", "page.userInteraction");
    bool granted = true;
    auto hasPermission = [&](const ExtensionID&, std::string_view permission) {
        return permission == "userActivity" && granted;
    };
    auto running = [](const ExtensionID&) { return true; };
    EXPECT_EQ(
        extensionEventRecipients(subscriptions, "page.userInteraction", hasPermission, running)
            .size(),
        1u);
    granted = false;
    EXPECT_TRUE(
        extensionEventRecipients(subscriptions, "page.userInteraction", hasPermission, running)
            .empty());
}

TEST(ExtensionEvents, DeliveryScriptPassesNameAndDetailAsJsonData)
{
    Json detail = { { "tabId", "T" }, { "url", "https://x.example/</script><script>alert(1)" },
        { "title", std::string("line\xE2\x80\xA8sep \"q\" bad\xFF") } };
    PageScript script = extensionEventDeliveryScript("page.loaded", detail);
    EXPECT_EQ(script.kind, PageScriptKind::AsyncFunctionBody);
    EXPECT_EQ(script.world, PageScriptWorld::Page);
    EXPECT_EQ(script.source.find("</script>"), std::string::npos);
    EXPECT_EQ(script.source.find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(script.source.find("\xFF"), std::string::npos);

    const std::string namePrefix = "const name = ";
    const std::string detailPrefix = ";\nconst detail = ";
    const std::string call = ";\nglobalThis.__qvDispatchNativeEvent(name, detail);";
    ASSERT_EQ(script.source.rfind(namePrefix, 0), 0u);
    std::size_t detailAt = script.source.find(detailPrefix);
    ASSERT_NE(detailAt, std::string::npos);
    ASSERT_GE(script.source.size(), call.size());
    EXPECT_EQ(script.source.substr(script.source.size() - call.size()), call);
    EXPECT_EQ(parseJson(script.source.substr(namePrefix.size(), detailAt - namePrefix.size())),
        Json("page.loaded"));
    std::size_t detailStart = detailAt + detailPrefix.size();
    auto delivered = parseJson(
        script.source.substr(detailStart, script.source.size() - call.size() - detailStart));
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ((*delivered)["url"], detail["url"]);
    EXPECT_EQ((*delivered)["title"], "line\xE2\x80\xA8sep \"q\" bad\xEF\xBF\xBD");
}

TEST(ExtensionEvents, MissingDetailIsAnEmptyObject)
{
    PageScript script = extensionEventDeliveryScript("tabs.removed", Json());
    EXPECT_NE(script.source.find("const detail = {};\n"), std::string::npos);
}

TEST(ExtensionEvents, FailureLogLine)
{
    EXPECT_EQ(extensionEventFailureLogLine("page.loaded", "ReferenceError"),
        "Extension event page.loaded failed: ReferenceError");
}

} // namespace qv

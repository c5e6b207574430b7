// The extension bridge against a fake browser: checks, every action family, replies and scripts.
#include "extensions/bridge_dispatch_context.h"
#include "extensions/bridge_dispatcher.h"
#include "extensions/extension_storage.h"
#include "fake_bridge_host.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace qv {

namespace {

using test::FakeHost;
using test::PendingScript;

struct Outcome {
    int calls = 0;
    std::optional<BridgeReply> reply;
};

BridgeTabInfo loadedTab(const std::string& id, const std::string& url, bool selected)
{
    BridgeTabInfo tab;
    tab.id = id;
    tab.storedURL = url;
    tab.storedTitle = "Stored " + id;
    tab.hasWebView = true;
    tab.selected = selected;
    tab.currentURL = url;
    tab.pageTitle = "Page " + id;
    return tab;
}

BridgeTabInfo lazyTab(const std::string& id, const std::string& url)
{
    BridgeTabInfo tab;
    tab.id = id;
    tab.storedURL = url;
    tab.storedTitle = "Lazy " + id;
    return tab;
}

class Bridge : public ::testing::Test {
protected:
    Bridge()
    {
        record.manifest = { { "id", "ext" }, { "name", "Ext" },
            { "permissions", allExtensionPermissionNames() }, { "type", "file" } };
        record.rootURL = "/store/ext";
        granted = allExtensionPermissionNames();
        source.frameURL = "file:///store/ext/index.html";
        host.tabs = { loadedTab("A", "https://a.example/", true),
            lazyTab("B", "https://b.example/"), loadedTab("C", "", false) };
    }

    std::shared_ptr<Outcome> send(const Json& body)
    {
        auto outcome = std::make_shared<Outcome>();
        BridgeCaller caller { hasRecord ? &record : nullptr, granted };
        dispatchBridgeMessage(body, source, caller, host, [outcome](const BridgeReply& reply) {
            ++outcome->calls;
            outcome->reply = reply;
        });
        return outcome;
    }

    std::shared_ptr<Outcome> call(const std::string& action, const Json& args = Json::object())
    {
        return send(Json { { "action", action }, { "args", args } });
    }

    // The action's single reply, which must already have arrived.
    BridgeReply replyOf(const std::shared_ptr<Outcome>& outcome)
    {
        EXPECT_EQ(outcome->calls, 1);
        return outcome->reply.value_or(BridgeReply::failure("no reply"));
    }

    std::string errorOf(const std::string& action, const Json& args = Json::object())
    {
        BridgeReply reply = replyOf(call(action, args));
        EXPECT_FALSE(reply.ok()) << action << " " << reply.text();
        return reply.error();
    }

    Json valueOf(const std::string& action, const Json& args = Json::object())
    {
        BridgeReply reply = replyOf(call(action, args));
        EXPECT_TRUE(reply.ok()) << action << " " << reply.text();
        return reply.value();
    }

    // Completes the only pending script and returns the action's reply.
    BridgeReply finishScript(const std::shared_ptr<Outcome>& outcome, Result<Json> result)
    {
        EXPECT_EQ(outcome->calls, 0) << "replied before the script finished";
        EXPECT_EQ(host.scripts.size(), 1u);
        if (host.scripts.empty())
            return BridgeReply::failure("no script");
        ScriptCompletion completion = host.scripts.back().completion;
        host.scripts.clear();
        completion(std::move(result));
        return replyOf(outcome);
    }

    void withoutSelectedTab()
    {
        for (auto& tab : host.tabs)
            tab.selected = false;
    }

    ExtensionRecord record;
    std::vector<std::string> granted;
    bool hasRecord = true;
    BridgeMessageSource source;
    FakeHost host;
};

std::string repeated(std::size_t count, const std::string& piece = "a")
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

} // namespace

// ---- Origin, identity and permission

TEST_F(Bridge, MessagesFailingTheOriginChecksGetTheFixedRejection)
{
    struct Case {
        const char* what;
        std::function<void(BridgeMessageSource&)> change;
    };
    const Case cases[] = {
        { "website page", [](auto& s) { s.frameURL = "https://example.com/"; } },
        { "sub-frame", [](auto& s) { s.isMainFrame = false; } },
        { "no web view", [](auto& s) { s.hasWebView = false; } },
        { "other handler", [](auto& s) { s.handlerName = "qvUserActivity"; } },
        { "no URL", [](auto& s) { s.frameURL = ""; } },
    };
    for (const Case& c : cases) {
        BridgeMessageSource saved = source;
        c.change(source);
        BridgeReply reply = replyOf(call("tabs.list"));
        EXPECT_EQ(reply.json(),
            Json({ { "ok", false }, { "error", "Extension bridge rejected the request." } }))
            << c.what;
        source = saved;
    }
}

TEST_F(Bridge, FramesOutsideTheExtensionFolderOrWithoutARecordAreRefused)
{
    const char* frames[] = {
        "file:///store/extension-two/index.html",
        "file:///store/ext/../other/index.html",
        "file:///store/ext/%2E%2E/other/index.html",
        "file:///etc/passwd",
        "file://remote.example/store/ext/index.html",
    };
    for (const char* frame : frames) {
        source.frameURL = frame;
        EXPECT_EQ(errorOf("tabs.list"), "Extension identity or local runtime URL is invalid.")
            << frame;
    }
    source.frameURL = "file:///store/ext/index.html";
    hasRecord = false;
    EXPECT_EQ(errorOf("tabs.list"), "Extension identity or local runtime URL is invalid.");
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Bridge, FramesInsideTheFolderAreAccepted)
{
    const char* frames[] = {
        "file:///store/ext/index.html",
        "file:///store/ext/sub/page.html?x=1#top",
        "file:///store/ext",
        "file://localhost/store/ext/a%20b.html",
    };
    for (const char* frame : frames) {
        source.frameURL = frame;
        EXPECT_TRUE(replyOf(call("browser.getInfo")).ok()) << frame;
    }
}

TEST_F(Bridge, ActionsAreMappedToPermissionsByPrefix)
{
    struct Case {
        const char* action;
        const char* permission;
    };
    const Case cases[] = {
        { "tabs.list", "tabs" },
        { "page.getInfo", "page" },
        { "addressBar.submit", "addressBar" },
        { "source.getHTML", "source" },
        { "scripting.executeScript", "scripting" },
        { "browser.getInfo", "browser" },
        { "spoofing.setUserAgent", "spoofing" },
        { "storage.get", "storage" },
        { "network.fetch", "network" },
        { "download.save", "downloads" },
        { "events.subscribe", "events" },
        { "ui.getState", "ui" },
        { "downloads.save", "required" },
        { "userActivity.x", "required" },
        { "tabs", "required" },
        { "", "required" },
        { "Tabs.list", "required" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(permissionForBridgeAction(c.action), c.permission) << c.action;
}

TEST(BridgeActions, EveryNameHasOneRowWithOneHandler)
{
    std::set<std::string_view> names;
    for (auto rows : { bridge::browserActions(), bridge::tabActions() }) {
        for (const bridge::BridgeAction& row : rows) {
            EXPECT_TRUE(names.insert(row.name).second) << row.name;
            EXPECT_NE(!row.browser, !row.tab) << row.name;
            EXPECT_EQ(bridge::findBridgeAction(row.name), &row);
        }
    }
    EXPECT_EQ(bridge::findBridgeAction("page.unknown"), nullptr);
}

TEST_F(Bridge, EveryGatedActionIsRefusedWithoutItsPermission)
{
    std::vector<std::string> actions = {
        "ui.getState",
        "ui.setTheme",
        "ui.setChromeVisibility",
        "tabs.list",
        "tabs.create",
        "tabs.activate",
        "tabs.close",
        "browser.getInfo",
        "browser.getHomePage",
        "browser.getUserAgent",
        "scripting.executeScript",
        "spoofing.setUserAgent",
        "storage.get",
        "storage.set",
        "storage.remove",
        "storage.clear",
        "events.subscribe",
        "events.unsubscribe",
        "addressBar.getValue",
        "addressBar.setValue",
        "addressBar.submit",
        "page.getInfo",
        "page.getText",
        "page.localStorage.get",
        "page.getHTML",
        "page.click",
        "page.navigate",
        "page.reload",
        "page.back",
        "source.getHTML",
        "source.insertCSS",
        "network.fetch",
        "download.save",
    };
    // Every row too, so a new action cannot come without its permission.
    for (auto rows : { bridge::browserActions(), bridge::tabActions() })
        for (const bridge::BridgeAction& row : rows)
            actions.emplace_back(row.name);
    for (const std::string& action : actions) {
        std::string permission = permissionForBridgeAction(action);
        ASSERT_NE(permission, "required") << action;
        std::string expected = "Extension ext does not have the " + permission + " permission.";

        // Requested but not granted.
        granted = allExtensionPermissionNames();
        granted.erase(std::find(granted.begin(), granted.end(), permission));
        EXPECT_EQ(errorOf(action, { { "url", "https://x.example" }, { "key", "k" } }), expected)
            << action;

        // Granted but not requested by the manifest.
        granted = allExtensionPermissionNames();
        Json requested = Json::array();
        for (const auto& name : allExtensionPermissionNames())
            if (name != permission)
                requested.push_back(name);
        Json saved = record.manifest["permissions"];
        record.manifest["permissions"] = requested;
        EXPECT_EQ(errorOf(action), expected) << action;
        record.manifest["permissions"] = saved;
    }
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(host.scripts.empty());
    EXPECT_TRUE(host.storage.empty());
}

TEST_F(Bridge, ActionOutsideEveryPrefixNeedsTheUnholdablePermission)
{
    EXPECT_EQ(errorOf("history.list"), "Extension ext does not have the required permission.");
}

// ---- Malformed requests

TEST_F(Bridge, MalformedRequestsGetOneFailureReply)
{
    withoutSelectedTab();
    struct Case {
        Json body;
        const char* error;
    };
    const Case cases[] = {
        { Json(5), "Extension ext does not have the required permission." },
        { Json::array({ "tabs.list" }), "Extension ext does not have the required permission." },
        { Json { { "args", Json::object() } },
            "Extension ext does not have the required permission." },
        { Json { { "action", 7 } }, "Extension ext does not have the required permission." },
        { Json { { "action", "ui.setTheme" }, { "args", Json::array({ "dark" }) } },
            "Theme must be 'dark' or 'light'." },
        { Json { { "action", "ui.setTheme" }, { "args", "dark" } },
            "Theme must be 'dark' or 'light'." },
        { Json { { "action", "ui.setTheme" }, { "args", { { "theme", true } } } },
            "Theme must be 'dark' or 'light'." },
        { Json { { "action", "ui.setChromeVisibility" }, { "args", { { "tabsVisible", "yes" } } } },
            "Provide tabsVisible and/or toolbarVisible as a boolean." },
        { Json { { "action", "tabs.activate" }, { "args", { { "tabId", 5 } } } },
            "No browser tab with that ID exists." },
        { Json { { "action", "tabs.close" }, { "args", { { "tabId", Json::array() } } } },
            "No browser tab with that ID exists." },
        { Json { { "action", "storage.get" }, { "args", { { "key", 1 } } } },
            "Storage keys must be non-empty strings." },
        { Json { { "action", "events.subscribe" }, { "args", { { "name", Json::object() } } } },
            "Unknown Quivel event name." },
        { Json { { "action", "addressBar.setValue" }, { "args", { { "text", 5 } } } },
            "Address bar text must be a string up to 8192 characters." },
        { Json { { "action", "scripting.executeScript" }, { "args", { { "code", 5 } } } },
            "Script code must contain 1 to 262144 characters." },
        { Json { { "action", "page.getInfo" }, { "args", { { "tabId", "missing" } } } },
            "No browser tab with that ID exists." },
    };
    for (const Case& c : cases) {
        auto outcome = send(c.body);
        ASSERT_EQ(outcome->calls, 1) << c.body.dump();
        EXPECT_FALSE(outcome->reply->ok()) << c.body.dump();
        EXPECT_EQ(outcome->reply->error(), c.error) << c.body.dump();
    }
}

TEST_F(Bridge, ArgumentLimitsAreEnforcedAtTheirBoundaries)
{
    struct Case {
        const char* action;
        const char* key;
        std::string atLimit;
        std::string overLimit;
        const char* error;
    };
    const Case cases[] = {
        { "addressBar.setValue", "text", repeated(8192), repeated(8193),
            "Address bar text must be a string up to 8192 characters." },
        { "scripting.executeScript", "code", repeated(262144), repeated(262145),
            "Script code must contain 1 to 262144 characters." },
        { "page.click", "selector", repeated(2048), repeated(2049),
            "A CSS selector (up to 2048 characters) is required." },
        { "source.setHTML", "html", repeated(2097152), repeated(2097153),
            "Live HTML is limited to 2 MB per update." },
        { "source.insertCSS", "css", repeated(1048576), repeated(1048577),
            "Injected CSS is limited to 1 MB." },
        { "source.removeCSS", "styleId", repeated(128), repeated(129),
            "A valid style ID is required." },
        { "source.readResource", "url", repeated(8192), repeated(8193),
            "Provide a loaded resource URL up to 8192 characters." },
        { "spoofing.setUserAgent", "userAgent", repeated(1024), repeated(1025),
            "User-Agent must be null or a string up to 1024 characters." },
        // Characters count as UTF-16 units: U+00E9 is one, U+1F600 two.
        { "addressBar.setValue", "text", repeated(8192, "\xC3\xA9"),
            repeated(4097, "\xF0\x9F\x98\x80"),
            "Address bar text must be a string up to 8192 characters." },
    };
    for (const Case& c : cases) {
        host.scripts.clear();
        EXPECT_EQ(errorOf(c.action, { { c.key, c.overLimit } }), c.error) << c.action;
        EXPECT_TRUE(host.scripts.empty()) << c.action;
        auto outcome = call(c.action, { { c.key, c.atLimit } });
        bool ranOrReplied = !host.scripts.empty() || (outcome->reply && outcome->reply->ok());
        EXPECT_TRUE(ranOrReplied) << c.action << " at its limit";
    }
}

TEST_F(Bridge, EmptyArgumentsAreRefused)
{
    EXPECT_EQ(errorOf("scripting.executeScript", { { "code", "" } }),
        "Script code must contain 1 to 262144 characters.");
    EXPECT_EQ(errorOf("page.click", { { "selector", "" } }),
        "A CSS selector (up to 2048 characters) is required.");
    EXPECT_EQ(errorOf("source.removeCSS", { { "styleId", "" } }), "A valid style ID is required.");
    EXPECT_EQ(errorOf("source.setHTML", { { "html", 5 } }), "HTML must be a string.");
    EXPECT_EQ(errorOf("source.insertCSS"), "CSS must be a string.");
    EXPECT_EQ(errorOf("page.navigate", { { "url", "" } }), "A URL is required.");
    EXPECT_EQ(errorOf("spoofing.setUserAgent", { { "userAgent", 5 } }),
        "User-Agent must be null or a string up to 1024 characters.");
}

TEST_F(Bridge, HostThatThrowsStillGetsExactlyOneFailureReply)
{
    host.throwOnAddress = true;
    BridgeReply reply = replyOf(call("addressBar.getValue"));
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(reply.error(), "Request denied.");
}

// ---- Exactly one reply for asynchronous actions

TEST_F(Bridge, DroppedScriptCompletionStillRepliesOnce)
{
    auto outcome = call("page.getText");
    ASSERT_EQ(host.scripts.size(), 1u);
    EXPECT_EQ(outcome->calls, 0);
    host.scripts.clear();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->reply->error(), "Request denied.");
}

TEST_F(Bridge, CompletionCalledTwiceRepliesOnce)
{
    auto outcome = call("page.getText");
    ScriptCompletion completion = host.scripts.at(0).completion;
    completion(Json("first"));
    completion(Json("second"));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->reply->value(), "first");
}

TEST_F(Bridge, DroppedNetworkReplyStillRepliesOnce)
{
    auto outcome = call("network.fetch", { { "url", "https://x.example/" } });
    EXPECT_EQ(outcome->calls, 0);
    host.pendingNetworkReply = nullptr;
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->reply->ok());
}

TEST_F(Bridge, ScriptFailureRepliesThePlatformDescription)
{
    auto outcome = call("page.getHTML");
    BridgeReply reply
        = finishScript(outcome, Result<Json>::failure("A JavaScript exception occurred"));
    EXPECT_EQ(
        reply.json(), Json({ { "ok", false }, { "error", "A JavaScript exception occurred" } }));
}

// ---- ui

TEST_F(Bridge, UIStateReportsThemeProfileAndChrome)
{
    host.ui = { true, "", "", true, false, false };
    EXPECT_EQ(valueOf("ui.getState"),
        Json({ { "theme", "dark" }, { "profile", { { "id", "default" }, { "name", "Default" } } },
            { "tabsVisible", true }, { "toolbarVisible", false }, { "pageFullscreen", false } }));
    host.ui = { false, "P1", "Work", true, true, true };
    Json state = valueOf("ui.getState");
    EXPECT_EQ(state["theme"], "light");
    EXPECT_EQ(state["profile"], Json({ { "id", "P1" }, { "name", "Work" } }));
    EXPECT_EQ(state["tabsVisible"], false);
    EXPECT_EQ(state["toolbarVisible"], false);
    EXPECT_EQ(state["pageFullscreen"], true);
}

TEST_F(Bridge, ThemeInAnyCaseIsApplied)
{
    EXPECT_EQ(valueOf("ui.setTheme", { { "theme", "DARK" } }), true);
    EXPECT_EQ(valueOf("ui.setTheme", { { "theme", "Light" } }), true);
    EXPECT_EQ(errorOf("ui.setTheme", { { "theme", "sepia" } }), "Theme must be 'dark' or 'light'.");
    EXPECT_EQ(host.calls, (std::vector<std::string> { "dark", "light" }));
}

TEST_F(Bridge, ChromeVisibilitySetsOnlyTheGivenFlags)
{
    EXPECT_EQ(valueOf("ui.setChromeVisibility", { { "tabsVisible", false } }), true);
    EXPECT_EQ(
        valueOf("ui.setChromeVisibility", { { "toolbarVisible", 1 }, { "tabsVisible", nullptr } }),
        true);
    EXPECT_EQ(
        valueOf("ui.setChromeVisibility", { { "tabsVisible", 0.0 }, { "toolbarVisible", true } }),
        true);
    EXPECT_EQ(errorOf("ui.setChromeVisibility", { { "toolbarVisible", nullptr } }),
        "Provide tabsVisible and/or toolbarVisible as a boolean.");
    EXPECT_EQ(errorOf("ui.setChromeVisibility"),
        "Provide tabsVisible and/or toolbarVisible as a boolean.");
    EXPECT_EQ(
        errorOf("ui.setChromeVisibility", { { "tabsVisible", true }, { "toolbarVisible", "no" } }),
        "Provide tabsVisible and/or toolbarVisible as a boolean.");
    EXPECT_EQ(host.calls,
        (std::vector<std::string> { "chrome tabs=off toolbar=unchanged",
            "chrome tabs=unchanged toolbar=on", "chrome tabs=off toolbar=on" }));
}

// ---- tabs

TEST_F(Bridge, TabsListCoversLoadedAndLazyTabsInOrder)
{
    host.tabs[0].isLoading = true;
    host.tabs[0].currentURL = "https://a.example/now";
    EXPECT_EQ(valueOf("tabs.list"), Json::parse(R"([
            {"id":"A","url":"https://a.example/now","title":"Stored A","active":true,
             "isLoading":true},
            {"id":"B","url":"https://b.example/","title":"Lazy B","active":false,"isLoading":false},
            {"id":"C","url":"","title":"Stored C","active":false,"isLoading":false}])"));
}

TEST_F(Bridge, TabsCreateOpensTheAddressOrTheHomePage)
{
    EXPECT_EQ(valueOf("tabs.create", { { "url", "https://n.example/" } }), "NEW-TAB");
    EXPECT_EQ(valueOf("tabs.create"), "NEW-TAB");
    EXPECT_EQ(valueOf("tabs.create", { { "url", 5 } }), "NEW-TAB");
    EXPECT_EQ(valueOf("tabs.create", { { "url", "file:///etc/hostname" } }), "NEW-TAB");
    EXPECT_EQ(host.calls,
        (std::vector<std::string> { "create https://n.example/",
            "create https://www.google.com/search?q=",
            "create https://www.google.com/search?q=",
            "create https://search.example/?q=file:///etc/hostname" }));
}

TEST_F(Bridge, LazyTabsListedByTabsListCanBeActivatedAndClosed)
{
    EXPECT_EQ(valueOf("tabs.activate", { { "tabId", "B" } }), true);
    EXPECT_EQ(valueOf("tabs.close", { { "tabId", "B" } }), true);
    EXPECT_EQ(valueOf("tabs.activate", { { "tabId", "C" } }), true);
    EXPECT_EQ(valueOf("tabs.close"), true); // the selected tab
    EXPECT_EQ(
        host.calls, (std::vector<std::string> { "select 1", "close 1", "select 2", "close 0" }));
    EXPECT_EQ(
        errorOf("tabs.activate", { { "tabId", "Z" } }), "No browser tab with that ID exists.");
}

TEST_F(Bridge, PageActionsStillNeedAWebView)
{
    EXPECT_EQ(errorOf("page.getInfo", { { "tabId", "B" } }), "No browser tab with that ID exists.");
    EXPECT_EQ(errorOf("scripting.executeScript", { { "tabId", "B" }, { "code", "1" } }),
        "No browser tab with that ID exists.");
    EXPECT_TRUE(host.scripts.empty());
}

TEST_F(Bridge, UnknownTabsActionNeedsATabThenIsUnsupported)
{
    EXPECT_EQ(errorOf("tabs.bogus"), "Unsupported Quivel API action: tabs.bogus");
    withoutSelectedTab();
    EXPECT_EQ(errorOf("tabs.bogus"), "No browser tab with that ID exists.");
}

// ---- browser

TEST_F(Bridge, BrowserInfoHomePageAndUserAgent)
{
    EXPECT_EQ(valueOf("browser.getInfo"),
        Json({ { "engine", "WebKit" }, { "name", "Quivel Browser" }, { "version", "1.0" } }));
    EXPECT_EQ(valueOf("browser.getHomePage"), "https://www.google.com/search?q=");

    auto outcome = call("browser.getUserAgent", { { "tabId", "C" } });
    ASSERT_EQ(host.scripts.size(), 1u);
    EXPECT_EQ(host.scripts[0].index, 2u);
    EXPECT_EQ(host.scripts[0].script.kind, PageScriptKind::Expression);
    EXPECT_EQ(host.scripts[0].script.source, "navigator.userAgent");
    EXPECT_EQ(finishScript(outcome, Json("Agent/1")).value(), "Agent/1");
    EXPECT_EQ(finishScript(call("browser.getUserAgent"), Json(42)).value(), "");
}

// ---- scripting and spoofing

TEST_F(Bridge, ExecuteScriptRunsTheCodeAsIs)
{
    withoutSelectedTab();
    EXPECT_EQ(errorOf("scripting.executeScript", { { "code", "" } }),
        "Script code must contain 1 to 262144 characters."); // before the tab is looked up
    auto outcome = call("scripting.executeScript", { { "code", "1 + 1" }, { "tabId", "A" } });
    ASSERT_EQ(host.scripts.size(), 1u);
    EXPECT_EQ(host.scripts[0].script.source, "1 + 1");
    EXPECT_EQ(host.scripts[0].script.kind, PageScriptKind::Expression);
    EXPECT_EQ(finishScript(outcome, Json(nullptr)).json(),
        Json({ { "ok", true }, { "value", nullptr } }));
}

TEST_F(Bridge, UserAgentIsSetOrClearedOnTheResolvedTab)
{
    EXPECT_EQ(valueOf("spoofing.setUserAgent", { { "userAgent", "Bot/2" } }), true);
    EXPECT_EQ(
        valueOf("spoofing.setUserAgent", { { "userAgent", nullptr }, { "tabId", "C" } }), true);
    EXPECT_EQ(valueOf("spoofing.setUserAgent"), true);
    EXPECT_EQ(errorOf("spoofing.setUserAgent", { { "tabId", "nope" }, { "userAgent", 5 } }),
        "No browser tab with that ID exists."); // the tab is checked first
    EXPECT_EQ(host.calls,
        (std::vector<std::string> { "agent 0 Bot/2", "agent 2 <default>", "agent 0 <default>" }));
}

// ---- storage

TEST_F(Bridge, StorageKeepsJsonTextsPerExtension)
{
    EXPECT_EQ(valueOf("storage.get", { { "key", "missing" } }), nullptr);
    EXPECT_EQ(valueOf("storage.set", { { "key", "greeting" }, { "value", "hello" } }), true);
    EXPECT_EQ(valueOf("storage.set", { { "key", "n" }, { "value", nullptr } }), true);
    EXPECT_EQ(
        valueOf("storage.set", { { "key", "obj" }, { "value", { { "a", { 1, 2 } } } } }), true);
    EXPECT_EQ(host.storage["ext"],
        Json({ { "greeting", "\"hello\"" }, { "n", "null" }, { "obj", "{\"a\":[1,2]}" } }));
    EXPECT_EQ(valueOf("storage.get", { { "key", "greeting" } }), "hello");
    EXPECT_EQ(valueOf("storage.get", { { "key", "n" } }), nullptr);
    EXPECT_EQ(valueOf("storage.get", { { "key", "obj" } }), Json({ { "a", { 1, 2 } } }));
    EXPECT_EQ(valueOf("storage.remove", { { "key", "n" } }), true);
    EXPECT_EQ(valueOf("storage.remove", { { "key", "never" } }), true);
    EXPECT_FALSE(host.storage["ext"].contains("n"));
    EXPECT_EQ(valueOf("storage.clear"), true);
    EXPECT_EQ(host.storage["ext"], Json::object());
}

TEST_F(Bridge, StorageFailures)
{
    EXPECT_EQ(
        errorOf("storage.set", { { "key", "k" } }), "Storage value must be JSON serializable.");
    EXPECT_EQ(errorOf("storage.set", { { "key", "" }, { "value", 1 } }),
        "Storage keys must be non-empty strings.");
    EXPECT_EQ(errorOf("storage.remove"), "Storage keys must be non-empty strings.");
    EXPECT_TRUE(host.storage.empty());
}

TEST_F(Bridge, StoredTextThatDoesNotParseReadsAsNull)
{
    host.storage["ext"] = { { "bad", "{not json" }, { "number", 5 } };
    EXPECT_EQ(valueOf("storage.get", { { "key", "bad" } }), nullptr);
    EXPECT_EQ(valueOf("storage.get", { { "key", "number" } }), nullptr);
    host.storage["ext"] = "not a dictionary";
    EXPECT_EQ(valueOf("storage.set", { { "key", "k" }, { "value", 1 } }), true);
    EXPECT_EQ(host.storage["ext"], Json({ { "k", "1" } }));
    EXPECT_EQ(extensionStorageKey("ext"), "QuivelExtensionStorage.ext");
}

// ---- events

TEST_F(Bridge, SubscriptionsFollowTheEventRules)
{
    EXPECT_EQ(valueOf("events.subscribe", { { "name", "tabs.created" } }), true);
    EXPECT_EQ(valueOf("events.subscribe", { { "name", "tabs.created" } }), true);
    EXPECT_TRUE(host.subscriptions.isSubscribed("ext", "tabs.created"));
    EXPECT_EQ(valueOf("events.unsubscribe", { { "name", "tabs.created" } }), true);
    EXPECT_FALSE(host.subscriptions.isSubscribed("ext", "tabs.created"));
    EXPECT_EQ(valueOf("events.unsubscribe", { { "name", "page.loaded" } }), true);
    EXPECT_EQ(
        errorOf("events.subscribe", { { "name", "tabs.exploded" } }), "Unknown Quivel event name.");

    granted = { "events", "tabs" };
    EXPECT_EQ(errorOf("events.subscribe", { { "name", "addressBar.changed" } }),
        "The addressBar permission is required for address bar events.");
    EXPECT_EQ(errorOf("events.subscribe", { { "name", "page.userInteraction" } }),
        "The userActivity permission is required for interaction events.");
    EXPECT_FALSE(host.subscriptions.isSubscribed("ext", "addressBar.changed"));
}

// ---- addressBar

TEST_F(Bridge, AddressBarReadsWritesAndSubmitsAsAWebAddressOnly)
{
    host.address = "news";
    EXPECT_EQ(valueOf("addressBar.getValue"), "news");
    EXPECT_EQ(valueOf("addressBar.setValue", { { "text", "/etc/passwd" } }), true);
    EXPECT_EQ(valueOf("addressBar.submit"), true);
    host.address = " \t";
    EXPECT_EQ(errorOf("addressBar.submit"), "The address bar is empty.");
    EXPECT_EQ(host.calls, (std::vector<std::string> { "setText /etc/passwd", "submit web-only" }));
}

// ---- page

TEST_F(Bridge, PageInfoDescribesTheWebView)
{
    host.tabs[0].canGoBack = true;
    EXPECT_EQ(valueOf("page.getInfo"),
        Json({ { "url", "https://a.example/" }, { "title", "Page A" }, { "isLoading", false },
            { "canGoBack", true }, { "canGoForward", false } }));
}

TEST_F(Bridge, PageReadsNeedALoadedPage)
{
    const char* actions[] = { "page.getText", "page.getHTML", "page.getSource", "page.getResources",
        "page.localStorage.get", "page.localStorage.set", "page.localStorage.clear",
        "source.getHTML", "source.listResources", "source.bogus" };
    for (const char* action : actions) {
        EXPECT_EQ(errorOf(action, { { "tabId", "C" }, { "key", "k" } }),
            "The selected tab has no loaded page.")
            << action;
    }
    EXPECT_TRUE(host.scripts.empty());
}

TEST_F(Bridge, PageScriptResultsAreShapedPerAction)
{
    EXPECT_EQ(finishScript(call("page.getText"), Json(5)).value(), "");
    EXPECT_EQ(finishScript(call("page.getText"), Json("body text")).value(), "body text");
    EXPECT_EQ(finishScript(call("page.getHTML"), Json(nullptr)).value(), nullptr);
    EXPECT_EQ(finishScript(call("page.getSource"), Json("<html>")).value(), "<html>");
    EXPECT_EQ(finishScript(call("page.getResources"), Json::array()).value(), Json::array());
    EXPECT_EQ(
        finishScript(call("page.click", { { "selector", "#go" } }), Json(nullptr)).value(), true);
    EXPECT_EQ(finishScript(call("page.scroll", { { "selector", "p" } }), Json({ { "scrollX", 0 } }))
                  .value(),
        Json({ { "scrollX", 0 } }));
}

TEST_F(Bridge, PageScriptsAreTheFixedTexts)
{
    call("page.getText");
    call("page.getHTML");
    call("page.getResources");
    ASSERT_EQ(host.scripts.size(), 3u);
    EXPECT_EQ(host.scripts[0].script.source, "document.body ? document.body.innerText : ''");
    EXPECT_EQ(host.scripts[1].script.source,
        "document.documentElement ? document.documentElement.outerHTML : ''");
    EXPECT_EQ(host.scripts[2].script.source,
        "performance.getEntriesByType('resource').map(r => ({name:r.name, type:r.initiatorType, "
        "duration:r.duration, size:r.transferSize}))");
}

TEST_F(Bridge, LocalStorageActionsPassKeyAndValueAsData)
{
    EXPECT_EQ(errorOf("page.localStorage.set", { { "key", "" } }),
        "A non-empty localStorage key is required.");
    EXPECT_EQ(errorOf("page.localStorage.remove"), "A non-empty localStorage key is required.");
    call("page.localStorage.get", { { "key", "ignored" } });
    call("page.localStorage.set", { { "key", "k" }, { "value", 5 } });
    ASSERT_EQ(host.scripts.size(), 2u);
    const std::string& get = host.scripts[0].script.source;
    EXPECT_EQ(host.scripts[0].script.kind, PageScriptKind::AsyncFunctionBody);
    EXPECT_NE(get.find("return Object.fromEntries(Array.from({length:localStorage.length},"),
        std::string::npos);
    EXPECT_EQ(host.scripts[1].script.source,
        "const key = \"k\";\nconst value = \"\";\nlocalStorage.setItem(key,value); return true;");
}

TEST_F(Bridge, HostileStringsTravelIntoPageScriptsAsDataOnly)
{
    const std::string hostile
        = "\"); alert('x'); (\"</script><script>evil()</script>\xE2\x80\xA8\\";
    call("page.click", { { "selector", hostile }, { "text", hostile }, { "x", "12" } });
    ASSERT_EQ(host.scripts.size(), 1u);
    const std::string& script = host.scripts[0].script.source;
    EXPECT_EQ(script.find("</script>"), std::string::npos);
    EXPECT_EQ(script.find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(script.find("alert('x'); (\"<"), std::string::npos);

    const std::string prefix = "const selector = ";
    ASSERT_EQ(script.rfind(prefix, 0), 0u);
    std::size_t end = script.find(";\nconst text = ");
    ASSERT_NE(end, std::string::npos);
    auto literal = parseJson(script.substr(prefix.size(), end - prefix.size()));
    ASSERT_TRUE(literal.has_value());
    EXPECT_EQ(*literal, hostile);
    EXPECT_NE(script.find("const x = 0.0;\nconst y = 0.0;\n"), std::string::npos); // non-numbers
    EXPECT_NE(script.find("e.click(); return true;"), std::string::npos);
}

TEST_F(Bridge, TypeIntoNonInputSetsTextContent)
{
    call("page.type", { { "selector", "div" }, { "text", "hi" } });
    ASSERT_EQ(host.scripts.size(), 1u);
    const std::string& script = host.scripts[0].script.source;
    EXPECT_NE(script.find("e instanceof owner"), std::string::npos);
    EXPECT_NE(script.find("e.textContent=text"), std::string::npos);
    EXPECT_NE(script.find("new Event('input',{bubbles:true})"), std::string::npos);
    EXPECT_LT(script.find("'input'"), script.find("'change'"));
}

TEST_F(Bridge, NavigateLoadsTheNormalizedAddressOrASearch)
{
    EXPECT_EQ(valueOf("page.navigate", { { "url", "site.example" } }), "https://www.site.example");
    EXPECT_EQ(valueOf("page.navigate", { { "url", "news" }, { "tabId", "C" } }),
        "https://search.example/?q=news");
    EXPECT_EQ(host.calls,
        (std::vector<std::string> {
            "load 0 https://www.site.example", "load 2 https://search.example/?q=news" }));
}

TEST_F(Bridge, ReloadBackAndForward)
{
    host.tabs[0].canGoBack = true;
    EXPECT_EQ(valueOf("page.reload"), true);
    EXPECT_EQ(valueOf("page.back"), true);
    EXPECT_EQ(valueOf("page.forward"), true); // cannot go forward: still true
    EXPECT_EQ(host.calls, (std::vector<std::string> { "reload 0", "back 0" }));
}

// ---- source

TEST_F(Bridge, SourceActionsRunTheirScriptsWithArguments)
{
    struct Case {
        const char* action;
        Json args;
        PageScriptKind kind;
        const char* contains;
        Json result;
        Json value;
    };
    const Case cases[] = {
        { "source.getHTML", Json::object(), PageScriptKind::AsyncFunctionBody,
            "throw new Error('Live HTML is larger than 2 MB')", Json(5), Json("") },
        { "source.setHTML", { { "html", "<p>x</p>" } }, PageScriptKind::AsyncFunctionBody,
            "const html = \"<p>x<\\/p>\";\n", Json(nullptr), Json(true) },
        { "source.listResources", Json::object(), PageScriptKind::Expression,
            ".slice(0,10000).map(r => ({url:r.name, type:r.initiatorType, size:r.transferSize}))",
            Json(nullptr), Json::array() },
        { "source.readResource", { { "url", "app.js" } }, PageScriptKind::AsyncFunctionBody,
            "Only resources already loaded by this page can be read", Json("code"), Json("code") },
        { "source.insertCSS", { { "css", "p{}" } }, PageScriptKind::AsyncFunctionBody,
            "style.dataset.qvSourceId = id;", Json(7), Json(nullptr) },
        { "source.removeCSS", { { "styleId", "qv-source-1" } }, PageScriptKind::AsyncFunctionBody,
            "const styleId = \"qv-source-1\";\n", Json(nullptr), Json(false) },
    };
    for (const Case& c : cases) {
        auto outcome = call(c.action, c.args);
        ASSERT_EQ(host.scripts.size(), 1u) << c.action;
        EXPECT_EQ(host.scripts[0].script.kind, c.kind) << c.action;
        EXPECT_NE(host.scripts[0].script.source.find(c.contains), std::string::npos) << c.action;
        BridgeReply reply = finishScript(outcome, c.result);
        EXPECT_EQ(reply.value(), c.value) << c.action;
    }
    EXPECT_EQ(errorOf("source.delete"), "Unknown source API action.");
}

// ---- network and download

TEST_F(Bridge, FetchArgumentsAreCheckedThenHandedToTheHost)
{
    EXPECT_EQ(errorOf("network.fetch", { { "url", "file:///etc/passwd" } }),
        "Network URL must use HTTP or HTTPS.");
    EXPECT_EQ(errorOf("network.fetch",
                  { { "url", "https://x.example" }, { "options", { { "method", "TRACE" } } } }),
        "Unsupported HTTP method.");
    auto outcome = call("network.fetch",
        { { "url", "https://x.example/api" },
            { "options",
                { { "method", "post" }, { "body", "{}" },
                    { "headers",
                        { { "X-A", "1" }, { "X-N", 5 }, { "X-Bad", "a\r\nb: c" } } } } } });
    ASSERT_TRUE(host.fetch);
    EXPECT_EQ(host.fetch->method, "POST");
    EXPECT_EQ(host.fetch->body, std::optional<std::string>("{}"));
    EXPECT_EQ(
        host.fetch->headers, (std::vector<std::pair<std::string, std::string>> { { "X-A", "1" } }));
    host.pendingNetworkReply(extensionFetchReply(*host.fetch, { "", 404, Json::object(), "nope" }));
    BridgeReply reply = replyOf(outcome);
    EXPECT_EQ(reply.value()["ok"], false);
    EXPECT_EQ(reply.value()["status"], 404);
    EXPECT_EQ(reply.value()["url"], "https://x.example/api");
}

TEST_F(Bridge, NetworkAndDownloadNeedAResolvableTab)
{
    withoutSelectedTab();
    EXPECT_EQ(errorOf("network.fetch", { { "url", "https://x.example" } }),
        "No browser tab with that ID exists.");
    EXPECT_EQ(errorOf("download.save", { { "url", "https://x.example" } }),
        "No browser tab with that ID exists.");
    EXPECT_FALSE(host.fetch);
}

TEST_F(Bridge, DownloadProposesASafeName)
{
    struct Case {
        Json args;
        const char* name;
    };
    const Case cases[] = {
        { { { "url", "https://x.example/files/report%20one.pdf" } }, "report one.pdf" },
        { { { "url", "https://x.example" } }, "download" },
        { { { "url", "https://x.example/a/" } }, "a" },
        { { { "url", "https://x.example/a.zip" }, { "suggestedName", "../../etc/cron.d/x" } },
            "x" },
        { { { "url", "https://x.example/a.zip" }, { "suggestedName", "/" } }, "download" },
        { { { "url", "https://x.example/a.zip" }, { "suggestedName", 5 } }, "a.zip" },
    };
    for (const Case& c : cases) {
        call("download.save", c.args);
        ASSERT_TRUE(host.download) << c.args.dump();
        EXPECT_EQ(host.download->proposedName, c.name) << c.args.dump();
        host.download.reset();
    }
    EXPECT_EQ(errorOf("download.save", { { "url", "ftp://x.example/a" } }),
        "Download URL must use HTTP or HTTPS.");
}

TEST(ExtensionFetch, BodyLimitAndBase64)
{
    ExtensionFetchRequest request;
    request.url = "https://x.example/";
    ExtensionFetchResponse response { "https://y.example/", 200, Json::object(),
        std::string(kMaxExtensionFetchBodyBytes, 'a') };
    EXPECT_TRUE(extensionFetchReply(request, response).ok());
    response.body += 'a';
    EXPECT_EQ(extensionFetchReply(request, response).error(), "Response exceeds the 4 MB limit.");
    response.body = "\x89PNG\xFF";
    BridgeReply binary = extensionFetchReply(request, response);
    EXPECT_EQ(binary.value()["body"], "iVBOR/8=");
    EXPECT_EQ(binary.value()["bodyIsBase64"], true);
    EXPECT_EQ(binary.value()["url"], "https://y.example/");
    EXPECT_EQ(binary.value()["ok"], true);
    EXPECT_EQ(base64Encode("ab"), "YWI=");
    EXPECT_EQ(base64Encode("abc"), "YWJj");
    EXPECT_EQ(base64Encode(""), "");
}

// ---- replies with invalid UTF-8

TEST_F(Bridge, ReplyHoldingInvalidUtf8IsStillDelivered)
{
    host.tabs[0].storedTitle = "bad \xFF title";
    BridgeReply reply = replyOf(call("tabs.list"));
    std::string text;
    ASSERT_NO_THROW(text = reply.text());
    auto back = parseJson(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ((*back)["value"][0]["title"], "bad \xEF\xBF\xBD title");
}

// ---- user activity

TEST_F(Bridge, UserActivityReportBecomesAnInteractionEvent)
{
    UserActivitySource from { true, TabID("A") };
    auto outcome = std::make_shared<Outcome>();
    handleUserActivityMessage(Json { { "type", "keydown" }, { "tag", "input" }, { "id", 7 },
                                  { "role", "" }, { "inputType", "text" }, { "key", "Enter" } },
        from, host, [outcome](const BridgeReply& r) {
            ++outcome->calls;
            outcome->reply = r;
        });
    ASSERT_EQ(outcome->calls, 1);
    EXPECT_EQ(outcome->reply->json(), Json({ { "ok", true } }));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].first, "page.userInteraction");
    EXPECT_EQ(host.events[0].second,
        Json({ { "tabId", "A" }, { "type", "keydown" }, { "tag", "input" }, { "id", "" },
            { "role", "" }, { "inputType", "text" }, { "key", "Enter" } }));

    auto detail = userInteractionDetail(Json { { "type", "click" }, { "key", "" } }, from);
    ASSERT_TRUE(detail);
    EXPECT_FALSE(detail->contains("key"));
}

TEST_F(Bridge, RejectedUserActivityEmitsNothing)
{
    struct Case {
        Json body;
        UserActivitySource from;
    };
    const Case cases[] = {
        { Json { { "type", "click" } }, { false, TabID("A") } }, // inside a frame
        { Json { { "type", "click" } }, { true, std::nullopt } }, // not a tab
        { Json { { "type", "scroll" } }, { true, TabID("A") } },
        { Json { { "type", 1 } }, { true, TabID("A") } },
        { Json("click"), { true, TabID("A") } },
    };
    for (const Case& c : cases) {
        auto outcome = std::make_shared<Outcome>();
        handleUserActivityMessage(c.body, c.from, host, [outcome](const BridgeReply& r) {
            ++outcome->calls;
            outcome->reply = r;
        });
        ASSERT_EQ(outcome->calls, 1) << c.body.dump();
        EXPECT_EQ(outcome->reply->json(),
            Json({ { "ok", false }, { "error", "Browser interaction event rejected." } }));
    }
    EXPECT_TRUE(host.events.empty());
}

TEST_F(Bridge, ReportsPastTheTabsRateAreRejected)
{
    UserActivityRateLimiter limiter;
    int accepted = 0;
    auto started = UserActivityRateLimiter::Clock::now();
    for (int i = 0; i < 1000; ++i) {
        handleUserActivityMessage(
            Json { { "type", "click" } }, { true, TabID("A") }, host,
            [&accepted](const BridgeReply& r) { accepted += r.json()["ok"] == true ? 1 : 0; },
            &limiter);
    }
    // The burst, and one more per interval the loop took (a slow build takes several).
    auto intervals
        = (UserActivityRateLimiter::Clock::now() - started) / UserActivityRateLimiter::kInterval;
    EXPECT_GE(accepted, 1);
    EXPECT_LE(accepted, UserActivityRateLimiter::kBurst + 1 + static_cast<int>(intervals));
    EXPECT_EQ(host.events.size(), std::size_t(accepted));
}

TEST_F(Bridge, OnlyTheExtensionsOwnCodeRunsInThePageWorld)
{
    call("scripting.executeScript", { { "code", "1" } });
    call("page.getText");
    call("source.getHTML");
    call("page.localStorage.get");
    ASSERT_EQ(host.scripts.size(), 4u);
    EXPECT_EQ(host.scripts[0].script.world, PageScriptWorld::Page);
    for (std::size_t i = 1; i < host.scripts.size(); ++i)
        EXPECT_EQ(host.scripts[i].script.world, PageScriptWorld::Isolated) << i;
}

// Whatever a page hands back to an extension is measured in the browser before it is copied:
// the page's source and script results under the same bound as source.getHTML.
TEST_F(Bridge, EveryPageReadRepliedToAnExtensionIsBounded)
{
    struct Case {
        const char* action;
        Json args;
        std::size_t limit;
    };
    const Case cases[] = {
        { "source.getHTML", Json::object(), 2097152 },
        { "page.getHTML", Json::object(), 2097152 },
        { "page.getSource", Json::object(), 2097152 },
        { "scripting.executeScript", { { "code", "document.body.innerHTML" } }, 2097152 },
        { "page.getText", Json::object(), 2097152 },
        { "source.readResource", { { "url", "/a.css" } }, 2097152 },
        { "page.getResources", Json::object(), kResourceListReadLimit.maxLength },
        { "source.listResources", Json::object(), kResourceListReadLimit.maxLength },
        { "page.localStorage.get", Json::object(), kLocalStorageReadLimit.maxLength },
    };
    for (const Case& c : cases) {
        host.scripts.clear();
        call(c.action, c.args);
        ASSERT_EQ(host.scripts.size(), 1u) << c.action;
        const auto& limit = host.scripts[0].script.resultLimit;
        ASSERT_TRUE(limit) << c.action;
        EXPECT_EQ(limit->maxLength, c.limit) << c.action;
    }
}

} // namespace qv

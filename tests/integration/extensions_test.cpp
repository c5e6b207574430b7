// Extensions end to end: real extension pages in real web views talking over the bridge.
#include "support/extensions_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "extensions/extension_storage.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

namespace qv::test {

namespace fs = std::filesystem;

TEST_F(ExtensionsTest, BridgeCallRoundTripAnswersFromTheBrowser)
{
    writeExtension("probe", fileExtensionManifest("probe", "Probe", { "browser", "tabs" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "probe", { "browser", "tabs" } } } } });
    launch();
    WebKitWebView* view = startExtension("probe");
    ASSERT_TRUE(view);
    EXPECT_TRUE(m_alerts.empty());

    EXPECT_EQ(callAsync(view, "return await qv.call('browser.getInfo');"),
        (Json { { "engine", "WebKit" }, { "name", "Quivel Browser" }, { "version", "1.0" } }));
    Json tabs = callAsync(view, "return await qv.tabs.list();");
    ASSERT_EQ(tabs.size(), 1u);
    EXPECT_EQ(tabs[0]["id"], controller().tabs().browserTabs()[0].id());
    EXPECT_EQ(tabs[0]["active"], true);
    EXPECT_EQ(callAsync(view, "return await qv.request('tabs.close', {tabId: 'NOPE'});"),
        (Json { { "ok", false }, { "error", "No browser tab with that ID exists." } }));
    EXPECT_EQ(callAsync(view, "return await qv.request('ui.getState');"),
        (Json {
            { "ok", false }, { "error", "Extension probe does not have the ui permission." } }));
    EXPECT_EQ(callAsync(view,
                  "try { await qv.call('ui.getState'); return 'resolved'; }"
                  " catch (e) { return e.name + ': ' + e.message; }"),
        "QuivelError: Extension probe does not have the ui permission.");
}

TEST_F(ExtensionsTest, DeniedPermissionPromptLeavesTheExtensionOffAndWritesNothing)
{
    writeExtension("probe", fileExtensionManifest("probe", "Probe", { "browser", "tabs" }));
    writeDefaults(Json::object());
    launch();
    m_alertAnswer = 0;
    controller().extensions().openExtension(Sender::identified("probe"));

    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].messageText, "Allow Probe to use browser permissions?");
    EXPECT_EQ(m_alerts[0].informativeText,
        "Requested permissions: browser, tabs\n\nNetwork can send requests to websites. Downloads "
        "can save files after you choose a destination. Page access can read and navigate tabs. "
        "Address Bar access can read or change the current address/search field. UI access can "
        "read the current theme and profile and change the theme or show/hide browser bars. User "
        "Activity reports interaction types and element details, but not typed text or field "
        "values.");
    EXPECT_EQ(m_alerts[0].buttons, (std::vector<std::string> { "Deny", "Allow" }));
    EXPECT_TRUE(controller().extensions().extensionWebViews().empty());
    EXPECT_TRUE(controller().extensions().extensionIDByWebView().empty());
    EXPECT_TRUE(controller().extensions().enabledExtensionIDs().empty());
    EXPECT_FALSE(controller().extensionManager());
    Json stored = storedDefaults();
    EXPECT_FALSE(stored.contains(kExtensionPermissionsKey));
    EXPECT_FALSE(stored.contains(kEnabledExtensionsKey));

    // Turned on by its switch in the manager and denied, it shows as off, switch and all.
    controller().showExtensionManager();
    auto probeSwitch = [&]() -> Gtk::CheckButton* {
        std::function<Gtk::CheckButton*(Gtk::Widget&)> find = [&](Gtk::Widget& root) {
            for (Gtk::Widget* child = root.get_first_child(); child;
                 child = child->get_next_sibling()) {
                if (auto* check = dynamic_cast<Gtk::CheckButton*>(child);
                    check && check->get_name() == "probe")
                    return check;
                if (Gtk::CheckButton* found = find(*child))
                    return found;
            }
            return static_cast<Gtk::CheckButton*>(nullptr);
        };
        return find(*controller().extensionManager()->listStack());
    };
    ASSERT_TRUE(probeSwitch());
    probeSwitch()->set_active(true);
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 2; }));
    ASSERT_TRUE(flushIdleWork());
    ASSERT_TRUE(probeSwitch());
    EXPECT_FALSE(probeSwitch()->get_active());
    EXPECT_TRUE(controller().extensions().enabledExtensionIDs().empty());
}

TEST_F(ExtensionsTest, AllowingAsksOnlyForMissingNamesAndLaterStartsNeedNoPrompt)
{
    writeExtension("probe", fileExtensionManifest("probe", "Probe", { "tabs", "browser" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "probe", { "tabs" } } } } });
    launch();
    m_alertAnswer = 1;
    ASSERT_TRUE(startExtension("probe"));
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].informativeText.rfind("Requested permissions: browser\n\n", 0), 0u);
    Json stored = storedDefaults();
    std::set<std::string> granted;
    for (const Json& name : stored[kExtensionPermissionsKey]["probe"])
        granted.insert(name.get<std::string>());
    EXPECT_EQ(granted, (std::set<std::string> { "tabs", "browser" }));
    EXPECT_EQ(stored[kEnabledExtensionsKey], Json::array({ "probe" }));
    EXPECT_TRUE(controller().extensions().extensionHasPermission("probe", "browser"));
    EXPECT_FALSE(controller().extensions().extensionHasPermission("probe", "ui"));

    controller().extensions().toggleExtension(Sender::identified("probe"));
    EXPECT_FALSE(extensionView("probe"));
    EXPECT_EQ(storedDefaults()[kEnabledExtensionsKey], Json::array());
    controller().extensions().toggleExtension(Sender::identified("probe"));
    EXPECT_TRUE(extensionView("probe"));
    EXPECT_EQ(m_alerts.size(), 1u);
}

TEST_F(ExtensionsTest, EventsArriveAfterSubscribingAndStopAfterTurningOff)
{
    writeExtension("listener", fileExtensionManifest("listener", "Listener", { "events", "tabs" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "listener", { "events", "tabs" } } } } });
    launch();
    std::vector<std::string> logged;
    setLogObserver([&](std::string_view line) { logged.emplace_back(line); });
    WebKitWebView* view = startExtension("listener");
    ASSERT_TRUE(view);
    auto seenCount = [&](WebKitWebView* v) { return callAsync(v, "return window.seen.length;"); };

    callAsync(view, "window.seen = []; return true;");
    controller().tabs().createBrowserTabWithURL(m_server->url("/a.html"));
    // A round trip through the page runs after any delivery the tab change sent it.
    callAsync(view, "return true;");
    EXPECT_EQ(seenCount(view), 0) << "nothing arrives before subscribing";

    EXPECT_EQ(callAsync(view, "return await qv.on('tabs.created', d => seen.push(d));"), true);
    TabID created = controller().tabs().createBrowserTabWithURL(m_server->url("/b.html"));
    ASSERT_TRUE(waitUntil([&] { return seenCount(view) == 1; }));
    EXPECT_EQ(callAsync(view, "return seen[0];"),
        (Json { { "tabId", created }, { "url", m_server->url("/b.html") } }));

    // The old page is kept alive here only to look into it after it was turned off.
    auto oldView = GObjectPtr<WebKitWebView>::retain(view);
    controller().extensions().toggleExtension(Sender::identified("listener"));
    EXPECT_FALSE(extensionView("listener"));
    EXPECT_FALSE(controller().extensions().extensionEventSubscriptions().hasSubscriptionSet("listener"));
    controller().tabs().createBrowserTabWithURL(m_server->url("/c.html"));
    callAsync(oldView.get(), "return true;");
    EXPECT_EQ(seenCount(oldView.get()), 1);

    WebKitWebView* restarted = startExtension("listener");
    ASSERT_TRUE(restarted);
    EXPECT_NE(restarted, oldView.get());
    callAsync(restarted, "window.seen = []; return true;");
    controller().tabs().createBrowserTabWithURL(m_server->url("/d.html"));
    callAsync(restarted, "return true;");
    EXPECT_EQ(seenCount(restarted), 0) << "a restarted page begins without subscriptions";
    for (const auto& line : logged)
        EXPECT_EQ(line.find("Extension event"), std::string::npos) << line;
}

TEST_F(ExtensionsTest, EventDeliveryFailureIsLogged)
{
    writeExtension("listener", fileExtensionManifest("listener", "Listener", { "events" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "listener", { "events" } } } } });
    launch();
    WebKitWebView* view = startExtension("listener");
    ASSERT_TRUE(view);
    callAsync(view,
        "await qv.on('tabs.removed', () => {}); "
        "globalThis.__qvDispatchNativeEvent = () => { throw new Error('broken'); };"
        " return true;");
    std::vector<std::string> logged;
    setLogObserver([&](std::string_view line) { logged.emplace_back(line); });
    controller().extensions().emitExtensionEvent("tabs.removed", { { "tabId", "X" } });
    ASSERT_TRUE(waitUntil([&] { return !logged.empty(); }));
    EXPECT_EQ(logged[0].rfind("Extension event tabs.removed failed: ", 0), 0u) << logged[0];
}

TEST_F(ExtensionsTest, FileExtensionCannotNavigateToAWebsiteOrAnotherFolder)
{
    fs::path dir = writeExtension("fence", fileExtensionManifest("fence", "Fence", Json::array()),
        { { "index.html", kBasicPage }, { "second.html", kBasicPage } });
    fs::path other
        = writeExtension("other", fileExtensionManifest("other", "Other", Json::array()));
    m_server->page("/away.html", "Away");
    writeDefaults(Json::object());
    launch();
    WebKitWebView* view = startExtension("fence");
    ASSERT_TRUE(view);
    std::string index = webkit_web_view_get_uri(view);

    callAsync(
        view, "location.href = " + jsonForScript(m_server->url("/away.html")) + "; return 1;");
    callAsync(view,
        "document.body.insertAdjacentHTML('beforeend', '<iframe src=' + "
            + jsonForScript(m_server->url("/away.html")) + " + '></iframe>'); return 1;");
    callAsync(view, "location.href = 'file://" + (other / "index.html").string() + "'; return 1;");
    // An allowed navigation started after the refused ones: once it has loaded, they have all
    // been decided, and none of them left a page in the history.
    callAsync(view, "setTimeout(() => { location.href = 'second.html'; }, 0); return 1;");
    EXPECT_TRUE(waitForLoad(view, "file://" + (dir / "second.html").string()));
    WebKitBackForwardListItem* back
        = webkit_back_forward_list_get_back_item(webkit_web_view_get_back_forward_list(view));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(webkit_back_forward_list_item_get_uri(back)), index);
    EXPECT_EQ(m_server->requestCount("/away.html"), 0);
    EXPECT_TRUE(extensionView("fence"));
}

TEST_F(ExtensionsTest, PageActionsChangeAPageServedLocally)
{
    writeExtension("tool", fileExtensionManifest("tool", "Tool", { "page", "source", "tabs" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "tool", { "page", "source", "tabs" } } } } });
    launch();
    openServedTab("/form.html",
        "<p id=\"t\">text</p><input id=\"q\"><button id=\"go\" "
        "onclick=\"document.title='clicked'\">Go</button>");
    WebKitWebView* tab = selectedView();
    WebKitWebView* view = startExtension("tool");
    ASSERT_TRUE(view);

    Json styleID
        = callAsync(view, "return await qv.source.insertCSS('#t { color: rgb(1, 2, 3); }');");
    ASSERT_TRUE(styleID.is_string());
    EXPECT_EQ(
        evaluate(tab, "getComputedStyle(document.getElementById('t')).color"), "\"rgb(1, 2, 3)\"");
    EXPECT_EQ(callAsync(view, "return await qv.page.click('#go');"), true);
    EXPECT_TRUE(waitUntil([&] { return evaluate(tab, "document.title") == "\"clicked\""; }));
    EXPECT_EQ(callAsync(view, "return await qv.page.getText();"), "text\n\nGo");
    EXPECT_EQ(
        callAsync(view, "return await qv.source.removeCSS(" + dumpJson(styleID) + ");"), true);
    EXPECT_EQ(
        evaluate(tab, "getComputedStyle(document.getElementById('t')).color"), "\"rgb(0, 0, 0)\"");
    EXPECT_EQ(
        callAsync(view, "return await qv.request('page.click', {selector: '#missing'});")["ok"],
        false);
}

TEST_F(ExtensionsTest, TextWithQuotesScriptEndAndLineSeparatorReachesThePageIntact)
{
    writeExtension("tool", fileExtensionManifest("tool", "Tool", { "page", "source", "storage" }));
    writeDefaults(
        { { kExtensionPermissionsKey, { { "tool", { "page", "source", "storage" } } } } });
    launch();
    openServedTab("/input.html", "<input id=\"q\">");
    WebKitWebView* tab = selectedView();
    WebKitWebView* view = startExtension("tool");
    ASSERT_TRUE(view);
    const std::string expected = "a\"b'c`</script><script>window.pwned=1</script>\xE2\x80\xA8"
                                 "d\xE2\x80\xA9${1}\\n";
    callAsync(view,
        "window.s = \"a\\\"b'c`</script><script>window.pwned=1<\\/script>\\u2028d"
        "\\u2029${1}\\\\n\"; return s.length;");

    EXPECT_EQ(callAsync(view, "return await qv.page.type('#q', s);"), true);
    EXPECT_EQ(parsedOrNull(evaluate(tab, "document.getElementById('q').value")), expected);
    EXPECT_EQ(callAsync(view, "return await qv.page.localStorage.set(s, s);"), true);
    EXPECT_EQ(callAsync(view, "return (await qv.page.localStorage.get())[s];"), expected);
    EXPECT_EQ(
        callAsync(view, "return await qv.source.insertCSS('/* ' + s + ' */');").is_string(), true);
    EXPECT_EQ(callAsync(view, "return await qv.storage.set('k', {s});"), true);
    EXPECT_EQ(callAsync(view, "return (await qv.storage.get('k')).s;"), expected);
    EXPECT_EQ(evaluate(tab, "typeof window.pwned"), "\"undefined\"");
    EXPECT_EQ(evaluate(view, "typeof window.pwned"), "\"undefined\"");
}

TEST_F(ExtensionsTest, ReplyHoldingInvalidUnicodeIsStillDelivered)
{
    writeExtension("tool", fileExtensionManifest("tool", "Tool", { "scripting", "tabs" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "tool", { "scripting", "tabs" } } } } });
    launch();
    openServedTab("/odd.html", "<script>document.title = 'T\\uD800x';</script>");
    WebKitWebView* view = startExtension("tool");
    ASSERT_TRUE(view);

    Json reply = callAsync(view,
        "return await qv.request('scripting.executeScript', "
        "{code: \"'x\\\\uD800y' + '\\\\uDC00'\"});");
    EXPECT_EQ(reply, (Json { { "ok", true }, { "value", "x\xEF\xBF\xBDy\xEF\xBF\xBD" } }));
    ASSERT_TRUE(
        waitUntil([&] { return controller().tabs().browserTabs().back().title().rfind("T", 0) == 0; }));
    Json tabs = callAsync(view, "return await qv.request('tabs.list');");
    ASSERT_EQ(tabs["ok"], true);
    std::string title = tabs["value"].back()["title"];
    EXPECT_EQ(title.rfind("T", 0), 0u);
    EXPECT_EQ(title.substr(title.size() - 1), "x");
}

TEST_F(ExtensionsTest, WebsiteExtensionLoadsItsAddressButTheBridgeRefusesIt)
{
    m_server->page("/site.html", "Site");
    writeExtension("site",
        { { "id", "site" }, { "type", "URL" }, { "url", m_server->url("/site.html") } }, {});
    writeDefaults(Json::object());
    m_alertAnswer = 1;
    launch();
    WebKitWebView* view = startExtension("site", m_server->url("/site.html"));
    ASSERT_TRUE(view);
    EXPECT_EQ(callAsync(view, "return await qv.request('browser.getInfo');"),
        (Json { { "ok", false }, { "error", "Extension bridge rejected the request." } }));
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(),
        "Website Extension \u00B7 isolated runtime \u00B7 Quivel API bridge");
}

TEST_F(ExtensionsTest, LoadingExtensionsAgainLeavesNoUnrecognisedWebView)
{
    writeExtension("one", fileExtensionManifest("one", "One", { "browser" }));
    writeExtension("two", fileExtensionManifest("two", "Two", { "browser" }));
    writeDefaults(
        { { kExtensionPermissionsKey, { { "one", { "browser" } }, { "two", { "browser" } } } } });
    launch();
    ASSERT_TRUE(startExtension("one"));
    ASSERT_TRUE(startExtension("two"));
    controller().extensions().selectExtension(Sender::identified("one"));
    auto before1 = GObjectPtr<WebKitWebView>::retain(extensionView("one"));
    auto before2 = GObjectPtr<WebKitWebView>::retain(extensionView("two"));

    controller().extensions().loadExtensions();

    ASSERT_EQ(controller().extensions().extensionWebViews().size(), 2u);
    ASSERT_EQ(controller().extensions().extensionIDByWebView().size(), 2u);
    for (const auto& [view, id] : controller().extensions().extensionIDByWebView()) {
        EXPECT_EQ(controller().extensions().extensionWebViews().at(id).get(), view);
        EXPECT_NE(view, before1.get());
        EXPECT_NE(view, before2.get());
    }
    EXPECT_FALSE(gtk_widget_get_parent(GTK_WIDGET(before1.get())));
    EXPECT_FALSE(gtk_widget_get_parent(GTK_WIDGET(before2.get())));
    EXPECT_EQ(controller().extensions().selectedExtensionID(), "one");
    WebKitWebView* now = extensionView("one");
    ASSERT_TRUE(waitForLoad(now, "file://"));
    EXPECT_EQ(callAsync(now, "return (await qv.call('browser.getInfo')).engine;"), "WebKit");
    EXPECT_EQ(callAsync(before1.get(), "return (await qv.request('browser.getInfo')).ok;"), false);
}

TEST_F(ExtensionsTest, ManagerListsByNameAndShowsTheRunningPage)
{
    writeExtension("beta", fileExtensionManifest("beta", "beta", Json::array()));
    writeExtension("alpha", fileExtensionManifest("alpha", "Alpha", Json::array()));
    writeDefaults(Json::object());
    launch();
    controller().showExtensionManager();
    Gtk::Window* manager = controller().extensionManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->get_title().raw(), "Quivel Extensions");
    EXPECT_EQ(controller().shell().auxiliaryWindows(), std::vector<Gtk::Window*> { manager });
    std::vector<std::string> rows;
    for (Gtk::Widget* row = controller().extensionManager()->listStack()->get_first_child(); row;
         row = row->get_next_sibling())
        rows.push_back(row->get_name().raw());
    EXPECT_EQ(rows, (std::vector<std::string> { "alpha", "beta" }));
    EXPECT_EQ(controller().extensionManager()->pageTitle()->get_text().raw(), "Select an Extension");
    EXPECT_FALSE(controller().extensionManager()->settingsButton()->get_visible());

    controller().extensions().selectExtension(Sender::identified("beta"));
    EXPECT_EQ(controller().extensionManager()->pageTitle()->get_text().raw(), "beta");
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(),
        "This Extension is off. Turn it on in the list to run its page.");

    WebKitWebView* view = startExtension("alpha");
    ASSERT_TRUE(view);
    EXPECT_EQ(controller().extensions().selectedExtensionID(), "alpha");
    EXPECT_EQ(controller().extensionManager()->pageContainer()->get_first_child()->gobj(), GTK_WIDGET(view));
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(),
        "File Extension \u00B7 isolated runtime \u00B7 Quivel API bridge");

    controller().extensions().showExtensionSettings();
    EXPECT_EQ(controller().extensionManager()->pageHint()->get_text().raw(), "Manage this Extension");
    EXPECT_EQ(
        controller().extensionManager()->settingsButton()->get_tooltip_text().raw(), "Back to Extension");
    controller().extensions().showExtensionSettings();
    EXPECT_EQ(controller().extensionManager()->pageContainer()->get_first_child()->gobj(), GTK_WIDGET(view));

    // Closing only hides the window; the same one comes back.
    manager->close();
    ASSERT_TRUE(flushIdleWork());
    EXPECT_FALSE(manager->get_visible());
    controller().showExtensionManager();
    EXPECT_EQ(controller().extensionManager(), manager);
    EXPECT_TRUE(manager->get_visible());
}

TEST_F(ExtensionsTest, ManagerWithoutExtensionsSaysSo)
{
    writeDefaults(Json::object());
    launch();
    controller().showExtensionManager();
    auto* label = dynamic_cast<Gtk::Label*>(controller().extensionManager()->listStack()->get_first_child());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->get_text().raw(), "No Extensions installed yet.");
    EXPECT_EQ(controller().extensionManager()->pageTitle()->get_text().raw(), "Select an Extension");
}

TEST_F(ExtensionsTest, EnabledExtensionsStartWhenTheManagerIsFirstShown)
{
    writeExtension("granted", fileExtensionManifest("granted", "Granted", { "tabs" }));
    writeExtension("ungranted", fileExtensionManifest("ungranted", "Ungranted", { "tabs" }));
    writeDefaults({ { kEnabledExtensionsKey, { "granted", "ungranted" } },
        { kExtensionPermissionsKey, { { "granted", { "tabs" } } } } });
    launch();
    EXPECT_TRUE(controller().extensions().extensionWebViews().empty());
    m_alertAnswer = 0;
    controller().showExtensionManager();
    EXPECT_TRUE(extensionView("granted"));
    EXPECT_FALSE(extensionView("ungranted"));
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].messageText, "Allow Ungranted to use browser permissions?");
    // A denied prompt leaves the stored enabled set as it was.
    EXPECT_EQ(storedDefaults()[kEnabledExtensionsKey], Json::array({ "granted", "ungranted" }));
}

TEST_F(ExtensionsTest, BuiltInExtensionsAreCopiedUnlessDeletedAndDuplicatesAreLogged)
{
    writeExtension("first", fileExtensionManifest("dup", "First", Json::array()));
    writeExtension("second", fileExtensionManifest("dup", "Second", Json::array()));
    writeDefaults({ { kDeletedBundledExtensionsKey, { "page-styler" } } }, true);
    std::vector<std::string> logged;
    setLogObserver([&](std::string_view line) { logged.emplace_back(line); });
    launch();
    EXPECT_TRUE(fs::exists(store() / "tab-list" / "manifest.json"));
    EXPECT_FALSE(fs::exists(store() / "page-styler"));
    EXPECT_TRUE(controller().extensions().extensions().count("tab-list"));
    ASSERT_TRUE(controller().extensions().extensions().count("dup"));
    EXPECT_EQ(controller().extensions().extensions().at("dup").name(), "First");
    // The launch loads once before the menu and never again, so the line appears once.
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Duplicate Quivel Extension ID ignored: dup"), 1);
}

TEST_F(ExtensionsTest, BuiltInTabListShowsTabsAndSwitchesToTheClickedOne)
{
    writeDefaults({ { kDeletedBundledExtensionsKey, Json::array() },
                      { kExtensionPermissionsKey, { { "tab-list", { "tabs", "events" } } } } },
        true);
    launch();
    m_server->page("/one.html", "One");
    m_server->page("/two.html", "Two");
    controller().tabs().createBrowserTabWithURL(m_server->url("/one.html"));
    controller().tabs().createBrowserTabWithURL(m_server->url("/two.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/two.html")));
    WebKitWebView* view = startExtension("tab-list");
    ASSERT_TRUE(view);
    ASSERT_TRUE(
        waitUntil([&] { return evaluate(view, "document.querySelectorAll('li').length") == "3"; }));

    TabID second = controller().tabs().browserTabs()[1].id();
    evaluate(view, "document.querySelector('li[data-tab-id=\"" + second + "\"]').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().indexOfSelectedTab() == 1u; }));
    // The activation event redraws the list with the new active row.
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(view, "document.querySelector('li.active').dataset.tabId")
            == "\"" + second + "\"";
    }));
    evaluate(
        view, "document.querySelector('li[data-tab-id=\"" + second + "\"] .close').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == 2u; }));
    EXPECT_TRUE(
        waitUntil([&] { return evaluate(view, "document.querySelectorAll('li').length") == "2"; }));
}

TEST_F(ExtensionsTest, BuiltInPageStylerStylesThePageAndRemembersTheSite)
{
    writeDefaults(
        { { kDeletedBundledExtensionsKey, Json::array() },
            { kExtensionPermissionsKey,
                { { "page-styler", { "tabs", "page", "source", "storage", "events" } } } } },
        true);
    launch();
    openServedTab("/article.html", "<p>Article</p>");
    WebKitWebView* tab = selectedView();
    WebKitWebView* view = startExtension("page-styler");
    ASSERT_TRUE(view);
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(view, "document.querySelectorAll('#styles button').length") == "4";
    }));

    evaluate(view, "document.querySelector('button[data-style=night]').click(); 1");
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(tab, "getComputedStyle(document.body).backgroundColor")
            == "\"rgb(21, 23, 28)\"";
    }));
    std::string site = "127.0.0.1:" + std::to_string(m_server->port());
    Json storage;
    ASSERT_TRUE(waitUntil([&] {
        storage = controller().shell().defaults().objectForKey(extensionStorageKey("page-styler"));
        return storage.contains("sites");
    }));
    EXPECT_EQ(parsedOrNull(storage["sites"].get<std::string>()), (Json { { site, "night" } }));

    // A new load of the same site gets the remembered style once the page says it has loaded.
    webkit_web_view_reload(tab);
    ASSERT_TRUE(waitForLoad(tab, m_server->url("/article.html")));
    controller().extensions().emitExtensionEvent("page.loaded",
        { { "tabId", controller().tabs().browserTabs().back().id() },
            { "url", m_server->url("/article.html") }, { "title", "Served" } });
    EXPECT_TRUE(waitUntil([&] {
        return evaluate(tab, "getComputedStyle(document.body).backgroundColor")
            == "\"rgb(21, 23, 28)\"";
    }));
}

TEST_F(ExtensionsTest, PointerClicksInATabReachAnExtensionHoldingUserActivity)
{
    writeExtension("watch", fileExtensionManifest("watch", "Watch", { "events", "userActivity" }));
    writeExtension("blind", fileExtensionManifest("blind", "Blind", { "events" }));
    writeDefaults({ { kExtensionPermissionsKey,
        { { "watch", { "events", "userActivity" } }, { "blind", { "events" } } } } });
    launch();
    openServedTab("/click.html",
        "<button id=\"b\" role=\"button\" "
        "style=\"position:fixed;left:0;top:0;width:100%;height:100%\">Press</button>");
    WebKitWebView* tab = selectedView();
    // The reporter is in a page only while an extension that may hear it runs.
    auto reporterIn = [&](WebKitWebView* view) {
        return evaluate(view, "typeof qvActivityReporter", kUserActivityWorld);
    };
    EXPECT_EQ(reporterIn(tab), "\"undefined\"");
    WebKitWebView* watch = startExtension("watch");
    WebKitWebView* blind = startExtension("blind");
    ASSERT_TRUE(watch && blind);
    EXPECT_EQ(reporterIn(tab), "\"boolean\"");
    callAsync(watch,
        "window.seen = []; await qv.on('page.userInteraction', d => seen.push(d)); return 1;");
    EXPECT_EQ(callAsync(blind,
                  "return await qv.request('events.subscribe', {name: 'page.userInteraction'});"),
        (Json { { "ok", false },
            { "error", "The userActivity permission is required for interaction events." } }));

    realClickAtCentre(tab);
    ASSERT_TRUE(waitUntil([&] { return callAsync(watch, "return seen.length;") == 1; }));
    EXPECT_EQ(callAsync(watch, "return seen[0];"),
        (Json { { "tabId", controller().tabs().browserTabs().back().id() }, { "type", "click" },
            { "tag", "button" }, { "id", "b" }, { "role", "button" }, { "inputType", "" } }));

    controller().extensions().toggleExtension(Sender::identified("watch"));
    openServedTab("/after.html", "after");
    EXPECT_EQ(reporterIn(selectedView()), "\"undefined\"");
}

TEST_F(ExtensionsTest, ThemeAndChromeChangesFromAnExtensionReachTheWindow)
{
    writeExtension("look", fileExtensionManifest("look", "Look", { "ui", "addressBar" }));
    writeDefaults({ { kExtensionPermissionsKey, { { "look", { "ui", "addressBar" } } } } });
    launch();
    // The launch's home page fails at the closed proxy; its error page, once shown, no longer
    // puts its address in the field over what the extension writes there.
    ASSERT_TRUE(waitUntil([&] {
        return controller().navigation().showingErrorPage(selectedView())
            && !webkit_web_view_is_loading(selectedView());
    }));
    WebKitWebView* view = startExtension("look");
    ASSERT_TRUE(view);
    EXPECT_EQ(callAsync(view, "return await qv.ui.setTheme('DARK');"), true);
    EXPECT_TRUE(controller().shell().darkMode());
    EXPECT_EQ(
        callAsync(view, "return await qv.ui.setChromeVisibility({tabsVisible: false});"), true);
    EXPECT_FALSE(controller().window()->extensionTabsVisible());
    EXPECT_TRUE(controller().window()->extensionToolbarVisible());
    Json state = callAsync(view, "return await qv.ui.getState();");
    EXPECT_EQ(state["theme"], "dark");
    EXPECT_EQ(state["tabsVisible"], false);
    EXPECT_EQ(state["profile"], (Json { { "id", "default" }, { "name", "Default" } }));
    EXPECT_EQ(callAsync(view, "return await qv.addressBar.setValue('hello there');"), true);
    EXPECT_EQ(controller().window()->requestField().get_text().raw(), "hello there");
    EXPECT_EQ(callAsync(view, "return await qv.addressBar.getValue();"), "hello there");
}

} // namespace qv::test

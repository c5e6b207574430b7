// Addresses extensions open, settings of page-opened tabs, and the manager window shown again.
#include "support/extensions_fixture.h"

#include "extensions/extension_permissions.h"

namespace qv::test {

namespace {

bool isWebAddress(const std::string& address)
{
    return address.rfind("https://", 0) == 0 || address.rfind("http://", 0) == 0;
}

} // namespace

class ExtensionAddressesTest : public ExtensionsTest {
protected:
    WebKitWebView* launchWithExtension(const Json& permissions)
    {
        writeExtension("opener", fileExtensionManifest("opener", "Opener", permissions));
        writeDefaults({ { kExtensionPermissionsKey, { { "opener", permissions } } } });
        launch();
        return startExtension("opener");
    }

    Json request(WebKitWebView* view, const std::string& action, const Json& args)
    {
        return callAsync(
            view, "return await qv.request('" + action + "', " + dumpJson(args) + ");");
    }

    const Tab* tabWithID(const TabID& id)
    {
        for (const auto& tab : controller().tabs().browserTabs()) {
            if (tab.id() == id)
                return &tab;
        }
        return nullptr;
    }

    size_t indexOfTab(const TabID& id)
    {
        const auto& tabs = controller().tabs().browserTabs();
        for (size_t i = 0; i < tabs.size(); ++i) {
            if (tabs[i].id() == id)
                return i;
        }
        return tabs.size();
    }

    // Whether the view neither starts nor ends its current load on a local file. (The search
    // addresses fail at the refusing proxy, so there is no finished web page to wait for.)
    bool showsNoLocalFile(WebKitWebView* view)
    {
        auto local = [&] { return uriOf(view).rfind("file:", 0) == 0; };
        bool startedLocal = local();
        waitUntil([&] { return !webkit_web_view_is_loading(view); }, std::chrono::seconds(5));
        return !startedLocal && !local();
    }
};

TEST_F(ExtensionAddressesTest, CreatedTabNeverLoadsALocalFileAfterSelectionReloadOrLazyReload)
{
    WebKitWebView* extension = launchWithExtension({ "tabs", "page" });
    ASSERT_TRUE(extension);
    Json created = request(extension, "tabs.create", { { "url", "file:///etc/hostname" } });
    ASSERT_EQ(created["ok"], true) << created.dump();
    TabID id = created["value"].get<std::string>();
    ASSERT_TRUE(tabWithID(id));
    EXPECT_TRUE(isWebAddress(tabWithID(id)->url())) << tabWithID(id)->url();
    EXPECT_TRUE(showsNoLocalFile(selectedView()));

    controller().tabs().selectBrowserTabAtIndex(0);
    controller().tabs().selectBrowserTabAtIndex(indexOfTab(id));
    EXPECT_TRUE(showsNoLocalFile(selectedView())) << uriOf(selectedView());

    EXPECT_EQ(request(extension, "page.reload", { { "tabId", id } })["ok"], true);
    EXPECT_TRUE(showsNoLocalFile(selectedView())) << uriOf(selectedView());

    controller().tabs().toggleLazyTabs(Sender::menuItem(static_cast<long>(indexOfTab(id))));
    controller().tabs().selectBrowserTabAtIndex(0);
    ASSERT_FALSE(tabWithID(id)->webView());
    EXPECT_TRUE(isWebAddress(tabWithID(id)->url())) << tabWithID(id)->url();
    controller().tabs().selectBrowserTabAtIndex(indexOfTab(id));
    EXPECT_TRUE(showsNoLocalFile(selectedView())) << uriOf(selectedView());

    Json navigated = request(extension, "page.navigate", { { "url", "../../etc/passwd" } });
    ASSERT_EQ(navigated["ok"], true);
    EXPECT_TRUE(isWebAddress(navigated["value"].get<std::string>())) << navigated.dump();
}

TEST_F(ExtensionAddressesTest, PageOpenedTabHasItsOwnSettings)
{
    WebKitWebView* extension = launchWithExtension({ "spoofing" });
    ASSERT_TRUE(extension);
    m_server->page("/popup.html", "Popup");
    openServedTab("/opener.html", "<p>opener</p>");
    WebKitWebView* opener = selectedView();
    WebKitSettings* openerSettings = webkit_web_view_get_settings(opener);
    std::string openerAgent = webkit_settings_get_user_agent(openerSettings);
    size_t before = controller().tabs().browserTabs().size();

    evaluate(opener, "window.open('/popup.html'); true");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == before + 1; }));
    const Tab& popup = controller().tabs().browserTabs().back();
    ASSERT_TRUE(popup.webView());
    ASSERT_TRUE(waitForLoad(popup.webView(), m_server->url("/popup.html")));
    WebKitSettings* popupSettings = webkit_web_view_get_settings(popup.webView());
    EXPECT_NE(popupSettings, openerSettings);
    EXPECT_TRUE(webkit_settings_get_enable_developer_extras(popupSettings));

    Json set = request(extension, "spoofing.setUserAgent",
        { { "tabId", popup.id() }, { "userAgent", "Popup-Agent/1.0" } });
    ASSERT_EQ(set["ok"], true) << set.dump();
    EXPECT_EQ(std::string(webkit_settings_get_user_agent(popupSettings)), "Popup-Agent/1.0");
    EXPECT_EQ(std::string(webkit_settings_get_user_agent(webkit_web_view_get_settings(opener))),
        openerAgent);
}

TEST_F(ExtensionAddressesTest, ManagerShownAgainIsStillPartOfTheApplicationAndThemed)
{
    writeDefaults(Json::object());
    launch();
    controller().showExtensionManager();
    Gtk::Window* manager = controller().extensionManager();
    ASSERT_TRUE(manager);
    manager->close();
    ASSERT_TRUE(flushIdleWork());
    ASSERT_FALSE(manager->get_visible());

    controller().showExtensionManager();
    ASSERT_TRUE(manager->get_visible());
    EXPECT_EQ(manager->get_application(), controller().shell().application());
    controller().shell().setDarkMode(!controller().shell().darkMode());
    EXPECT_EQ(manager->has_css_class("qv-dark"), controller().shell().darkMode());
}

} // namespace qv::test

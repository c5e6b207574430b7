// What a hostile page can hand to extensions: oversized or forged reads, forged interaction
// reports, and the addresses of its frames.
#include "support/extensions_fixture.h"

namespace qv::test {

namespace {

    // A page that replaces every global the bridge's reads could lean on, and answers each with
    // 3 MB of "x".
    constexpr const char* kSpoofingPage
        = "<p id=\"real\">real text</p><script>"
          "localStorage.setItem('k', 'v');"
          "const big = 'x'.repeat(3 * 1024 * 1024);"
          "Object.defineProperty(Element.prototype, 'outerHTML', {get() { return big; }});"
          "Object.defineProperty(HTMLElement.prototype, 'innerText', {get() { return big; }});"
          "window.TextEncoder = class { encode() { return {length: 0}; } };"
          "Object.fromEntries = () => ({k: big});"
          "</script>";

    // A button over the whole page, so a click at the view's centre lands on it.
    constexpr const char* kButtonPage
        = "<button id=\"b\" "
          "style=\"position:fixed;left:0;top:0;width:100%;height:100%\">Press</button>";

} // namespace

class PageTrustTest : public ExtensionsTest {
protected:
    WebKitWebView* startWatcher(const Json& permissions)
    {
        writeExtension("watch", fileExtensionManifest("watch", "Watch", permissions));
        writeDefaults({ { kExtensionPermissionsKey, { { "watch", permissions } } } });
        launch();
        return startExtension("watch");
    }
};

TEST_F(PageTrustTest, ReadsIgnoreThePageGlobalsAndRefuseOversizedAnswers)
{
    WebKitWebView* view = startWatcher({ "page", "source" });
    ASSERT_TRUE(view);
    openServedTab("/spoof.html", kSpoofingPage);

    Json html = callAsync(view, "return await qv.request('source.getHTML');");
    ASSERT_EQ(html["ok"], true) << html;
    EXPECT_NE(html["value"].get<std::string>().find("real text"), std::string::npos);
    EXPECT_EQ(callAsync(view, "return await qv.request('page.getText');"),
        (Json { { "ok", true }, { "value", "real text" } }));
    EXPECT_EQ(callAsync(view, "return await qv.request('page.localStorage.get');"),
        (Json { { "ok", true }, { "value", { { "k", "v" } } } }));

    // Text the page really holds, past what a read may bring back.
    evaluate(selectedView(), "document.body.append('y'.repeat(2100000)); 1");
    EXPECT_EQ(callAsync(view, "return await qv.request('page.getText');"),
        (Json { { "ok", false }, { "error", "Page text is larger than 2 MB" } }));
    Json large = callAsync(view, "return await qv.request('source.getHTML');");
    EXPECT_EQ(large["ok"], false);
    EXPECT_NE(
        large["error"].get<std::string>().find("Live HTML is larger than 2 MB"), std::string::npos)
        << large;
}

TEST_F(PageTrustTest, PointerInputAloneReachesExtensions)
{
    WebKitWebView* watch = startWatcher({ "events", "userActivity" });
    ASSERT_TRUE(watch);
    callAsync(watch,
        "window.seen = []; await qv.on('page.userInteraction', d => seen.push(d)); return 1;");
    openServedTab("/button.html", kButtonPage);
    WebKitWebView* tab = selectedView();

    evaluate(tab,
        "const button = document.getElementById('b');"
        "for (let i = 0; i < 500; i++) {"
        "  button.dispatchEvent(new MouseEvent('click', {bubbles: true}));"
        "  button.click();"
        "  document.body.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'}));"
        "} 1");
    realClickAtCentre(tab);
    ASSERT_TRUE(waitUntil([&] { return callAsync(watch, "return seen.length;") >= 1; }));
    EXPECT_EQ(callAsync(watch, "return seen;"),
        Json::array({ { { "tabId", controller().tabs().browserTabs().back().id() }, { "type", "click" },
            { "tag", "button" }, { "id", "b" }, { "role", "" }, { "inputType", "" } } }));
}

TEST_F(PageTrustTest, PointerReportsFromAWindowThePageOpenedCarryItsOwnTab)
{
    WebKitWebView* watch = startWatcher({ "events", "userActivity" });
    ASSERT_TRUE(watch);
    callAsync(watch,
        "window.seen = []; await qv.on('page.userInteraction', d => seen.push(d.tabId)); return "
        "1;");
    m_server->route("/opened.html", { 200, "text/html", kButtonPage, {} });
    openServedTab("/opener.html", "opener");
    size_t before = controller().tabs().browserTabs().size();
    evaluate(selectedView(), "window.open('/opened.html'); 1");
    ASSERT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().size() == before + 1; }));
    const Tab& opened = controller().tabs().browserTabs().back();
    ASSERT_TRUE(waitForLoad(opened.webView(), m_server->url("/opened.html")));
    controller().tabs().selectBrowserTabAtIndex(controller().tabs().browserTabs().size() - 1);

    realClickAtCentre(opened.webView());
    ASSERT_TRUE(waitUntil([&] { return callAsync(watch, "return seen.length;") >= 1; }));
    EXPECT_EQ(callAsync(watch, "return seen;"), Json::array({ opened.id() }));
}

TEST_F(PageTrustTest, NavigationStartedIsSentForTheMainFrameOnly)
{
    WebKitWebView* watch = startWatcher({ "events" });
    ASSERT_TRUE(watch);
    callAsync(watch,
        "window.started = []; window.loaded = 0;"
        "await qv.on('page.navigationStarted', d => started.push(d.url));"
        "await qv.on('page.loaded', () => loaded++); return 1;");
    m_server->page("/frame.html", "Frame", "inner");
    openServedTab("/outer.html", "<iframe src=\"/frame.html\"></iframe>");
    ASSERT_EQ(m_server->requestCount("/frame.html"), 1);
    ASSERT_TRUE(waitUntil([&] { return callAsync(watch, "return loaded;") >= 1; }));
    EXPECT_EQ(callAsync(watch, "return started;").back(), m_server->url("/outer.html"));
    for (const Json& url : callAsync(watch, "return started;"))
        EXPECT_EQ(url.get<std::string>().find("frame.html"), std::string::npos) << url;
}

} // namespace qv::test

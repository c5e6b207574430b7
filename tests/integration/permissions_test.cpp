// Websites' permission requests: the bar, remembered answers per profile, and notifications.
#include "support/browser_fixture.h"

#include "app/browser_window.h"
#include "permissions/permission_bar.h"
#include "permissions/permission_service.h"
#include "permissions/site_permissions_section.h"
#include "platform/desktop_notifications.h"
#include "profiles/profiles_window.h"

#include <cstdlib>

namespace qv::test {

namespace {

constexpr const char* kCameraPage = R"HTML(<!doctype html><title>camera</title>
<script>
function ask() {
    navigator.mediaDevices.getUserMedia({ video: true }).then(function (stream) {
        stream.getTracks().forEach(function (track) { track.stop(); });
        document.title = 'granted';
    }, function (error) { document.title = 'refused:' + error.name; });
}
</script><p>Camera</p>)HTML";

constexpr const char* kNotificationPage = R"HTML(<!doctype html><title>notify</title>
<script>
function ask() {
    Notification.requestPermission().then(function (answer) { document.title = 'answer:' + answer; });
}
function show() {
    window.shown = new Notification('Build finished', { body: 'All 12 checks passed' });
}
</script><p>Notifications</p>)HTML";

class RecordingNotifier : public DesktopNotifier {
public:
    RecordingNotifier(std::vector<DesktopNotification>& sent, std::vector<std::string>& withdrawn)
        : m_sent(sent)
        , m_withdrawn(withdrawn)
    {
    }
    void send(const DesktopNotification& notification) override { m_sent.push_back(notification); }
    void withdraw(const std::string& id) override { m_withdrawn.push_back(id); }

private:
    std::vector<DesktopNotification>& m_sent;
    std::vector<std::string>& m_withdrawn;
};

template <class T>
T* findWidget(Gtk::Widget& root)
{
    if (auto* found = dynamic_cast<T*>(&root))
        return found;
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (T* found = findWidget<T>(*child))
            return found;
    }
    return nullptr;
}

} // namespace

class PermissionsTest : public BrowserTest {
protected:
    PermissionService& permissions() { return controller().permissions(); }
    PermissionBar* bar() { return permissions().permissionBar(); }
    bool barShown() { return bar() && bar()->shown(); }
    std::string title(WebKitWebView* view)
    {
        const char* text = webkit_web_view_get_title(view);
        return text ? text : "";
    }
    // A new tab of the current profile on the address, loaded.
    WebKitWebView* openTab(const std::string& url)
    {
        controller().tabs().createBrowserTabWithURL(url);
        WebKitWebView* view = selectedView();
        EXPECT_TRUE(waitForLoad(view, url));
        return view;
    }
    void answerBar(PermissionDecision decision, bool remember)
    {
        ASSERT_TRUE(waitUntil([&] { return barShown(); }));
        bar()->rememberCheck().set_active(remember);
        Gtk::Button& button
            = decision == PermissionDecision::Allow ? bar()->allowButton() : bar()->denyButton();
        g_signal_emit_by_name(button.gobj(), "clicked");
    }
};

TEST_F(PermissionsTest, RememberedCameraAnswerHoldsForItsOriginAndProfileUntilRevoked)
{
    permissions().useMockCaptureDevices();
    m_server->route("/camera.html", { 200, "text/html; charset=utf-8", kCameraPage, {} });
    std::string url = m_server->url("/camera.html");
    std::string origin = *permissionOriginForURL(url);

    WebKitWebView* first = openTab(url);
    evaluate(first, "ask(), 1");
    ASSERT_TRUE(waitUntil([&] { return barShown(); }));
    EXPECT_NE(bar()->text().find(origin), std::string::npos) << bar()->text();
    EXPECT_NE(bar()->text().find("camera"), std::string::npos) << bar()->text();
    answerBar(PermissionDecision::Allow, true);
    ASSERT_TRUE(waitUntil([&] { return title(first) == "granted"; }))
        << title(first) << " " << barShown() << " " << (bar() ? bar()->text() : "") << " "
        << permissions().pendingRequestCount();
    EXPECT_FALSE(barShown());
    ASSERT_EQ(permissions().rememberedPermissions("default"),
        (std::vector<RememberedPermission> { { origin, PermissionKind::Camera, PermissionDecision::Allow } }));

    // Another page of the same origin is answered without the bar.
    WebKitWebView* second = openTab(url + "?again");
    evaluate(second, "ask(), 1");
    ASSERT_TRUE(waitUntil([&] { return title(second) == "granted"; })) << title(second);
    EXPECT_FALSE(barShown());
    EXPECT_EQ(permissions().pendingRequestCount(), 0u);

    // Another profile knows nothing of it.
    ProfileID work = controller().profiles().createProfile();
    controller().profiles().selectCurrentProfile(work);
    WebKitWebView* other = openTab(url + "?work");
    evaluate(other, "ask(), 1");
    answerBar(PermissionDecision::Deny, false);
    ASSERT_TRUE(waitUntil([&] { return title(other).rfind("refused:", 0) == 0; })) << title(other);
    EXPECT_TRUE(permissions().rememberedPermissions(work).empty());

    // Revoked in the profiles window, the site asks again.
    controller().profiles().selectCurrentProfile("default");
    controller().showProfiles();
    ProfilesWindow* window = controller().profilesWindow();
    ASSERT_TRUE(window);
    auto* section = findWidget<SitePermissionsSection>(*window);
    ASSERT_TRUE(section);
    ASSERT_EQ(section->listedPermissions().size(), 1u);
    section->revokeButton(0)->activate();
    ASSERT_TRUE(waitUntil([&] { return section->listedPermissions().empty(); }));
    EXPECT_TRUE(permissions().rememberedPermissions("default").empty());
    flushFiles();
    EXPECT_TRUE(controller().shell().defaults().objectForKey(kSitePermissionsKey).empty());
    window->close();

    WebKitWebView* third = openTab(url + "?third");
    evaluate(third, "ask(), 1");
    ASSERT_TRUE(waitUntil([&] { return barShown(); }));
    answerBar(PermissionDecision::Deny, false);
    ASSERT_TRUE(waitUntil([&] { return title(third).rfind("refused:", 0) == 0; })) << title(third);
}

TEST_F(PermissionsTest, RequestWaitsForItsTabAndIsDeniedWhenThePageGoes)
{
    m_server->route("/notify.html", { 200, "text/html; charset=utf-8", kNotificationPage, {} });
    m_server->page("/elsewhere.html", "Elsewhere");
    WebKitWebView* asking = openTab(m_server->url("/notify.html"));
    evaluate(asking, "ask(), 1");
    ASSERT_TRUE(waitUntil([&] { return barShown(); }));

    // Another tab selected: the question waits, and comes back with its tab.
    openTab(m_server->url("/elsewhere.html"));
    EXPECT_FALSE(barShown());
    EXPECT_EQ(permissions().pendingRequestCount(asking), 1u);
    auto index = controller().tabs().tabList().indexOf(
        *controller().tabs().tabList().tabWithView(asking));
    ASSERT_TRUE(index);
    controller().tabs().selectBrowserTabAtIndex(*index);
    ASSERT_TRUE(waitUntil([&] { return barShown(); }));

    // The page navigates away: its question is denied and the bar goes.
    webkit_web_view_load_uri(asking, m_server->url("/elsewhere.html").c_str());
    ASSERT_TRUE(waitForLoad(asking, m_server->url("/elsewhere.html")));
    EXPECT_EQ(permissions().pendingRequestCount(asking), 0u);
    EXPECT_FALSE(barShown());
}

TEST_F(PermissionsTest, AllowedNotificationReachesTheDesktopNamingTheProfile)
{
    std::vector<DesktopNotification> sent;
    std::vector<std::string> withdrawn;
    permissions().setDesktopNotifier(std::make_unique<RecordingNotifier>(sent, withdrawn));
    m_server->route("/notify.html", { 200, "text/html; charset=utf-8", kNotificationPage, {} });
    ProfileID work = controller().profiles().createProfile();
    ASSERT_TRUE(controller().profiles().renameProfile(work, "Work"));
    controller().profiles().selectCurrentProfile(work);
    WebKitWebView* view = openTab(m_server->url("/notify.html"));
    TabID tabID = *controller().tabs().tabIDForWebView(view);

    evaluate(view, "ask(), 1");
    answerBar(PermissionDecision::Allow, false);
    ASSERT_TRUE(waitUntil([&] { return title(view) == "answer:granted"; })) << title(view);
    EXPECT_TRUE(permissions().rememberedPermissions(work).empty());

    evaluate(view, "show(), 1");
    ASSERT_TRUE(waitUntil([&] { return sent.size() == 1; }));
    EXPECT_EQ(sent[0].title, "Build finished");
    EXPECT_NE(sent[0].body.find("All 12 checks passed"), std::string::npos) << sent[0].body;
    EXPECT_NE(sent[0].body.find("Work"), std::string::npos) << sent[0].body;
    EXPECT_EQ(sent[0].clickAction, "app.show-notification-tab");
    EXPECT_EQ(sent[0].clickTarget, tabID);

    // Clicking it selects its tab, whatever is selected now.
    controller().profiles().selectCurrentProfile("default");
    ASSERT_NE(selectedView(), view);
    controller().shell().application()->activate_action(
        "show-notification-tab", Glib::Variant<Glib::ustring>::create(sent[0].clickTarget));
    EXPECT_EQ(selectedView(), view);

    // The page closes it: it leaves the desktop.
    evaluate(view, "window.shown.close(), 1");
    ASSERT_TRUE(waitUntil([&] { return withdrawn.size() == 1; }));
    EXPECT_EQ(withdrawn[0], sent[0].id);
}

// Screenshots of the bar for the documentation, light and dark: run by hand with
// QV_PERMISSIONS_SHOT set to the folder prefix ("docs/").
TEST_F(PermissionsTest, DISABLED_PermissionBarScreenshots)
{
    const char* prefix = std::getenv("QV_PERMISSIONS_SHOT");
    ASSERT_TRUE(prefix);
    permissions().useMockCaptureDevices();
    m_server->route("/camera.html", { 200, "text/html; charset=utf-8",
        std::string(kCameraPage) + "<h1>Team call</h1><p>Join the weekly meeting.</p>", {} });
    WebKitWebView* view = openTab(m_server->url("/camera.html"));
    controller().tabs().closeBrowserTabAtIndex(0);
    for (bool dark : { false, true }) {
        controller().shell().setDarkMode(dark);
        evaluate(view, "document.title = 'Team call', 1");
        evaluate(view, "ask(), 1");
        ASSERT_TRUE(waitUntil([&] { return barShown(); }));
        ASSERT_TRUE(waitUntil([&] { return bar()->get_child_revealed(); }));
        ASSERT_TRUE(flushIdleWork());
        std::string shot = std::string(prefix) + "permission-bar-" + (dark ? "dark" : "light") + ".png";
        ASSERT_EQ(std::system(("import -window root " + shot).c_str()), 0);
        answerBar(PermissionDecision::Deny, false);
        ASSERT_TRUE(waitUntil([&] { return !barShown(); }));
    }
}

} // namespace qv::test

// Shared fixture: a real BrowserController in a temporary HOME, a SoupServer on 127.0.0.1,
// and waiting on the main loop with a time-out.
#pragma once

#include "app/browser_controller.h"
#include "app/shell.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/browser_window.h"
#include "extensions/extension_manager_window.h"
#include "tabs/tab_strip_view.h"
#include "platform/alerts.h"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// Spins the default main context until the condition holds or the time runs out.
// The view's current address, or "" without one.
inline std::string uriOf(WebKitWebView* view)
{
    const char* uri = view ? webkit_web_view_get_uri(view) : nullptr;
    return uri ? uri : "";
}

bool waitUntil(const std::function<bool()>& condition,
    std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs the main loop until every idle callback queued so far has run: a low-priority idle
// callback queued now runs only after them.
bool flushIdleWork();

// A port on 127.0.0.1 that refuses connections for the life of the process.
int reserveClosedLoopbackPort();

// Widgets finalized with children still attached, which GTK warns of: a child a widget of
// ours parented itself and never let go of.
size_t widgetsFinalizedWithChildren();

// The per-process temporary home (HOME, XDG folders) and working directory.
const std::filesystem::path& testHome();
// A 16 by 16 PNG of one colour, for pages' icons.
std::string pngIcon();
const std::filesystem::path& testWorkingDirectory();
// Starts the real browser program with these arguments in the working directory, its
// environment changed as given (an empty value removes the variable), unreaped; the reason in
// `error` when it could not start.
GPid spawnBrowserProgram(const std::vector<std::string>& arguments,
    const std::vector<std::pair<std::string, std::string>>& environment, std::string& error);

// A local HTTP server on 127.0.0.1 with an ephemeral port.
class TestServer {
public:
    struct Response {
        unsigned status = 200;
        std::string contentType = "text/html; charset=utf-8";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    using Handler = std::function<Response(const std::string& method, const std::string& path)>;

    TestServer();
    // An https server presenting the certificate (with its private key).
    explicit TestServer(GTlsCertificate* certificate);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Serves a fixed response on a path ("/page.html").
    void route(const std::string& path, Response response);
    // A page with a title and body text.
    void page(const std::string& path, const std::string& title, const std::string& body = "");
    // Serves every path it is given no route for (404 otherwise).
    void fallback(Handler handler) { m_fallback = std::move(handler); }
    // Answers the path with 403 unless the request's Cookie header holds "name=value".
    void requireCookie(const std::string& path, const std::string& cookie)
    {
        m_requiredCookies[path] = cookie;
    }
    // A path that never answers (the request is paused and left hanging).
    void hang(const std::string& path);

    // A path whose body never ends: chunks keep coming (up to a bound of 256 MiB), announced
    // with a huge Content-Length when `announceLength` is set. bytesStreamed counts them.
    void endless(const std::string& path, bool announceLength = false);
    size_t bytesStreamed() const { return m_bytesStreamed; }

    std::string url(const std::string& path = "/") const;
    unsigned port() const { return m_port; }
    int requestCount(const std::string& path) const;
    std::vector<std::string> requestLog() const { return m_log; }

private:
    static void handle(SoupServer*, SoupServerMessage*, const char* path, GHashTable*, gpointer);

    SoupServer* m_server = nullptr;
    unsigned m_port = 0;
    std::string m_scheme = "http";
    std::map<std::string, Response> m_routes;
    std::map<std::string, int> m_counts;
    std::vector<std::string> m_log;
    std::vector<std::string> m_hanging;
    std::map<std::string, std::string> m_requiredCookies;
    std::vector<SoupServerMessage*> m_paused;
    Handler m_fallback;
    std::map<std::string, bool> m_endless;
    size_t m_bytesStreamed = 0;
};

struct RecordedAlert {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
    bool browserWindowShown = false; // the browser window was on screen when it came
};

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the application and runs the launch sequence; SetUp calls it unless a test
    // wants to prepare files first (set m_launchInSetUp = false in the constructor).
    void launch();
    void shutDown();

    BrowserController& controller() { return *m_controller; }
    // Files are written off the main thread; a test reading one waits for what is pending.
    void flushFiles();
    WebKitWebView* selectedView() { return m_controller->tabs().selectedWebView(); }

    // Types into the address field and presses Return.
    void submitAddress(const std::string& text);
    // Waits until the view has finished loading an address starting with `prefix`.
    bool waitForLoad(WebKitWebView* view, const std::string& prefix,
        std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Runs a script in the page and returns its result as JSON text ("" on failure).
    // In the page's own world, or in the named one.
    std::string evaluate(WebKitWebView* view, const std::string& script, const char* world = nullptr);
    // Waits until the window and its strip have been laid out.
    bool waitForLayout();

    // The alert answer tests give; alerts are recorded in m_alerts.
    int m_alertAnswer = 0;
    std::vector<RecordedAlert> m_alerts;
    bool m_launchInSetUp = true;
    Glib::RefPtr<Gtk::Application> m_application;
    std::unique_ptr<BrowserController> m_controller;
    std::unique_ptr<TestServer> m_server;
};

} // namespace qv::test

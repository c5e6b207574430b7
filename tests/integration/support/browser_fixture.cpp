// The integration fixture: temporary home, local server, main-loop waiting.
#include "browser_fixture.h"
#include "platform/renderer_choice.h"
#include "platform/storage_locations.h"

#include <atomic>
#include <cstdlib>
#include <thread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qv::test {

namespace fs = std::filesystem;

namespace {
fs::path g_home;
fs::path g_workingDirectory;

int boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}
} // namespace

std::atomic<size_t> g_finalizedWithChildren { 0 };

GLogWriterOutput countingLogWriter(
    GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data)
{
    for (gsize i = 0; i < count; ++i) {
        if (std::string_view(fields[i].key) == "MESSAGE" && fields[i].length < 0
            && std::string_view(static_cast<const char*>(fields[i].value))
                   .find("but it still has children left") != std::string_view::npos)
            ++g_finalizedWithChildren;
    }
    return g_log_writer_default(level, fields, count, data);
}

const fs::path& testHome() { return g_home; }
size_t widgetsFinalizedWithChildren() { return g_finalizedWithChildren; }

int reserveClosedLoopbackPort()
{
    // Bound but never listening: connections to it are refused, and no other process can
    // take the port while this one runs.
    static int fd = -1;
    if (fd >= 0)
        return boundPort(fd);
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return boundPort(fd);
}
const fs::path& testWorkingDirectory() { return g_workingDirectory; }

GPid spawnBrowserProgram(const std::vector<std::string>& arguments,
    const std::vector<std::pair<std::string, std::string>>& environment, std::string& error)
{
    std::vector<std::string> argv = { QV_BROWSER_EXECUTABLE };
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> raw;
    for (auto& arg : argv)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "QV_NON_UNIQUE", "1", TRUE);
    for (const auto& [name, value] : environment)
        env = value.empty() ? g_environ_unsetenv(env, name.c_str())
                            : g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
    GPid browser = 0;
    GError* failure = nullptr;
    bool spawned = g_spawn_async(g_workingDirectory.c_str(), raw.data(), env,
        static_cast<GSpawnFlags>(
            G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
        nullptr, nullptr, &browser, &failure);
    g_strfreev(env);
    if (!spawned) {
        error = failure ? failure->message : "the browser did not start";
        g_clear_error(&failure);
        return 0;
    }
    return browser;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return condition();
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool flushIdleWork()
{
    auto ran = std::make_shared<bool>(false);
    g_idle_add_full(
        G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
            **static_cast<std::shared_ptr<bool>*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<bool>(ran),
        [](gpointer data) { delete static_cast<std::shared_ptr<bool>*>(data); });
    return waitUntil([&] { return *ran; });
}

TestServer::TestServer()
    : TestServer(nullptr)
{
}

TestServer::TestServer(GTlsCertificate* certificate)
{
    m_server = soup_server_new("server-header", "QuivelTest", nullptr);
    if (certificate) {
        soup_server_set_tls_certificate(m_server, certificate);
        m_scheme = "https";
    }
    GError* error = nullptr;
    GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
    GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
    soup_server_listen(m_server, address,
        certificate ? SOUP_SERVER_LISTEN_HTTPS : static_cast<SoupServerListenOptions>(0), &error);
    g_object_unref(address);
    g_object_unref(loopback);
    if (error) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1: " << error->message;
        g_error_free(error);
        return;
    }
    GSList* uris = soup_server_get_uris(m_server);
    if (uris)
        m_port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    soup_server_add_handler(m_server, nullptr, &TestServer::handle, this, nullptr);
}

TestServer::~TestServer()
{
    for (SoupServerMessage* message : m_paused) {
        soup_server_message_set_status(message, 503, nullptr);
        soup_server_message_unpause(message);
        g_object_unref(message);
    }
    m_paused.clear();
    soup_server_disconnect(m_server);
    g_object_unref(m_server);
}

void TestServer::route(const std::string& path, Response response) { m_routes[path] = std::move(response); }

void TestServer::page(const std::string& path, const std::string& title, const std::string& body)
{
    route(path, { 200, "text/html; charset=utf-8",
                    "<!doctype html><html><head><title>" + title + "</title></head><body>" + body
                        + "</body></html>",
                    {} });
}

void TestServer::hang(const std::string& path) { m_hanging.push_back(path); }

void TestServer::endless(const std::string& path, bool announceLength)
{
    m_endless[path] = announceLength;
}

namespace {

constexpr size_t kEndlessChunk = 64 * 1024;
constexpr size_t kEndlessBound = 256u * 1024 * 1024;

void appendEndlessChunk(SoupServerMessage* message, size_t* counter)
{
    static const std::string chunk(kEndlessChunk, '\x42');
    SoupMessageBody* body = soup_server_message_get_response_body(message);
    if (*counter >= kEndlessBound) {
        soup_message_body_complete(body);
        return;
    }
    *counter += chunk.size();
    soup_message_body_append(body, SOUP_MEMORY_STATIC, chunk.data(), chunk.size());
}

} // namespace

std::string TestServer::url(const std::string& path) const
{
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
}

int TestServer::requestCount(const std::string& path) const
{
    auto it = m_counts.find(path);
    return it == m_counts.end() ? 0 : it->second;
}

void TestServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
    gpointer data)
{
    auto* self = static_cast<TestServer*>(data);
    std::string method = soup_server_message_get_method(message);
    std::string p = path ? path : "/";
    self->m_counts[p]++;
    self->m_log.push_back(method + " " + p);
    for (const auto& hanging : self->m_hanging) {
        if (hanging == p) {
            soup_server_message_pause(message);
            self->m_paused.push_back(SOUP_SERVER_MESSAGE(g_object_ref(message)));
            return;
        }
    }
    if (auto it = self->m_endless.find(p); it != self->m_endless.end()) {
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        if (it->second)
            soup_message_headers_set_content_length(headers, 1ll << 40);
        else
            soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        soup_message_headers_set_content_type(headers, "image/png", nullptr);
        soup_server_message_set_status(message, 200, nullptr);
        g_signal_connect(message, "wrote-chunk", G_CALLBACK(+[](SoupServerMessage* m, gpointer d) {
            appendEndlessChunk(m, static_cast<size_t*>(d));
        }), &self->m_bytesStreamed);
        appendEndlessChunk(message, &self->m_bytesStreamed);
        return;
    }
    Response response;
    if (auto it = self->m_routes.find(p); it != self->m_routes.end())
        response = it->second;
    else if (self->m_fallback)
        response = self->m_fallback(method, p);
    else
        response = { 404, "text/plain", "not found", {} };
    if (auto required = self->m_requiredCookies.find(p); required != self->m_requiredCookies.end()) {
        const char* cookie = soup_message_headers_get_one(
            soup_server_message_get_request_headers(message), "Cookie");
        std::string sent = cookie ? std::string("; ") + cookie + ";" : "";
        if (sent.find("; " + required->second + ";") == std::string::npos)
            response = { 403, "text/plain", "no cookie", {} };
    }
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers)
        soup_message_headers_append(headers, name.c_str(), value.c_str());
    soup_server_message_set_status(message, response.status, nullptr);
    soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY,
        response.body.data(), response.body.size());
}

std::string pngIcon()
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
    gdk_pixbuf_fill(pixbuf, 0x3366ccff);
    gchar* buffer = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "png", nullptr, nullptr);
    std::string bytes(buffer, size);
    g_free(buffer);
    g_object_unref(pixbuf);
    return bytes;
}

void BrowserTest::SetUp()
{
    // Each test starts from empty data and defaults.
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(g_home, ec))
        fs::remove_all(entry.path(), ec);
    for (auto& entry : fs::directory_iterator(g_workingDirectory, ec))
        fs::remove_all(entry.path(), ec);
    fs::create_directories(g_home / ".config", ec);
    fs::create_directories(g_home / ".local/share", ec);
    fs::create_directories(g_home / ".cache", ec);
    setAlertResponder([this](const AlertSpec& alert) -> std::optional<int> {
        bool shown = m_controller && m_controller->window() && m_controller->window()->get_mapped();
        m_alerts.push_back({ alert.messageText, alert.informativeText, alert.buttons, shown });
        return m_alertAnswer;
    });
    m_server = std::make_unique<TestServer>();
    if (m_launchInSetUp)
        launch();
}

void BrowserTest::launch()
{
    static int serial = 0;
    m_application = Gtk::Application::create("org.quivel.BrowserTest" + std::to_string(++serial),
        Gio::Application::Flags::NON_UNIQUE);
    m_application->register_application();
    m_controller = std::make_unique<BrowserController>(m_application);
    m_controller->extensions().loadExtensions();
    m_controller->installMainMenu();
    m_controller->applicationDidFinishLaunching();
    ASSERT_TRUE(waitUntil([&] { return m_controller->window() && m_controller->window()->get_mapped(); }));
}

void BrowserTest::flushFiles()
{
    if (m_controller)
        m_controller->shell().flushFiles();
}

void BrowserTest::shutDown()
{
    // Tearing down is the browser's own close: the pages are not asked.
    if (m_controller && m_controller->window() && m_controller->window()->get_visible())
        m_controller->shell().closeBrowserWindowWithoutAsking();
    flushIdleWork();
    m_controller.reset();
    m_application.reset();
}

void BrowserTest::TearDown()
{
    shutDown();
    m_server.reset();
    setAlertResponder(nullptr);
}

void BrowserTest::submitAddress(const std::string& text)
{
    Gtk::Entry* field = &m_controller->window()->requestField();
    field->set_text(text);
    // What Return does in the field.
    g_signal_emit_by_name(field->gobj(), "activate");
}

bool BrowserTest::waitForLoad(WebKitWebView* view, const std::string& prefix,
    std::chrono::milliseconds timeout)
{
    return waitUntil(
        [&] {
            const char* uri = webkit_web_view_get_uri(view);
            return uri && std::string(uri).rfind(prefix, 0) == 0 && !webkit_web_view_is_loading(view);
        },
        timeout);
}

std::string BrowserTest::evaluate(WebKitWebView* view, const std::string& script, const char* world)
{
    struct Pending {
        bool done = false;
        std::string result;
    };
    // Shared with the callback, which may run after the wait here has given up.
    auto pending = std::make_shared<Pending>();
    webkit_web_view_evaluate_javascript(view, script.c_str(), -1, world, nullptr, nullptr,
        +[](GObject* object, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending>> owned(
                static_cast<std::shared_ptr<Pending>*>(data));
            Pending* p = owned->get();
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, &error);
            if (value) {
                char* json = jsc_value_to_json(value, 0);
                p->result = json ? json : "null";
                g_free(json);
                g_object_unref(value);
            } else if (error) {
                g_error_free(error);
            }
            p->done = true;
        },
        new std::shared_ptr<Pending>(pending));
    waitUntil([&] { return pending->done; });
    return pending->result;
}

bool BrowserTest::waitForLayout()
{
    return waitUntil([&] {
        Gtk::Box* bar = &m_controller->tabs().tabStrip()->bar();
        return bar && bar->get_width() > 0 && bar->get_first_child() && bar->get_first_child()->get_width() > 0;
    });
}

} // namespace qv::test

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    // A private home and working directory per process, set before GLib caches any of it.
    char home[] = "/tmp/quivel-test-XXXXXX";
    if (!mkdtemp(home))
        return 2;
    qv::test::g_home = fs::path(home) / "home";
    qv::test::g_workingDirectory = fs::path(home) / "work";
    fs::create_directories(qv::test::g_home);
    fs::create_directories(qv::test::g_workingDirectory);
    fs::create_directories(fs::path(home) / "tmp");
    setenv("TMPDIR", (fs::path(home) / "tmp").c_str(), 1);
    // Every session's proxy is a loopback port that refuses connections: the home page and
    // typed words never leave the machine, whatever proxy the environment names.
    int closedPort = qv::test::reserveClosedLoopbackPort();
    if (closedPort <= 0)
        return 2;
    setenv("QV_NETWORK_PROXY", ("http://127.0.0.1:" + std::to_string(closedPort)).c_str(), 1);
    setenv("HOME", qv::test::g_home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (qv::test::g_home / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (qv::test::g_home / ".local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (qv::test::g_home / ".cache").c_str(), 1);
    // The engine's sandbox puts its bus proxies' sockets in the runtime folder, or in the cache
    // folder without one, and aborts the web process when that folder is missing.
    for (const char* folder : { ".config", ".local/share", ".cache" })
        fs::create_directories(qv::test::g_home / folder);
    qv::ensureUserRuntimeDirectory();
    setenv("GTK_A11Y", "none", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    // The browser's own renderer, so its windows are drawn here as they are for the user.
    qv::chooseRendererForMachine();
    if (chdir(qv::test::g_workingDirectory.c_str()) != 0)
        return 2;
    g_log_set_writer_func(qv::test::countingLogWriter, nullptr, nullptr);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    fs::remove_all(home, ec);
    return result;
}

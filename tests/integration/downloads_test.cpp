// Downloads from browser tabs: files in the Downloads folder, their records and the window.
#include "support/browser_fixture.h"

#include "base/atomic_file.h"
#include "base/json_text.h"
#include "downloads/download_bar.h"
#include "downloads/downloads_button.h"
#include "downloads/downloads_window.h"
#include "platform/file_panels.h"
#include "platform/storage_locations.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qv::test {

namespace {

    namespace fs = std::filesystem;

    std::string fileContents(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TestServer::Response attachment(const std::string& name, const std::string& body)
    {
        return { 200, "application/pdf", body,
            { { "Content-Disposition", "Attachment; filename=\"" + name + "\"" } } };
    }

    // A server whose responses send their first bytes at once and the rest only when released, so
    // downloads stay in progress as long as a test needs.
    class HeldServer {
    public:
        HeldServer()
        {
            m_server = soup_server_new(nullptr, nullptr);
            GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
            GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
            GError* error = nullptr;
            soup_server_listen(m_server, address, static_cast<SoupServerListenOptions>(0), &error);
            g_object_unref(address);
            g_object_unref(loopback);
            EXPECT_EQ(error, nullptr);
            g_clear_error(&error);
            GSList* uris = soup_server_get_uris(m_server);
            if (uris)
                m_port = static_cast<unsigned>(g_uri_get_port(static_cast<GUri*>(uris->data)));
            g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
            soup_server_add_handler(m_server, nullptr, &HeldServer::handle, this, nullptr);
        }
        ~HeldServer()
        {
            release();
            soup_server_disconnect(m_server);
            g_object_unref(m_server);
        }

        // Serves `first` then, once released, `rest`, as the attachment `name`.
        void hold(
            const std::string& path, const std::string& name, std::string first, std::string rest)
        {
            m_bodies[path] = { name, std::move(first), std::move(rest) };
        }
        std::string url(const std::string& path) const
        {
            return "http://127.0.0.1:" + std::to_string(m_port) + path;
        }
        size_t waiting() const { return m_held.size(); }
        void release()
        {
            for (auto& [message, rest] : m_held) {
                SoupMessageBody* body = soup_server_message_get_response_body(message);
                soup_message_body_append(body, SOUP_MEMORY_COPY, rest.data(), rest.size());
                soup_message_body_complete(body);
                soup_server_message_unpause(message);
                g_object_unref(message);
            }
            m_held.clear();
        }
        // Drops every connection, so held responses end before their announced length.
        void disconnect() { soup_server_disconnect(m_server); }

    private:
        struct Body {
            std::string name, first, rest;
        };
        static void handle(
            SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data)
        {
            auto* self = static_cast<HeldServer*>(data);
            auto it = self->m_bodies.find(path ? path : "");
            if (it == self->m_bodies.end()) {
                soup_server_message_set_status(message, 404, nullptr);
                return;
            }
            const Body& body = it->second;
            SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
            soup_message_headers_set_content_length(headers, body.first.size() + body.rest.size());
            soup_message_headers_append(headers, "Content-Type", "application/octet-stream");
            soup_message_headers_append(
                headers, "Content-Disposition", ("attachment; filename=" + body.name).c_str());
            soup_server_message_set_status(message, 200, nullptr);
            soup_message_body_append(soup_server_message_get_response_body(message),
                SOUP_MEMORY_COPY, body.first.data(), body.first.size());
            soup_server_message_pause(message);
            soup_server_message_unpause(message);
            self->m_held.emplace_back(SOUP_SERVER_MESSAGE(g_object_ref(message)), body.rest);
        }

        SoupServer* m_server = nullptr;
        unsigned m_port = 0;
        std::map<std::string, Body> m_bodies;
        std::vector<std::pair<SoupServerMessage*, std::string>> m_held;
    };

    // A file manager on the session bus that notes the items it is asked to show.
    class FakeFileManager {
    public:
        FakeFileManager()
        {
            m_owner = g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.FileManager1",
                G_BUS_NAME_OWNER_FLAGS_NONE, &FakeFileManager::busAcquired,
                +[](GDBusConnection*, const char*, gpointer data) {
                    static_cast<FakeFileManager*>(data)->m_owned = true;
                },
                nullptr, this, nullptr);
        }
        ~FakeFileManager()
        {
            if (m_connection && m_object)
                g_dbus_connection_unregister_object(m_connection, m_object);
            g_bus_unown_name(m_owner);
        }
        bool owned() const { return m_owned; }
        const std::vector<std::string>& shown() const { return m_shown; }

    private:
        static void busAcquired(GDBusConnection* connection, const char*, gpointer data)
        {
            auto* self = static_cast<FakeFileManager*>(data);
            static const char* kInterface
                = "<node><interface name='org.freedesktop.FileManager1'>"
                  "<method name='ShowItems'><arg type='as' direction='in'/>"
                  "<arg type='s' direction='in'/></method></interface></node>";
            GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kInterface, nullptr);
            static const GDBusInterfaceVTable vtable = {
                +[](GDBusConnection*, const char*, const char*, const char*, const char* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
                    auto* manager = static_cast<FakeFileManager*>(data);
                    if (std::string(method) == "ShowItems") {
                        GVariantIter* uris = nullptr;
                        const char* startup = nullptr;
                        g_variant_get(parameters, "(as&s)", &uris, &startup);
                        const char* uri = nullptr;
                        while (g_variant_iter_next(uris, "&s", &uri))
                            manager->m_shown.push_back(uri);
                        g_variant_iter_free(uris);
                    }
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                },
                nullptr, nullptr, { nullptr }
            };
            self->m_connection = connection;
            self->m_object = g_dbus_connection_register_object(connection,
                "/org/freedesktop/FileManager1", info->interfaces[0], &vtable, self, nullptr,
                nullptr);
            g_dbus_node_info_unref(info);
        }

        guint m_owner = 0;
        guint m_object = 0;
        GDBusConnection* m_connection = nullptr;
        bool m_owned = false;
        std::vector<std::string> m_shown;
    };

    class DownloadsTest : public BrowserTest {
    protected:
        fs::path downloadsFolder() const { return downloadsDirectory(); }
        fs::path downloadsFile() { return controller().downloads().downloadsFileURL(); }

        Json recordsOnDisk()
        {
            controller().shell().flushFiles();
            auto parsed = parseJson(fileContents(downloadsFile()));
            return parsed ? *parsed : Json();
        }

        // As if the user opened the address: the browser starts the load.
        void load(WebKitWebView* view, const std::string& url)
        {
            controller().downloads().noteBrowserStartedLoad(view);
            webkit_web_view_load_uri(view, url.c_str());
        }

        bool waitForRecords(size_t count)
        {
            return waitUntil([&] { return controller().downloads().downloadEntries().size() == count; });
        }
    };

    // The first realised "Downloaded file" button of the window's table.
    Gtk::Button* firstFileButton(Gtk::Widget& root)
    {
        for (Gtk::Widget* child = root.get_first_child(); child;
             child = child->get_next_sibling()) {
            if (auto* button = dynamic_cast<Gtk::Button*>(child);
                button && button->has_css_class("qv-download-file"))
                return button;
            if (auto* found = firstFileButton(*child))
                return found;
        }
        return nullptr;
    }

} // namespace

TEST_F(DownloadsTest, AttachmentResponseBecomesFileAndRecord)
{
    m_server->route("/get/report.pdf", attachment("report.pdf", "%PDF-1.4 report"));
    load(selectedView(), m_server->url("/get/report.pdf"));
    ASSERT_TRUE(waitForRecords(1));

    fs::path saved = downloadsFolder() / "report.pdf";
    EXPECT_EQ(fileContents(saved), "%PDF-1.4 report");
    EXPECT_TRUE(controller().downloads().inProgressDownloads().empty());
    EXPECT_EQ(downloadsFile().parent_path(), controller().history().historyFileURL().parent_path());
    Json records = recordsOnDisk();
    ASSERT_TRUE(records.is_array());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["path"], saved.string());
    EXPECT_EQ(records[0]["name"], "report.pdf");
    EXPECT_EQ(records[0]["source"], m_server->url("/get/report.pdf"));
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(DownloadsTest, UnshowableContentAndDownloadLinksBecomeFiles)
{
    m_server->route("/blob", { 200, "application/x-quivel-unknown", "opaque bytes", {} });
    load(selectedView(), m_server->url("/blob"));
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(fileContents(downloadsFolder() / "blob"), "opaque bytes");

    m_server->route("/notes.txt", { 200, "text/plain", "plain notes", {} });
    m_server->page("/links.html", "Links", "<a id=l href='/notes.txt' download>notes</a>");
    load(selectedView(), m_server->url("/links.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/links.html")));
    evaluate(selectedView(), "document.getElementById('l').click(); true");
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(fileContents(downloadsFolder() / "notes.txt"), "plain notes");
    EXPECT_EQ(uriOf(selectedView()), m_server->url("/links.html"));
}

// A proxy refusing the tunnel answers like this: an error status with nothing to show is a
// failed load with our error page, not a download that fails behind an alert.
TEST_F(DownloadsTest, ErrorStatusWithNothingToShowIsAFailedLoad)
{
    m_server->route("/refused", { 403, "application/x-quivel-unknown", "denied", {} });
    WebKitWebView* view = selectedView();
    load(view, m_server->url("/refused"));
    ASSERT_TRUE(waitUntil(
        [&] { return evaluate(view, "document.getElementById('try-again') !== null") == "true"; }));
    EXPECT_EQ(evaluate(view, "document.getElementById('message').textContent"),
        "\"403 Forbidden\"");
    EXPECT_EQ(std::string(controller().window()->get_title()), "Load failed: 403 Forbidden");
    EXPECT_EQ(uriOf(view), m_server->url("/refused"));
    EXPECT_TRUE(controller().downloads().inProgressDownloads().empty());
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_FALSE(fs::exists(downloadsFolder() / "refused"));

    // A page the server sends with its error status is shown as it is.
    m_server->route("/missing", { 404, "text/html", "<title>Not here</title>gone", {} });
    load(view, m_server->url("/missing"));
    EXPECT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().back().title() == "Not here"; }));
    EXPECT_FALSE(controller().navigation().showingErrorPage(view));
}

TEST_F(DownloadsTest, SimultaneousDownloadsOfOneNameGetTwoFiles)
{
    HeldServer held;
    // Enough first bytes for the engine's content sniffing to decide before the rest comes.
    const std::string padding(2048, '.');
    held.hold("/a", "report.pdf", "first" + padding, "download");
    held.hold("/b", "report.pdf", "second" + padding, "download");
    load(selectedView(), held.url("/a"));
    controller().tabs().createNewTab();
    load(selectedView(), held.url("/b"));
    // Both have their destination before either has finished.
    ASSERT_TRUE(waitUntil([&] { return controller().downloads().inProgressDownloads().size() == 2; }));
    held.release();
    ASSERT_TRUE(waitForRecords(2));

    std::set<std::string> contents { fileContents(downloadsFolder() / "report.pdf"),
        fileContents(downloadsFolder() / "report (1).pdf") };
    EXPECT_EQ(contents,
        (std::set<std::string> {
            "first" + padding + "download", "second" + padding + "download" }));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(downloadsFolder()), fs::directory_iterator()), 2);
}

// Failures are told once per page in the tab's bar and listed in the Downloads window; a page
// that fails many never stacks alerts the user must dismiss one by one.
TEST_F(DownloadsTest, FailedDownloadsAreToldOncePerPageWithoutAnAlert)
{
    HeldServer held;
    held.hold("/cut1", "cut1.bin", std::string(2048, 'p'), std::string(4096, 'x'));
    held.hold("/cut2", "cut2.bin", std::string(2048, 'p'), std::string(4096, 'x'));
    m_server->page("/two.html", "Two",
        "<iframe src='" + held.url("/cut1") + "'></iframe><iframe src='" + held.url("/cut2")
            + "'></iframe>");
    load(selectedView(), m_server->url("/two.html"));
    DownloadBar& bar = controller().window()->downloadBar();
    ASSERT_TRUE(waitUntil([&] { return bar.asking(); }));
    g_signal_emit_by_name(bar.allowButton().gobj(), "clicked");
    ASSERT_TRUE(waitUntil([&] { return controller().downloads().inProgressDownloads().size() == 2; }));
    held.disconnect();
    ASSERT_TRUE(waitUntil([&] { return controller().downloads().failedDownloads().size() == 2; }));
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_TRUE(bar.noticeShown());
    EXPECT_EQ(bar.text().rfind("Download failed: ", 0), 0u);
    EXPECT_EQ(std::string(controller().window()->get_title()), bar.text());
    EXPECT_TRUE(controller().downloads().inProgressDownloads().empty());
    EXPECT_TRUE(controller().downloads().downloadEntries().empty());

    controller().showDownloads();
    std::vector<std::string> listed = controller().downloadsWindow()->failureTexts();
    ASSERT_EQ(listed.size(), 2u);
    for (const std::string& text : listed)
        EXPECT_NE(text.find("Download failed: "), std::string::npos) << text;
    g_signal_emit_by_name(bar.closeButton().gobj(), "clicked");
    EXPECT_FALSE(bar.get_reveal_child());
}

// A page cannot fill the Downloads folder by itself: hidden frames serving attachments get one
// file, and the rest wait on the tab's bar until the user answers.
TEST_F(DownloadsTest, FramesStartingDownloadsGetOneFileAndTheQuestion)
{
    constexpr int kFrames = 20;
    m_server->fallback([](const std::string&, const std::string& path) {
        return path.rfind("/file/", 0) == 0 ? attachment(path.substr(6) + ".bin", "bytes")
                                            : TestServer::Response { 404, "text/plain", "", {} };
    });
    std::string frames;
    for (int i = 0; i < kFrames; ++i)
        frames += "<iframe style='display:none' src='/file/f" + std::to_string(i) + "'></iframe>";
    m_server->page("/flood.html", "Flood", frames);
    load(selectedView(), m_server->url("/flood.html"));
    DownloadBar& bar = controller().window()->downloadBar();
    auto filesInFolder = [&] {
        std::error_code ec;
        return std::distance(
            fs::directory_iterator(downloadsFolder(), ec), fs::directory_iterator());
    };
    auto requested = [&] {
        int count = 0;
        for (int i = 0; i < kFrames; ++i)
            count += m_server->requestCount("/file/f" + std::to_string(i));
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return bar.asking(); }));
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(bar.text(), "This site wants to download several files");
    EXPECT_EQ(filesInFolder(), 1);

    // Blocked, the waiting ones are cancelled, and the frames still to come are refused.
    g_signal_emit_by_name(bar.blockButton().gobj(), "clicked");
    EXPECT_FALSE(bar.asking());
    ASSERT_TRUE(waitUntil([&] { return requested() == kFrames; }));
    EXPECT_TRUE(controller().downloads().inProgressDownloads().empty());
    EXPECT_EQ(filesInFolder(), 1);
    EXPECT_EQ(controller().downloads().downloadEntries().size(), 1u);
    EXPECT_FALSE(bar.get_reveal_child());
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(DownloadsTest, AllowLetsThePagesWaitingDownloadsGo)
{
    m_server->fallback([](const std::string&, const std::string& path) {
        return path.rfind("/file/", 0) == 0 ? attachment(path.substr(6) + ".bin", "bytes")
                                            : TestServer::Response { 404, "text/plain", "", {} };
    });
    m_server->page("/three.html", "Three",
        "<iframe src='/file/a'></iframe><iframe src='/file/b'></iframe>"
        "<iframe src='/file/c'></iframe>");
    load(selectedView(), m_server->url("/three.html"));
    DownloadBar& bar = controller().window()->downloadBar();
    ASSERT_TRUE(waitUntil([&] { return bar.asking() && controller().downloads().downloadEntries().size() == 1
                                    && m_server->requestCount("/file/c") == 1
                                    && m_server->requestCount("/file/b") == 1; }));
    g_signal_emit_by_name(bar.allowButton().gobj(), "clicked");
    ASSERT_TRUE(waitForRecords(3));
    EXPECT_FALSE(bar.get_reveal_child());
    for (const char* name : { "a.bin", "b.bin", "c.bin" })
        EXPECT_EQ(fileContents(downloadsFolder() / name), "bytes") << name;
}

TEST_F(DownloadsTest, BlockedDownloadsLeftAtQuitDoNotCrashTheNextBrowser)
{
    // The engine answers each cancel after the fact; the browser quitting right after Block
    // must not leave it an answer to deliver into the session that is gone.
    m_server->fallback([](const std::string&, const std::string& path) {
        return path.rfind("/file/", 0) == 0 ? attachment(path.substr(6) + ".bin", "bytes")
                                            : TestServer::Response { 404, "text/plain", "", {} };
    });
    std::string frames;
    constexpr int kFrames = 20;
    for (int i = 0; i < kFrames; ++i)
        frames += "<iframe src='/file/f" + std::to_string(i) + "'></iframe>";
    m_server->page("/flood.html", "Flood", frames);
    m_server->page("/next.html", "Next");
    m_server->page("/after.html", "After");
    load(selectedView(), m_server->url("/flood.html"));
    DownloadBar& bar = controller().window()->downloadBar();
    ASSERT_TRUE(waitUntil([&] { return bar.asking(); }));
    g_signal_emit_by_name(bar.blockButton().gobj(), "clicked");
    // The frames still to come are refused as they arrive.
    ASSERT_TRUE(waitUntil([&] {
        int count = 0;
        for (int i = 0; i < kFrames; ++i)
            count += m_server->requestCount("/file/f" + std::to_string(i));
        return count == kFrames;
    }));
    shutDown();

    launch();
    for (const char* page : { "/next.html", "/after.html" }) {
        load(selectedView(), m_server->url(page));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url(page))) << page;
    }
}

class DamagedDownloadsListTest : public DownloadsTest {
protected:
    DamagedDownloadsListTest() { m_launchInSetUp = false; }
};

TEST_F(DamagedDownloadsListTest, DamagedListIsKeptByteForByteAndReportedOnce)
{
    const std::string damaged = "[{\"path\": \"/x\", \"name\": \"x\"}, 12, trunc\xff";
    fs::path file = historyURL().parent_path() / "downloads.json";
    ASSERT_TRUE(writeFileAtomically(file, damaged));
    launch();
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_NE(m_alerts[0].informativeText.find("downloads.json"), std::string::npos);

    m_server->route("/a.txt", attachment("a.txt", "A"));
    load(selectedView(), m_server->url("/a.txt"));
    ASSERT_TRUE(waitForRecords(1));
    controller().shell().flushFiles();
    EXPECT_EQ(fileContents(file.string() + ".bad"), damaged);
    EXPECT_EQ(recordsOnDisk().size(), 1u);

    controller().showDownloads();
    controller().showDownloads();
    EXPECT_EQ(m_alerts.size(), 1u);
}

// What may lie where the list should be: a file too deep to copy, a pipe nobody writes to, and a
// link to a device that never ends.
struct IntrudingList {
    const char* name;
    std::string contents; // written as the file when no other kind is named
    const char* kind;
    const char* reason;
};

class IntrudingDownloadsListTest : public DamagedDownloadsListTest,
                                   public ::testing::WithParamInterface<IntrudingList> { };

TEST_P(IntrudingDownloadsListTest, LaunchGoesOnAndTheFileIsKeptAsideForANewList)
{
    fs::path file = historyURL().parent_path() / "downloads.json";
    fs::create_directories(file.parent_path());
    const std::string kind = GetParam().kind;
    if (kind == "pipe")
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    else if (kind == "device link")
        fs::create_symlink("/dev/zero", file);
    else
        ASSERT_TRUE(writeFileAtomically(file, GetParam().contents));

    // A launch that blocks or reads without end fails the run instead of hanging it.
    std::promise<void> launched;
    std::thread watchdog([done = launched.get_future()] {
        if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            std::fprintf(stderr, "FAILED: launch did not finish within 60 seconds\n");
            std::_Exit(1);
        }
    });
    launch();
    launched.set_value();
    watchdog.join();

    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_NE(m_alerts[0].informativeText.find("downloads.json " + std::string(GetParam().reason)),
        std::string::npos)
        << m_alerts[0].informativeText;
    fs::path kept = file.string() + ".bad";
    if (kind == "file")
        EXPECT_EQ(fileContents(kept), GetParam().contents);
    else
        EXPECT_EQ(fs::symlink_status(kept).type(),
            kind == "pipe" ? fs::file_type::fifo : fs::file_type::symlink);

    m_server->route("/a.txt", attachment("a.txt", "A"));
    load(selectedView(), m_server->url("/a.txt"));
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(recordsOnDisk().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Files, IntrudingDownloadsListTest,
    ::testing::Values(IntrudingList { "NestedDeep",
                          "[{\"path\": \"/x\", \"d\": " + std::string(100000, '[')
                              + std::string(100000, ']') + "}]",
                          "file", "is nested more than 64 levels deep" },
        IntrudingList { "Pipe", "", "pipe", "cannot be read (Is not a regular file)" },
        IntrudingList { "DeviceLink", "", "device link", "cannot be read (Is a symbolic link)" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadsTest, WindowListsRevealsAndRemovesRecords)
{
    m_server->route("/a.txt", attachment("a.txt", "A"));
    m_server->route("/b.txt", attachment("b.txt", "B"));
    load(selectedView(), m_server->url("/a.txt"));
    ASSERT_TRUE(waitForRecords(1));
    load(selectedView(), m_server->url("/b.txt"));
    ASSERT_TRUE(waitForRecords(2));

    controller().showDownloads();
    DownloadsWindow* window = controller().downloadsWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil([&] { return window->get_mapped() && firstFileButton(*window); }));
    EXPECT_EQ(window->selection()->get_n_items(), 2u);

    std::vector<fs::path> revealed;
    setRevealResponder([&](const fs::path& path) { revealed.push_back(path); });
    // Newest first: the top row is b.txt.
    g_signal_emit_by_name(firstFileButton(*window)->gobj(), "clicked");
    setRevealResponder(nullptr);
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0], downloadsFolder() / "b.txt");

    // The file manager on the session bus is asked to select the file.
    FakeFileManager manager;
    ASSERT_TRUE(waitUntil([&] { return manager.owned(); }));
    g_signal_emit_by_name(firstFileButton(*window)->gobj(), "clicked");
    ASSERT_TRUE(waitUntil([&] { return !manager.shown().empty(); }));
    char* uri = g_filename_to_uri((downloadsFolder() / "b.txt").c_str(), nullptr, nullptr);
    EXPECT_EQ(manager.shown(), std::vector<std::string> { uri });
    g_free(uri);

    window->selection()->select_item(1, true);
    m_alertAnswer = 1; // "Cancel"
    g_signal_emit_by_name(window->removeButton()->gobj(), "clicked");
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].buttons, (std::vector<std::string> { "Remove from List", "Cancel" }));
    EXPECT_EQ(recordsOnDisk().size(), 2u);

    window->selection()->select_item(1, true);
    m_alertAnswer = 0;
    g_signal_emit_by_name(window->removeButton()->gobj(), "clicked");
    Json records = recordsOnDisk();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["name"], "b.txt");
    EXPECT_EQ(window->selection()->get_n_items(), 1u);
    EXPECT_TRUE(fs::exists(downloadsFolder() / "a.txt"));
}

TEST_F(DownloadsTest, RevealingAMissingFileSaysSo)
{
    m_server->route("/gone.txt", attachment("gone.txt", "G"));
    load(selectedView(), m_server->url("/gone.txt"));
    ASSERT_TRUE(waitForRecords(1));
    fs::remove(downloadsFolder() / "gone.txt");
    controller().showDownloads();
    bool revealed = false;
    setRevealResponder([&](const fs::path&) { revealed = true; });
    controller().downloadsWindow()->reveal(0);
    controller().downloadsWindow()->reveal(5);
    setRevealResponder(nullptr);
    EXPECT_FALSE(revealed);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].informativeText, kDownloadFileMissingMessage);
}

TEST_F(DownloadsTest, RunningDownloadShowsProgressUntilItFinishes)
{
    HeldServer held;
    held.hold("/big.iso", "big.iso", std::string(1000, 'a'), std::string(3000, 'b'));
    controller().showDownloads();
    load(selectedView(), held.url("/big.iso"));
    ASSERT_TRUE(waitUntil([&] { return controller().downloads().inProgressDownloads().size() == 1; }));
    std::string key = controller().downloads().inProgressDownloads().begin()->first;
    DownloadsWindow* window = controller().downloadsWindow();
    ASSERT_TRUE(waitUntil([&] {
        Gtk::ProgressBar* bar = window->progressBar(key);
        return bar && bar->get_fraction() > 0.2;
    }));
    EXPECT_LT(window->progressBar(key)->get_fraction(), 0.5);
    held.release();
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(window->progressBar(key), nullptr);
    EXPECT_EQ(window->selection()->get_n_items(), 1u);
    EXPECT_EQ(fs::file_size(downloadsFolder() / "big.iso"), 4000u);
}

// A running download is cancelled from the toolbar's popover or the Downloads window: it leaves
// neither a file nor a record nor a failure, and the others go on.
TEST_F(DownloadsTest, CancelledDownloadsLeaveNothingBehind)
{
    HeldServer held;
    for (const char* name : { "one.iso", "two.iso", "three.iso" })
        held.hold(std::string("/") + name, name, std::string(4000, 'a'), std::string(12000, 'b'));
    auto running = [&] { return controller().downloads().runningDownloads(); };
    auto keyOf = [&](const std::string& name) {
        for (const auto& [key, download] : running())
            if (download.name == name)
                return key;
        return std::string();
    };
    auto allStarted = [&](size_t count) {
        return waitUntil([&] {
            auto now = running();
            return now.size() == count
                && std::all_of(now.begin(), now.end(), [](const auto& entry) {
                       return entry.second.received >= 4000;
                   });
        });
    };
    auto folderNames = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(downloadsFolder()))
            names.insert(entry.path().filename());
        return names;
    };
    load(selectedView(), held.url("/one.iso"));
    controller().tabs().createNewTab();
    load(selectedView(), held.url("/two.iso"));
    ASSERT_TRUE(allStarted(2));

    DownloadsButton* button = nullptr;
    for (Gtk::Widget* child = controller().window()->browserToolbar().get_first_child(); child;
         child = child->get_next_sibling())
        if (auto* found = dynamic_cast<DownloadsButton*>(child))
            button = found;
    ASSERT_TRUE(button);
    EXPECT_EQ(button->shownRunning(), 2);
    ASSERT_TRUE(button->shownFraction());
    EXPECT_DOUBLE_EQ(*button->shownFraction(), 0.25);
    g_signal_emit_by_name(button->gobj(), "clicked");
    EXPECT_TRUE(button->popover().get_visible());
    std::vector<std::string> listed = button->listedKeys();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
        (std::set<std::string> { keyOf("one.iso"), keyOf("two.iso") }));
    EXPECT_EQ(button->statusText(keyOf("one.iso")).rfind("4.0 kB of 16.0 kB", 0), 0u)
        << button->statusText(keyOf("one.iso"));
    g_signal_emit_by_name(button->cancelButton(keyOf("one.iso"))->gobj(), "clicked");
    ASSERT_TRUE(waitUntil([&] { return running().size() == 1; }));
    EXPECT_EQ(button->listedKeys(), std::vector<std::string> { keyOf("two.iso") });

    controller().showDownloads();
    controller().tabs().createNewTab();
    load(selectedView(), held.url("/three.iso"));
    ASSERT_TRUE(allStarted(2));
    Gtk::Button* cancel = controller().downloadsWindow()->cancelButton(keyOf("three.iso"));
    ASSERT_TRUE(cancel);
    g_signal_emit_by_name(cancel->gobj(), "clicked");
    ASSERT_TRUE(waitUntil([&] { return running().size() == 1; }));

    held.release();
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(DownloadRecord::fromJson(controller().downloads().downloadEntries()[0]).name, "two.iso");
    EXPECT_TRUE(waitUntil([&] { return folderNames() == std::set<std::string> { "two.iso" }; }))
        << folderNames().size();
    EXPECT_TRUE(controller().downloads().failedDownloads().empty());
    EXPECT_FALSE(controller().window()->downloadBar().get_reveal_child());
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(button->shownRunning(), 0);
    EXPECT_FALSE(button->popover().get_visible());
}

// A server that closes the connection before the length it announced has been sent: the
// download fails, and what arrived of it is not left in the Downloads folder.
TEST_F(DownloadsTest, DownloadCutShortLeavesNoFileAndNoRecord)
{
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread server([listener] {
        int client = accept(listener, nullptr, nullptr);
        std::string request;
        char buffer[4096];
        while (client >= 0 && request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Disposition: attachment; filename=cut.bin\r\n"
                            "Content-Length: 100000\r\nConnection: close\r\n\r\n"
            + std::string(4000, 'x');
        if (client >= 0) {
            EXPECT_EQ(write(client, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
            close(client);
        }
    });
    load(selectedView(),
        "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/cut.bin");
    EXPECT_TRUE(waitUntil([&] { return controller().downloads().failedDownloads().size() == 1; }));
    server.join();
    close(listener);
    EXPECT_TRUE(controller().downloads().runningDownloads().empty());
    EXPECT_TRUE(controller().downloads().downloadEntries().empty());
    EXPECT_TRUE(waitUntil([&] { return fs::is_empty(downloadsFolder()); }));
}

} // namespace qv::test

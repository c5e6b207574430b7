// Extension fetches and downloads over the bridge, and the extension source viewer.
#include "support/extensions_fixture.h"

#include "downloads/download_store.h"
#include "downloads/downloads_window.h"
#include "extensions/bridge_host_adapter.h"
#include "extensions/extension_network.h"
#include "extensions/extension_permissions.h"
#include "extensions/extension_source_window.h"
#include "platform/file_panels.h"

#include <fstream>
#include <sstream>

namespace qv::test {

namespace fs = std::filesystem;

namespace {

std::string fileText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A server that streams a chunked body that never ends, one 64 KiB chunk after another is
// written: a client only gets past it by giving up on its own.
class StreamingServer {
public:
    StreamingServer()
    {
        m_server = soup_server_new(nullptr, nullptr);
        GInetAddress* loopback = g_inet_address_new_from_string("127.0.0.1");
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        soup_server_listen(m_server, address, static_cast<SoupServerListenOptions>(0), nullptr);
        g_object_unref(address);
        g_object_unref(loopback);
        GSList* uris = soup_server_get_uris(m_server);
        m_port = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : 0;
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        soup_server_add_handler(m_server, "/big", &StreamingServer::handle, this, nullptr);
    }
    ~StreamingServer()
    {
        soup_server_disconnect(m_server);
        g_object_unref(m_server);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/big"; }

private:
    static constexpr size_t kChunk = 65536;
    static const char* chunk()
    {
        static const std::string bytes(kChunk, 'x');
        return bytes.data();
    }
    static void handle(
        SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data)
    {
        soup_server_message_set_status(message, 200, nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
        soup_message_headers_set_content_type(headers, "application/octet-stream", nullptr);
        SoupMessageBody* body = soup_server_message_get_response_body(message);
        soup_message_body_set_accumulate(body, FALSE);
        g_signal_connect(message, "wrote-chunk", G_CALLBACK(&StreamingServer::next), data);
        next(message, data);
    }
    static void next(SoupServerMessage* message, gpointer)
    {
        SoupMessageBody* body = soup_server_message_get_response_body(message);
        soup_message_body_append(body, SOUP_MEMORY_STATIC, chunk(), kChunk);
    }

    SoupServer* m_server = nullptr;
    unsigned m_port = 0;
};

// The button below `root` whose label reads `title`.
Gtk::Button* buttonTitled(Gtk::Widget& root, const std::string& title)
{
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        auto* label = dynamic_cast<Gtk::Label*>(child);
        if (label && label->get_text().raw() == title) {
            for (Gtk::Widget* up = label->get_parent(); up; up = up->get_parent())
                if (auto* button = dynamic_cast<Gtk::Button*>(up))
                    return button;
        }
        if (Gtk::Button* found = buttonTitled(*child, title))
            return found;
    }
    return nullptr;
}

} // namespace

class ExtensionNetworkTest : public ExtensionsTest {
protected:
    void TearDown() override
    {
        setFilePanelResponder(nullptr);
        ExtensionsTest::TearDown();
    }

    WebKitWebView* launchWithNetworkExtension()
    {
        writeExtension("net", fileExtensionManifest("net", "Net", { "network", "downloads" }));
        writeDefaults({ { kExtensionPermissionsKey, { { "net", { "network", "downloads" } } } } });
        launch();
        return startExtension("net");
    }

    Json request(WebKitWebView* view, const std::string& action, const Json& args)
    {
        return callAsync(
            view, "return await qv.request('" + action + "', " + dumpJson(args) + ");");
    }

    // Answers the next save panels with `destination`, remembering the proposed names.
    void answerSavePanels(const fs::path& destination)
    {
        setFilePanelResponder(
            [this, destination](
                const FilePanelSpec& panel) -> std::optional<std::optional<fs::path>> {
                m_proposedNames.push_back(panel.suggestedName);
                return std::optional<fs::path>(destination);
            });
    }

    std::vector<std::string> m_proposedNames;
};

TEST_F(ExtensionNetworkTest, FetchOfALocalPageRepliesWithTheResponse)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    m_server->route(
        "/data.txt", { 200, "text/plain; charset=utf-8", "caf\u00e9 ok", { { "X-Probe", "1" } } });
    m_server->route("/old", { 302, "text/plain", "", { { "Location", "/data.txt" } } });
    m_server->route("/image", { 200, "image/png", std::string("\x89PNG\r\n\x1a\n\xff", 9), {} });

    Json reply = request(view, "network.fetch",
        { { "url", m_server->url("/old") }, { "options", { { "method", "get" } } } });
    ASSERT_EQ(reply["ok"], true) << reply.dump();
    Json value = reply["value"];
    EXPECT_EQ(value["url"], m_server->url("/data.txt"));
    EXPECT_EQ(value["status"], 200);
    EXPECT_EQ(value["ok"], true);
    EXPECT_EQ(value["body"], "caf\u00e9 ok");
    EXPECT_EQ(value["bodyIsBase64"], false);
    EXPECT_EQ(value["headers"]["X-Probe"], "1");

    Json image = request(view, "network.fetch", { { "url", m_server->url("/image") } });
    EXPECT_EQ(image["value"]["bodyIsBase64"], true);
    EXPECT_EQ(image["value"]["body"], "iVBORw0KGgr/");

    Json missing = request(view, "network.fetch", { { "url", m_server->url("/nothing") } });
    EXPECT_EQ(missing["ok"], true);
    EXPECT_EQ(missing["value"]["status"], 404);
    EXPECT_EQ(missing["value"]["ok"], false);
    EXPECT_EQ(request(view, "network.fetch", { { "url", "file:///etc/hostname" } }),
        (Json { { "ok", false }, { "error", "Network URL must use HTTP or HTTPS." } }));
}

TEST_F(ExtensionNetworkTest, OversizedBodyIsRefusedWithoutBeingHeldInMemory)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    // The body never ends, so a reply at all shows the fetch stopped at the limit instead of
    // reading on.
    StreamingServer server;
    Json reply = request(view, "network.fetch", { { "url", server.url() } });
    EXPECT_EQ(reply, (Json { { "ok", false }, { "error", "Response exceeds the 4 MB limit." } }));
}

TEST_F(ExtensionNetworkTest, DownloadPastTheSizeLimitStopsAndKeepsTheOldFile)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    // The body never ends: a reply at all shows the download stopped at the limit.
    StreamingServer server;
    fs::path folder = testHome() / "capped";
    fs::create_directories(folder);
    std::ofstream(folder / "big.bin") << "old";
    answerSavePanels(folder / "big.bin");
    Json reply = request(view, "download.save", { { "url", server.url() } });
    EXPECT_EQ(reply, (Json { { "ok", false }, { "error", "Download exceeds the 4 MB limit." } }));
    EXPECT_EQ(fileText(folder / "big.bin"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // An announced length past the limit is refused before anything is written.
    m_server->route("/announced", { 200, "application/octet-stream",
        std::string(kMaxExtensionDownloadBytes + 1, 'x'), {} });
    Json announced = request(view, "download.save", { { "url", m_server->url("/announced") } });
    EXPECT_EQ(announced["error"], "Download exceeds the 4 MB limit.");
    EXPECT_EQ(fileText(folder / "big.bin"), "old");
}

// A server that drips its answer holds neither a reply nor a connection for long.
TEST(ExtensionTransfers, FetchesAndDownloadsGiveUpAfterAWholeTimeOut)
{
    ExtensionFetchRequest fetch;
    fetch.url = "http://127.0.0.1/x";
    for (const HttpStreamRequest& request :
        { extensionFetchStreamRequest(fetch), extensionDownloadStreamRequest(fetch.url) }) {
        ASSERT_TRUE(request.totalTimeout) << request.url;
        EXPECT_LE(*request.totalTimeout, std::chrono::seconds(30));
        EXPECT_LE(request.idleTimeout, std::chrono::seconds(30));
    }
}

TEST_F(ExtensionNetworkTest, DownloadOverAnUnreplaceableItemKeepsItAndFails)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    m_server->route("/report.txt", { 200, "text/plain", "new report", {} });
    fs::path folder = testHome() / "chosen";
    fs::create_directories(folder / "report.txt");
    std::ofstream(folder / "report.txt" / "keep.txt") << "kept";
    answerSavePanels(folder / "report.txt");

    Json reply = request(view, "download.save",
        { { "url", m_server->url("/report.txt") }, { "suggestedName", "a/b/report.txt" } });
    EXPECT_EQ(reply["ok"], false);
    EXPECT_NE(reply["error"].get<std::string>().find("Is a directory"), std::string::npos)
        << reply.dump();
    EXPECT_EQ(m_proposedNames, (std::vector<std::string> { "report.txt" }));
    EXPECT_EQ(fileText(folder / "report.txt" / "keep.txt"), "kept");
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left, (std::vector<fs::path> { "report.txt" })) << "no temporary file is left";

    // A server error is not saved over the user's file either.
    fs::path existing = folder / "old.txt";
    std::ofstream(existing) << "old";
    answerSavePanels(existing);
    Json refused = request(view, "download.save", { { "url", m_server->url("/gone") } });
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(fileText(existing), "old");
}

TEST_F(ExtensionNetworkTest, SuccessfulDownloadReplacesTheFileAndIsRecorded)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    m_server->route("/files/data.bin", { 200, "application/octet-stream", "fresh bytes", {} });
    fs::path destination = testHome() / "saved.bin";
    std::ofstream(destination) << "stale";
    answerSavePanels(destination);

    Json reply = request(view, "download.save", { { "url", m_server->url("/files/data.bin") } });
    EXPECT_EQ(reply,
        (Json {
            { "ok", true }, { "value", { { "url", destination.string() }, { "bytes", 11 } } } }));
    EXPECT_EQ(m_proposedNames, (std::vector<std::string> { "data.bin" }));
    EXPECT_EQ(fileText(destination), "fresh bytes");

    fs::path records = controller().history().historyFileURL().parent_path() / kDownloadsFileName;
    controller().shell().flushFiles();
    Json list = parsedOrNull(fileText(records));
    ASSERT_TRUE(list.is_array() && !list.empty()) << fileText(records);
    EXPECT_EQ(list[0]["path"], destination.string());
    EXPECT_EQ(list[0]["source"], m_server->url("/files/data.bin"));

    setFilePanelResponder([](const FilePanelSpec&) -> std::optional<std::optional<fs::path>> {
        return std::optional<fs::path>();
    });
    EXPECT_EQ(request(view, "download.save", { { "url", m_server->url("/files/data.bin") } }),
        (Json { { "ok", false }, { "error", "Download was cancelled." } }));
}

// An extension's save runs among the browser's downloads, where the user may cancel it: the
// file it would have replaced stays, and nothing is left or recorded.
TEST_F(ExtensionNetworkTest, CancelledSaveKeepsTheOldFileAndRecordsNothing)
{
    WebKitWebView* view = launchWithNetworkExtension();
    ASSERT_TRUE(view);
    m_server->hang("/slow.bin");
    fs::path folder = testHome() / "saves";
    fs::create_directories(folder);
    std::ofstream(folder / "slow.bin") << "old";
    answerSavePanels(folder / "slow.bin");
    controller().showDownloads();
    EXPECT_EQ(callAsync(view,
                  "window.pendingSave = qv.request('download.save', { url: '"
                      + m_server->url("/slow.bin") + "' }); return true;"),
        Json(true));
    const auto& running = controller().downloads().runningDownloads();
    ASSERT_TRUE(waitUntil([&] { return running.size() == 1; }));
    EXPECT_EQ(running.begin()->second.name, "slow.bin");
    EXPECT_EQ(running.begin()->second.source, m_server->url("/slow.bin"));
    Gtk::Button* cancel = controller().downloadsWindow()->cancelButton(running.begin()->first);
    ASSERT_TRUE(cancel);
    g_signal_emit_by_name(cancel->gobj(), "clicked");

    EXPECT_EQ(callAsync(view, "return await window.pendingSave;"),
        (Json { { "ok", false }, { "error", "Download was cancelled." } }));
    EXPECT_TRUE(running.empty());
    EXPECT_EQ(fileText(folder / "slow.bin"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_TRUE(controller().downloads().downloadEntries().empty());
}

TEST_F(ExtensionNetworkTest, SourceViewerEditsInsideTheFolderAndIsRebuiltAfterClosing)
{
    fs::path root = writeExtension("editor", fileExtensionManifest("editor", "Editor", {}),
        { { "index.html", kBasicPage }, { "js/app.js", "let a = 1;\n" } });
    fs::create_symlink("/etc/hostname", root / "outside.txt");
    std::string hostname = fileText("/etc/hostname");
    writeDefaults(Json::object());
    launch();

    // Through the manager's settings page, as the user gets there.
    controller().showExtensionManager();
    controller().extensions().selectExtension(Sender::identified("editor"));
    controller().extensions().showExtensionSettings();
    Gtk::Button* viewSource
        = buttonTitled(*controller().extensionManager()->pageContainer(), "View Source Code");
    ASSERT_TRUE(viewSource);
    g_signal_emit_by_name(viewSource->gobj(), "clicked");
    ExtensionSourceWindow* window = controller().extensionSourceWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(controller().shell().auxiliaryWindows().at(1), window);
    EXPECT_EQ(window->get_title(), "Editor \u2014 Source Code");
    ASSERT_EQ(window->extensionSourceFiles(),
        (std::vector<fs::path> { root / "index.html", root / "js/app.js", root / "manifest.json",
            root / "outside.txt" }));
    EXPECT_EQ(window->editorText(), kBasicPage);
    EXPECT_TRUE(window->extensionSourceTextView()->get_editable());

    window->extensionSourceTextView()->get_buffer()->set_text("edited");
    EXPECT_EQ(window->extensionSourceStatus()->get_text(), "Unsaved changes \u00B7 index.html");
    // Cancel keeps the edited file chosen and its text as it is.
    m_alertAnswer = 2;
    window->selectRow(1);
    auto selection = std::dynamic_pointer_cast<Gtk::SingleSelection>(
        window->extensionSourceTable()->get_model());
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->get_selected(), 0u);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].messageText, "Save changes to this source file?");
    EXPECT_EQ(m_alerts[0].informativeText, "index.html");
    EXPECT_EQ(window->editorText(), "edited");
    window->saveSelectedExtensionSource();
    EXPECT_EQ(fileText(root / "index.html"), "edited");
    EXPECT_EQ(window->extensionSourceStatus()->get_text().rfind("Saved to ", 0), 0u);
    // A link that leads out of the folder is no way out for saving either.
    EXPECT_FALSE(window->writeExtensionSourceToURL(root / "outside.txt"));
    EXPECT_EQ(window->extensionSourceStatus()->get_text(),
        "Saving is allowed only for files inside this Extension folder.");

    window->selectRow(3);
    EXPECT_EQ(window->extensionSourceStatus()->get_text(), "Could not read outside.txt");
    EXPECT_FALSE(window->extensionSourceTextView()->get_editable());
    std::string shown = window->editorText();
    EXPECT_NE(shown, hostname);
    window->saveSelectedExtensionSource();
    EXPECT_EQ(window->extensionSourceStatus()->get_text(), "Select a source file before saving.");
    EXPECT_EQ(fileText("/etc/hostname"), hostname);
    EXPECT_EQ(fileText(root / "index.html"), "edited") << "the message is saved nowhere";
    EXPECT_TRUE(fs::is_symlink(root / "outside.txt"));

    // Closing destroys the window; showing it again builds a new one.
    bool destroyed = false;
    g_object_weak_ref(
        G_OBJECT(window->gobj()), [](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; },
        &destroyed);
    window->close();
    EXPECT_FALSE(controller().extensionSourceWindow());
    EXPECT_EQ(controller().shell().auxiliaryWindows().size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return destroyed; }));
    controller().showSelectedExtensionSource(Sender::other());
    ExtensionSourceWindow* again = controller().extensionSourceWindow();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->get_visible());
    EXPECT_EQ(again->editorText(), "edited");
}

} // namespace qv::test

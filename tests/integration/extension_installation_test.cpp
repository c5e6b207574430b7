// Installing extensions from ZIP archives and website addresses, exporting and deleting them,
// through the manager window's own buttons and drop zone.
#include "support/extensions_fixture.h"

#include "../platform/zip_writer.h"
#include "base/text_util.h"
#include "base/uuid.h"
#include "extensions/extension_manager_views.h"
#include "extensions/extension_storage.h"
#include "platform/archive.h"
#include "platform/file_panels.h"
#include "platform/storage_locations.h"

#include <fstream>

namespace qv::test {

namespace {

std::string page(const std::string& title, const std::string& body = "")
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + title
        + "</title></head><body>" + body + "</body></html>";
}

// Depth first over a widget tree; the first widget the test accepts.
Gtk::Widget* findWidget(Gtk::Widget* root, const std::function<bool(Gtk::Widget&)>& accept)
{
    if (!root)
        return nullptr;
    if (accept(*root))
        return root;
    for (Gtk::Widget* child = root->get_first_child(); child; child = child->get_next_sibling()) {
        if (Gtk::Widget* found = findWidget(child, accept))
            return found;
    }
    return nullptr;
}

} // namespace

class ExtensionInstallationTest : public ExtensionsTest {
protected:
    void SetUp() override
    {
        ExtensionsTest::SetUp();
        fs::create_directories(archives());
        setFilePanelResponder([this](const FilePanelSpec& panel) {
            m_panels.push_back(panel);
            return std::optional<std::optional<fs::path>>(m_panelAnswer);
        });
        setRevealResponder([this](const fs::path& file) { m_revealed.push_back(file); });
        setAlertFieldResponder([this](const AlertSpec&) { return m_typed; });
    }

    void TearDown() override
    {
        setFilePanelResponder(nullptr);
        setRevealResponder(nullptr);
        setAlertFieldResponder(nullptr);
        ExtensionsTest::TearDown();
    }

    static fs::path archives() { return testHome() / "archives"; }

    // Launches with the built-ins kept out and the manager shown.
    void launchWithManager(Json defaults = Json::object())
    {
        writeDefaults(std::move(defaults));
        launch();
        controller().showExtensionManager();
        ASSERT_TRUE(controller().extensionManager());
    }

    Gtk::Widget* managerWidget(const std::function<bool(Gtk::Widget&)>& accept)
    {
        return findWidget(controller().extensionManager(), accept);
    }

    Gtk::Button* buttonWithTooltip(const std::string& tooltip)
    {
        return dynamic_cast<Gtk::Button*>(managerWidget([&](Gtk::Widget& w) {
            return dynamic_cast<Gtk::Button*>(&w) && w.get_tooltip_text().raw() == tooltip;
        }));
    }

    // A button showing the title in its own label.
    Gtk::Button* buttonWithTitle(const std::string& title)
    {
        return dynamic_cast<Gtk::Button*>(managerWidget([&](Gtk::Widget& w) {
            return dynamic_cast<Gtk::Button*>(&w) && findWidget(&w, [&](Gtk::Widget& inner) {
                auto* label = dynamic_cast<Gtk::Label*>(&inner);
                return label && label->get_text().raw() == title;
            });
        }));
    }

    static void click(Gtk::Widget* button)
    {
        ASSERT_TRUE(button);
        g_signal_emit_by_name(button->gobj(), "clicked");
    }

    Json grantsFor(const std::string& id)
    {
        Json all = controller().shell().defaults().objectForKey(kExtensionPermissionsKey);
        return all.is_object() && all.contains(id) ? all[id] : Json();
    }

    std::set<std::string> deletedIDs()
    {
        Json list = controller().shell().defaults().objectForKey(kDeletedBundledExtensionsKey);
        std::set<std::string> ids;
        for (const Json& id : list)
            ids.insert(id.get<std::string>());
        return ids;
    }

    static std::set<std::string> storeItems()
    {
        std::set<std::string> items;
        for (auto& item : fs::recursive_directory_iterator(store()))
            items.insert(item.path().lexically_relative(store()).generic_string());
        return items;
    }

    // Unpacking folders left behind in the temporary directory.
    static int leftoverUnpackFolders()
    {
        int count = 0;
        for (auto& item : fs::directory_iterator(temporaryDirectory()))
            count += isUUIDString(item.path().filename().string()) ? 1 : 0;
        return count;
    }

    std::optional<fs::path> m_panelAnswer;
    std::vector<FilePanelSpec> m_panels;
    std::vector<fs::path> m_revealed;
    std::string m_typed;
};

TEST_F(ExtensionInstallationTest, InstallButtonInstallsAnArchivePreGrantedAndSelected)
{
    const fs::path archive = archives() / "Weather Tools.zip";
    ASSERT_TRUE(writeZip(archive,
        { { "weather/app/index.html", page("Weather", "<a href=\"other.html\">more</a>") },
            { "weather/app/other.html", page("Other") },
            { "weather/manifest.json", "{\"id\":\"evil\",\"permissions\":[\"source\"]}" } }));
    launchWithManager();
    m_panelAnswer = archive;
    click(buttonWithTooltip("Install from ZIP"));
    ASSERT_TRUE(waitUntil([&] { return controller().extensions().extensions().count("weather-tools") > 0; }));

    ASSERT_EQ(m_panels.size(), 1u);
    EXPECT_EQ(m_panels[0].kind, FilePanelSpec::Kind::Open);
    const ExtensionRecord& record = controller().extensions().extensions().at("weather-tools");
    EXPECT_EQ(record.name(), "Weather Tools");
    EXPECT_EQ(record.manifest["entry"], "weather/app/index.html");
    EXPECT_FALSE(controller().extensions().extensions().count("evil"));
    EXPECT_EQ(grantsFor("weather-tools").size(), 10u);
    EXPECT_EQ(controller().extensions().selectedExtensionID(), "weather-tools");
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(leftoverUnpackFolders(), 0);

    // Turning it on needs no prompt; relative links inside the folder work.
    WebKitWebView* view = startExtension("weather-tools");
    ASSERT_TRUE(view);
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(evaluate(view, "document.title"), "\"Weather\"");
    evaluate(view, "document.querySelector('a').click(); 1");
    ASSERT_TRUE(waitUntil([&] { return evaluate(view, "document.title") == "\"Other\""; }));
}

TEST_F(ExtensionInstallationTest, RefusedArchivesAlertAndLeaveTheStoreAsItWas)
{
    launchWithManager();
    writeExtension("kept", fileExtensionManifest("kept", "Kept", { "tabs" }));
    const auto before = storeItems();

    struct Case {
        std::string file;
        std::vector<ZipEntry> entries;
        std::string message;
    };
    std::vector<Case> cases {
        { "linked.zip", { { "index.html", page("L") }, { "x", "", AE_IFLNK, "/etc/passwd" } },
            "ZIP needs an index.html file." },
        { "noindex.zip", { { "page.html", page("P") } }, "ZIP needs an index.html file." },
        { "escape.zip", { { "index.html", page("E") }, { "../../escaped.txt", "x" } },
            "Could not extract ZIP: entry \u201C../../escaped.txt\u201D lies outside the folder" },
        { "notes.txt", { { "index.html", page("N") } }, "Choose a ZIP archive smaller than 100 MB." },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeZip(archives() / c.file, c.entries));
        m_alerts.clear();
        controller().extensions().installExtensionArchive(archives() / c.file);
        ASSERT_EQ(m_alerts.size(), 1u) << c.file;
        EXPECT_EQ(m_alerts[0].informativeText, c.message) << c.file;
        EXPECT_EQ(storeItems(), before) << c.file;
        EXPECT_EQ(leftoverUnpackFolders(), 0) << c.file;
    }
    EXPECT_FALSE(fs::exists(temporaryDirectory().parent_path() / "escaped.txt"));

    // One byte over 100 MiB is refused before it is opened.
    fs::path big = archives() / "big.zip";
    std::ofstream(big).close();
    fs::resize_file(big, 104857601);
    m_alerts.clear();
    controller().extensions().installExtensionArchive(big);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].informativeText, "Choose a ZIP archive smaller than 100 MB.");
    EXPECT_EQ(controller().extensions().extensions().size(), 0u + controller().extensions().extensions().count("kept"));
}

TEST_F(ExtensionInstallationTest, ReinstallingARunningExtensionReplacesItsFilesAndKeepsItsData)
{
    writeExtension("weather-tools",
        fileExtensionManifest("weather-tools", "Weather Tools", { "storage" }),
        { { "index.html", page("Old") }, { "old-only.js", "1" } });
    writeDefaults({ { kExtensionPermissionsKey, { { "weather-tools", { "storage" } } } },
        { kEnabledExtensionsKey, { "weather-tools" } },
        { extensionStorageKey("weather-tools"), { { "city", "\"Oslo\"" } } } });
    launch();
    controller().showExtensionManager();
    // Held, so a new view cannot take the old one's address.
    auto old = GObjectPtr<WebKitWebView>::retain(extensionView("weather-tools"));
    ASSERT_TRUE(old.get());
    ASSERT_TRUE(waitForLoad(old.get(), "file://"));

    ASSERT_TRUE(writeZip(archives() / "Weather Tools.zip", { { "index.html", page("New") } }));
    controller().extensions().installExtensionArchive(archives() / "Weather Tools.zip");
    EXPECT_TRUE(m_alerts.empty());

    WebKitWebView* restarted = extensionView("weather-tools");
    ASSERT_TRUE(restarted);
    EXPECT_NE(restarted, old.get());
    EXPECT_FALSE(controller().extensions().isExtensionWebView(old.get()));
    ASSERT_TRUE(waitForLoad(restarted, "file://"));
    EXPECT_EQ(evaluate(restarted, "document.title"), "\"New\"");
    EXPECT_FALSE(fs::exists(store() / "weather-tools/old-only.js"));
    EXPECT_EQ(controller().shell().defaults().objectForKey(extensionStorageKey("weather-tools")),
        (Json { { "city", "\"Oslo\"" } }));
    EXPECT_TRUE(controller().extensions().enabledExtensionIDs().count("weather-tools"));
    for (const std::string& item : storeItems())
        EXPECT_EQ(item.find(".update-"), std::string::npos) << item;
}

TEST_F(ExtensionInstallationTest, AnUpdateGoesIntoTheInstalledFolderWhateverItsName)
{
    // No manifest ID: the folder name gives "my-tool".
    writeExtension("My Tool", { { "name", "My Tool" }, { "permissions", { "storage" } } },
        { { "index.html", page("Old") }, { "old-only.js", "1" } });
    writeDefaults({ { kExtensionPermissionsKey, { { "my-tool", { "storage" } } } } });
    launch();
    controller().showExtensionManager();
    ASSERT_TRUE(controller().extensions().extensions().count("my-tool"));

    ASSERT_TRUE(writeZip(archives() / "my-tool.zip", { { "index.html", page("New") } }));
    controller().extensions().installExtensionArchive(archives() / "my-tool.zip");
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(storeItems(),
        (std::set<std::string> { "My Tool", "My Tool/index.html", "My Tool/manifest.json" }));
    EXPECT_EQ(controller().extensions().extensions().at("my-tool").rootURL.filename(), "My Tool");

    // What the next launch finds is the new version, with the archive's grants.
    controller().extensions().loadExtensions();
    const ExtensionRecord& reloaded = controller().extensions().extensions().at("my-tool");
    EXPECT_EQ(readWholeFile(*reloaded.entryURL).contents, page("New"));
    EXPECT_EQ(grantsFor("my-tool").size(), 10u);

    // Deleting leaves no folder that would bring the extension back.
    m_alertAnswer = 1;
    controller().extensions().deleteExtension(Sender::identified("my-tool"));
    EXPECT_TRUE(storeItems().empty());
    controller().extensions().loadExtensions();
    EXPECT_FALSE(controller().extensions().extensions().count("my-tool"));
}

TEST_F(ExtensionInstallationTest, AFolderNamedLikeTheIDOfAnotherExtensionIsLeftAlone)
{
    writeExtension("notes", fileExtensionManifest("jotter", "Jotter", { "storage" }),
        { { "index.html", page("Jotter") } });
    launchWithManager();
    ASSERT_TRUE(controller().extensions().extensions().count("jotter"));

    ASSERT_TRUE(writeZip(archives() / "Notes.zip", { { "index.html", page("Notes") } }));
    controller().extensions().installExtensionArchive(archives() / "Notes.zip");
    EXPECT_TRUE(m_alerts.empty());
    EXPECT_EQ(readWholeFile(store() / "notes/index.html").contents, page("Jotter"));
    EXPECT_EQ(controller().extensions().extensions().at("notes").rootURL.filename(), "notes-2");

    controller().extensions().loadExtensions();
    ASSERT_TRUE(controller().extensions().extensions().count("jotter"));
    ASSERT_TRUE(controller().extensions().extensions().count("notes"));
    EXPECT_EQ(controller().extensions().extensions().at("jotter").rootURL.filename(), "notes");
    EXPECT_EQ(
        readWholeFile(*controller().extensions().extensions().at("notes").entryURL).contents, page("Notes"));
}

TEST_F(ExtensionInstallationTest, DeletingRemovesFilesGrantsAndStorageAndReinstallStartsEmpty)
{
    ASSERT_TRUE(writeZip(archives() / "Notes.zip", { { "index.html", page("Notes") } }));
    launchWithManager();
    controller().extensions().installExtensionArchive(archives() / "Notes.zip");
    ASSERT_TRUE(controller().extensions().extensions().count("notes"));
    ASSERT_TRUE(startExtension("notes"));
    callAsync(extensionView("notes"), "return await qv.request('storage.set', "
                                      "{key: 'draft', value: 'hello'});");
    ASSERT_TRUE(controller().shell().defaults().objectForKey(extensionStorageKey("notes")).is_object());

    // Cancelling the confirmation removes nothing.
    controller().extensions().showExtensionSettings();
    ASSERT_TRUE(controller().extensions().extensionSettingsVisible());
    Gtk::Button* remove = buttonWithTitle("Delete Extension");
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->get_name().raw(), "notes");
    m_alertAnswer = 0;
    click(remove);
    ASSERT_EQ(m_alerts.size(), 1u);
    EXPECT_EQ(m_alerts[0].messageText, "Delete Notes?");
    EXPECT_EQ(m_alerts[0].informativeText,
        "The installed Extension files and its stored data will be removed.");
    EXPECT_EQ(m_alerts[0].buttons, (std::vector<std::string> { "Cancel", "Delete Extension" }));
    EXPECT_TRUE(fs::exists(store() / "notes"));

    m_alertAnswer = 1;
    click(remove);
    EXPECT_FALSE(fs::exists(store() / "notes"));
    EXPECT_FALSE(controller().extensions().extensions().count("notes"));
    EXPECT_FALSE(extensionView("notes"));
    EXPECT_FALSE(controller().extensions().enabledExtensionIDs().count("notes"));
    EXPECT_TRUE(grantsFor("notes").is_null());
    EXPECT_TRUE(controller().shell().defaults().objectForKey(extensionStorageKey("notes")).is_null());
    EXPECT_TRUE(deletedIDs().count("notes"));
    EXPECT_EQ(controller().extensions().selectedExtensionID(), "");
    EXPECT_EQ(controller().extensionManager()->pageTitle()->get_text().raw(), "Select an Extension");

    controller().extensions().installExtensionArchive(archives() / "Notes.zip");
    EXPECT_FALSE(deletedIDs().count("notes"));
    WebKitWebView* again = startExtension("notes");
    ASSERT_TRUE(again);
    EXPECT_EQ(callAsync(again, "return await qv.request('storage.get', {key: 'draft'});"),
        (Json { { "ok", true }, { "value", nullptr } }));
}

TEST_F(ExtensionInstallationTest, AddFromURLStartsAWebsiteExtension)
{
    m_server->route("/app.html", { 200, "text/html", page("Web App"), {} });
    launchWithManager();

    m_typed = "  ftp://files.test/  ";
    click(buttonWithTooltip("Load a website as an Extension"));
    ASSERT_EQ(m_alerts.size(), 2u);
    EXPECT_EQ(m_alerts[0].messageText, "Add Website Extension");
    EXPECT_EQ(m_alerts[0].informativeText,
        "Enter the website address to open in the Extensions panel.");
    EXPECT_EQ(m_alerts[0].buttons, (std::vector<std::string> { "Add Extension", "Cancel" }));
    EXPECT_EQ(m_alerts[1].informativeText, "Enter a valid website address using HTTP or HTTPS.");
    EXPECT_TRUE(controller().extensions().extensions().empty());

    m_alerts.clear();
    m_typed = m_server->url("/app.html");
    controller().extensions().addExtensionFromURL(Sender::button(-1));
    ASSERT_EQ(controller().extensions().extensions().size(), 1u);
    const auto& [id, record] = *controller().extensions().extensions().begin();
    EXPECT_EQ(id.rfind("url-", 0), 0u);
    EXPECT_EQ(id.size(), 4u + 36u);
    EXPECT_EQ(id, toLowerAscii(id));
    EXPECT_TRUE(record.isWebsite());
    EXPECT_EQ(record.name(), "127.0.0.1");
    EXPECT_EQ(grantsFor(id).size(), 12u);
    EXPECT_TRUE(fs::exists(store() / id / "manifest.json"));
    EXPECT_EQ(controller().extensions().selectedExtensionID(), id);
    EXPECT_EQ(m_alerts.size(), 1u); // the address alert only: no permission prompt
    WebKitWebView* view = extensionView(id);
    ASSERT_TRUE(view);
    EXPECT_TRUE(waitForLoad(view, m_server->url("/app.html")));
}

TEST_F(ExtensionInstallationTest, ExportWritesAZipHoldingTheExtensionFolder)
{
    writeExtension("clock", fileExtensionManifest("clock", "Clock", { "tabs" }),
        { { "index.html", page("Clock") }, { "js/tick.js", "tick()" } });
    launchWithManager();
    controller().extensions().selectExtension(Sender::identified("clock"));
    controller().extensions().showExtensionSettings();
    m_panelAnswer = testHome() / "clock-export";
    click(buttonWithTitle("Export ZIP"));
    const fs::path written = testHome() / "clock-export.zip";
    ASSERT_TRUE(waitUntil([&] { return !m_revealed.empty(); }));
    ASSERT_EQ(m_panels.size(), 1u);
    EXPECT_EQ(m_panels[0].kind, FilePanelSpec::Kind::Save);
    EXPECT_EQ(m_panels[0].suggestedName, "Clock.zip");
    EXPECT_EQ(m_revealed[0], written);

    fs::path back = testHome() / "unpacked";
    fs::create_directories(back);
    auto unpacked = extractZipArchive(written, back);
    ASSERT_TRUE(unpacked) << unpacked.error();
    EXPECT_TRUE(fs::exists(back / "clock/manifest.json"));
    EXPECT_TRUE(fs::exists(back / "clock/js/tick.js"));
    EXPECT_EQ(std::distance(fs::directory_iterator(back), fs::directory_iterator()), 1);
}

TEST_F(ExtensionInstallationTest, DropZoneTakesOnlyZipFilesAndInstallsEachInOrder)
{
    ASSERT_TRUE(writeZip(archives() / "Alpha.zip", { { "index.html", page("A") } }));
    ASSERT_TRUE(writeZip(archives() / "Beta.ZIP", { { "index.html", page("B") } }));
    std::ofstream(archives() / "readme.txt") << "text";
    launchWithManager();
    auto* drop = dynamic_cast<ExtensionDropView*>(
        managerWidget([](Gtk::Widget& w) { return dynamic_cast<ExtensionDropView*>(&w); }));
    ASSERT_TRUE(drop);

    EXPECT_FALSE(drop->dragEntered({ archives() / "readme.txt", archives() }));
    EXPECT_FALSE(drop->isDraggingFiles());
    EXPECT_TRUE(drop->dragEntered({ archives() / "readme.txt", archives() / "Alpha.zip" }));
    EXPECT_TRUE(drop->isDraggingFiles());
    EXPECT_TRUE(drop->has_css_class("dragging"));
    drop->dragLeft();
    EXPECT_FALSE(drop->isDraggingFiles());
    EXPECT_FALSE(drop->has_css_class("dragging"));

    EXPECT_FALSE(drop->dropFiles({ archives(), archives() / "readme.txt" }));
    ASSERT_TRUE(flushIdleWork());
    EXPECT_TRUE(controller().extensions().extensions().empty());

    EXPECT_TRUE(drop->dropFiles({ archives() / "Alpha.zip", archives() / "readme.txt",
        archives() / "Beta.ZIP" }));
    ASSERT_TRUE(waitUntil([&] { return controller().extensions().extensions().size() == 2; }));
    EXPECT_TRUE(controller().extensions().extensions().count("alpha"));
    EXPECT_TRUE(controller().extensions().extensions().count("beta"));
    EXPECT_EQ(controller().extensions().selectedExtensionID(), "beta"); // the last one installed
    EXPECT_TRUE(m_alerts.empty());

    // What the toolkit hands over on a real drop: a file list in the target's "drop" signal.
    ASSERT_TRUE(writeZip(archives() / "Gamma.zip", { { "index.html", page("G") } }));
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(drop->gobj()));
    GtkDropTarget* target = nullptr;
    for (guint i = 0; i < g_list_model_get_n_items(controllers) && !target; ++i) {
        GObject* item = G_OBJECT(g_list_model_get_item(controllers, i));
        if (GTK_IS_DROP_TARGET(item))
            target = GTK_DROP_TARGET(item);
        g_object_unref(item);
    }
    g_object_unref(controllers);
    ASSERT_TRUE(target);
    GFile* files[] = { g_file_new_for_path((archives() / "Gamma.zip").c_str()),
        g_file_new_for_path((archives() / "readme.txt").c_str()) };
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GDK_TYPE_FILE_LIST);
    g_value_take_boxed(&value, gdk_file_list_new_from_array(files, 2));
    gboolean accepted = FALSE;
    g_signal_emit_by_name(target, "drop", &value, 10.0, 10.0, &accepted);
    g_value_unset(&value);
    for (GFile* file : files)
        g_object_unref(file);
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(waitUntil([&] { return controller().extensions().extensions().count("gamma") > 0; }));
}

} // namespace qv::test

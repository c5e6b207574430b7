// Keeping bookmarks: the file, the star, the menu, and bookmark files in and out.
#include "bookmarks/bookmark_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "app/view_helpers.h"
#include "base/text_util.h"
#include "bookmarks/bookmarks_window.h"
#include "bookmarks/netscape_bookmarks.h"
#include "navigation/navigation_service.h"
#include "platform/alerts.h"
#include "platform/file_panels.h"
#include "platform/storage_locations.h"
#include "tabs/tab_service.h"

#include <chrono>
#include <map>

namespace qv {

namespace fs = std::filesystem;

namespace {

    // A submenu lists at most this many entries (folders first); the window lists them all.
    constexpr size_t kMaxBookmarkMenuItems = 60;
    constexpr size_t kMaxBookmarkMenuLabel = 60;

    std::int64_t unixNow()
    {
        return std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch())
            .count();
    }


    // A menu label: short, one line, and with its underscores shown rather than taken as
    // mnemonics.
    Glib::ustring bookmarkMenuLabel(const Bookmark& bookmark)
    {
        std::string text = displaySafeTitle(bookmark.title.empty() ? bookmark.url : bookmark.title);
        Glib::ustring label(cutUtf8(text, 4 * kMaxBookmarkMenuLabel));
        if (label.size() > kMaxBookmarkMenuLabel)
            label = label.substr(0, kMaxBookmarkMenuLabel - 1) + "\u2026";
        Glib::ustring out;
        for (gunichar c : label) {
            if (c == '_')
                out += "__";
            else
                out += c;
        }
        return out;
    }

    struct MenuFolder {
        std::vector<std::string> childOrder;
        std::map<std::string, std::unique_ptr<MenuFolder>> children;
        std::vector<const Bookmark*> items;
    };

    void fillBookmarkMenu(const Glib::RefPtr<Gio::Menu>& menu, const MenuFolder& folder)
    {
        size_t listed = 0;
        bool more = false;
        for (const std::string& name : folder.childOrder) {
            if (listed++ >= kMaxBookmarkMenuItems) {
                more = true;
                break;
            }
            auto submenu = Gio::Menu::create();
            fillBookmarkMenu(submenu, *folder.children.at(name));
            Bookmark named;
            named.title = name;
            menu->append_submenu(bookmarkMenuLabel(named), submenu);
        }
        for (const Bookmark* bookmark : folder.items) {
            if (more || listed++ >= kMaxBookmarkMenuItems) {
                more = true;
                break;
            }
            auto item = Gio::MenuItem::create(bookmarkMenuLabel(*bookmark), "");
            item->set_action_and_target(
                "app.open-bookmark", Glib::Variant<Glib::ustring>::create(bookmark->id));
            menu->append_item(item);
        }
        if (more)
            menu->append("More in the Bookmarks Window\u2026", "app.show-bookmarks");
    }

    // The star, with its popover as a child of its own that goes when it goes.
    class StarButton : public Gtk::Button {
    public:
        explicit StarButton(std::function<void()> gone)
            : m_gone(std::move(gone))
        {
            m_popover = Gtk::make_managed<Gtk::Popover>();
            m_popover->set_parent(*this);
            // Let go of before the button is finalized, which wants no children left.
            signal_destroy().connect([this] { letGo(); });
        }
        ~StarButton() override { letGo(); }
        Gtk::Popover& popover() { return *m_popover; }

    private:
        void letGo()
        {
            // Unparenting drops the popover's last reference.
            if (auto* popover = std::exchange(m_popover, nullptr))
                popover->unparent();
            if (auto gone = std::exchange(m_gone, nullptr))
                gone();
        }

        Gtk::Popover* m_popover = nullptr;
        std::function<void()> m_gone;
    };

} // namespace

BookmarkService::BookmarkService(const Services& services)
    : m_services(services)
{
}

BookmarkService::~BookmarkService()
{
    m_lifetime.end();
    // A read or an import still running is waited for by its future.
}

void BookmarkService::readBookmarks()
{
    if (m_store)
        return;
    m_file = historyURL().parent_path() / std::string(kBookmarksFileName);
    auto report = [alive = m_lifetime.token(), service = this] {
        runOnMainLoop(alive, [service] { service->reportWrites(); });
    };
    m_store = std::make_unique<BookmarkStore>(m_file, m_services.shell->fileWriter(), report);
    m_read = std::async(std::launch::async,
        [file = m_file, alive = m_lifetime.token(), service = this] {
            BookmarksLoad loaded = BookmarkStore::read(file);
            runOnMainLoop(alive, [service] { service->waitForBookmarks(); });
            return loaded;
        });
    // The tabs' addresses drive the star.
    TabService& tabs = *m_services.tabs;
    tabs.tabList().signalChanged().connect(sigc::mem_fun(*this, &BookmarkService::updateStar));
    tabs.signalSelectedViewShown().connect(
        [this](WebKitWebView*, WebKitWebView*) { updateStar(); });
    tabs.signalWebViewCreated().connect(sigc::mem_fun(*this, &BookmarkService::watchWebView));
    tabs.signalWebViewReleasing().connect(
        [this](WebKitWebView* view) { g_signal_handlers_disconnect_by_data(view, this); });
}

void BookmarkService::watchWebView(WebKitWebView* view)
{
    g_signal_connect(view, "notify::uri", G_CALLBACK(+[](WebKitWebView* changed, GParamSpec*, gpointer data) {
        auto* service = static_cast<BookmarkService*>(data);
        if (changed == service->m_services.tabs->selectedWebView())
            service->updateStar();
    }),
        this);
}

void BookmarkService::waitForBookmarks()
{
    if (!m_store)
        readBookmarks();
    if (m_adopted || !m_read.valid())
        return;
    adopt(m_read.get());
}

void BookmarkService::adopt(BookmarksLoad loaded)
{
    m_adopted = true;
    if (auto problem = m_store->adopt(std::move(loaded)))
        m_services.shell->showError(*problem);
    changed();
}

const std::vector<Bookmark>& BookmarkService::bookmarks() const
{
    static const std::vector<Bookmark> none;
    return m_store && m_adopted ? m_store->bookmarks() : none;
}

const Bookmark* BookmarkService::bookmarkForUrl(const std::string& url) const
{
    if (url.empty())
        return nullptr;
    for (const Bookmark& bookmark : bookmarks()) {
        if (bookmark.url == url)
            return &bookmark;
    }
    return nullptr;
}

bool BookmarkService::readOnly() const { return m_store && m_store->readOnly(); }

Result<Done> BookmarkService::store(std::vector<Bookmark> list, std::optional<std::string> fileText)
{
    waitForBookmarks();
    auto stored = m_store->set(std::move(list), std::move(fileText));
    if (stored)
        changed();
    return stored;
}

Result<std::string> BookmarkService::addBookmark(
    const std::string& title, const std::string& url, const std::string& folder)
{
    waitForBookmarks();
    if (readOnly())
        return Result<std::string>::failure(std::string(kBookmarksReadOnlyMessage));
    auto clean = cleanBookmark({ "", title, url, unixNow(), folder, {} });
    if (!clean)
        return Result<std::string>::failure("Only web and file addresses can be bookmarked.");
    std::vector<Bookmark> list = m_store->bookmarks();
    BookmarkMerge merge = mergeBookmarks(list, { *clean });
    if (merge.overLimit)
        return Result<std::string>::failure("There are too many bookmarks to add another.");
    std::string id = merge.added ? list.back().id : "";
    if (auto stored = store(std::move(list)); !stored)
        return Result<std::string>::failure(stored.error());
    if (id.empty()) {
        for (const Bookmark& bookmark : bookmarks()) {
            if (isSameBookmark(bookmark, *clean))
                id = bookmark.id;
        }
    }
    return id;
}

Result<Done> BookmarkService::updateBookmark(const Bookmark& changedBookmark)
{
    waitForBookmarks();
    auto clean = cleanBookmark(changedBookmark);
    if (!clean)
        return Result<Done>::failure("Only web and file addresses can be bookmarked.");
    std::vector<Bookmark> list = m_store->bookmarks();
    for (Bookmark& bookmark : list) {
        if (bookmark.id == changedBookmark.id) {
            clean->id = bookmark.id;
            bookmark = std::move(*clean);
            return store(std::move(list));
        }
    }
    return Done {};
}

Result<Done> BookmarkService::removeBookmark(const std::string& id)
{
    waitForBookmarks();
    std::vector<Bookmark> list = m_store->bookmarks();
    std::erase_if(list, [&](const Bookmark& bookmark) { return bookmark.id == id; });
    return store(std::move(list));
}

Result<Done> BookmarkService::replaceBookmarks(std::vector<Bookmark> list)
{
    return store(std::move(list));
}

void BookmarkService::changed()
{
    m_menuDirty = true;
    if (m_menu)
        rebuildMenu();
    updateStar();
    m_changed.emit();
}

void BookmarkService::reportWrites()
{
    if (!m_store)
        return;
    for (const std::string& message : m_store->takeWriteFailures())
        m_services.shell->showError(message);
}

std::string BookmarkService::selectedPageURL() const
{
    const Tab* tab = m_services.tabs ? m_services.tabs->browserTabs().selected() : nullptr;
    if (!tab)
        return "";
    if (WebKitWebView* view = tab->webView()) {
        std::string uri = webViewURI(view);
        if (!uri.empty())
            return uri;
    }
    return tab->url();
}

void BookmarkService::bookmarkSelectedPage()
{
    waitForBookmarks();
    std::string url = selectedPageURL();
    if (bookmarkForUrl(url)) {
        showStarPopover();
        return;
    }
    if (!isBookmarkableURL(url))
        return;
    const Tab* tab = m_services.tabs->browserTabs().selected();
    std::string title = tab && tab->webView() ? webViewTitle(tab->webView()) : "";
    if (title.empty() && tab)
        title = tab->title();
    if (auto added = addBookmark(title, url); !added)
        m_services.shell->showError(added.error());
}

void BookmarkService::openBookmark(const std::string& id, bool inBackground)
{
    std::string url;
    for (const Bookmark& bookmark : bookmarks()) {
        if (bookmark.id == id)
            url = bookmark.url;
    }
    // Checked again: the list is ours, but the file it came from may not be.
    if (!isBookmarkableURL(url))
        return;
    TabService& tabs = *m_services.tabs;
    if (inBackground && tabs.browserTabs().selected()) {
        tabs.openBackgroundTab(url);
        return;
    }
    if (!tabs.browserTabs().selected()) {
        tabs.createBrowserTabWithURL(url);
        return;
    }
    m_services.navigation->loadResolvedAddress(url);
    if (BrowserWindow* window = m_services.shell->window())
        window->present();
}

Gtk::Widget& BookmarkService::starButton()
{
    if (m_star)
        return *m_star;
    auto* star = Gtk::make_managed<StarButton>([this] {
        m_star = nullptr;
        m_popover = nullptr;
    });
    m_star = star;
    addApplicationStyleSheet(".qv-starred { color: #e5a50a; }");
    m_star->set_name("bookmark-star");
    m_star->add_css_class("flat");
    m_star->add_css_class("circular");
    m_star->set_valign(Gtk::Align::CENTER);
    m_star->set_margin_end(4);
    m_star->set_focus_on_click(false);
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_pixel_size(16);
    m_star->set_child(*image);
    m_star->signal_clicked().connect([this] { bookmarkSelectedPage(); });

    m_popover = &star->popover();
    m_popover->set_position(Gtk::PositionType::BOTTOM);
    auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
    box->set_margin(6);
    auto* heading = Gtk::make_managed<Gtk::Label>("Edit Bookmark");
    heading->set_xalign(0);
    setWidgetCss(*heading, "label { font-weight: bold; }");
    box->append(*heading);
    m_popoverTitle = Gtk::make_managed<Gtk::Entry>();
    m_popoverTitle->set_placeholder_text("Title");
    m_popoverTitle->set_width_chars(32);
    setAccessibleLabel(*m_popoverTitle, "Title");
    box->append(*m_popoverTitle);
    m_popoverFolder = Gtk::make_managed<Gtk::Entry>();
    m_popoverFolder->set_placeholder_text("Folder (Folder/Subfolder)");
    setAccessibleLabel(*m_popoverFolder, "Folder");
    box->append(*m_popoverFolder);
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto* remove = Gtk::make_managed<Gtk::Button>("Remove Bookmark");
    remove->set_name("remove-bookmark");
    remove->add_css_class("destructive-action");
    remove->set_hexpand(true);
    remove->set_halign(Gtk::Align::START);
    remove->signal_clicked().connect([this] {
        std::string id = std::exchange(m_popoverBookmarkID, "");
        if (m_popover)
            m_popover->popdown();
        if (auto removed = removeBookmark(id); !removed)
            m_services.shell->showError(removed.error());
    });
    buttons->append(*remove);
    auto* done = Gtk::make_managed<Gtk::Button>("Done");
    done->add_css_class("suggested-action");
    done->signal_clicked().connect([this] {
        if (m_popover)
            m_popover->popdown();
    });
    buttons->append(*done);
    box->append(*buttons);
    m_popover->set_child(*box);
    m_popoverTitle->signal_activate().connect([this] { m_popover->popdown(); });
    m_popoverFolder->signal_activate().connect([this] { m_popover->popdown(); });
    m_popover->signal_closed().connect([this] { applyPopoverEdits(); });
    updateStar();
    return *m_star;
}

void BookmarkService::updateStar()
{
    if (!m_star)
        return;
    std::string url = selectedPageURL();
    m_starBookmarked = bookmarkForUrl(url) != nullptr;
    if (auto* image = dynamic_cast<Gtk::Image*>(m_star->get_child()))
        setIconName(*image, m_starBookmarked ? "starred-symbolic" : "non-starred-symbolic");
    setTooltipAndLabel(*m_star, m_starBookmarked ? "Edit Bookmark" : "Bookmark This Page");
    if (m_starBookmarked)
        m_star->add_css_class("qv-starred");
    else
        m_star->remove_css_class("qv-starred");
    m_star->set_sensitive(m_starBookmarked || (isBookmarkableURL(url) && !readOnly()));
}

void BookmarkService::showStarPopover()
{
    const Bookmark* bookmark = bookmarkForUrl(selectedPageURL());
    if (!bookmark)
        return;
    starButton();
    if (!m_popover || !m_star->get_mapped())
        return;
    m_popoverBookmarkID = bookmark->id;
    m_popoverTitle->set_text(bookmark->title);
    m_popoverFolder->set_text(bookmark->folder);
    m_popover->popup();
    m_popoverTitle->grab_focus();
}

void BookmarkService::applyPopoverEdits()
{
    std::string id = std::exchange(m_popoverBookmarkID, "");
    if (id.empty() || readOnly())
        return;
    for (const Bookmark& bookmark : bookmarks()) {
        if (bookmark.id != id)
            continue;
        Bookmark edited = bookmark;
        edited.title = m_popoverTitle->get_text();
        edited.folder = m_popoverFolder->get_text();
        if (auto folder = bookmarkFolderForStorage(edited.folder))
            edited.folder = *folder;
        if (bookmarkTitleForStorage(edited.title) == bookmark.title && edited.folder == bookmark.folder)
            return;
        if (auto updated = updateBookmark(edited); !updated)
            m_services.shell->showError(updated.error());
        return;
    }
}

Glib::RefPtr<Gio::Menu> BookmarkService::bookmarksMenu()
{
    if (m_menu)
        return m_menu;
    m_menu = Gio::Menu::create();
    auto commands = Gio::Menu::create();
    commands->append("Bookmark This Page", "app.bookmark-page");
    commands->append("Show All Bookmarks", "app.show-bookmarks");
    m_menu->append_section(commands);
    m_menuItems = Gio::Menu::create();
    m_menu->append_section(m_menuItems);
    rebuildMenu();
    return m_menu;
}

void BookmarkService::rebuildMenu()
{
    if (!m_menuItems || !m_menuDirty)
        return;
    m_menuDirty = false;
    MenuFolder root;
    for (const Bookmark& bookmark : bookmarks()) {
        MenuFolder* folder = &root;
        for (const std::string& name : bookmarkFolderNames(bookmark.folder)) {
            auto& child = folder->children[name];
            if (!child) {
                child = std::make_unique<MenuFolder>();
                folder->childOrder.push_back(name);
            }
            folder = child.get();
        }
        if (folder->items.size() <= kMaxBookmarkMenuItems)
            folder->items.push_back(&bookmark);
    }
    m_menuItems->remove_all();
    fillBookmarkMenu(m_menuItems, root);
}

void BookmarkService::installActions()
{
    auto& app = m_services.shell->application();
    if (app->lookup_action("open-bookmark"))
        return;
    app->add_action("bookmark-page", [this] { bookmarkSelectedPage(); });
    app->set_accels_for_action("app.bookmark-page", { "<Control>d" });
    app->add_action("show-bookmarks", [this] { showBookmarksWindow(); });
    app->set_accels_for_action("app.show-bookmarks", { "<Control><Shift>o" });
    auto open = Gio::SimpleAction::create("open-bookmark", Glib::VARIANT_TYPE_STRING);
    open->signal_activate().connect([this](const Glib::VariantBase& target) {
        auto id = Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(target).get();
        openBookmark(id, controlKeyHeld());
    });
    app->add_action(open);
}

void BookmarkService::showBookmarksWindow()
{
    waitForBookmarks();
    if (!m_window)
        m_window = std::make_unique<BookmarksWindow>(*m_services.shell, *this);
    m_window->reload();
    m_window->showInFront();
}

void BookmarkService::importBookmarksFile(
    const fs::path& file, std::function<void(const BookmarkImportReport&)> done)
{
    waitForBookmarks();
    auto finish = [this, done](BookmarkImportReport report) {
        GtkWindow* parent = nullptr;
        if (m_window && m_window->get_visible())
            parent = m_window->gobj();
        else if (BrowserWindow* window = m_services.shell->window())
            parent = GTK_WINDOW(window->gobj());
        if (report.failure)
            m_services.shell->showError(*report.failure);
        else
            showAlert(parent, { "Bookmarks Imported", bookmarkImportSummary(report.imported, report.skipped), { "OK" } },
                [](int) { });
        if (done)
            done(report);
    };
    if (readOnly()) {
        finish({ 0, 0, std::string(kBookmarksReadOnlyMessage) });
        return;
    }
    if (m_import.valid()) {
        finish({ 0, 0, std::string("Another import is still under way.") });
        return;
    }
    // Reading and parsing a large file takes a while: a worker does it, the main loop adds.
    // Reading, parsing, merging and making the new file's text take a while for a large file:
    // a worker does them on a copy of the list, and the main loop only takes the result.
    m_import = std::async(std::launch::async,
        [file, list = bookmarks(), generation = m_store->generation(), alive = m_lifetime.token(),
            service = this, finish]() mutable -> BookmarkImportParse {
            BookmarkImportParse parse;
            parse.generation = generation;
            FileRead read = readWholeFile(file, kBookmarkImportFileLimit, FileLinks::Follow);
            if (read.status != ReadStatus::Ok) {
                parse.failure = "Could not import bookmarks from " + file.string() + ": "
                    + (read.status == ReadStatus::Missing ? std::string("No such file") : read.error);
            } else {
                BookmarkImport found = parseNetscapeBookmarks(read.contents, unixNow());
                parse.unsound = found.skipped;
                parse.incoming = found.bookmarks;
                parse.merge = mergeBookmarks(list, std::move(found.bookmarks));
                if (parse.merge.added)
                    parse.fileText = bookmarksFileText(list);
                parse.merged = std::move(list);
            }
            runOnMainLoop(alive, [service, finish] {
                BookmarkImportParse parsed = service->m_import.get();
                BookmarkImportReport report;
                report.failure = std::move(parsed.failure);
                if (!report.failure) {
                    std::optional<std::string> text = std::move(parsed.fileText);
                    if (service->m_store->generation() != parsed.generation) {
                        // The list changed meanwhile: merged again here, on the list as it is.
                        parsed.merged = service->bookmarks();
                        parsed.merge = mergeBookmarks(parsed.merged, std::move(parsed.incoming));
                        text.reset();
                    }
                    report.imported = parsed.merge.added;
                    report.skipped = parsed.unsound + parsed.merge.duplicates + parsed.merge.overLimit;
                    if (parsed.merge.added) {
                        if (auto stored = service->store(std::move(parsed.merged), std::move(text)); !stored)
                            report.failure = stored.error();
                    }
                }
                finish(std::move(report));
            });
            return parse;
        });
}

void BookmarkService::exportBookmarksFile(const fs::path& file)
{
    waitForBookmarks();
    FileWriteHooks hooks;
    hooks.done = [alive = m_lifetime.token(), service = this, file](const FileWriteReport& report) {
        if (report.kind == FileWriteReport::Kind::Written)
            return;
        std::string message = "Could not export bookmarks to " + file.string() + ": "
            + (report.message.empty() ? std::string("write failed") : report.message);
        runOnMainLoop(alive, [service, message] { service->m_services.shell->showError(message); });
    };
    m_services.shell->fileWriter().submitMade(
        file,
        [copy = bookmarks()]() -> Result<std::string> { return netscapeBookmarksText(copy); },
        std::move(hooks), std::chrono::milliseconds(0));
}

void BookmarkService::chooseImportFile(Gtk::Window* parent)
{
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Open;
    panel.title = "Import Bookmarks";
    panel.acceptLabel = "Import";
    panel.filterName = "Bookmark files";
    panel.filterSuffix = "html";
    runFilePanel(parent ? parent->gobj() : nullptr, panel,
        [alive = m_lifetime.token(), this](std::optional<fs::path> file) {
            if (file && !alive.expired())
                importBookmarksFile(*file);
        });
}

void BookmarkService::chooseExportFile(Gtk::Window* parent)
{
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Save;
    panel.title = "Export Bookmarks";
    panel.acceptLabel = "Export";
    panel.suggestedName = "bookmarks.html";
    panel.filterName = "Bookmark files";
    panel.filterSuffix = "html";
    runFilePanel(parent ? parent->gobj() : nullptr, panel,
        [alive = m_lifetime.token(), this](std::optional<fs::path> file) {
            if (file && !alive.expired())
                exportBookmarksFile(*file);
        });
}

} // namespace qv

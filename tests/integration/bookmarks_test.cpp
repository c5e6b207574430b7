// Bookmarks: Ctrl+D and the star, and a bookmark file imported and exported again.
#include "support/browser_fixture.h"

#include "app/settings_window.h"
#include "base/atomic_file.h"
#include "bookmarks/bookmark_service.h"
#include "bookmarks/bookmarks_window.h"
#include "bookmarks/netscape_bookmarks.h"
#include "platform/file_panels.h"

#include <fstream>

namespace qv::test {

namespace {

    Gtk::Button* buttonNamed(Gtk::Widget& root, const std::string& name)
    {
        for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
            if (auto* button = dynamic_cast<Gtk::Button*>(child); button && button->get_name().raw() == name)
                return button;
            if (Gtk::Button* found = buttonNamed(*child, name))
                return found;
        }
        return nullptr;
    }

    std::vector<std::string> described(const std::vector<Bookmark>& bookmarks)
    {
        std::vector<std::string> out;
        for (const Bookmark& b : bookmarks)
            out.push_back(b.folder + "|" + b.title + "|" + b.url);
        std::sort(out.begin(), out.end());
        return out;
    }

} // namespace

class BookmarksTest : public BrowserTest {
protected:
    BookmarkService& bookmarks() { return controller().bookmarks(); }
    std::string openPage(const std::string& path, const std::string& title)
    {
        m_server->page(path, title);
        std::string url = m_server->url(path);
        controller().tabs().createBrowserTabWithURL(url);
        EXPECT_TRUE(waitForLoad(selectedView(), url));
        EXPECT_TRUE(waitUntil([&] { return controller().tabs().browserTabs().selected()->title() == title; }));
        return url;
    }
};

TEST_F(BookmarksTest, ControlDAndTheStarKeepEditAndRemoveThePage)
{
    auto accels = m_application->get_accels_for_action("app.bookmark-page");
    ASSERT_EQ(accels.size(), 1u);
    EXPECT_EQ(accels[0], "<Control>d");
    std::string kept = openPage("/kept.html", "Kept page");
    ASSERT_TRUE(waitUntil([&] { return bookmarks().starButtonWidget()->get_sensitive(); }));
    EXPECT_FALSE(bookmarks().starShowsBookmarked());

    m_application->activate_action("bookmark-page");
    const Bookmark* bookmark = bookmarks().bookmarkForUrl(kept);
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->title, "Kept page");
    EXPECT_TRUE(bookmarks().starShowsBookmarked());

    // The star follows the selected tab.
    openPage("/other.html", "Other");
    EXPECT_FALSE(bookmarks().starShowsBookmarked());
    controller().tabs().selectBrowserTabAtIndex(controller().tabs().browserTabs().size() - 2);
    EXPECT_TRUE(bookmarks().starShowsBookmarked());

    // Clicking the star of a bookmarked page edits it in the popover.
    bookmarks().starButtonWidget()->activate();
    Gtk::Popover* popover = bookmarks().starPopover();
    ASSERT_TRUE(waitUntil([&] { return popover->get_visible(); }));
    bookmarks().popoverTitleEntry()->set_text("Renamed");
    bookmarks().popoverFolderEntry()->set_text(" Work / Reading ");
    popover->popdown();
    ASSERT_TRUE(waitUntil([&] {
        bookmark = bookmarks().bookmarkForUrl(kept);
        return bookmark && bookmark->title == "Renamed";
    }));
    EXPECT_EQ(bookmark->folder, "Work/Reading");
    EXPECT_EQ(bookmarks().bookmarks().size(), 1u);

    // Ctrl+D on it again opens the same popover, whose button removes it.
    m_application->activate_action("bookmark-page");
    ASSERT_TRUE(waitUntil([&] { return popover->get_visible(); }));
    Gtk::Button* remove = buttonNamed(*popover, "remove-bookmark");
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->get_label(), "Remove Bookmark");
    // A click, not activate(): an activated button clicks only if it is already realized, and a
    // quarter second later only if it still is, which a popover on a busy display need not be.
    g_signal_emit_by_name(remove->gobj(), "clicked");
    ASSERT_TRUE(waitUntil([&] { return !bookmarks().bookmarkForUrl(kept); }));
    EXPECT_FALSE(bookmarks().starShowsBookmarked());
    flushFiles();
    FileRead file = readWholeFile(bookmarks().fileURL());
    ASSERT_EQ(file.status, ReadStatus::Ok);
    auto stored = parseBookmarksFile(file.contents);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->bookmarks.empty());
    EXPECT_TRUE(m_alerts.empty());
}

TEST_F(BookmarksTest, ImportThenExportKeepsWhatWasImported)
{
    auto source = testHome() / "from-elsewhere.html";
    std::ofstream(source) << "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
                             "<DT><H3>Bar</H3>\n<DL><p>\n"
                             "<DT><A HREF=\"https://a.test/\" ADD_DATE=\"1700000000\">Caf\xC3\xA9</A>\n"
                             "<DT><H3>Deep</H3><DL><p><DT><A HREF=\"https://b.test/x?y=1&amp;z=2\">B &lt;b&gt;</A></DL><p>\n"
                             "</DL><p>\n"
                             "<DT><A HREF=\"javascript:alert(1)\">Bad</A>\n"
                             "<DT><A HREF=\"https://c.test/\">\xE6\x97\xA5\xE6\x9C\xAC</A>\n"
                             "<DT><A HREF=\"https://c.test/\">\xE6\x97\xA5\xE6\x9C\xAC</A>\n"
                             "</DL><p>\n";
    auto exported = testHome() / "exported.html";
    std::optional<std::filesystem::path> answer = source;
    setFilePanelResponder([&](const FilePanelSpec&) { return std::optional { answer }; });

    controller().showSettings();
    SettingsWindow& settings = *controller().settingsWindow();
    settings.importBookmarksButton().activate();
    ASSERT_TRUE(waitUntil([&] { return !m_alerts.empty(); }));
    EXPECT_EQ(m_alerts.back().informativeText,
        "Imported 3 bookmarks and skipped 2 (duplicates or unusable entries).");
    std::vector<std::string> imported = described(bookmarks().bookmarks());
    EXPECT_EQ(imported,
        (std::vector<std::string> { "Bar/Deep|B <b>|https://b.test/x?y=1&z=2",
            "Bar|Caf\xC3\xA9|https://a.test/", "|\xE6\x97\xA5\xE6\x9C\xAC|https://c.test/" }));

    // The same file again adds nothing: an import never replaces and skips exact duplicates.
    settings.importBookmarksButton().activate();
    ASSERT_TRUE(waitUntil([&] { return m_alerts.size() == 2; }));
    EXPECT_EQ(m_alerts.back().informativeText,
        "Imported 0 bookmarks and skipped 5 (duplicates or unusable entries).");

    answer = exported;
    settings.exportBookmarksButton().activate();
    ASSERT_TRUE(waitUntil([&] {
        flushFiles();
        return std::filesystem::exists(exported);
    }));
    FileRead written = readWholeFile(exported);
    ASSERT_EQ(written.status, ReadStatus::Ok);
    BookmarkImport back = parseNetscapeBookmarks(written.contents, 0);
    EXPECT_EQ(back.skipped, 0u);
    EXPECT_EQ(described(back.bookmarks), imported);
    for (const Bookmark& b : back.bookmarks) {
        if (b.url == "https://a.test/") {
            EXPECT_EQ(b.created, 1700000000);
        }
    }

    // The window lists them, deletes with undo while it is open.
    bookmarks().showBookmarksWindow();
    BookmarksWindow& window = *bookmarks().bookmarksWindow();
    window.searchField().set_text("caf");
    ASSERT_TRUE(waitUntil([&] { return window.shownIDs().size() == 1; }));
    window.selectRows({ 0 });
    window.deleteSelected();
    EXPECT_EQ(bookmarks().bookmarks().size(), 2u);
    window.undoButton().activate();
    ASSERT_TRUE(waitUntil([&] { return bookmarks().bookmarks().size() == 3; }));
    EXPECT_EQ(described(bookmarks().bookmarks()), imported);
    setFilePanelResponder(nullptr);
}

} // namespace qv::test

namespace qv::test {

// Pictures for the docs: QV_BOOKMARKS_SHOT=/path/prefix, run with
// --gtest_also_run_disabled_tests on a display of its own.
TEST_F(BookmarksTest, DISABLED_Screenshots)
{
    const char* prefix = std::getenv("QV_BOOKMARKS_SHOT");
    ASSERT_TRUE(prefix);
    const std::pair<const char*, const char*> pages[] = {
        { "GNU Make manual", "https://www.gnu.org/software/make/manual/" },
        { "Debian \xE2\x80\x94 Packages", "https://packages.debian.test/" },
        { "Caf\xC3\xA9 du Monde \xE2\x80\x94 Menu", "https://cafe.test/menu" },
        { "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC \xE2\x80\x94 \xCE\x9F\xCE\xB4\xCE\xB7\xCE\xB3\xCF\x8C\xCF\x82", "https://ellinika.test/" },
        { "Release notes", "https://project.test/releases" },
        { "Local notes", "file:///home/me/notes.html" },
    };
    const char* folders[] = { "Reference", "Reference/Linux", "", "Reading", "Work", "Work" };
    for (size_t i = 0; i < std::size(pages); ++i)
        ASSERT_TRUE(bookmarks().addBookmark(pages[i].first, pages[i].second, folders[i]));
    std::vector<Bookmark> list = bookmarks().bookmarks();
    list[4].tags = { "project", "weekly" };
    ASSERT_TRUE(bookmarks().replaceBookmarks(list));
    for (bool dark : { false, true }) {
        controller().shell().setDarkMode(dark);
        bookmarks().showBookmarksWindow();
        BookmarksWindow& window = *bookmarks().bookmarksWindow();
        window.selectRows({ 2 });
        ASSERT_TRUE(waitUntil([&] { return window.is_active() && window.get_width() > 0; }));
        ASSERT_TRUE(flushIdleWork());
        std::string path = std::string(prefix) + (dark ? "-dark.png" : "-light.png");
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        window.set_visible(false);
    }
}

} // namespace qv::test

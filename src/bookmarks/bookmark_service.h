// The bookmark service: the bookmarks in "bookmarks.json", the star at the end of the address
// field, the Bookmarks menu, the bookmarks window, and import and export of bookmark files.
#pragma once

#include "app/web_views.h"
#include "bookmarks/bookmark_store.h"
#include "bookmarks/netscape_bookmarks.h"

#include <gtkmm.h>
#include <sigc++/sigc++.h>

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class BookmarksWindow;
struct Services;

// What a finished import did, for its report and for tests.
struct BookmarkImportReport {
    size_t imported = 0;
    size_t skipped = 0;
    std::optional<std::string> failure; // the file could not be read at all
};

class BookmarkService : public sigc::trackable {
public:
    explicit BookmarkService(const Services& services);
    ~BookmarkService();
    BookmarkService(const BookmarkService&) = delete;
    BookmarkService& operator=(const BookmarkService&) = delete;

    // The file is found beside the history file and read on a worker; whatever needs the
    // bookmarks before the read is in waits for it.
    void readBookmarks();

    // Every bookmark, in the user's order.
    const std::vector<Bookmark>& bookmarks() const;
    // The first bookmark of exactly this address, or nullptr.
    const Bookmark* bookmarkForUrl(const std::string& url) const;
    // Any change to the list (also the first read).
    sigc::signal<void()>& signalChanged() { return m_changed; }
    // The file was damaged: nothing can be changed in this run.
    bool readOnly() const;
    const std::filesystem::path& fileURL() const { return m_file; }

    // Changes; each fails with the read-only message (shown by the caller) while read-only.
    Result<std::string> addBookmark(const std::string& title, const std::string& url,
        const std::string& folder = "");
    // Sets the bookmark with this id to `changed` (its id stays); an address that may not be
    // kept is refused.
    Result<Done> updateBookmark(const Bookmark& changed);
    Result<Done> removeBookmark(const std::string& id);
    // The whole list at once: reordering, and undoing a delete.
    Result<Done> replaceBookmarks(std::vector<Bookmark> bookmarks);

    // Ctrl+D and the star: bookmarks the selected page, or when it is bookmarked already, opens
    // the star's popover to edit or remove it.
    void bookmarkSelectedPage();
    // The selected tab's address, as the star follows it.
    std::string selectedPageURL() const;

    // Opens the bookmark in the selected tab, or in a tab behind it.
    void openBookmark(const std::string& id, bool inBackground);

    // Reads and parses the file on a worker, then adds what is new; done (if any) runs on the
    // main loop with the numbers, after the report is shown.
    void importBookmarksFile(const std::filesystem::path& file,
        std::function<void(const BookmarkImportReport&)> done = {});
    // Writes every bookmark to the file (off this thread); failures are shown.
    void exportBookmarksFile(const std::filesystem::path& file);
    // The same through the open and save panels.
    void chooseImportFile(Gtk::Window* parent);
    void chooseExportFile(Gtk::Window* parent);

    // The star button, made once for the browser window's address capsule.
    Gtk::Widget& starButton();
    Gtk::Button* starButtonWidget() const { return m_star; }
    Gtk::Popover* starPopover() const { return m_popover; }
    Gtk::Entry* popoverTitleEntry() const { return m_popoverTitle; }
    Gtk::Entry* popoverFolderEntry() const { return m_popoverFolder; }
    // Whether the star shows the selected page as bookmarked.
    bool starShowsBookmarked() const { return m_starBookmarked; }

    // The "Bookmarks" menu of the menu bar, kept current; its actions are the application's.
    Glib::RefPtr<Gio::Menu> bookmarksMenu();
    void installActions();

    void showBookmarksWindow();
    BookmarksWindow* bookmarksWindow() const { return m_window.get(); }

private:
    // What the import's worker made from the file and a copy of the list.
    struct BookmarkImportParse {
        std::optional<std::string> failure;
        size_t unsound = 0;
        BookmarkMerge merge;
        std::vector<Bookmark> merged;
        std::string fileText;
        // The list the copy was taken from; a later change means merging again.
        std::uint64_t generation = 0;
        std::vector<Bookmark> incoming;
    };

    void waitForBookmarks();
    void adopt(BookmarksLoad loaded);
    Result<Done> store(std::vector<Bookmark> bookmarks, std::optional<std::string> fileText = {});
    void changed();
    void reportWrites();
    void watchWebView(WebKitWebView* view);
    void updateStar();
    void showStarPopover();
    void applyPopoverEdits();
    void rebuildMenu();

    const Services& m_services;
    std::filesystem::path m_file;
    std::unique_ptr<BookmarkStore> m_store;
    std::future<BookmarksLoad> m_read;
    std::future<BookmarkImportParse> m_import;
    bool m_adopted = false;
    sigc::signal<void()> m_changed;

    Gtk::Button* m_star = nullptr;
    bool m_starBookmarked = false;
    Gtk::Popover* m_popover = nullptr;
    Gtk::Entry* m_popoverTitle = nullptr;
    Gtk::Entry* m_popoverFolder = nullptr;
    std::string m_popoverBookmarkID;

    Glib::RefPtr<Gio::Menu> m_menu;
    Glib::RefPtr<Gio::Menu> m_menuItems;
    bool m_menuDirty = true;

    std::unique_ptr<BookmarksWindow> m_window;
    Lifetime m_lifetime;
};

} // namespace qv

// The bookmarks window: every bookmark in a searchable table, edited in place, deleted (with
// undo while the window is open), dragged into another place or folder, and opened in a tab.
#pragma once

#include "app/auxiliary_window.h"
#include "app/row_list_model.h"
#include "bookmarks/bookmark_store.h"

#include <map>
#include <string>
#include <vector>

namespace qv {

class BookmarkService;

class BookmarksWindow : public AuxiliaryWindow {
public:
    BookmarksWindow(Shell& shell, BookmarkService& bookmarks);

    // Shows the bookmarks again under the current search.
    void reload();
    void openSelected(bool inBackground);
    // Removes the selected bookmarks; undoDelete brings them back while the window is open.
    void deleteSelected();
    void undoDelete();
    void closedByUser() override;

    // The bookmark ids of the rows shown, in order.
    std::vector<std::string> shownIDs() const;
    std::vector<size_t> selectedRows() const { return m_rows.selectedRows(); }
    void selectRows(const std::vector<size_t>& rows) { m_rows.selectRows(rows); }
    // Sets a field of a shown row as editing in place does: 0 title, 1 address, 2 folder, 3 tags.
    void editCell(size_t row, int column, const std::string& text);
    // Drops the bookmark of one shown row on another, as dragging does.
    void dropRow(size_t moving, size_t target);
    Gtk::SearchEntry& searchField() const { return *m_search; }
    Gtk::Button& undoButton() const { return *m_undo; }
    Gtk::Button& importButton() const { return *m_import; }
    Gtk::Button& exportButton() const { return *m_export; }

private:
    void addColumn(const char* title, int width, int column);
    const Bookmark* shownBookmark(size_t row) const;

    BookmarkService& m_bookmarks;
    RowListModel m_rows;
    std::vector<size_t> m_shown;
    // Lists as they were before each delete, newest last.
    std::vector<std::vector<Bookmark>> m_undoStack;
    Gtk::SearchEntry* m_search = nullptr;
    Gtk::ColumnView* m_table = nullptr;
    Gtk::Button* m_undo = nullptr;
    Gtk::Button* m_delete = nullptr;
    Gtk::Button* m_import = nullptr;
    Gtk::Button* m_export = nullptr;
    Gtk::Label* m_status = nullptr;
};

} // namespace qv

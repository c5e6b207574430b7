// The bookmarks window.
#include "bookmarks/bookmarks_window.h"

#include "app/shell.h"
#include "app/view_helpers.h"
#include "base/text_util.h"
#include "bookmarks/bookmark_service.h"

namespace qv {

namespace {

    constexpr const char* kBookmarksCss = R"CSS(
.qv-bookmarks-heading { font-size: 23pt; font-weight: bold; }
.qv-bookmarks-table, .qv-bookmarks-table > listview { background: transparent; }
.qv-bookmarks-drop { background: alpha(@accent_bg_color, 0.25); }
)CSS";

    enum BookmarkColumn { kTitleColumn = 0, kAddressColumn = 1, kFolderColumn = 2, kTagsColumn = 3 };

    std::string bookmarkCellText(const Bookmark& bookmark, int column)
    {
        switch (column) {
        case kTitleColumn:
            return bookmark.title;
        case kAddressColumn:
            return bookmark.url;
        case kFolderColumn:
            return bookmark.folder;
        default: {
            std::string tags;
            for (const std::string& tag : bookmark.tags)
                tags += (tags.empty() ? "" : ", ") + tag;
            return tags;
        }
        }
    }

    std::vector<std::string> splitTagText(const std::string& text)
    {
        std::vector<std::string> tags;
        size_t start = 0;
        while (start <= text.size()) {
            size_t comma = text.find(',', start);
            tags.push_back(trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        return tags;
    }

    // The id of the bookmark a cell shows, kept on the cell itself so it goes with it.
    void setCellBookmarkID(Gtk::Widget& cell, const std::string& id)
    {
        g_object_set_data_full(G_OBJECT(cell.gobj()), "qv-bookmark-id", g_strdup(id.c_str()), g_free);
    }

    std::string cellBookmarkID(Gtk::Widget& cell)
    {
        const char* id = static_cast<const char*>(g_object_get_data(G_OBJECT(cell.gobj()), "qv-bookmark-id"));
        return id ? id : "";
    }

    // What a dragged row carries: a type of its own, so no text field takes it as text.
    struct BookmarkRowDrag {
        std::string id;
    };
    using BookmarkRowDragValue = Glib::Value<BookmarkRowDrag>;


} // namespace

BookmarksWindow::BookmarksWindow(Shell& shell, BookmarkService& bookmarks)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::Bookmarks, "Bookmarks")
    , m_bookmarks(bookmarks)
{
    addApplicationStyleSheet(kBookmarksCss);
    set_default_size(960, 580);
    set_size_request(720, 440);
    m_bookmarks.signalChanged().connect(sigc::mem_fun(*this, &BookmarksWindow::reload));

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    content->set_margin(16);
    content->set_margin_bottom(12);

    auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* headings = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 3);
    headings->set_hexpand(true);
    auto* heading = Gtk::make_managed<Gtk::Label>("Bookmarks");
    heading->add_css_class("qv-bookmarks-heading");
    heading->set_xalign(0);
    headings->append(*heading);
    m_status = dimLabel("Click a field of a selected row to edit it; drag a row onto another to move it there, into its folder.");
    m_status->set_xalign(0);
    headings->append(*m_status);
    headings->set_margin_start(4);
    top->append(*headings);
    m_search = Gtk::make_managed<Gtk::SearchEntry>();
    g_object_set(m_search->gobj(), "placeholder-text", "Search bookmarks", nullptr);
    m_search->set_valign(Gtk::Align::CENTER);
    m_search->set_size_request(260, -1);
    setAccessibleLabel(*m_search, "Search bookmarks");
    m_search->signal_search_changed().connect([this] { reload(); });
    top->append(*m_search);
    top->set_margin_bottom(14);
    content->append(*top);

    m_table = Gtk::make_managed<Gtk::ColumnView>();
    m_table->add_css_class("qv-bookmarks-table");
    m_table->set_model(m_rows.selection());
    m_table->set_show_column_separators(false);
    m_table->set_reorderable(false);
    addColumn("Title", 240, kTitleColumn);
    addColumn("Address", 300, kAddressColumn);
    addColumn("Folder", 150, kFolderColumn);
    addColumn("Tags", 120, kTagsColumn);
    m_table->signal_activate().connect([this](guint) { openSelected(controlKeyHeld()); });
    auto keys = Gtk::EventControllerKey::create();
    keys->signal_key_pressed().connect(
        [this](guint key, guint, Gdk::ModifierType) {
            if (key != GDK_KEY_Delete && key != GDK_KEY_KP_Delete)
                return false;
            deleteSelected();
            return true;
        },
        false);
    m_table->add_controller(keys);

    content->append(*scrollingTablePanel(*m_table));

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_margin_top(12);
    auto* open = titledSymbolButton("Open", "go-jump-symbolic", "Open selected bookmarks");
    open->signal_clicked().connect([this] { openSelected(false); });
    buttons->append(*open);
    m_delete = titledSymbolButton("Delete", "user-trash-symbolic", "Delete selected bookmarks");
    m_delete->signal_clicked().connect([this] { deleteSelected(); });
    buttons->append(*m_delete);
    m_undo = titledSymbolButton("Undo Delete", "edit-undo-symbolic");
    m_undo->set_sensitive(false);
    m_undo->signal_clicked().connect([this] { undoDelete(); });
    buttons->append(*m_undo);
    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_hexpand(true);
    buttons->append(*spacer);
    m_import = titledSymbolButton("Import\u2026", "document-open-symbolic", "Import bookmarks");
    m_import->signal_clicked().connect([this] { m_bookmarks.chooseImportFile(this); });
    buttons->append(*m_import);
    m_export = titledSymbolButton("Export\u2026", "document-save-symbolic", "Export bookmarks");
    m_export->signal_clicked().connect([this] { m_bookmarks.chooseExportFile(this); });
    buttons->append(*m_export);
    content->append(*buttons);
    set_child(*content);
}

void BookmarksWindow::addColumn(const char* title, int width, int column)
{
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect([this, column](const Glib::RefPtr<Gtk::ListItem>& item) {
        // The cell carries the row's controllers; its label takes clicks only once the row is
        // selected, so the first click selects and the next one edits.
        auto* cell = Gtk::make_managed<Gtk::Box>();
        auto* label = Gtk::make_managed<Gtk::EditableLabel>();
        label->set_hexpand(true);
        label->set_can_target(false);
        cell->append(*label);
        Gtk::ListItem* listItem = item.get();
        auto click = Gtk::GestureClick::create();
        click->set_button(GDK_BUTTON_PRIMARY);
        click->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
        auto wasSelected = std::make_shared<bool>(false);
        click->signal_pressed().connect([this, listItem, wasSelected](int, double, double) {
            *wasSelected = m_rows.selection()->is_selected(listItem->get_position());
        });
        click->signal_released().connect([label, wasSelected](int presses, double, double) {
            if (presses == 1 && *wasSelected && !label->get_editing())
                label->start_editing();
        });
        cell->add_controller(click);
        // Editing ends: what was typed is kept, unless it is what the cell already showed.
        label->property_editing().signal_changed().connect([this, cell, label, column] {
            // Only an editing label takes the pointer, for its text.
            label->set_can_target(label->get_editing());
            if (label->get_editing())
                return;
            std::string id = cellBookmarkID(*cell);
            if (id.empty())
                return;
            for (size_t row = 0; row < m_shown.size(); ++row) {
                const Bookmark* bookmark = shownBookmark(row);
                if (bookmark && bookmark->id == id) {
                    std::string text = label->get_text();
                    if (text != bookmarkCellText(*bookmark, column))
                        editCell(row, column, text);
                    return;
                }
            }
        });
        // Dragging a row onto another moves it there, into the other's folder.
        auto drag = Gtk::DragSource::create();
        drag->set_actions(Gdk::DragAction::MOVE);
        drag->signal_prepare().connect(
            [this, cell, label](double, double) -> Glib::RefPtr<Gdk::ContentProvider> {
                std::string id = cellBookmarkID(*cell);
                if (id.empty() || label->get_editing())
                    return {};
                BookmarkRowDragValue value;
                value.init(value.value_type());
                value.set({ id });
                return Gdk::ContentProvider::create(value);
            },
            false);
        cell->add_controller(drag);
        auto drop = Gtk::DropTarget::create(BookmarkRowDragValue::value_type(), Gdk::DragAction::MOVE);
        drop->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
        drop->signal_enter().connect(
            [cell](double, double) {
                cell->add_css_class("qv-bookmarks-drop");
                return Gdk::DragAction::MOVE;
            },
            false);
        drop->signal_leave().connect([cell] { cell->remove_css_class("qv-bookmarks-drop"); });
        drop->signal_drop().connect(
            [this, cell](const Glib::ValueBase& value, double, double) {
                cell->remove_css_class("qv-bookmarks-drop");
                std::string target = cellBookmarkID(*cell);
                if (target.empty() || !G_VALUE_HOLDS(value.gobj(), BookmarkRowDragValue::value_type()))
                    return false;
                std::string moving = static_cast<const BookmarkRowDragValue&>(value).get().id;
                auto moved = m_bookmarks.replaceBookmarks(
                    bookmarksAfterDrop(m_bookmarks.bookmarks(), moving, target));
                if (!moved)
                    shell().showError(moved.error());
                return moved.ok();
            },
            false);
        cell->add_controller(drop);
        // A middle click opens the row's bookmark in a tab behind the selected one.
        auto middle = Gtk::GestureClick::create();
        middle->set_button(GDK_BUTTON_MIDDLE);
        middle->signal_pressed().connect([this, cell](int, double, double) {
            if (std::string id = cellBookmarkID(*cell); !id.empty())
                m_bookmarks.openBookmark(id, true);
        });
        cell->add_controller(middle);
        item->set_child(*cell);
    });
    m_rows.bindCells(factory, [this, column](Gtk::ListItem& item) {
        Gtk::Widget* cell = item.get_child();
        auto* label = cell ? dynamic_cast<Gtk::EditableLabel*>(cell->get_first_child()) : nullptr;
        if (!label)
            return;
        const Bookmark* bookmark = shownBookmark(item.get_position());
        if (!bookmark) {
            setCellBookmarkID(*cell, "");
            label->set_text("");
            return;
        }
        setCellBookmarkID(*cell, bookmark->id);
        if (!label->get_editing())
            label->set_text(bookmarkCellText(*bookmark, column));
    });
    auto view = Gtk::ColumnViewColumn::create(title, factory);
    view->set_fixed_width(width);
    view->set_resizable(true);
    if (column == kAddressColumn)
        view->set_expand(true);
    m_table->append_column(view);
}

const Bookmark* BookmarksWindow::shownBookmark(size_t row) const
{
    const auto& list = m_bookmarks.bookmarks();
    if (row >= m_shown.size() || m_shown[row] >= list.size())
        return nullptr;
    return &list[m_shown[row]];
}

void BookmarksWindow::reload()
{
    m_shown = bookmarkSearchRows(m_bookmarks.bookmarks(), m_search->get_text());
    m_rows.reload(static_cast<unsigned>(m_shown.size()));
    bool editable = !m_bookmarks.readOnly();
    m_delete->set_sensitive(editable);
    m_import->set_sensitive(editable);
    m_undo->set_sensitive(editable && !m_undoStack.empty());
}

std::vector<std::string> BookmarksWindow::shownIDs() const
{
    std::vector<std::string> ids;
    for (size_t row = 0; row < m_shown.size(); ++row) {
        if (const Bookmark* bookmark = shownBookmark(row))
            ids.push_back(bookmark->id);
    }
    return ids;
}

void BookmarksWindow::openSelected(bool inBackground)
{
    std::vector<std::string> ids;
    for (size_t row : selectedRows()) {
        if (const Bookmark* bookmark = shownBookmark(row))
            ids.push_back(bookmark->id);
    }
    // Several at once go to tabs of their own, behind the selected one.
    bool background = inBackground || ids.size() > 1;
    for (const std::string& id : ids)
        m_bookmarks.openBookmark(id, background);
}

void BookmarksWindow::deleteSelected()
{
    std::vector<std::string> ids;
    for (size_t row : selectedRows()) {
        if (const Bookmark* bookmark = shownBookmark(row))
            ids.push_back(bookmark->id);
    }
    if (ids.empty())
        return;
    std::vector<Bookmark> before = m_bookmarks.bookmarks();
    std::vector<Bookmark> after = before;
    std::erase_if(after, [&](const Bookmark& b) {
        return std::find(ids.begin(), ids.end(), b.id) != ids.end();
    });
    if (auto removed = m_bookmarks.replaceBookmarks(std::move(after)); !removed) {
        shell().showError(removed.error());
        return;
    }
    m_undoStack.push_back(std::move(before));
    m_rows.selectRows({});
    reload();
}

void BookmarksWindow::undoDelete()
{
    if (m_undoStack.empty())
        return;
    // What was added or changed since the delete stays: only the deleted ones come back, each
    // at its old place.
    std::vector<Bookmark> before = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    const std::vector<Bookmark>& now = m_bookmarks.bookmarks();
    std::vector<Bookmark> restored;
    for (const Bookmark& old : before) {
        auto current = std::find_if(now.begin(), now.end(), [&](const Bookmark& b) { return b.id == old.id; });
        restored.push_back(current == now.end() ? old : *current);
    }
    for (const Bookmark& added : now) {
        if (std::none_of(before.begin(), before.end(), [&](const Bookmark& b) { return b.id == added.id; }))
            restored.push_back(added);
    }
    if (auto undone = m_bookmarks.replaceBookmarks(std::move(restored)); !undone)
        shell().showError(undone.error());
    reload();
}

void BookmarksWindow::closedByUser()
{
    // Undo lasts while the window is open.
    m_undoStack.clear();
    m_undo->set_sensitive(false);
}

void BookmarksWindow::editCell(size_t row, int column, const std::string& text)
{
    const Bookmark* shown = shownBookmark(row);
    if (!shown)
        return;
    Bookmark edited = *shown;
    switch (column) {
    case kTitleColumn:
        edited.title = text;
        break;
    case kAddressColumn:
        edited.url = trim(text);
        break;
    case kFolderColumn:
        edited.folder = text;
        break;
    default:
        edited.tags = splitTagText(text);
        break;
    }
    if (auto updated = m_bookmarks.updateBookmark(edited); !updated)
        shell().showError(updated.error());
    // A refused edit shows the bookmark as it is kept.
    reload();
}

void BookmarksWindow::dropRow(size_t moving, size_t target)
{
    const Bookmark* from = shownBookmark(moving);
    const Bookmark* to = shownBookmark(target);
    if (!from || !to)
        return;
    auto moved = m_bookmarks.replaceBookmarks(bookmarksAfterDrop(m_bookmarks.bookmarks(), from->id, to->id));
    if (!moved)
        shell().showError(moved.error());
}

} // namespace qv

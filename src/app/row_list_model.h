// A list model of rows addressed only by position, for tables over the controller's own lists.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace qv {

// Holds no data: a table's cells read the row at their position when bound, and row objects
// are made only when the view asks for one, so a long list costs only the rows on screen.
// Selection is multiple.
class RowListModel {
public:
    RowListModel();
    ~RowListModel();
    RowListModel(const RowListModel&) = delete;
    RowListModel& operator=(const RowListModel&) = delete;

    const Glib::RefPtr<Gtk::MultiSelection>& selection() const { return m_selection; }
    unsigned size() const;

    // Fills the factory's cells with bind, and keeps track of the cells on screen so that a
    // reload binds them again instead of making new ones.
    void bindCells(const Glib::RefPtr<Gtk::SignalListItemFactory>& factory,
        std::function<void(Gtk::ListItem&)> bind);

    // All rows may have changed: every row on screen is bound again, and only rows past the
    // end come or go. The selected positions that still exist stay selected.
    void reload(unsigned count);
    // count rows were put in front of the others; the selection moves with its rows.
    void insertAtFront(unsigned count);

    // The selected positions, ascending.
    std::vector<size_t> selectedRows() const;
    void selectRows(const std::vector<size_t>& rows);

private:
    struct Binding {
        std::function<void(Gtk::ListItem&)> bind;
        std::set<Gtk::ListItem*> bound;
    };

    GListModel* m_model = nullptr;
    std::vector<std::shared_ptr<Binding>> m_bindings;
    Glib::RefPtr<Gtk::MultiSelection> m_selection;
};

} // namespace qv

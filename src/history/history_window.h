// The history window: every visit newest first, reopening, deleting a selection and clearing.
#pragma once

#include "app/auxiliary_window.h"
#include "app/row_list_model.h"

#include <vector>

namespace qv {

class NavigationService;
class TabService;
class HistoryService;
class Shell;

class HistoryWindow : public AuxiliaryWindow {
public:
    HistoryWindow(Shell& shell, HistoryService& history, TabService& tabs, NavigationService& navigation);

    // Reopens the selected visits as the selection asks: in the current tab, new tabs or lazy
    // ones.
    void openSelected();
    // Asks, then removes the selected visits.
    void deleteSelected();
    // Asks, then removes every visit.
    void clearAll();

    // Shows the history's entries again from the top.
    void reload();
    // One visit was added at the front of the entries.
    void visitAdded();

    std::vector<size_t> selectedRows() const { return m_rows.selectedRows(); }
    void selectRows(const std::vector<size_t>& rows) { m_rows.selectRows(rows); }
    unsigned rowCount() const { return m_rows.size(); }
    Gtk::ColumnView& table() const { return *m_table; }
    Gtk::Button& openButton() const { return *m_openButton; }
    Gtk::Button& deleteButton() const { return *m_deleteButton; }
    Gtk::Button& clearButton() const { return *m_clearButton; }

private:
    enum class Column { Title, URL, Time };
    void addColumn(const char* title, int width, Column column);

    RowListModel m_rows;
    Gtk::ColumnView* m_table = nullptr;
    Gtk::Button* m_openButton = nullptr;
    Gtk::Button* m_deleteButton = nullptr;
    Gtk::Button* m_clearButton = nullptr;
    HistoryService& m_history;
    // Reopening visits in tabs.
    TabService& m_tabs;
    NavigationService& m_navigation;
};

} // namespace qv

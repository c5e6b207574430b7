// The activity window: every tab of every profile, made lazy or active, opened or closed.
#pragma once

#include "app/auxiliary_window.h"
#include "app/row_list_model.h"

#include <vector>

namespace qv {

class BrowserController;

class ActivityWindow : public AuxiliaryWindow {
public:
    explicit ActivityWindow(BrowserController& controller);

    // Shows the controller's tabs again, one row per entry of browserTabs.
    void reload();

    std::vector<size_t> selectedRows() const { return m_rows.selectedRows(); }
    void selectRows(const std::vector<size_t>& rows) { m_rows.selectRows(rows); }
    unsigned rowCount() const { return m_rows.size(); }
    Gtk::ColumnView& table() const { return *m_table; }

private:
    enum class Column { Title, Toggle, Open, Close };
    void addColumn(const char* title, int width, Column column);

    RowListModel m_rows;
    Gtk::ColumnView* m_table = nullptr;
    BrowserController& controller() const { return m_controller; }
    BrowserController& m_controller;
};

} // namespace qv

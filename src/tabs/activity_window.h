// The activity window: every tab of every profile, made lazy or active, opened or closed.
#pragma once

#include "app/auxiliary_window.h"
#include "app/row_list_model.h"

#include <vector>

namespace qv {

struct ActivityPlan;
class ProfileService;
class Shell;
class TabService;

class ActivityWindow : public AuxiliaryWindow {
public:
    ActivityWindow(Shell& shell, TabService& tabs, ProfileService& profiles);

    // Shows the tabs again, one row per entry of browserTabs.
    void reload();

    // The row buttons: a row is the tab at that index of browserTabs.
    void toggleTabLazy(long row);
    void openTab(long row);
    void closeTab(long row);
    // The buttons under the table, for the selected rows; closing asks first.
    void setSelectedTabsLazy(bool lazy);
    void closeSelectedTabs();

    std::vector<size_t> selectedRows() const { return m_rows.selectedRows(); }
    void selectRows(const std::vector<size_t>& rows) { m_rows.selectRows(rows); }
    unsigned rowCount() const { return m_rows.size(); }
    Gtk::ColumnView& table() const { return *m_table; }

private:
    enum class Column { Title, Toggle, Open, Close };
    void addColumn(const char* title, int width, Column column);

    void apply(const ActivityPlan& plan);

    TabService& m_tabs;
    ProfileService& m_profiles;
    RowListModel m_rows;
    Gtk::ColumnView* m_table = nullptr;
};

} // namespace qv

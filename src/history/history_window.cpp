// The history window and its actions: showing, reopening, deleting and clearing visits.
#include "history/history_window.h"

#include "navigation/navigation_service.h"
#include "tabs/tab_service.h"
#include "app/shell.h"
#include "history/history_service.h"
#include "app/browser_window.h"
#include "app/view_helpers.h"
#include "base/text_util.h"
#include "history/history_window_rules.h"
#include "platform/alerts.h"

namespace qv {

namespace {

    constexpr const char* kHistoryCss = R"CSS(
.qv-history-heading { font-size: 23pt; font-weight: bold; }
.qv-history-table, .qv-history-table > listview { background: transparent; }
.qv-red-button { color: #e01b24; }
.qv-dark .qv-red-button { color: #ff7b63; }
.qv-large-button { padding: 6px 14px; min-height: 30px; }
)CSS";


    bool sameVisit(const HistoryEntry& a, const HistoryEntry& b)
    {
        return a.index == b.index && a.url == b.url && a.time == b.time && a.day == b.day
            && a.month == b.month && a.year == b.year;
    }

} // namespace

void HistoryWindow::openSelected()
{
    TabService& tabs = m_tabs;
    BrowserWindow* window = shell().window();
    if (!window)
        return;
    HistoryReopenPlan plan = historyReopenPlan(m_history.historyEntries(), selectedRows());
    switch (plan.mode) {
    case HistoryReopenMode::Nothing:
        return;
    case HistoryReopenMode::CurrentTab:
        // Resolved like typed text, so a dead address still ends in a search.
        m_navigation.setAddressFieldText(plan.visits.front().url);
        m_navigation.openRequest();
        break;
    case HistoryReopenMode::NewTabs:
        for (const auto& visit : plan.visits)
            tabs.createBrowserTabWithURL(visit.url);
        break;
    case HistoryReopenMode::LazyTabs: {
        TabList::Batch batch(tabs.tabList());
        std::optional<size_t> first;
        for (const auto& visit : plan.visits) {
            Tab* tab = tabs.tabList().tabWithID(tabs.createBrowserTabWithURL(std::nullopt));
            if (!tab)
                continue;
            tab->setURL(visit.url);
            tab->setTitle(visit.title);
            tab->setLazy(true);
            if (!first)
                first = tabs.browserTabs().indexOf(*tab);
        }
        if (first)
            tabs.selectBrowserTabAtIndex(*first);
        break;
    }
    }
    if (plan.bringBrowserToFront)
        window->present();
}

void HistoryWindow::deleteSelected()
{
    std::vector<size_t> rows = selectedRows();
    HistoryActionDecision decision = deleteHistoryDecision(m_history.historyReadOnly(), rows.size());
    if (decision.kind == HistoryActionKind::Ignore)
        return;
    if (decision.kind == HistoryActionKind::Refuse) {
        shell().showError(decision.refusal);
        return;
    }
    // Visits recorded while the alert is open go in at the top and move the rows down; the
    // visits chosen are remembered so the rows can be found again.
    const auto& before = m_history.historyEntries();
    std::vector<HistoryEntry> chosen;
    chosen.reserve(rows.size());
    for (size_t row : rows)
        chosen.push_back(before[row]);
    size_t countBefore = before.size();
    if (!runConfirmationAlert(gobj(), decision.confirmation))
        return;

    const auto& now = m_history.historyEntries();
    if (now.size() < countBefore) {
        shell().showError(std::string(kHistoryChangedWhileDeletingMessage));
        return;
    }
    size_t shift = now.size() - countBefore;
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i] += shift;
        if (rows[i] >= now.size() || !sameVisit(now[rows[i]], chosen[i])) {
            shell().showError(std::string(kHistoryChangedWhileDeletingMessage));
            return;
        }
    }
    auto deleted = m_history.deleteEntries(rows);
    if (!deleted) {
        shell().showError(deleted.error());
        return;
    }
    selectRows({});
    reload();
}

void HistoryWindow::clearAll()
{
    HistoryActionDecision decision
        = clearHistoryDecision(m_history.historyReadOnly(), m_history.historyFileURL());
    if (decision.kind == HistoryActionKind::Refuse) {
        shell().showError(decision.refusal);
        return;
    }
    if (decision.kind != HistoryActionKind::Confirm)
        return;
    if (!runConfirmationAlert(gobj(), decision.confirmation))
        return;
    if (auto cleared = m_history.clear(); !cleared) {
        shell().showError(cleared.error());
        return;
    }
    reload();
}

HistoryWindow::HistoryWindow(
    Shell& shell, HistoryService& history, TabService& tabs, NavigationService& navigation)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::History, "Browsing History")
    , m_history(history)
    , m_tabs(tabs)
    , m_navigation(navigation)
{
    m_history.signalVisitAdded().connect(sigc::mem_fun(*this, &HistoryWindow::visitAdded));
    addApplicationStyleSheet(kHistoryCss);
    set_default_size(860, 560);
    set_size_request(720, 460);

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    content->set_margin_top(16);
    content->set_margin_bottom(12);
    content->set_margin_start(16);
    content->set_margin_end(16);

    auto* heading = Gtk::make_managed<Gtk::Label>("Browsing History");
    heading->add_css_class("qv-history-heading");
    heading->set_xalign(0);
    heading->set_margin_start(4);
    content->append(*heading);
    Gtk::Label* subtitle = dimLabel("Reopen pages or remove selected visits from your history.");
    subtitle->set_margin_start(4);
    subtitle->set_margin_top(3);
    subtitle->set_margin_bottom(14);
    content->append(*subtitle);

    m_table = Gtk::make_managed<Gtk::ColumnView>();
    m_table->add_css_class("qv-history-table");
    m_table->set_model(m_rows.selection());
    m_table->set_show_column_separators(false);
    m_table->set_reorderable(false);
    addColumn("Page", 260, Column::Title);
    addColumn("URL", 300, Column::URL);
    // Wide enough for "2026-12-06 22:22:48 UTC" in this font.
    addColumn("Visited", 200, Column::Time);
    // Double-click or Return on a row.
    m_table->signal_activate().connect([this](guint) { openSelected(); });

    content->append(*scrollingTablePanel(*m_table));

    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->set_margin_top(12);
    m_openButton = iconButton(
        "enter", "Open selected history item", [this] { openSelected(); }, shell.darkMode());
    buttons->append(*m_openButton);
    m_deleteButton
        = titledSymbolButton("Delete Selected", "user-trash-symbolic", "Delete selected history");
    m_deleteButton->add_css_class("qv-red-button");
    m_deleteButton->add_css_class("qv-large-button");
    m_deleteButton->signal_clicked().connect([this] { deleteSelected(); });
    buttons->append(*m_deleteButton);
    m_clearButton
        = titledSymbolButton("Clear History", "edit-clear-all-symbolic", "Clear all history");
    m_clearButton->add_css_class("qv-large-button");
    m_clearButton->signal_clicked().connect([this] { clearAll(); });
    buttons->append(*m_clearButton);
    for (Gtk::Widget* button : { static_cast<Gtk::Widget*>(m_openButton),
             static_cast<Gtk::Widget*>(m_deleteButton), static_cast<Gtk::Widget*>(m_clearButton) })
        button->set_valign(Gtk::Align::CENTER);
    content->append(*buttons);

    set_child(*content);
}

void HistoryWindow::addColumn(const char* title, int width, Column column)
{
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
        auto* label = Gtk::make_managed<Gtk::Label>();
        label->set_xalign(0);
        label->set_ellipsize(Pango::EllipsizeMode::END);
        label->set_single_line_mode(true);
        item->set_child(*label);
    });
    m_rows.bindCells(factory, [this, column](Gtk::ListItem& item) {
        auto* label = dynamic_cast<Gtk::Label*>(item.get_child());
        const auto& entries = m_history.historyEntries();
        guint row = item.get_position();
        if (!label)
            return;
        if (row >= entries.size()) {
            label->set_text("");
            return;
        }
        const HistoryEntry& entry = entries[row];
        switch (column) {
        case Column::Title:
            label->set_text(displaySafeTitle(entry.title));
            break;
        case Column::URL:
            label->set_text(entry.url);
            break;
        case Column::Time:
            label->set_text(historyVisitedText(entry.time));
            break;
        }
    });
    auto view = Gtk::ColumnViewColumn::create(title, factory);
    view->set_fixed_width(width);
    view->set_resizable(true);
    if (column == Column::URL)
        view->set_expand(true);
    m_table->append_column(view);
}

void HistoryWindow::reload()
{
    m_rows.reload(static_cast<unsigned>(m_history.historyEntries().size()));
}

void HistoryWindow::visitAdded() { m_rows.insertAtFront(1); }

} // namespace qv

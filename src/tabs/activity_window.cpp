// The activity window and its actions over all tabs of all profiles.
#include "tabs/activity_window.h"

#include "app/shell.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/view_helpers.h"
#include "platform/alerts.h"
#include "tabs/activity_rules.h"

namespace qv {

namespace {

    constexpr const char* kActivityCss = R"CSS(
.qv-activity-heading { font-size: 23pt; font-weight: bold; }
.qv-activity-table, .qv-activity-table > listview { background: transparent; }
.qv-activity-table > listview > row { min-height: 42px; }
.qv-activity-tab-title { font-size: 13pt; font-weight: 500; }
.qv-red-button { color: #e01b24; }
.qv-dark .qv-red-button { color: #ff7b63; }
.qv-large-button { padding: 6px 14px; min-height: 30px; }
)CSS";

    // The icon names of the rules' symbols.
    std::string iconForSymbol(const std::string& symbol)
    {
        if (symbol == "bolt.fill")
            return "weather-storm-symbolic";
        if (symbol == "moon.zzz.fill")
            return "weather-clear-night-symbolic";
        return "image-missing-symbolic";
    }

    // A row button: symbol, then title. Set again on every bind, as rows are reused.
    void setRowButton(Gtk::Button& button, const std::string& title, const std::string& icon)
    {
        auto* box = dynamic_cast<Gtk::Box*>(button.get_child());
        if (!box)
            return;
        auto* image = dynamic_cast<Gtk::Image*>(box->get_first_child());
        auto* label = image ? dynamic_cast<Gtk::Label*>(image->get_next_sibling()) : nullptr;
        if (!label)
            return;
        image->set_from_icon_name(icon);
        label->set_text(title);
        setAccessibleLabel(button, title);
    }

    ActivityTab activityTabOf(const Tab& tab)
    {
        return { tab.id(), tab.url(), tab.title(), tab.profileID(), tab.lazy(),
            tab.webView() != nullptr, tab.unloadedForMemory() };
    }

    std::vector<ActivityTab> activityTabsOf(const TabList& tabs)
    {
        std::vector<ActivityTab> view;
        view.reserve(tabs.size());
        for (const Tab& tab : tabs)
            view.push_back(activityTabOf(tab));
        return view;
    }

} // namespace

ActivityWindow::ActivityWindow(Shell& shell, TabService& tabs, ProfileService& profiles)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::Activity, "Activity")
    , m_tabs(tabs)
    , m_profiles(profiles)
{
    addApplicationStyleSheet(kActivityCss);
    set_default_size(940, 600);
    set_size_request(780, 440);

    // A hidden table is filled again when it is shown; every tab change would cost a reload.
    tabs.browserTabs().signalChanged().connect(sigc::track_obj(
        [this] {
            if (get_visible())
                reload();
        },
        *this));

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    content->set_margin_top(16);
    content->set_margin_bottom(10);
    content->set_margin_start(16);
    content->set_margin_end(16);

    auto* heading = Gtk::make_managed<Gtk::Label>("Activity");
    heading->add_css_class("qv-activity-heading");
    heading->set_xalign(0);
    heading->set_margin_start(4);
    content->append(*heading);
    Gtk::Label* subtitle = dimLabel(
        "Manage open tabs, switch between lazy and active mode, or close selected tabs.");
    subtitle->set_margin_start(4);
    subtitle->set_margin_top(3);
    subtitle->set_margin_bottom(14);
    subtitle->set_wrap(true);
    content->append(*subtitle);

    m_table = Gtk::make_managed<Gtk::ColumnView>();
    m_table->add_css_class("qv-activity-table");
    m_table->set_model(m_rows.selection());
    m_table->set_reorderable(false);
    addColumn("Tab", 300, Column::Title);
    addColumn("Lazy Mode", 170, Column::Toggle);
    addColumn("", 100, Column::Open);
    addColumn("", 120, Column::Close);

    content->append(*scrollingTablePanel(*m_table));

    auto* controls = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    controls->set_margin_top(12);
    controls->set_margin_start(2);
    Gtk::Button* makeLazy = titledSymbolButton(
        "Make Selected Lazy", "weather-clear-night-symbolic", "Make selected tabs lazy");
    makeLazy->signal_clicked().connect(
        [this] { setSelectedTabsLazy(true); });
    Gtk::Button* makeActive = titledSymbolButton(
        "Make Selected Active", "weather-storm-symbolic", "Make selected tabs active");
    makeActive->signal_clicked().connect(
        [this] { setSelectedTabsLazy(false); });
    Gtk::Button* closeSelected
        = titledSymbolButton("Close Selected", "window-close-symbolic", "Close selected tabs");
    closeSelected->add_css_class("qv-red-button");
    closeSelected->signal_clicked().connect([this] { closeSelectedTabs(); });
    for (Gtk::Button* button : { makeLazy, makeActive, closeSelected }) {
        button->add_css_class("qv-large-button");
        button->set_valign(Gtk::Align::CENTER);
        controls->append(*button);
    }
    Gtk::Label* hint = dimLabel("Select one or more tabs, then apply a mode");
    hint->set_ellipsize(Pango::EllipsizeMode::END);
    hint->set_hexpand(true);
    controls->append(*hint);
    content->append(*controls);

    set_child(*content);
}

void ActivityWindow::addColumn(const char* title, int width, Column column)
{
    auto factory = Gtk::SignalListItemFactory::create();
    factory->signal_setup().connect([this, column](const Glib::RefPtr<Gtk::ListItem>& item) {
        if (column == Column::Title) {
            auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 9);
            box->set_valign(Gtk::Align::CENTER);
            auto* image = Gtk::make_managed<Gtk::Image>();
            image->set_pixel_size(18);
            image->set_size_request(18, 18);
            auto* label = Gtk::make_managed<Gtk::Label>();
            label->set_xalign(0);
            label->set_ellipsize(Pango::EllipsizeMode::END);
            label->set_single_line_mode(true);
            label->set_hexpand(true);
            label->add_css_class("qv-activity-tab-title");
            auto* note = Gtk::make_managed<Gtk::Label>();
            note->add_css_class("dim-label");
            note->add_css_class("qv-activity-tab-note");
            note->set_visible(false);
            box->append(*image);
            box->append(*label);
            box->append(*note);
            item->set_child(*box);
            return;
        }
        Gtk::Button* button = column == Column::Toggle
            ? titledSymbolButton("Turn to Lazy", "weather-clear-night-symbolic")
            : column == Column::Open ? titledSymbolButton("Open", "go-next-symbolic")
                                     : titledSymbolButton("Close Tab", "window-close-symbolic");
        button->set_valign(Gtk::Align::CENTER);
        button->set_halign(Gtk::Align::START);
        if (column == Column::Close)
            button->add_css_class("qv-red-button");
        // The list item outlives its button; its position is the row's tag at the click.
        Gtk::ListItem* listItem = item.get();
        button->signal_clicked().connect([this, column, listItem] {
            long row = static_cast<long>(listItem->get_position());
            if (column == Column::Toggle)
                toggleTabLazy(row);
            else if (column == Column::Open)
                openTab(row);
            else
                closeTab(row);
        });
        item->set_child(*button);
    });
    m_rows.bindCells(factory, [this, column](Gtk::ListItem& item) {
        guint row = item.get_position();
        const TabList& tabs = m_tabs.browserTabs();
        if (row >= tabs.size())
            return;
        const Tab& tab = tabs[row];
        ActivityRow shown = activityRows({ activityTabOf(tab) }, m_profiles.profiles()).front();
        if (column == Column::Title) {
            auto* box = dynamic_cast<Gtk::Box*>(item.get_child());
            auto* image = box ? dynamic_cast<Gtk::Image*>(box->get_first_child()) : nullptr;
            auto* label = image ? dynamic_cast<Gtk::Label*>(image->get_next_sibling()) : nullptr;
            if (!label)
                return;
            if (tab.favicon()) {
                image->set(tab.favicon());
                image->remove_css_class("dim-label");
            } else {
                image->set_from_icon_name("web-browser-symbolic");
                image->add_css_class("dim-label");
                setAccessibleLabel(*image, "Website");
            }
            label->set_text(shown.label);
            if (auto* note = dynamic_cast<Gtk::Label*>(label->get_next_sibling())) {
                note->set_text(shown.note);
                note->set_visible(!shown.note.empty());
            }
            return;
        }
        if (column == Column::Toggle) {
            if (auto* button = dynamic_cast<Gtk::Button*>(item.get_child()))
                setRowButton(*button, shown.toggleTitle, iconForSymbol(shown.toggleSymbol));
        }
    });
    auto view = Gtk::ColumnViewColumn::create(title, factory);
    view->set_fixed_width(width);
    view->set_resizable(column == Column::Title);
    if (column == Column::Title)
        view->set_expand(true);
    m_table->append_column(view);
}

void ActivityWindow::reload()
{
    m_rows.reload(static_cast<unsigned>(m_tabs.browserTabs().size()));
}

void ActivityWindow::apply(const ActivityPlan& plan)
{
    m_tabs.applyActivityPlan(plan);
    if (plan.reloadTable)
        reload();
}

void ActivityWindow::toggleTabLazy(long row)
{
    const TabList& tabs = m_tabs.browserTabs();
    if (auto plan = toggleActivityTabLazyPlan(activityTabsOf(tabs), row, tabs.selectedIndex()))
        apply(*plan);
}

void ActivityWindow::setSelectedTabsLazy(bool lazy)
{
    const TabList& tabs = m_tabs.browserTabs();
    apply(setSelectedActivityTabsLazyPlan(
        activityTabsOf(tabs), selectedRows(), lazy, tabs.selectedIndex()));
}

void ActivityWindow::closeSelectedTabs()
{
    auto request = closeSelectedActivityTabsRequest(activityTabsOf(m_tabs.browserTabs()), selectedRows());
    if (!request)
        return;
    if (!runConfirmationAlert(gobj(), request->confirmation))
        return;
    // By ID: the table may have been rebuilt while the alert was open.
    apply(confirmedActivityClosePlan(activityTabsOf(m_tabs.browserTabs()), request->tabIDs));
}

void ActivityWindow::closeTab(long row)
{
    if (auto plan = closeActivityTabPlan(activityTabsOf(m_tabs.browserTabs()), row))
        apply(*plan);
}

void ActivityWindow::openTab(long row)
{
    if (auto plan = openActivityTabPlan(activityTabsOf(m_tabs.browserTabs()), row))
        apply(*plan);
}

} // namespace qv

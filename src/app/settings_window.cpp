// The Settings window and showSettings.
#include "app/settings_window.h"

#include "app/shell.h"
#include "bookmarks/bookmark_service.h"
#include "devtools/devtools_service.h"
#include "app/browser_window.h"
#include "app/view_helpers.h"

namespace qv {

namespace {

    // A heading label and its explanation, stacked at the leading edge.
    Gtk::Box* describedRow(const char* heading, const char* detail)
    {
        auto* text = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 3);
        text->set_valign(Gtk::Align::CENTER);
        text->set_hexpand(true);
        auto* title = Gtk::make_managed<Gtk::Label>(heading);
        title->set_xalign(0);
        setWidgetCss(*title, "label { font-size: 14pt; font-weight: 600; }");
        text->append(*title);
        Gtk::Label* note = dimLabel(detail, 12);
        note->set_wrap(true);
        text->append(*note);
        return text;
    }

    Gtk::Box* cardRow()
    {
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
        row->set_valign(Gtk::Align::CENTER);
        return row;
    }

} // namespace

SettingsWindow::SettingsWindow(Shell& shell, std::function<void()> showProfiles,
    DevToolsService& devtools, BookmarkService& bookmarks)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::Settings, "Settings")
{
    set_default_size(620, 640);
    set_size_request(540, 430);

    auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    content->set_margin_top(22);
    content->set_margin_start(24);
    content->set_margin_end(24);
    content->set_margin_bottom(24);

    auto* heading = Gtk::make_managed<Gtk::Label>("Settings");
    heading->set_xalign(0);
    setWidgetCss(*heading, "label { font-size: 25pt; font-weight: bold; }");
    content->append(*heading);
    content->append(*dimLabel("Appearance, browser profiles, and page tools", 12));

    m_themeRow = cardRow();
    if (BrowserWindow* window = shell.window()) {
        Gtk::ToggleButton& toggle = window->darkModeButton();
        toggle.set_valign(Gtk::Align::CENTER);
        m_themeRow->append(toggle);
    } else {
        // No browser window (never in the program): a toggle that still sets the theme.
        auto* toggle = Gtk::make_managed<Gtk::ToggleButton>("Switch theme");
        toggle->set_active(shell.darkMode());
        toggle->signal_toggled().connect(
            [&shell, toggle] { shell.setDarkMode(toggle->get_active()); });
        m_themeRow->append(*toggle);
    }
    m_themeRow->append(*describedRow("Theme", "Switch between light and dark mode"));
    content->append(*roundedCardWithContent(*m_themeRow));

    Gtk::Box* profilesRow = cardRow();
    m_manageProfiles = titledSymbolButton(
        "Manage Profiles\u2026", "system-users-symbolic", "Manage Browser Profiles");
    // The accent bezel with white content.
    m_manageProfiles->add_css_class("suggested-action");
    m_manageProfiles->set_valign(Gtk::Align::CENTER);
    setWidgetCss(*m_manageProfiles, "button { padding: 6px 14px; }");
    m_manageProfiles->signal_clicked().connect(std::move(showProfiles));
    profilesRow->append(*m_manageProfiles);
    Gtk::Label* profilesNote = dimLabel("Separate website data and User-Agent", 12);
    profilesNote->set_hexpand(true);
    profilesNote->set_wrap(true);
    profilesRow->append(*profilesNote);
    content->append(*roundedCardWithContent(*profilesRow));

    Gtk::Box* launchRow = cardRow();
    launchRow->append(*describedRow("On launch", "What the browser shows when it starts"));
    m_onLaunch = Gtk::make_managed<Gtk::DropDown>(
        std::vector<Glib::ustring> { "Open the home page", "Restore the last session" });
    m_onLaunch->set_valign(Gtk::Align::CENTER);
    m_onLaunch->set_selected(shell.defaults().boolForKey(kRestoreSessionOnLaunchKey) ? 1 : 0);
    setAccessibleLabel(*m_onLaunch, "On launch");
    m_onLaunch->property_selected().signal_changed().connect([&shell, this] {
        shell.setDefaultsValue(kRestoreSessionOnLaunchKey, m_onLaunch->get_selected() == 1);
    });
    launchRow->append(*m_onLaunch);
    content->append(*roundedCardWithContent(*launchRow));

    Gtk::Box* bookmarksRow = cardRow();
    bookmarksRow->append(*describedRow("Bookmarks",
        "Bring bookmarks from another browser's bookmarks.html, or save yours as one"));
    m_importBookmarks = Gtk::make_managed<Gtk::Button>("Import\u2026");
    m_importBookmarks->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*m_importBookmarks, "Import bookmarks");
    m_importBookmarks->signal_clicked().connect(
        [&bookmarks, this] { bookmarks.chooseImportFile(this); });
    bookmarksRow->append(*m_importBookmarks);
    m_exportBookmarks = Gtk::make_managed<Gtk::Button>("Export\u2026");
    m_exportBookmarks->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*m_exportBookmarks, "Export bookmarks");
    m_exportBookmarks->signal_clicked().connect(
        [&bookmarks, this] { bookmarks.chooseExportFile(this); });
    bookmarksRow->append(*m_exportBookmarks);

    // The address field's completion belongs with the bookmarks: both are what it offers.
    Gtk::Box* completionRow = cardRow();
    m_inlineCompletion = Gtk::make_managed<Gtk::Switch>();
    m_inlineCompletion->set_valign(Gtk::Align::CENTER);
    m_inlineCompletion->set_active(shell.defaults().inlineCompletionEnabled());
    setAccessibleLabel(*m_inlineCompletion, "Complete visited addresses while typing");
    m_inlineCompletion->property_active().signal_changed().connect([&shell, this] {
        shell.setDefaultsValue(kInlineCompletionKey, m_inlineCompletion->get_active());
    });
    completionRow->append(*m_inlineCompletion);
    completionRow->append(*describedRow("Complete addresses",
        "Typing the start of a site you have visited fills in the rest, selected"));
    auto* bookmarksCard = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    bookmarksCard->append(*bookmarksRow);
    bookmarksCard->append(*completionRow);
    content->append(*roundedCardWithContent(*bookmarksCard));

    Gtk::Box* memoryRow = cardRow();
    m_unloadTabs = Gtk::make_managed<Gtk::Switch>();
    m_unloadTabs->set_valign(Gtk::Align::CENTER);
    m_unloadTabs->set_active(shell.defaults().boolForKey(kUnloadTabsUnderMemoryPressureKey));
    setAccessibleLabel(*m_unloadTabs, "Unload background tabs when memory runs low");
    m_unloadTabs->property_active().signal_changed().connect([&shell, this] {
        shell.defaults().setBool(kUnloadTabsUnderMemoryPressureKey, m_unloadTabs->get_active());
    });
    memoryRow->append(*m_unloadTabs);
    memoryRow->append(*describedRow("Unload background tabs",
        "When memory runs low, the tabs used least recently give up their pages until shown "
        "again; never a tab playing sound, downloading, or holding unsent form text"));
    content->append(*roundedCardWithContent(*memoryRow));

    auto* separator = Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL);
    separator->set_size_request(-1, 1);
    content->append(*separator);

    Gtk::Box* sourceRow = cardRow();
    m_editSource = iconButton(
        "edit-source", "Edit page source", [&devtools] { devtools.showSourceEditor(); },
        shell.darkMode());
    m_editSource->set_valign(Gtk::Align::CENTER);
    sourceRow->append(*m_editSource);
    sourceRow->append(*describedRow("Page source", "View or edit files from the current page"));
    content->append(*roundedCardWithContent(*sourceRow));

    auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroller->set_child(*content);
    set_child(*scroller);
}

SettingsWindow::~SettingsWindow()
{
    if (BrowserWindow* window = shell().window()) {
        Gtk::ToggleButton& toggle = window->darkModeButton();
        if (toggle.get_parent() == m_themeRow)
            m_themeRow->remove(toggle);
    }
}

} // namespace qv

// The main menu, its actions and keyboard shortcuts.
#include "app/browser_controller.h"
#include "session/session_service.h"
#include "app/shell.h"
#include "bookmarks/bookmark_service.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"

namespace qv {

namespace {

// Editing commands go to whatever has the keyboard focus in the key window.
void forwardEditCommand(const Glib::RefPtr<Gtk::Application>& application, const char* textAction,
    const char* webCommand)
{
    Gtk::Window* window = application->get_active_window();
    if (!window)
        return;
    Gtk::Widget* focus = window->get_focus();
    for (GtkWidget* w = focus ? focus->gobj() : nullptr; w; w = gtk_widget_get_parent(w)) {
        if (WEBKIT_IS_WEB_VIEW(w)) {
            webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(w), webCommand);
            return;
        }
    }
    if (!focus)
        return;
    if (gtk_widget_activate_action(focus->gobj(), textAction, nullptr))
        return;
    // A focused table or list takes Select All for its rows.
    if (std::string_view(textAction) == "selection.select-all")
        gtk_widget_activate_action(focus->gobj(), "list.select-all", nullptr);
}

} // namespace

Glib::RefPtr<Gio::Menu> BrowserController::makeMainMenu()
{
    auto bar = Gio::Menu::create();

    auto appMenu = Gio::Menu::create();
    appMenu->append("Quit Quivel Browser", "app.quit");
    bar->append_submenu("Quivel Browser", appMenu);

    auto file = Gio::Menu::create();
    file->append("New Tab", "app.new-tab");
    file->append("Close Tab", "app.close-tab");
    file->append("Reopen Closed Tab", "app.reopen-closed-tab");
    file->append("Restore Previous Session", "app.restore-previous-session");
    auto privacy = Gio::Menu::create();
    privacy->append("Clear Browsing Data\u2026", "app.clear-browsing-data");
    file->append_section(privacy);
    auto printing = Gio::Menu::create();
    printing->append("Print\u2026", "app.print");
    file->append_section(printing);
    bar->append_submenu("File", file);

    auto edit = Gio::Menu::create();
    auto history = Gio::Menu::create();
    history->append("Undo", "app.undo");
    history->append("Redo", "app.redo");
    auto clipboard = Gio::Menu::create();
    clipboard->append("Cut", "app.cut");
    clipboard->append("Copy", "app.copy");
    clipboard->append("Paste", "app.paste");
    clipboard->append("Select All", "app.select-all");
    edit->append_section(history);
    edit->append_section(clipboard);
    auto find = Gio::Menu::create();
    find->append("Find\u2026", "app.find");
    find->append("Find Next", "app.find-next");
    find->append("Find Previous", "app.find-previous");
    find->append("Hide Find Bar", "app.find-close");
    edit->append_section(find);
    bar->append_submenu("Edit", edit);

    auto view = Gio::Menu::create();
    auto navigation = Gio::Menu::create();
    navigation->append("Back", "app.back");
    navigation->append("Forward", "app.forward");
    navigation->append("Reload Page", "app.reload");
    navigation->append("Focus Address Bar", "app.focus-address-bar");
    auto screen = Gio::Menu::create();
    screen->append("Enter Full Screen", "app.toggle-full-screen");
    auto zoom = Gio::Menu::create();
    zoom->append("Zoom In", "app.zoom-in");
    zoom->append("Zoom Out", "app.zoom-out");
    zoom->append("Actual Size", "app.zoom-reset");
    auto tabs = Gio::Menu::create();
    tabs->append("Next Tab", "app.next-tab");
    tabs->append("Previous Tab", "app.previous-tab");
    auto numbered = Gio::Menu::create();
    for (int n = 1; n <= 8; ++n)
        numbered->append("Tab " + std::to_string(n), "app.tab-" + std::to_string(n));
    numbered->append("Last Tab", "app.last-tab");
    tabs->append_submenu("Go to Tab", numbered);
    view->append_section(navigation);
    view->append_section(screen);
    view->append_section(zoom);
    view->append_section(tabs);
    bar->append_submenu("View", view);
    bar->append_submenu("Bookmarks", m_bookmarks->bookmarksMenu());

    bar->append_submenu("Extensions", makeExtensionsMenu());

    auto developer = Gio::Menu::create();
    developer->append("JavaScript Console", "app.javascript-console");
    developer->append("Edit Page Source", "app.edit-page-source");
    bar->append_submenu("Developer", developer);
    return bar;
}

void BrowserController::installMainMenu()
{
    auto& app = m_shell->application();
    auto add = [&](const char* name, std::function<void()> action, const char* accel) {
        if (!app->lookup_action(name))
            app->add_action(name, std::move(action));
        if (accel)
            app->set_accel_for_action(std::string("app.") + name, accel);
    };
    add("quit", [this] { quitWhenPagesAgree(); }, "<Control>q");
    add("new-tab", [this] { m_tabs->createNewTab(); }, "<Control>t");
    add("close-tab", [this] { m_tabs->closeBrowserTab(Sender::menuItem(-1)); }, "<Control>w");
    add("undo", [this] { forwardEditCommand(m_shell->application(), "text.undo", WEBKIT_EDITING_COMMAND_UNDO); },
        "<Control>z");
    add("redo", [this] { forwardEditCommand(m_shell->application(), "text.redo", WEBKIT_EDITING_COMMAND_REDO); },
        "<Control><Shift>z");
    add("cut", [this] { forwardEditCommand(m_shell->application(), "clipboard.cut", WEBKIT_EDITING_COMMAND_CUT); },
        "<Control>x");
    add("copy",
        [this] { forwardEditCommand(m_shell->application(), "clipboard.copy", WEBKIT_EDITING_COMMAND_COPY); },
        "<Control>c");
    add("paste",
        [this] { forwardEditCommand(m_shell->application(), "clipboard.paste", WEBKIT_EDITING_COMMAND_PASTE); },
        "<Control>v");
    add("select-all",
        [this] {
            forwardEditCommand(m_shell->application(), "selection.select-all",
                WEBKIT_EDITING_COMMAND_SELECT_ALL);
        },
        "<Control>a");
    add("back", [this] { m_navigation->goBack(); }, "<Control>bracketleft");
    add("forward", [this] { m_navigation->goForward(); }, "<Control>bracketright");
    add("reload", [this] { m_navigation->reloadPage(); }, "<Control>r");
    add("focus-address-bar", [this] { m_navigation->focusAddressBar(); }, "<Control>l");
    // Control plus Command becomes Control plus Super.
    add("toggle-full-screen",
        [this] {
            if (Gtk::Window* key = m_shell->application()->get_active_window())
                key->is_fullscreen() ? key->unfullscreen() : key->fullscreen();
        },
        "<Control><Super>f");
    add("manage-extensions", [this] { showExtensionManager(); }, nullptr);
    add("javascript-console", [this] { m_devtools->showJavaScriptEditor(); }, "<Control>j");
    add("edit-page-source", [this] { m_devtools->showSourceEditor(); }, "<Control>u");

    // Shortcuts of our own, none of them taken above.
    auto addKeys
        = [&](const char* name, std::function<void()> action, std::vector<Glib::ustring> accels) {
              add(name, std::move(action), nullptr);
              app->set_accels_for_action(std::string("app.") + name, accels);
          };
    addKeys("reopen-closed-tab", [this] { m_tabs->reopenClosedTab(); }, { "<Control><Shift>t" });
    addKeys("clear-browsing-data", [this] { showClearBrowsingData(m_profiles->currentProfile()); },
        { "<Control><Shift>Delete" });
    if (!app->lookup_action("restore-previous-session")) {
        auto restore = app->add_action("restore-previous-session", [this] { m_session->restorePreviousSession(); });
        auto follow = [this, restore] { restore->set_enabled(m_session->canRestorePreviousSession()); };
        follow();
        m_session->signalRestoreAvailabilityChanged().connect(follow);
    }
    addKeys("print", [this] { printPage(); }, { "<Control>p" });
    addKeys("find", [this] { findInPage(); }, { "<Control>f" });
    addKeys("find-next", [this] { findNext(); }, { "<Control>g" });
    addKeys("find-previous", [this] { findPrevious(); }, { "<Control><Shift>g" });
    addKeys("find-close", [this] { closeFindBar(); }, { "Escape" });
    updateFindCloseAction();
    addKeys(
        "zoom-in", [this] { zoomIn(); }, { "<Control>plus", "<Control>equal", "<Control>KP_Add" });
    addKeys("zoom-out", [this] { zoomOut(); }, { "<Control>minus", "<Control>KP_Subtract" });
    addKeys("zoom-reset", [this] { resetZoom(); }, { "<Control>0", "<Control>KP_0" });
    addKeys("next-tab", [this] { m_tabs->selectTabByShortcut(TabShortcut::Next); },
        { "<Control>Tab", "<Control>Page_Down" });
    addKeys("previous-tab", [this] { m_tabs->selectTabByShortcut(TabShortcut::Previous); },
        { "<Control><Shift>Tab", "<Control>Page_Up" });
    for (size_t n = 1; n <= 8; ++n) {
        std::string name = "tab-" + std::to_string(n);
        addKeys(name.c_str(), [this, n] { m_tabs->selectTabByShortcut(TabShortcut::Number, n); },
            { "<Control>" + std::to_string(n) });
    }
    addKeys("last-tab", [this] { m_tabs->selectTabByShortcut(TabShortcut::Last); }, { "<Control>9" });
    m_bookmarks->installActions();
    app->set_menubar(makeMainMenu());
}

} // namespace qv

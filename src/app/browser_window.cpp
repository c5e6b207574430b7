// The browser window: tab strip row, toolbar, address capsule, content area, and web views.
#include "app/browser_window.h"

#include "app/browser_controller.h"
#include "app/shell.h"
#include "bookmarks/bookmark_service.h"
#include "contentblocking/content_blocking_service.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "app/find_bar.h"
#include "navigation/site_warning_bar.h"
#include "navigation/unresponsive_page_bar.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "downloads/download_bar.h"
#include "downloads/downloads_button.h"
#include "platform/file_panels.h"
#include "suggestions/address_suggestions.h"
#include "tabs/tab_strip_view.h"

namespace qv {

namespace {

constexpr int kToolbarHeight = 58;
constexpr int kToolbarTop = 6;

} // namespace

Gtk::Button* BrowserWindow::makeToolbarButton(const char* symbol, const char* title,
    const char* identifier, const std::function<void()>& action)
{
    Gtk::Button* button = symbolButton(symbol, title, 17);
    button->set_name(identifier);
    button->add_css_class("circular");
    button->set_size_request(36, 36);
    button->set_valign(Gtk::Align::CENTER);
    button->signal_clicked().connect(action);
    return button;
}

BrowserWindow::BrowserWindow(BrowserController& controller, const Glib::RefPtr<Gtk::Application>& app)
    : Gtk::ApplicationWindow(app)
    , m_controller(controller)
{
    BrowserController& browser = controller;
    bool dark = browser.shell().darkMode();
    set_title("Quivel Browser");
    set_default_size(1180, 800);
    set_size_request(760, 480);
    set_show_menubar(true);
    add_css_class("qv-browser");
    // A closed window is hidden, not destroyed: the application still ends with its last
    // visible window, and the controller's widgets stay valid until the controller goes.
    set_hide_on_close(true);

    m_tabStrip = Gtk::make_managed<TabStripView>(
        controller.shell(), controller.tabs(), controller.profiles());

    // Toolbar.
    m_browserToolbar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 7);
    m_browserToolbar->add_css_class("qv-toolbar");
    m_browserToolbar->set_overflow(Gtk::Overflow::HIDDEN);
    m_browserToolbar->set_size_request(-1, kToolbarHeight);
    NavigationService& navigation = controller.navigation();
    m_backButton = makeToolbarButton(
        "go-previous-symbolic", "Back", "back", [&navigation] { navigation.goBack(); });
    m_forwardButton = makeToolbarButton(
        "go-next-symbolic", "Forward", "forward", [&navigation] { navigation.goForward(); });
    m_browserToolbar->append(*m_backButton);
    m_browserToolbar->append(*m_forwardButton);
    m_browserToolbar->append(*makeToolbarButton("view-refresh-symbolic", "Reload", "reload",
        [&navigation] { navigation.reloadPage(); }));
    Gtk::Button* home = iconButton("home", "Home", [&navigation] { navigation.goHome(); }, dark);
    m_browserToolbar->append(*home);

    auto* capsule = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    capsule->add_css_class("qv-capsule");
    capsule->set_overflow(Gtk::Overflow::HIDDEN);
    capsule->set_size_request(180, 36);
    capsule->set_valign(Gtk::Align::CENTER);
    capsule->set_hexpand(true);
    m_securityIcon = Gtk::make_managed<Gtk::Image>();
    m_securityIcon->set_name("page-security");
    m_securityIcon->set_pixel_size(16);
    m_securityIcon->set_valign(Gtk::Align::CENTER);
    m_securityIcon->set_margin_start(12);
    m_securityIcon->set_visible(false);
    capsule->append(*m_securityIcon);
    // A search box, as it searches as well as it opens addresses: screen readers read it as an
    // entry, where a plain field reads as text.
    m_requestField = Gtk::make_managed<WithAccessibleRole<Gtk::Entry>>(
        "QvAddressField", GTK_ACCESSIBLE_ROLE_SEARCH_BOX);
    m_requestField->set_placeholder_text("Search Google or enter an address");
    m_requestField->set_has_frame(false);
    m_requestField->set_hexpand(true);
    m_requestField->set_valign(Gtk::Align::CENTER);
    m_requestField->set_size_request(-1, 22);
    m_requestField->set_margin_start(14);
    m_requestField->set_margin_end(12);
    m_requestField->add_css_class("qv-address");
    setAccessibleLabel(*m_requestField, "Address");
    m_requestField->signal_activate().connect([&navigation] { navigation.openRequest(); });
    m_requestField->signal_changed().connect([&navigation] { navigation.controlTextDidChange(); });
    capsule->append(*m_requestField);
    capsule->append(browser.contentBlocking().shieldButton());
    capsule->append(browser.bookmarks().starButton());
    m_addressSuggestions = std::make_unique<AddressSuggestions>(
        *m_requestField, *capsule, controller.suggestions(), navigation);
    // The capsule goes between Home and Open address.
    m_browserToolbar->append(*capsule);

    struct Tool {
        const char* icon;
        const char* title;
        std::function<void()> action;
    };
    const Tool tools[] = {
        { "enter", "Open address", [&navigation] { navigation.openRequest(); } },
        { "history", "History", [&browser] { browser.showHistory(); } },
        { "script", "JavaScript", [&browser] { browser.devtools().showJavaScriptEditor(); } },
        { "download", "Downloads", [&browser] { browser.showDownloads(); } },
        { "extension", "Extensions", [&browser] { browser.showExtensionManager(); } },
        { "activity", "Activity", [&browser] { browser.showActivity(); } },
        { "setting", "Settings", [&browser] { browser.showSettings(); } },
    };
    for (const Tool& tool : tools) {
        // The Downloads button also follows the running downloads.
        Gtk::Button* button = std::string_view(tool.icon) == "download"
            ? Gtk::make_managed<DownloadsButton>(browser.downloads(), tool.action)
            : iconButton(tool.icon, tool.title, tool.action, dark);
        button->set_valign(Gtk::Align::CENTER);
        m_browserToolbar->append(*button);
    }

    if (std::string symbol = symbolForIconName("theme-switch"); !symbol.empty()) {
        auto* image = Gtk::make_managed<Gtk::Image>();
        image->set_from_icon_name(symbol);
        image->set_pixel_size(17);
        m_darkModeButton.set_child(*image);
        m_darkModeButton.add_css_class("qv-icon-button");
    } else {
        m_darkModeButton.set_label("Switch theme");
    }
    m_darkModeButton.add_css_class("circular");
    m_darkModeButton.set_name("theme-switch");
    m_darkModeButton.set_active(dark);
    m_darkModeButton.signal_toggled().connect([&browser] { browser.shell().toggleDarkMode(); });

    m_toolbarRevealer = Gtk::make_managed<Gtk::Revealer>();
    m_toolbarRevealer->set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    m_toolbarRevealer->set_transition_duration(180);
    m_toolbarRevealer->set_child(*m_browserToolbar);
    m_toolbarRevealer->set_reveal_child(true);
    m_browserToolbar->set_margin_top(kToolbarTop);
    m_browserToolbar->set_margin_start(12);
    m_browserToolbar->set_margin_end(12);

    m_webContentView = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    m_webContentView->add_css_class("qv-content");
    m_webContentView->set_vexpand(true);
    m_webContentView->set_hexpand(true);

    auto* root = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    root->add_css_class("qv-root");
    root->append(*m_tabStrip);
    root->append(*m_toolbarRevealer);
    // First under the toolbar: the selected page's own trouble comes before anything else.
    m_unresponsivePageBar = Gtk::make_managed<UnresponsivePageBar>();
    root->append(*m_unresponsivePageBar);
    m_siteWarningBar = Gtk::make_managed<SiteWarningBar>();
    root->append(*m_siteWarningBar);
    m_downloadBar = Gtk::make_managed<DownloadBar>();
    root->append(*m_downloadBar);
    m_findBar = Gtk::make_managed<FindBar>(controller);
    root->append(*m_findBar);
    root->append(*m_webContentView);
    set_child(*root);
}

BrowserWindow::~BrowserWindow() = default;

void BrowserWindow::setElementFullscreen(bool fullscreen)
{
    m_elementFullscreen = fullscreen;
    applyChromeVisibility();
}

void BrowserWindow::setExtensionChromeVisibility(
    std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible)
{
    if (tabsVisible)
        m_extensionTabsVisible = *tabsVisible;
    if (toolbarVisible)
        m_extensionToolbarVisible = *toolbarVisible;
    applyChromeVisibility();
}

void BrowserWindow::applyChromeVisibility()
{
    bool tabsVisible = !m_elementFullscreen && m_extensionTabsVisible;
    bool toolbarVisible = !m_elementFullscreen && m_extensionToolbarVisible;
    m_tabStrip->set_reveal_child(tabsVisible);
    m_toolbarRevealer->set_reveal_child(toolbarVisible);
    m_browserToolbar->set_margin_top(tabsVisible ? kToolbarTop : 0);
}

void BrowserWindow::addBarUnderToolbar(Gtk::Widget& bar)
{
    if (auto* root = dynamic_cast<Gtk::Box*>(m_toolbarRevealer->get_parent()))
        root->insert_child_after(bar, *m_toolbarRevealer);
}

void BrowserWindow::showInContent(Gtk::Widget& webView)
{
    while (Gtk::Widget* child = m_webContentView->get_first_child())
        m_webContentView->remove(*child);
    m_webContentView->append(webView);
}

void BrowserWindow::applyTheme(bool dark)
{
    const char* label = dark ? "Switch to light mode" : "Switch to dark mode";
    setTooltipAndLabel(m_darkModeButton, label);
    if (m_darkModeButton.get_active() != dark)
        m_darkModeButton.set_active(dark);
    for (Gtk::Widget* child = m_browserToolbar->get_first_child(); child;
         child = child->get_next_sibling()) {
        if (auto* button = dynamic_cast<Gtk::Button*>(child))
            styleMainToolbarButton(*button, dark);
    }
}

void BrowserWindow::restyleForTheme(bool dark)
{
    applyTheme(dark);
    m_tabStrip->rebuild();
}

void BrowserController::createWindow()
{
    if (m_window)
        return;
    m_window = std::make_unique<BrowserWindow>(*this, m_shell->application());
    m_shell->setWindow(m_window.get());
    m_window->property_is_active().signal_changed().connect(
        sigc::track_obj([this] { updateFindCloseAction(); }, *this));
    m_tabs->beginBrowserTabs();

    m_shell->applyTheme();
    // Shown before the first web view exists: the tabs open before the first frame is drawn,
    // and the window is on screen without waiting for the web view to be set up.
    m_window->present();
    // The map request goes out now, not after the first tab is made.
    m_window->get_display()->flush();
    openFirstTabs();
    m_window->requestField().grab_focus();
}

void BrowserController::connectWebViewSignals(WebKitWebView* view)
{
    connectSignal<&BrowserController::webViewEnterFullscreen>(view, "enter-fullscreen", this);
    connectSignal<&BrowserController::webViewLeaveFullscreen>(view, "leave-fullscreen", this);
    connectSignal<&BrowserController::runOpenPanelForFileUpload>(view, "run-file-chooser", this);
    WebKitFindController* find = webkit_web_view_get_find_controller(view);
    connectSignal<&BrowserController::findCountedMatches>(find, "counted-matches", this);
    connectSignal<&BrowserController::findFailed>(find, "failed-to-find-text", this);
    m_downloads->watchDownloadsOfSession(webkit_web_view_get_network_session(view));
}

void BrowserController::disconnectWebViewSignals(WebKitWebView* view)
{
    g_signal_handlers_disconnect_by_data(view, this);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_find_controller(view), this);
}

void BrowserController::leaveElementFullscreenIfNeeded()
{
    if (m_window && m_window->elementFullscreen())
        setBrowserElementFullscreen(false, m_tabs->selectedWebView());
}

void BrowserController::setBrowserElementFullscreen(bool fullscreen, WebKitWebView* view)
{
    if (!m_window || view != m_tabs->selectedWebView() || fullscreen == m_window->elementFullscreen())
        return;
    m_window->setElementFullscreen(fullscreen);
}

gboolean BrowserController::webViewEnterFullscreen(WebKitWebView* view)
{
    setBrowserElementFullscreen(true, view);
    return FALSE;
}

gboolean BrowserController::webViewLeaveFullscreen(WebKitWebView* view)
{
    setBrowserElementFullscreen(false, view);
    return FALSE;
}

gboolean BrowserController::runOpenPanelForFileUpload(
    WebKitWebView* view, WebKitFileChooserRequest* request)
{
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view));
    GtkWindow* parent = root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root)
        : m_window                                  ? GTK_WINDOW(m_window->gobj())
                                                    : nullptr;
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Open;
    panel.multiple = webkit_file_chooser_request_get_select_multiple(request);
    auto pending = GObjectPtr<WebKitFileChooserRequest>::retain(request);
    runFilesPanel(parent, panel, [pending](std::vector<std::filesystem::path> files) {
        if (files.empty()) {
            webkit_file_chooser_request_cancel(pending.get());
            return;
        }
        std::vector<const char*> list;
        for (const auto& file : files)
            list.push_back(file.c_str());
        list.push_back(nullptr);
        webkit_file_chooser_request_select_files(pending.get(), list.data());
    });
    return TRUE;
}

} // namespace qv

// The browser window: tab strip row, toolbar, address capsule, content area, and web views.
#include "app/browser_window.h"

#include "app/browser_controller.h"
#include "app/find_bar.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "downloads/download_bar.h"
#include "platform/file_panels.h"
#include "tabs/tab_strip_view.h"

namespace qv {

namespace {

// Reports user activity on interactive elements; never printable keys or typed text.
constexpr const char* kUserActivityScript = R"JS((function () {
    function report(event) {
        // Only the user's own input counts: events a page makes or dispatches are not trusted.
        if (!event.isTrusted)
            return;
        var node = event.target instanceof Element ? event.target : null;
        if (node) {
            var interactive = node.closest('button,a,input,select,textarea,[role=button],[role=link]');
            if (interactive)
                node = interactive;
        }
        if (!node)
            return;
        var key = event.type === 'keydown' && typeof event.key === 'string' && event.key.length > 1
            ? event.key : '';
        var detail = {
            type: event.type,
            tag: (node.tagName || '').toLowerCase(),
            id: node.id || '',
            role: node.getAttribute('role') || '',
            inputType: node instanceof HTMLInputElement ? (node.type || '') : '',
            key: key,
            // Set by the browser in this world when the page commits: windows a page opens
            // share their opener's message handler, so the handler alone cannot tell them apart.
            view: typeof window.qvActivityTab === 'string' ? window.qvActivityTab : ''
        };
        try {
            var reply = webkit.messageHandlers.qvUserActivity.postMessage(detail);
            if (reply && typeof reply.catch === 'function')
                reply.catch(function () {});
        } catch (e) {}
    }
    ['click', 'keydown', 'input', 'submit'].forEach(function (type) {
        document.addEventListener(type, report, true);
    });
})();)JS";

constexpr int kToolbarHeight = 58;
constexpr int kToolbarTop = 6;

// New settings holding every value of `source`, so views opened from one another can change
// their settings (the user agent above all) apart.
GObjectPtr<WebKitSettings> copiedWebSettings(WebKitSettings* source)
{
    auto copy = GObjectPtr<WebKitSettings>::adopt(webkit_settings_new());
    guint count = 0;
    GParamSpec** properties = g_object_class_list_properties(G_OBJECT_GET_CLASS(source), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* property = properties[i];
        bool copyable = (property->flags & G_PARAM_READWRITE) == G_PARAM_READWRITE
            && !(property->flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED));
        if (!copyable)
            continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, property->value_type);
        g_object_get_property(G_OBJECT(source), property->name, &value);
        g_object_set_property(G_OBJECT(copy.get()), property->name, &value);
        g_value_unset(&value);
    }
    g_free(properties);
    return copy;
}

} // namespace

Gtk::Button* BrowserWindow::makeToolbarButton(const char* symbol, const char* title,
    const char* identifier, void (BrowserController::*action)())
{
    Gtk::Button* button = symbolButton(symbol, title, 17);
    button->set_name(identifier);
    button->add_css_class("circular");
    button->set_size_request(36, 36);
    button->set_valign(Gtk::Align::CENTER);
    BrowserController& browser = m_controller;
    button->signal_clicked().connect([&browser, action] { (browser.*action)(); });
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

    m_tabStrip = Gtk::make_managed<TabStripView>(controller);

    // Toolbar.
    m_browserToolbar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 7);
    m_browserToolbar->add_css_class("qv-toolbar");
    m_browserToolbar->set_overflow(Gtk::Overflow::HIDDEN);
    m_browserToolbar->set_size_request(-1, kToolbarHeight);
    m_backButton = makeToolbarButton("go-previous-symbolic", "Back", "back", &BrowserController::goBack);
    m_forwardButton = makeToolbarButton("go-next-symbolic", "Forward", "forward",
        &BrowserController::goForward);
    m_browserToolbar->append(*m_backButton);
    m_browserToolbar->append(*m_forwardButton);
    m_browserToolbar->append(*makeToolbarButton("view-refresh-symbolic", "Reload", "reload",
        &BrowserController::reloadPage));
    Gtk::Button* home = iconButton("home", "Home", [&browser] { browser.goHome(); }, dark);
    m_browserToolbar->append(*home);

    auto* capsule = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    capsule->add_css_class("qv-capsule");
    capsule->set_overflow(Gtk::Overflow::HIDDEN);
    capsule->set_size_request(180, 36);
    capsule->set_valign(Gtk::Align::CENTER);
    capsule->set_hexpand(true);
    m_requestField = Gtk::make_managed<Gtk::Entry>();
    m_requestField->set_placeholder_text("Search Google or enter an address");
    m_requestField->set_has_frame(false);
    m_requestField->set_hexpand(true);
    m_requestField->set_valign(Gtk::Align::CENTER);
    m_requestField->set_size_request(-1, 22);
    m_requestField->set_margin_start(14);
    m_requestField->set_margin_end(12);
    m_requestField->add_css_class("qv-address");
    m_requestField->signal_activate().connect([&browser] { browser.openRequest(); });
    m_requestField->signal_changed().connect([&browser] { browser.controlTextDidChange(); });
    capsule->append(*m_requestField);
    // The capsule goes between Home and Open address.
    m_browserToolbar->append(*capsule);

    struct Tool {
        const char* icon;
        const char* title;
        void (BrowserController::*action)();
    };
    const Tool tools[] = {
        { "enter", "Open address", &BrowserController::openRequest },
        { "history", "History", &BrowserController::showHistory },
        { "script", "JavaScript", &BrowserController::showJavaScriptEditor },
        { "download", "Downloads", &BrowserController::showDownloads },
        { "extension", "Extensions", &BrowserController::showExtensionManager },
        { "activity", "Activity", &BrowserController::showActivity },
        { "setting", "Settings", &BrowserController::showSettings },
    };
    for (const Tool& tool : tools) {
        auto action = tool.action;
        Gtk::Button* button = iconButton(tool.icon, tool.title, [&browser, action] { (browser.*action)(); }, dark);
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
    m_downloadBar = Gtk::make_managed<DownloadBar>();
    root->append(*m_downloadBar);
    m_findBar = Gtk::make_managed<FindBar>(controller);
    root->append(*m_findBar);
    root->append(*m_webContentView);
    set_child(*root);
}

BrowserWindow::~BrowserWindow() = default;

void BrowserWindow::setChromeVisible(bool tabsVisible, bool toolbarVisible)
{
    m_tabStrip->set_reveal_child(tabsVisible);
    m_toolbarRevealer->set_reveal_child(toolbarVisible);
    m_browserToolbar->set_margin_top(tabsVisible ? kToolbarTop : 0);
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
    m_darkModeButton.set_tooltip_text(label);
    setAccessibleLabel(m_darkModeButton, label);
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
    m_extensionTabsVisible = true;
    m_extensionToolbarVisible = true;
    m_tabs.clear();
    m_browserTabsCreated = true;

    m_shell->applyTheme();
    // Shown before the first web view exists: the tabs open before the first frame is drawn,
    // and the window is on screen without waiting for the web view to be set up.
    m_window->present();
    // The map request goes out now, not after the first tab is made.
    m_window->get_display()->flush();
    openFirstTabs();
    m_window->requestField().grab_focus();
}

GObjectPtr<WebKitWebView> BrowserController::newBrowserWebViewWithConfiguration(
    const WebViewConfiguration* configuration)
{
    ProfileID profile = m_profiles->currentProfile();
    GtkWidget* widget;
    if (configuration && configuration->relatedView) {
        // A page opening a window: the engine's related view already carries the handler and
        // the activity script in its content manager, and shares its network session. The
        // settings are copied, not shared: a user agent set on one tab stays on that tab.
        WebKitWebView* related = configuration->relatedView;
        GObjectPtr<WebKitSettings> settings
            = copiedWebSettings(webkit_web_view_get_settings(related));
        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
            "user-content-manager", webkit_web_view_get_user_content_manager(related),
            "settings", settings.get(), nullptr));
    } else {
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        webkit_user_content_manager_register_script_message_handler_with_reply(content,
            "qvUserActivity", kUserActivityWorld);
        connectSignal<&ExtensionService::userActivityMessageReceived>(content,
            "script-message-with-reply-received::qvUserActivity", m_extensions.get());
        WebKitUserScript* script = webkit_user_script_new_for_world(kUserActivityScript,
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
            kUserActivityWorld, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);

        WebKitSettings* settings = webkit_settings_new();
        webkit_settings_set_enable_javascript(settings, TRUE);
        webkit_settings_set_enable_fullscreen(settings, TRUE);
        webkit_settings_set_enable_developer_extras(settings, TRUE);

        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
            m_profiles->websiteDataStoreForProfile(profile), "user-content-manager", content, "settings",
            settings, nullptr));
        g_object_unref(content);
        g_object_unref(settings);
    }
    auto view = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);

    std::string agent = m_profiles->userAgentForProfile(profile);
    if (!agent.empty())
        webkit_settings_set_user_agent(webkit_web_view_get_settings(view.get()), agent.c_str());
    connectWebViewSignals(view.get());
    return view;
}

void BrowserController::connectWebViewSignals(WebKitWebView* view)
{
    connectSignal<&BrowserController::webViewLoadChanged>(view, "load-changed", this);
    connectSignal<&BrowserController::webViewLoadFailed>(view, "load-failed", this);
    connectSignal<&BrowserController::webViewURIChanged>(view, "notify::uri", this);
    connectSignal<&BrowserController::webViewTitleChanged>(view, "notify::title", this);
    connectSignal<&BrowserController::createWebViewForNavigation>(view, "create", this);
    connectSignal<&BrowserController::webViewDecidePolicy>(view, "decide-policy", this);
    connectSignal<&BrowserController::webViewEnterFullscreen>(view, "enter-fullscreen", this);
    connectSignal<&BrowserController::webViewLeaveFullscreen>(view, "leave-fullscreen", this);
    connectSignal<&BrowserController::runOpenPanelForFileUpload>(view, "run-file-chooser", this);
    WebKitFindController* find = webkit_web_view_get_find_controller(view);
    connectSignal<&BrowserController::findCountedMatches>(find, "counted-matches", this);
    connectSignal<&BrowserController::findFailed>(find, "failed-to-find-text", this);
    m_downloads->watchDownloadsOfSession(webkit_web_view_get_network_session(view));
}

void BrowserController::setBrowserElementFullscreen(bool fullscreen, WebKitWebView* view)
{
    if (view != m_webView || fullscreen == m_browserElementFullscreen)
        return;
    m_browserElementFullscreen = fullscreen;
    applyBrowserChromeVisibility();
}

void BrowserController::applyBrowserChromeVisibility()
{
    if (!m_window)
        return;
    m_window->setChromeVisible(!m_browserElementFullscreen && m_extensionTabsVisible,
        !m_browserElementFullscreen && m_extensionToolbarVisible);
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

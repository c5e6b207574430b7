// The browser window: tab strip row, toolbar, address capsule, content area, and web views.
#include "app/browser_controller.h"

#include "app/view_helpers.h"
#include "tabs/tab_model.h"

namespace qv {

namespace {

// Reports user activity on interactive elements; never printable keys or typed text.
constexpr const char* kUserActivityScript = R"JS((function () {
    function report(event) {
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
            key: key
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

constexpr int kTabBarHeight = 46;
constexpr int kToolbarHeight = 58;
constexpr int kToolbarTop = 6;

} // namespace

Gtk::Button* BrowserController::makeToolbarButton(const char* symbol, const char* title,
    const char* identifier, void (BrowserController::*action)())
{
    Gtk::Button* button = symbolButton(symbol, title, 17);
    button->set_name(identifier);
    button->add_css_class("circular");
    button->set_size_request(36, 36);
    button->set_valign(Gtk::Align::CENTER);
    button->signal_clicked().connect([this, action] { (this->*action)(); });
    return button;
}

void BrowserController::createWindow()
{
    if (m_window)
        return;
    bool dark = darkMode();

    m_window = std::make_unique<Gtk::ApplicationWindow>(m_application);
    m_window->set_title("Quivel Browser");
    m_window->set_default_size(1180, 800);
    m_window->set_size_request(760, 480);
    m_window->set_show_menubar(true);
    m_window->add_css_class("qv-browser");
    // A closed window is hidden, not destroyed: the application still ends with its last
    // visible window, and the controller's widgets stay valid until the controller goes.
    m_window->set_hide_on_close(true);
    connectWindowCallbacks(*m_window);

    m_extensionTabsVisible = true;
    m_extensionToolbarVisible = true;

    // Tab strip: the stack of items inside a horizontal scroller, with the drop marker over it.
    m_tabBar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_tabBar->add_css_class("qv-tabbar");
    m_tabBar->set_valign(Gtk::Align::FILL);
    m_tabBar->set_hexpand(true);
    m_tabBar->set_size_request(-1, kTabBarHeight);
    auto* overlay = Gtk::make_managed<Gtk::Overlay>();
    overlay->set_child(*m_tabBar);
    m_tabDropLayer = Gtk::make_managed<Gtk::Fixed>();
    m_tabDropLayer->set_can_target(false);
    overlay->add_overlay(*m_tabDropLayer);
    auto* indicator = Gtk::make_managed<Gtk::Box>();
    indicator->add_css_class("qv-drop-indicator");
    indicator->set_size_request(6, 30);
    indicator->set_opacity(0);
    indicator->set_visible(false);
    m_tabDropLayer->put(*indicator, 0, 0);
    m_tabDropIndicator = indicator;
    auto* gap = Gtk::make_managed<Gtk::Box>();
    gap->set_size_request(14, -1);
    gap->add_css_class("qv-drop-gap");
    m_tabDropGapView = gap;
    m_tabDropGapView->reference(); // kept while it is out of the strip
    m_tabScrollView = Gtk::make_managed<Gtk::ScrolledWindow>();
    m_tabScrollView->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
    m_tabScrollView->set_has_frame(false);
    m_tabScrollView->set_child(*overlay);
    m_tabScrollView->set_size_request(-1, kTabBarHeight);
    m_tabScrollView->set_margin_start(14);
    m_tabScrollView->set_margin_end(14);
    m_tabScrollView->add_css_class("qv-tabscroll");
    m_tabBarRevealer = Gtk::make_managed<Gtk::Revealer>();
    m_tabBarRevealer->set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
    m_tabBarRevealer->set_transition_duration(180);
    m_tabBarRevealer->set_child(*m_tabScrollView);
    m_tabBarRevealer->set_reveal_child(true);

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
    m_browserToolbar->append(*iconButton("home", "Home", [this] { goHome(); }, dark));

    m_requestFieldCapsule = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL);
    m_requestFieldCapsule->add_css_class("qv-capsule");
    m_requestFieldCapsule->set_overflow(Gtk::Overflow::HIDDEN);
    m_requestFieldCapsule->set_size_request(180, 36);
    m_requestFieldCapsule->set_valign(Gtk::Align::CENTER);
    m_requestFieldCapsule->set_hexpand(true);
    m_requestField = Gtk::make_managed<Gtk::Entry>();
    m_requestField->set_placeholder_text("Search Google or enter an address");
    m_requestField->set_has_frame(false);
    m_requestField->set_hexpand(true);
    m_requestField->set_valign(Gtk::Align::CENTER);
    m_requestField->set_size_request(-1, 22);
    m_requestField->set_margin_start(14);
    m_requestField->set_margin_end(12);
    m_requestField->add_css_class("qv-address");
    m_requestField->signal_activate().connect([this] { openRequest(); });
    m_requestField->signal_changed().connect([this] { controlTextDidChange(); });
    m_requestFieldCapsule->append(*m_requestField);

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
        Gtk::Button* button = iconButton(tool.icon, tool.title, [this, action] { (this->*action)(); }, dark);
        button->set_valign(Gtk::Align::CENTER);
        m_browserToolbar->append(*button);
    }

    // The theme toggle lives in the Settings window, not in the toolbar.
    m_darkModeButton = Gtk::make_managed<Gtk::ToggleButton>();
    if (std::string symbol = symbolForIconName("theme-switch"); !symbol.empty()) {
        auto* image = Gtk::make_managed<Gtk::Image>();
        image->set_from_icon_name(symbol);
        image->set_pixel_size(17);
        m_darkModeButton->set_child(*image);
        m_darkModeButton->add_css_class("qv-icon-button");
    } else {
        m_darkModeButton->set_label("Switch theme");
    }
    m_darkModeButton->add_css_class("circular");
    m_darkModeButton->set_name("theme-switch");
    m_darkModeButton->reference();
    m_darkModeButton->set_active(dark);
    m_darkModeButton->signal_toggled().connect([this] { toggleDarkMode(); });

    // The capsule goes between Home and Open address.
    Gtk::Widget* home = m_browserToolbar->get_first_child();
    for (int i = 0; i < 3; ++i)
        home = home->get_next_sibling();
    m_browserToolbar->insert_child_after(*m_requestFieldCapsule, *home);

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
    m_browserTabs.clear();
    m_browserTabsCreated = true;

    auto* root = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    root->add_css_class("qv-root");
    root->append(*m_tabBarRevealer);
    root->append(*m_toolbarRevealer);
    root->append(*m_webContentView);
    m_window->set_child(*root);

    applyTheme();
    openFirstTabs();
    m_window->present();
    m_requestField->grab_focus();
}

GObjectPtr<WebKitWebView> BrowserController::newBrowserWebViewWithConfiguration(
    const WebViewConfiguration* configuration)
{
    ProfileID profile = currentProfile();
    GtkWidget* widget;
    if (configuration && configuration->relatedView) {
        // A page opening a window: the engine's related view already carries the handler and
        // the activity script in its content manager, and shares its network session.
        WebKitWebView* related = configuration->relatedView;
        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", related,
            "user-content-manager", webkit_web_view_get_user_content_manager(related),
            "settings", webkit_web_view_get_settings(related), nullptr));
    } else {
        WebKitUserContentManager* content = webkit_user_content_manager_new();
        webkit_user_content_manager_register_script_message_handler_with_reply(content,
            "qvUserActivity", "QuivelActivity");
        g_signal_connect(content, "script-message-with-reply-received::qvUserActivity",
            G_CALLBACK(onUserActivityMessage), this);
        WebKitUserScript* script = webkit_user_script_new_for_world(kUserActivityScript,
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
            "QuivelActivity", nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);

        WebKitSettings* settings = webkit_settings_new();
        webkit_settings_set_enable_javascript(settings, TRUE);
        webkit_settings_set_enable_fullscreen(settings, TRUE);
        webkit_settings_set_enable_developer_extras(settings, TRUE);

        widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session",
            websiteDataStoreForProfile(profile), "user-content-manager", content, "settings",
            settings, nullptr));
        g_object_unref(content);
        g_object_unref(settings);
    }
    auto view = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
    gtk_widget_set_hexpand(widget, TRUE);
    gtk_widget_set_vexpand(widget, TRUE);

    std::string agent = userAgentForProfile(profile);
    if (!agent.empty())
        webkit_settings_set_user_agent(webkit_web_view_get_settings(view.get()), agent.c_str());
    connectWebViewSignals(view.get());
    return view;
}

void BrowserController::connectWebViewSignals(WebKitWebView* view)
{
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view, "notify::uri", G_CALLBACK(onURIChanged), this);
    g_signal_connect(view, "notify::title", G_CALLBACK(onTitleChanged), this);
    g_signal_connect(view, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view, "enter-fullscreen", G_CALLBACK(onEnterFullscreen), this);
    g_signal_connect(view, "leave-fullscreen", G_CALLBACK(onLeaveFullscreen), this);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(onRunFileChooser), this);
}

void BrowserController::detachWebView(WebKitWebView* view)
{
    if (!view)
        return;
    webkit_web_view_stop_loading(view);
    g_signal_handlers_disconnect_by_data(view, this);
    GtkWidget* widget = GTK_WIDGET(view);
    if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
        if (GTK_IS_BOX(parent))
            gtk_box_remove(GTK_BOX(parent), widget);
        else
            gtk_widget_unparent(widget);
    }
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
    bool showTabs = !m_browserElementFullscreen && m_extensionTabsVisible;
    bool showToolbar = !m_browserElementFullscreen && m_extensionToolbarVisible;
    m_tabBarRevealer->set_reveal_child(showTabs);
    m_toolbarRevealer->set_reveal_child(showToolbar);
    m_browserToolbar->set_margin_top(showTabs ? kToolbarTop : 0);
}

gboolean BrowserController::onEnterFullscreen(WebKitWebView* view, gpointer self)
{
    static_cast<BrowserController*>(self)->setBrowserElementFullscreen(true, view);
    return FALSE;
}

gboolean BrowserController::onLeaveFullscreen(WebKitWebView* view, gpointer self)
{
    static_cast<BrowserController*>(self)->setBrowserElementFullscreen(false, view);
    return FALSE;
}

gboolean BrowserController::onRunFileChooser(WebKitWebView* view, WebKitFileChooserRequest* request,
    gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view));
    GtkWindow* parent = root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root)
        : controller->m_window ? GTK_WINDOW(controller->m_window->gobj()) : nullptr;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(nullptr, parent,
        GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser),
        webkit_file_chooser_request_get_select_multiple(request));
    g_object_ref(request);
    g_signal_connect(chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response,
                                                          gpointer data) {
        auto* req = static_cast<WebKitFileChooserRequest*>(data);
        if (response == GTK_RESPONSE_ACCEPT) {
            GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
            guint n = g_list_model_get_n_items(files);
            std::vector<std::string> paths;
            for (guint i = 0; i < n; ++i) {
                GFile* file = G_FILE(g_list_model_get_item(files, i));
                if (char* path = g_file_get_path(file)) {
                    paths.emplace_back(path);
                    g_free(path);
                }
                g_object_unref(file);
            }
            g_object_unref(files);
            std::vector<const char*> list;
            for (auto& p : paths)
                list.push_back(p.c_str());
            list.push_back(nullptr);
            webkit_file_chooser_request_select_files(req, list.data());
        } else {
            webkit_file_chooser_request_cancel(req);
        }
        g_object_unref(req);
        g_object_unref(dialog);
    }),
        request);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
    return TRUE;
}

} // namespace qv

// The extension manager window: the list, the page area and the settings page.
#include "extensions/extension_manager_window.h"

#include "app/shell.h"
#include "app/view_helpers.h"
#include "extensions/extension_service.h"
#include "extensions/extension_manager_views.h"
#include "extensions/extension_runtime_rules.h"

namespace qv {

namespace {

constexpr int kDividerPosition = 278;
constexpr int kMinimumListWidth = 220;
constexpr int kMinimumPageWidth = 320;

constexpr const char* kNoSelectionTitle = "Select an Extension";
constexpr const char* kNoSelectionHint
    = "Install an Extension ZIP, then turn it on to use its page here.";

constexpr const char* kManagerCss = R"CSS(
.qv-extension-panel { background: @theme_bg_color; padding: 18px 16px 16px 16px; }
.qv-extension-title { font-size: 25pt; font-weight: bold; }
.qv-extension-list { background: transparent; }
.qv-extension-row { border-radius: 11px; border: 1px solid alpha(@borders, 0.8);
    background: alpha(@theme_base_color, 0.68); padding: 7px 7px 7px 9px; }
.qv-extension-row.selected { background: alpha(@theme_selected_bg_color, 0.18);
    border-color: alpha(@theme_selected_bg_color, 0.6); }
.qv-extension-name { font-size: 13pt; font-weight: 500; padding: 0; min-height: 0; }
.qv-extension-name, .qv-extension-name:hover, .qv-extension-name:active {
    background: none; box-shadow: none; }
.qv-extension-name:hover label { text-decoration: underline; }
.qv-extension-row.selected .qv-extension-name { font-weight: 600; }
.qv-extension-status { font-size: 10pt; font-weight: 500; }
.qv-extension-status.running { color: #26a269; }
.qv-extension-page-title { font-size: 21pt; font-weight: 600; }
.qv-extension-page { border-radius: 12px; border: 1px solid @borders; }
.qv-extension-drop { border-radius: 14px; border: 1px solid @borders; padding: 8px; }
.qv-extension-drop.dragging { border: 2px solid @theme_selected_bg_color; padding: 7px; }
.qv-extension-action { padding: 4px 10px; }
)CSS";

void setSymbol(Gtk::Button& button, const char* symbol, const char* label)
{
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(symbol);
    image->set_pixel_size(16);
    button.set_child(*image);
    button.set_tooltip_text(label);
    setAccessibleLabel(button, label);
}

// A button with a symbol and a title, as in the panel and on the settings page.
Gtk::Button* labelledButton(const char* title, const char* symbol, const char* tooltip,
    const char* accessibleLabel, std::function<void()> action)
{
    Gtk::Button* button = titledSymbolButton(title, symbol, accessibleLabel ? accessibleLabel : "");
    button->set_halign(Gtk::Align::START);
    button->add_css_class("qv-extension-action");
    if (tooltip)
        button->set_tooltip_text(tooltip);
    button->signal_clicked().connect(std::move(action));
    return button;
}

} // namespace

ExtensionManagerWindow::ExtensionManagerWindow(
    Shell& shell, ExtensionService& extensions, std::function<void()> showSource)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::ExtensionManager, "Quivel Extensions")
    , m_extensions(extensions)
    , m_showSource(std::move(showSource))
{
    m_extensions.signalChanged().connect(sigc::mem_fun(*this, &ExtensionManagerWindow::refresh));
    m_extensions.signalSelectionChanged().connect(
        sigc::mem_fun(*this, &ExtensionManagerWindow::displaySelectedExtension));
    set_default_size(1040, 730);
    set_size_request(700, 460);
    add_css_class("qv-extension-manager");

    addApplicationStyleSheet(kManagerCss);

    Gtk::Widget* panel = makePanel();

    auto* page = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 10);
    page->set_size_request(kMinimumPageWidth, -1);
    page->set_margin(20);
    auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    m_pageTitle = Gtk::make_managed<Gtk::Label>(kNoSelectionTitle);
    m_pageTitle->add_css_class("qv-extension-page-title");
    m_pageTitle->set_xalign(0);
    m_pageTitle->set_hexpand(true);
    m_pageTitle->set_ellipsize(Pango::EllipsizeMode::END);
    m_settingsButton = Gtk::make_managed<Gtk::Button>();
    m_settingsButton->add_css_class("circular");
    m_settingsButton->set_valign(Gtk::Align::CENTER);
    setSymbol(*m_settingsButton, "emblem-system-symbolic", "Extension settings");
    m_settingsButton->signal_clicked().connect([this] { this->m_extensions.showExtensionSettings(); });
    header->append(*m_pageTitle);
    header->append(*m_settingsButton);
    page->append(*header);
    m_pageHint = secondaryLabel(kNoSelectionHint);
    page->append(*m_pageHint);
    m_pageContainer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
    m_pageContainer->add_css_class("qv-extension-page");
    m_pageContainer->set_overflow(Gtk::Overflow::HIDDEN);
    m_pageContainer->set_vexpand(true);
    m_pageContainer->set_hexpand(true);
    page->append(*m_pageContainer);

    auto* split = Gtk::make_managed<Gtk::Paned>(Gtk::Orientation::HORIZONTAL);
    split->set_start_child(*panel);
    split->set_end_child(*page);
    // The size requests keep the divider 220 from the left and 320 from the right edge.
    split->set_shrink_start_child(false);
    split->set_shrink_end_child(false);
    split->set_resize_start_child(false);
    split->set_position(kDividerPosition);
    set_child(*split);
}

Gtk::Box* ExtensionManagerWindow::listStack() const { return m_listStack; }

Gtk::Widget* ExtensionManagerWindow::makePanel()
{
    auto* panel = Gtk::make_managed<ExtensionPanelView>();
    panel->set_size_request(kMinimumListWidth, -1);
    auto* title = Gtk::make_managed<Gtk::Label>("Extensions");
    title->add_css_class("qv-extension-title");
    title->set_xalign(0);
    panel->append(*title);
    panel->append(*secondaryLabel("Your browser tools and mini apps"));
    panel->append(*labelledButton("Install Extension", "application-x-addon-symbolic",
        "Install from ZIP", "Install Extension from ZIP",
        [this] { m_extensions.installExtensionFromButton(Sender::button(-1)); }));
    panel->append(*labelledButton("Add from URL", "insert-link-symbolic",
        "Load a website as an Extension", "Add Extension from URL",
        [this] { m_extensions.addExtensionFromURL(Sender::button(-1)); }));
    m_dropView = Gtk::make_managed<ExtensionDropView>(
        "Or drop an Extension ZIP here\nHTML pages run like regular websites");
    // Installing shows alerts; they must not run inside the drop itself.
    m_dropView->filesDropped = [this](const std::vector<std::filesystem::path>& files) {
        Glib::signal_idle().connect_once(sigc::track_obj(
            [this, files] {
                for (const auto& file : files)
                    m_extensions.installExtensionArchive(file);
            },
            *this));
    };
    panel->append(*m_dropView);
    m_listStack = Gtk::make_managed<ExtensionListStackView>();
    auto* scroll = Gtk::make_managed<Gtk::ScrolledWindow>();
    scroll->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scroll->set_has_frame(false);
    scroll->set_vexpand(true);
    scroll->set_child(*m_listStack);
    panel->append(*scroll);
    return panel;
}

Gtk::Widget* ExtensionManagerWindow::makeSettingsPage(
    const ExtensionID& id, const ExtensionRecord& record)
{
    auto* stack = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
    stack->set_margin(24);
    stack->set_valign(Gtk::Align::START);
    stack->append(*labelledButton("View Source Code", "system-search-symbolic", nullptr, nullptr,
        [this] { m_showSource(); }));
    stack->append(*labelledButton("Export ZIP", "document-save-as-symbolic", nullptr, nullptr,
        [this] { m_extensions.exportSelectedExtension(Sender::button(-1)); }));
    auto* remove = labelledButton("Delete Extension", "user-trash-symbolic", nullptr, nullptr,
        [this, id] { m_extensions.deleteExtension(Sender::identified(id)); });
    remove->add_css_class("destructive-action");
    remove->set_name(id);
    stack->append(*remove);
    std::string version = jsonString(record.manifest, "version");
    bool on = m_extensions.enabledExtensionIDs().count(id) > 0;
    stack->append(*secondaryLabel((version.empty() ? std::string("Extension") : version)
        + " \u00B7 " + (on ? "On" : "Off")));
    return stack;
}

Gtk::Widget* ExtensionManagerWindow::makeRow(const ExtensionID& id, const ExtensionRecord& record)
{
    bool running = m_extensions.enabledExtensionIDs().count(id) > 0;
    std::string name = record.name().empty() ? id : record.name();

    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
    row->add_css_class("qv-extension-row");
    row->set_name(id);
    if (id == m_extensions.selectedExtensionID())
        row->add_css_class("selected");

    auto* text = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 1);
    text->set_hexpand(true);
    auto* nameButton = Gtk::make_managed<Gtk::Button>();
    auto* nameLabel = Gtk::make_managed<Gtk::Label>(name);
    nameLabel->set_xalign(0);
    nameLabel->set_ellipsize(Pango::EllipsizeMode::END);
    nameButton->set_child(*nameLabel);
    nameButton->set_has_frame(false);
    nameButton->add_css_class("qv-extension-name");
    nameButton->set_name(id);
    setAccessibleLabel(*nameButton, name);
    nameButton->signal_clicked().connect(
        [this, id] { m_extensions.selectExtension(Sender::identified(id)); });
    bool crashed = !running && !m_extensions.extensionStopMessage(id).empty();
    auto* status = Gtk::make_managed<Gtk::Label>(
        running ? "Running" : crashed ? "Off \u00B7 its page crashed" : "Off");
    status->add_css_class("qv-extension-status");
    status->add_css_class(running ? "running" : "dim-label");
    status->set_xalign(0);
    status->set_margin_start(8);
    text->append(*nameButton);
    text->append(*status);

    auto* check = Gtk::make_managed<Gtk::CheckButton>();
    check->set_active(running);
    check->set_name(id);
    check->set_valign(Gtk::Align::CENTER);
    setAccessibleLabel(*check, std::string(running ? "Turn off" : "Turn on") + " " + name);
    // The list is rebuilt by the toggle, so the row must not go away inside its own signal.
    check->signal_toggled().connect([this, id] {
        Glib::signal_idle().connect_once(sigc::track_obj(
            [this, id] { m_extensions.toggleExtension(Sender::identified(id)); }, *this));
    });

    row->append(*text);
    row->append(*check);
    return row;
}

void ExtensionManagerWindow::refresh()
{
    m_listStack->removeAllRows();
    const auto& extensions = m_extensions.extensions();
    if (extensions.empty()) {
        m_listStack->append(*secondaryLabel("No Extensions installed yet."));
    } else {
        for (const ExtensionID& id : extensionManagerOrder(extensions))
            m_listStack->append(*makeRow(id, extensions.at(id)));
    }
    displaySelectedExtension();
}

void ExtensionManagerWindow::displaySelectedExtension()
{
    while (Gtk::Widget* child = m_pageContainer->get_first_child())
        m_pageContainer->remove(*child);
    const std::string& selected = m_extensions.selectedExtensionID();
    // Selection shows in the rows without rebuilding the list.
    for (Gtk::Widget* row = m_listStack->get_first_child(); row; row = row->get_next_sibling()) {
        if (row->get_name().raw() == selected)
            row->add_css_class("selected");
        else
            row->remove_css_class("selected");
    }

    const auto& extensions = m_extensions.extensions();
    auto it = extensions.find(selected);
    m_settingsButton->set_visible(it != extensions.end());
    if (it == extensions.end()) {
        m_pageTitle->set_text(kNoSelectionTitle);
        m_pageHint->set_text(kNoSelectionHint);
        return;
    }
    const ExtensionRecord& record = it->second;
    const ExtensionID& id = it->first;
    m_pageTitle->set_text(record.name().empty() ? id : record.name());
    bool settingsVisible = m_extensions.extensionSettingsVisible();
    if (settingsVisible)
        setSymbol(*m_settingsButton, "go-previous-symbolic", "Back to Extension");
    else
        setSymbol(*m_settingsButton, "emblem-system-symbolic", "Extension settings");
    tintSymbolButton(*m_settingsButton, iconTintForTheme(shell().darkMode()));

    if (settingsVisible) {
        m_pageHint->set_text("Manage this Extension");
        m_pageContainer->append(*makeSettingsPage(id, record));
        return;
    }
    auto view = m_extensions.extensionWebViews().find(id);
    if (view == m_extensions.extensionWebViews().end()) {
        std::string stopped = m_extensions.extensionStopMessage(id);
        m_pageHint->set_text(stopped.empty()
                ? "This Extension is off. Turn it on in the list to run its page."
                : stopped);
        auto* off = secondaryLabel("Extension is turned off");
        off->set_justify(Gtk::Justification::CENTER);
        off->set_xalign(0.5);
        off->set_vexpand(true);
        off->set_hexpand(true);
        m_pageContainer->append(*off);
        return;
    }
    m_pageHint->set_text(record.isWebsite()
            ? "Website Extension \u00B7 isolated runtime \u00B7 Quivel API bridge"
            : "File Extension \u00B7 isolated runtime \u00B7 Quivel API bridge");
    GtkWidget* widget = GTK_WIDGET(view->second.get());
    if (GtkWidget* parent = gtk_widget_get_parent(widget))
        gtk_box_remove(GTK_BOX(parent), widget);
    gtk_box_append(GTK_BOX(m_pageContainer->gobj()), widget);
}

} // namespace qv

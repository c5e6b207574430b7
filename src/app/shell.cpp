// The shell: defaults, the failure report, the theme and the close rules of all windows.
#include "app/shell.h"

#include "app/auxiliary_window.h"
#include "app/browser_window.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "platform/alerts.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

#include <algorithm>

namespace qv {

namespace {

struct ThemeColours {
    RGB window, strip, capsule, text;
};

ThemeColours themeColours(bool dark)
{
    if (dark)
        return { { 0.105, 0.112, 0.135 }, { 0.075, 0.088, 0.12 }, { 0.17, 0.19, 0.25 }, { 1, 1, 1 } };
    return { { 0.975, 0.982, 0.995 }, { 0.92, 0.94, 0.97 }, { 1, 1, 1 }, { 0, 0, 0 } };
}

} // namespace

Shell::Shell(Glib::RefPtr<Gtk::Application> application)
    : m_application(std::move(application))
    , m_defaults(std::make_unique<UserDefaults>(defaultsFileURL()))
{
    if (m_defaults->loadProblem())
        logLine(*m_defaults->loadProblem());
    // A failed write is shown on the main loop, while the shell is still there to show it.
    m_defaults->writeThrough(*m_fileWriter, [alive = std::weak_ptr<char>(m_alive), this](const std::string& message) {
        runOnMainLoop(alive, [this, message] { defaultsWriteFailed(message); });
    });
}

Shell::~Shell()
{
    m_alive.reset();
    flushFiles();
}

void Shell::flushFiles() { m_fileWriter->flush(); }

void Shell::showError(const std::string& message)
{
    logLine(message);
    runModalAlert(m_window ? GTK_WINDOW(m_window->gobj()) : nullptr,
        { "Quivel Browser", message, { "OK" } });
}

void Shell::setDefaultsValue(std::string_view key, Json value)
{
    auto saved = m_defaults->setObject(key, std::move(value));
    if (!saved)
        defaultsWriteFailed(saved.error());
}

void Shell::defaultsWriteFailed(const std::string& message)
{
    // One alert per reason and run: a disk that refuses every write must not bury the user.
    if (m_defaultsWriteFailuresReported.insert(message).second)
        showError(message);
    else
        logLine(message);
}

void Shell::setWindow(BrowserWindow* window)
{
    m_window = window;
    if (window)
        connectWindowCallbacks(*window);
}

bool Shell::darkMode() const { return m_defaults->boolForKey(kDarkModeKey); }

void Shell::toggleDarkMode()
{
    if (m_window)
        setDarkMode(m_window->darkModeButton().get_active());
}

void Shell::setDarkMode(bool dark)
{
    if (dark == darkMode())
        return;
    setDefaultsValue(kDarkModeKey, dark);
    applyTheme();
}

void Shell::applyWindowCss()
{
    bool dark = darkMode();
    ThemeColours c = themeColours(dark);
    std::string css;
    css += ".qv-browser, .qv-root, .qv-content { background: " + cssColor(c.window) + "; }\n";
    css += ".qv-toolbar { background: " + cssColor(c.window)
        + "; border-radius: 28px; padding: 8px 12px; }\n";
    css += ".qv-tabscroll, .qv-tabscroll > viewport { background: transparent; }\n";
    css += ".qv-tabbar { background: " + cssColor(c.strip)
        + "; border-radius: 23px; padding: 4px 14px; }\n";
    css += ".qv-capsule { background: " + cssColor(c.capsule)
        + "; border-radius: 18px; min-height: 36px; }\n";
    css += ".qv-address, .qv-address text { background: transparent; border: none; box-shadow: none;"
           " outline: none; min-height: 22px; padding: 0; font-size: 14px; color: "
        + cssColor(c.text) + "; caret-color: " + cssColor(c.text) + "; }\n";
    // The suggestion list draws its own square edge: a shadow or a rounded corner needs a
    // compositor, and without one shows black.
    css += "popover.qv-suggestions > contents { box-shadow: none; margin: 0; padding: 4px;"
           " border-radius: 0; border: 1px solid " + std::string(dark ? "rgba(255,255,255,0.15)" : "rgba(0,0,0,0.15)")
        + "; }\n";
    css += "popover.qv-suggestions row { border-radius: 8px; }\n";
    css += ".qv-tab-item { border-radius: 17px; padding: 3px 5px 3px 7px; min-height: 30px;"
           " border: 0 solid transparent; }\n";
    // The accent colour, as GTK's own theme uses it.
    const std::string accent = "rgb(53,132,228)";
    const std::string accentText = dark ? "rgb(120,174,237)" : "rgb(28,113,216)";
    css += ".qv-tab-item.selected { background: rgba(53,132,228,0.2); }\n";
    // Private tabs carry a purple edge and mark.
    css += ".qv-tab-item.qv-private { border: 1.5px solid rgba(145,65,172,0.7); }\n";
    css += ".qv-tab-item.qv-private #private-mark { color: rgb(145,65,172); }\n";
    css += themedBezelButtonCss(".qv-tab-item button.qv-tab-close", dark) + "\n";
    css += ".qv-tab-item.qv-drop-target { border: 1.5px solid " + accent + "; }\n";
    css += ".qv-tab-title, .qv-tab-title label { font-size: 12px; padding: 0 4px; min-height: 0;"
           " color: "
        + cssColor(c.text) + "; }\n";
    css += ".qv-tab-item.selected .qv-tab-title, .qv-tab-item.selected .qv-tab-title label {"
           " font-weight: 600; color: "
        + accentText + "; }\n";
    css += ".qv-drop-indicator { background: white; border-radius: 3px; box-shadow: 0 0 7px "
        + accent + "; }\n";
    if (!m_themeCss) {
        m_themeCss = Gtk::CssProvider::create();
        if (auto display = Gdk::Display::get_default())
            Gtk::StyleContext::add_provider_for_display(display, m_themeCss,
                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    m_themeCss->load_from_data(css);
}

void Shell::applyTheme()
{
    bool dark = darkMode();
    // GTK's dark preference themes every window and the pages' colour-scheme preference.
    // Setting it reloads the toolkit's theme even when the value stays the same.
    auto settings = Gtk::Settings::get_default();
    if (settings && settings->property_gtk_application_prefer_dark_theme().get_value() != dark)
        settings->property_gtk_application_prefer_dark_theme() = dark;
    RGB tint = iconTintForTheme(dark);
    for (Gtk::Window* window : m_application->get_windows()) {
        tintIconButtons(*window, tint);
        markWindowTheme(*window, dark);
    }
    applyWindowCss();
    if (m_window)
        m_window->restyleForTheme(dark);
}

std::vector<Gtk::Window*> Shell::auxiliaryWindows() const
{
    std::vector<AuxiliaryWindow*> ordered = m_auxiliaryWindows;
    std::stable_sort(ordered.begin(), ordered.end(),
        [](const AuxiliaryWindow* a, const AuxiliaryWindow* b) { return a->kind() < b->kind(); });
    return { ordered.begin(), ordered.end() };
}

AuxiliaryWindow* Shell::auxiliaryWindow(AuxiliaryWindowKind kind) const
{
    for (AuxiliaryWindow* window : m_auxiliaryWindows) {
        if (window->kind() == kind)
            return window;
    }
    return nullptr;
}

void Shell::addAuxiliaryWindow(AuxiliaryWindow& window) { m_auxiliaryWindows.push_back(&window); }

void Shell::removeAuxiliaryWindow(AuxiliaryWindow& window)
{
    std::erase(m_auxiliaryWindows, &window);
}

void Shell::closeBrowserWindowWithoutAsking()
{
    if (!m_window)
        return;
    m_closingWithoutAsking = true;
    m_window->close();
    m_closingWithoutAsking = false;
}

bool Shell::windowShouldClose(Gtk::Window& window)
{
    if (&window == m_window) {
        if (!m_closingWithoutAsking && m_browserWindowCloseGuard && !m_browserWindowCloseGuard())
            return false;
        m_closingApplication = true;
        for (Gtk::Window* aux : auxiliaryWindows())
            aux->close();
        return true;
    }
    auto it = std::find(m_auxiliaryWindows.begin(), m_auxiliaryWindows.end(), &window);
    if (it != m_auxiliaryWindows.end()) {
        if (m_closingApplication)
            return true;
        if (!(*it)->mayCloseNow())
            return false;
        window.set_visible(false);
        (*it)->closedByUser();
        return false;
    }
    return true;
}

void Shell::windowWillClose(Gtk::Window& window)
{
    if (&window != m_window)
        return;
    for (Gtk::Window* aux : auxiliaryWindows())
        aux->set_visible(false);
    m_browserWindowWillClose.emit();
}

void Shell::windowDidBecomeKey(Gtk::Window& window)
{
    bool dark = darkMode();
    tintIconButtons(window, iconTintForTheme(dark));
    if (&window == m_window)
        m_window->applyTheme(dark);
}

void Shell::connectWindowCallbacks(Gtk::Window& window)
{
    window.signal_close_request().connect(
        [this, &window] {
            bool allow = windowShouldClose(window);
            if (allow)
                windowWillClose(window);
            return !allow;
        },
        false);
    window.property_is_active().signal_changed().connect([this, &window] {
        if (window.is_active())
            windowDidBecomeKey(window);
    });
}

} // namespace qv

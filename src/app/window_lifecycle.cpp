// Window close rules and what happens when a window becomes key.
#include "app/browser_controller.h"

#include "app/view_helpers.h"

namespace qv {

std::vector<Gtk::Window*> BrowserController::auxiliaryWindows() const
{
    // Filled in as each auxiliary window comes to exist, in their fixed order.
    std::vector<Gtk::Window*> windows;
    if (m_extensionManagerWindow)
        windows.push_back(m_extensionManagerWindow.get());
    return windows;
}

bool BrowserController::windowShouldClose(Gtk::Window& window)
{
    if (&window == m_window.get()) {
        m_closingApplication = true;
        for (Gtk::Window* aux : auxiliaryWindows())
            aux->close();
        return true;
    }
    auto aux = auxiliaryWindows();
    if (std::find(aux.begin(), aux.end(), &window) != aux.end()) {
        if (m_closingApplication)
            return true;
        window.set_visible(false);
        return false;
    }
    return true;
}

void BrowserController::windowWillClose(Gtk::Window& window)
{
    if (&window != m_window.get())
        return;
    for (Gtk::Window* aux : auxiliaryWindows())
        aux->set_visible(false);
    m_scrollTabIdle.disconnect();
    m_tabDropFadeTimer.disconnect();
    for (auto& tab : m_browserTabs) {
        if (tab.webView)
            detachWebView(tab.webView.get());
    }
}

void BrowserController::windowDidBecomeKey(Gtk::Window& window)
{
    bool dark = darkMode();
    tintIconButtons(window, iconTintForTheme(dark));
    if (&window == m_window.get() && m_browserToolbar) {
        for (Gtk::Widget* child = m_browserToolbar->get_first_child(); child;
             child = child->get_next_sibling()) {
            if (auto* button = dynamic_cast<Gtk::Button*>(child))
                styleMainToolbarButton(*button, dark);
        }
    }
}

void BrowserController::adoptAuxiliaryWindow(Gtk::Window& window)
{
    m_application->add_window(window);
    window.set_hide_on_close(true);
    connectWindowCallbacks(window);
}

void BrowserController::connectWindowCallbacks(Gtk::Window& window)
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

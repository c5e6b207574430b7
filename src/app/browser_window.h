// The browser window's widgets: the tab strip row, the toolbar with the address capsule, and
// the content area holding the selected tab's web view.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>

namespace qv {

class AddressSuggestions;
class BrowserController;
class DownloadBar;
class FindBar;
class SiteWarningBar;
class TabStripView;
class UnresponsivePageBar;

class BrowserWindow : public Gtk::ApplicationWindow {
public:
    BrowserWindow(BrowserController& controller, const Glib::RefPtr<Gtk::Application>& app);
    ~BrowserWindow() override;

    // A page's element in full screen hides the strip and the toolbar; an extension may hide
    // either for good. Each flag given is set; the toolbar's top margin follows the strip.
    // A bar of another part of the browser, shown between the toolbar and the page.
    void addBarUnderToolbar(Gtk::Widget& bar);
    void setElementFullscreen(bool fullscreen);
    void setExtensionChromeVisibility(std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible);
    bool elementFullscreen() const { return m_elementFullscreen; }
    bool extensionTabsVisible() const { return m_extensionTabsVisible; }
    bool extensionToolbarVisible() const { return m_extensionToolbarVisible; }
    // Puts the web view in the content area in place of whatever was there.
    void showInContent(Gtk::Widget& webView);
    // Restyles the toolbar's buttons and the theme toggle for the theme.
    void applyTheme(bool dark);
    // A theme change: the toolbar as above, and the strip's items made again in the new style.
    void restyleForTheme(bool dark);

    TabStripView& tabStrip() { return *m_tabStrip; }
    FindBar& findBar() { return *m_findBar; }
    DownloadBar& downloadBar() { return *m_downloadBar; }
    UnresponsivePageBar& unresponsivePageBar() { return *m_unresponsivePageBar; }
    SiteWarningBar& siteWarningBar() { return *m_siteWarningBar; }
    // The selected page's security mark at the start of the address capsule.
    Gtk::Image& securityIcon() { return *m_securityIcon; }
    Gtk::Entry& requestField() { return *m_requestField; }
    AddressSuggestions& addressSuggestions() { return *m_addressSuggestions; }
    Gtk::Box& browserToolbar() { return *m_browserToolbar; }
    Gtk::Button& backButton() { return *m_backButton; }
    Gtk::Button& forwardButton() { return *m_forwardButton; }
    Gtk::ToggleButton& darkModeButton() { return m_darkModeButton; }

private:
    void applyChromeVisibility();
    Gtk::Button* makeToolbarButton(const char* symbol, const char* title, const char* identifier,
        const std::function<void()>& action);

    BrowserController& m_controller;
    TabStripView* m_tabStrip = nullptr;
    Gtk::Entry* m_requestField = nullptr;
    std::unique_ptr<AddressSuggestions> m_addressSuggestions;
    Gtk::Box* m_browserToolbar = nullptr;
    Gtk::Revealer* m_toolbarRevealer = nullptr;
    FindBar* m_findBar = nullptr;
    DownloadBar* m_downloadBar = nullptr;
    UnresponsivePageBar* m_unresponsivePageBar = nullptr;
    SiteWarningBar* m_siteWarningBar = nullptr;
    Gtk::Image* m_securityIcon = nullptr;
    Gtk::Box* m_webContentView = nullptr;
    Gtk::Button* m_backButton = nullptr;
    Gtk::Button* m_forwardButton = nullptr;
    bool m_elementFullscreen = false;
    bool m_extensionTabsVisible = true;
    bool m_extensionToolbarVisible = true;
    // The theme toggle lives in the Settings window, not in this one.
    Gtk::ToggleButton m_darkModeButton;
};

} // namespace qv

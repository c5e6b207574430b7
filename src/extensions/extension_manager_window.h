// The extension manager window: the list of extensions, the page area and the settings page.
#pragma once

#include "app/auxiliary_window.h"
#include "extensions/extension_manifest.h"

#include <functional>
#include <string>

namespace qv {

class ExtensionService;
class Shell;

class ExtensionListStackView;
class ExtensionDropView;

class ExtensionManagerWindow : public AuxiliaryWindow {
public:
    // `showSource` shows the selected extension's files.
    ExtensionManagerWindow(
        Shell& shell, ExtensionService& extensions, std::function<void()> showSource);

    // Rebuilds the list from the controller's extensions, then shows the selected one.
    void refresh();
    // Shows the selected extension's page, its settings page or the empty state.
    void displaySelectedExtension();

    Gtk::Box* listStack() const;
    Gtk::Box* pageContainer() const { return m_pageContainer; }
    Gtk::Label* pageTitle() const { return m_pageTitle; }
    Gtk::Label* pageHint() const { return m_pageHint; }
    Gtk::Button* settingsButton() const { return m_settingsButton; }
    ExtensionDropView* dropView() const { return m_dropView; }

private:
    Gtk::Widget* makePanel();
    Gtk::Widget* makeSettingsPage(const ExtensionID& id, const ExtensionRecord& record);
    Gtk::Widget* makeRow(const ExtensionID& id, const ExtensionRecord& record);

    ExtensionListStackView* m_listStack = nullptr;
    Gtk::Box* m_pageContainer = nullptr;
    Gtk::Label* m_pageTitle = nullptr;
    Gtk::Label* m_pageHint = nullptr;
    Gtk::Button* m_settingsButton = nullptr;
    ExtensionDropView* m_dropView = nullptr;
    ExtensionService& m_extensions;
    std::function<void()> m_showSource;
};

} // namespace qv

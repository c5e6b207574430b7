// What every part of the browser shares: the application, its defaults and theme, the file
// writer, the common failure report, the browser window and the close rules of all windows.
#pragma once

#include "app/auxiliary_window.h"
#include "base/file_writer.h"
#include "base/json_text.h"
#include "base/user_defaults.h"

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class BrowserWindow;

class Shell : public sigc::trackable {
public:
    explicit Shell(Glib::RefPtr<Gtk::Application> application);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    const Glib::RefPtr<Gtk::Application>& application() const { return m_application; }
    UserDefaults& defaults() { return *m_defaults; }
    // Stores a defaults value, whoever sets it. A failed write keeps the value for this run;
    // the first failure of each key is reported with showError, later ones are logged.
    void setDefaultsValue(std::string_view key, Json value);
    // The common failure report: logged, then a modal alert "Quivel Browser" with "OK".
    void showError(const std::string& message);
    FileWriter& fileWriter() { return *m_fileWriter; }
    // Waits until everything handed to the file writer is on disk: only for quitting (and tests).
    void flushFiles();

    // The browser window once it is made; its owner says when it comes and goes.
    BrowserWindow* window() const { return m_window; }
    void setWindow(BrowserWindow* window);

    bool darkMode() const;
    // Stores the theme and applies it to every window; the toggle and extensions both use it.
    void setDarkMode(bool dark);
    // Follows the browser window's theme toggle.
    void toggleDarkMode();
    void applyTheme();

    // The auxiliary windows made so far, in their fixed order.
    std::vector<Gtk::Window*> auxiliaryWindows() const;
    // The auxiliary window of that kind, once it has been made.
    AuxiliaryWindow* auxiliaryWindow(AuxiliaryWindowKind kind) const;
    // Auxiliary windows join and leave the list themselves.
    void addAuxiliaryWindow(AuxiliaryWindow& window);
    void removeAuxiliaryWindow(AuxiliaryWindow& window);
    // Routes the window's close request and key changes to the close rules.
    void connectWindowCallbacks(Gtk::Window& window);
    bool closingApplication() const { return m_closingApplication; }
    // Asked before the browser window closes: true lets it close now; false keeps it open while
    // the pages are asked, and the guard closes the window again once they all agree.
    void setBrowserWindowCloseGuard(std::function<bool()> guard) { m_browserWindowCloseGuard = std::move(guard); }
    // Closes the browser window without asking its pages: the browser's own closes.
    void closeBrowserWindowWithoutAsking();
    // The browser window is closing: the tabs let their views go.
    sigc::signal<void()>& signalBrowserWindowWillClose() { return m_browserWindowWillClose; }

private:
    bool windowShouldClose(Gtk::Window& window);
    void windowWillClose(Gtk::Window& window);
    void windowDidBecomeKey(Gtk::Window& window);
    void applyWindowCss();
    void defaultsWriteFailed(const std::string& message);

    Glib::RefPtr<Gtk::Application> m_application;
    std::unique_ptr<UserDefaults> m_defaults;
    // Made before the stores that hand it their files and gone after them, so its destruction
    // writes what they left pending.
    std::unique_ptr<FileWriter> m_fileWriter = std::make_unique<FileWriter>();
    std::set<std::string, std::less<>> m_defaultsWriteFailuresReported;
    // Reports from the writer's thread reach the shell only while this is set.
    std::shared_ptr<char> m_alive = std::make_shared<char>(0);
    BrowserWindow* m_window = nullptr;
    std::vector<AuxiliaryWindow*> m_auxiliaryWindows;
    bool m_closingApplication = false;
    std::function<bool()> m_browserWindowCloseGuard;
    bool m_closingWithoutAsking = false;
    Glib::RefPtr<Gtk::CssProvider> m_themeCss;
    sigc::signal<void()> m_browserWindowWillClose;
};

} // namespace qv

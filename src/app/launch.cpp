// The launch sequence, the controller's birth and the common failure report.
#include "app/browser_controller.h"

#include "app/browser_window.h"
#include "app/web_views.h"
#include "devtools/page_source_window.h"
#include "extensions/extension_manager_window.h"
#include "tabs/tab_strip_view.h"

#include "platform/alerts.h"
#include "platform/log.h"
#include "platform/storage_locations.h"

namespace qv {

BrowserController::BrowserController(Glib::RefPtr<Gtk::Application> application)
    : m_application(std::move(application))
    , m_defaults(std::make_unique<UserDefaults>(defaultsFileURL()))
{
    if (m_defaults->loadProblem())
        logLine(*m_defaults->loadProblem());
}

BrowserController::~BrowserController()
{
    if (m_window)
        m_window->tabStrip().cancelPendingWork();
    stopAllExtensionWebViews();
    for (auto& tab : m_browserTabs)
        releaseWebView(tab.webView, this);
    m_browserTabs.clear();
}

void BrowserController::applicationDidFinishLaunching()
{
    if (m_window)
        return;
    loadHistory();
    loadProfiles();
    loadDownloads();
    if (!m_extensionsLoaded)
        loadExtensions();
    createWindow();
}

void BrowserController::showError(const std::string& message)
{
    logLine(message);
    runModalAlert(m_window ? GTK_WINDOW(m_window->gobj()) : nullptr,
        { "Quivel Browser", message, { "OK" } });
}

void BrowserController::setDefaultsValue(std::string_view key, Json value)
{
    auto saved = m_defaults->setObject(key, std::move(value));
    if (saved)
        return;
    // One alert per key and run: a disk that refuses every write must not bury the user.
    if (m_defaultsWriteFailuresReported.insert(std::string(key)).second)
        showError(saved.error());
    else
        logLine(saved.error());
}

int runBrowser(int argc, char** argv)
{
    auto application = Gtk::Application::create("org.quivel.Browser",
        Gio::Application::Flags::NON_UNIQUE);
    BrowserController controller(application);
    // Registering runs the toolkit's start-up, so extension web views can be made before the
    // menu exists and before launching finishes.
    application->register_application();
    controller.loadExtensions();
    controller.installMainMenu();
    application->signal_activate().connect(
        [&controller] { controller.applicationDidFinishLaunching(); });
    return application->run(argc, argv);
}

} // namespace qv

// The launch sequence, the controller's birth and the common failure report.
#include "app/browser_controller.h"
#include "app/run_browser.h"
#include "bookmarks/bookmark_service.h"
#include "contentblocking/content_blocking_service.h"
#include "app/shell.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "permissions/permission_service.h"
#include "profiles/profile_service.h"
#include "session/session_service.h"
#include "suggestions/suggestion_service.h"
#include "tabs/tab_service.h"

#include "app/browser_window.h"
#include "app/web_views.h"
#include "app/settings_window.h"
#include "downloads/downloads_window.h"
#include "devtools/script_console_window.h"
#include "devtools/page_source_window.h"
#include "extensions/extension_manager_window.h"
#include "extensions/extension_source_window.h"
#include "history/history_window.h"
#include "tabs/activity_window.h"
#include "profiles/profiles_window.h"
#include "tabs/tab_strip_view.h"

#include "platform/address_probe.h"
#include "platform/alerts.h"
#include "platform/log.h"
#include "platform/renderer_choice.h"
#include "platform/storage_locations.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace qv {

BrowserController::BrowserController(Glib::RefPtr<Gtk::Application> application)
    : m_shell(std::make_unique<Shell>(std::move(application)))
{
    m_services.shell = m_shell.get();
    m_history = std::make_unique<HistoryService>(m_services);
    m_services.history = m_history.get();
    m_bookmarks = std::make_unique<BookmarkService>(m_services);
    m_services.bookmarks = m_bookmarks.get();
    m_profiles = std::make_unique<ProfileService>(m_services);
    m_services.profiles = m_profiles.get();
    m_extensions = std::make_unique<ExtensionService>(m_services);
    m_services.extensions = m_extensions.get();
    m_extensions->signalManagerNeeded().connect([this] { showExtensionManager(); });
    m_downloads = std::make_unique<DownloadService>(m_services);
    m_services.downloads = m_downloads.get();
    m_downloads->signalShowDownloadsRequested().connect([this] { showDownloads(); });
    m_tabs = std::make_unique<TabService>(m_services);
    m_services.tabs = m_tabs.get();
    m_navigation = std::make_unique<NavigationService>(m_services);
    m_services.navigation = m_navigation.get();
    m_suggestions = std::make_unique<SuggestionService>(m_services);
    m_services.suggestions = m_suggestions.get();
    m_suggestions->start();
    m_contentBlocking = std::make_unique<ContentBlockingService>(m_services);
    m_services.contentBlocking = m_contentBlocking.get();
    m_contentBlocking->start();
    m_permissions = std::make_unique<PermissionService>(m_services);
    m_services.permissions = m_permissions.get();
    m_devtools = std::make_unique<DevToolsService>(m_services);
    m_services.devtools = m_devtools.get();
    m_session = std::make_unique<SessionService>(m_services);
    m_services.session = m_session.get();

    // A tab's view is followed by navigation, the chrome and downloads from birth to release.
    m_tabs->signalWebViewCreated().connect([this](WebKitWebView* view) {
        m_navigation->watchWebView(view);
        m_permissions->watchWebView(view);
        connectWebViewSignals(view);
    });
    m_tabs->signalWebViewReleasing().connect([this](WebKitWebView* view) {
        m_navigation->unwatchWebView(view);
        m_permissions->unwatchWebView(view);
        disconnectWebViewSignals(view);
    });
    m_tabs->signalSelectionLeaving().connect([this] { leaveElementFullscreenIfNeeded(); });
    m_tabs->signalSelectedViewShown().connect(sigc::mem_fun(*this, &BrowserController::selectedViewShown));
    m_tabs->signalSelectedViewShown().connect(
        sigc::mem_fun(*m_permissions, &PermissionService::selectedViewShown));
    // Closing the browser window lets the tabs' views go.
    m_shell->signalBrowserWindowWillClose().connect([this] {
        if (m_window)
            m_window->tabStrip().cancelPendingWork();
        // The session as the window leaves it, while the tabs still have their views.
        m_session->saveFinalSession();
        m_tabs->detachAllWebViews();
    });
    m_shell->setBrowserWindowCloseGuard([this] { return browserWindowMayClose(); });
    // "tab.json" follows the tab list; the strip and the activity window follow it themselves.
    m_tabs->tabList().signalChanged().connect(sigc::mem_fun(*m_tabs, &TabService::saveTabsSnapshot));
    m_tabs->tabList().signalChanged().connect(sigc::mem_fun(*m_session, &SessionService::scheduleSave));
    m_tabs->tabList().signalChanged().connect(
        sigc::mem_fun(*m_profiles, &ProfileService::forgetPrivateProfilesWithoutTabs));
}

BrowserController::~BrowserController()
{
    // What the stores handed the writer reaches the disk before anything else is torn down;
    // failures found now have nobody left to show them to.
    m_lifetime.end();
    // Letting the tabs go is no change to show or save.
    m_tabs->tabList().signalChanged().clear();
    m_session->saveFinalSession();
    m_shell->flushFiles();
    m_session->quitNormally();
    if (m_window)
        m_window->tabStrip().cancelPendingWork();
    m_extensions->stopAllExtensionWebViews();
    m_tabs->releaseAllTabs();
}

bool BrowserController::browserWindowMayClose()
{
    if (std::exchange(m_pagesAgreedToCloseWindow, false))
        return true;
    m_tabs->askPagesBeforeClosingAll([this] {
        m_pagesAgreedToCloseWindow = true;
        if (m_window && m_window->get_visible())
            m_window->close();
        m_pagesAgreedToCloseWindow = false;
    });
    return false;
}

void BrowserController::quitWhenPagesAgree()
{
    m_tabs->askPagesBeforeClosingAll([this] { m_shell->application()->quit(); });
}

void BrowserController::applicationDidFinishLaunching()
{
    if (m_window)
        return;
    m_history->locateHistory();
    m_bookmarks->readBookmarks();
    m_profiles->loadProfiles();
    m_downloads->loadDownloads();
    if (!m_extensions->extensionsLoaded())
        m_extensions->loadExtensions();
    createWindow();
    m_session->readLastSession([this] { lastSessionKnown(); });
    m_history->readHistoryAfterFirstFrame();
}

namespace {

#ifndef QV_VERSION
#define QV_VERSION "0"
#endif

    // Without a bus address, a bus socket in the runtime folder or dbus-launch to start one,
    // registering can only fail, and trying costs a spawn.
    bool sessionBusReachable()
    {
        if (g_getenv("DBUS_SESSION_BUS_ADDRESS"))
            return true;
        if (const char* runtime = g_getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
            std::error_code ec;
            if (std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec))
                return true;
        }
        return !Glib::find_program_in_path("dbus-launch").empty();
    }

    bool nonUniqueRequested()
    {
        const char* value = g_getenv("QV_NON_UNIQUE");
        return value && std::string_view(value) == "1";
    }

    std::vector<std::string> commandLineArguments(
        const Glib::RefPtr<Gio::ApplicationCommandLine>& line)
    {
        std::vector<std::string> argv;
        int argc = 0;
        char** raw = line->get_arguments(argc);
        for (int i = 0; i < argc; ++i)
            argv.emplace_back(raw[i] ? raw[i] : "");
        g_strfreev(raw);
        return argv;
    }

} // namespace

int runBrowser(int argc, char** argv)
{
    // Help, version and mistakes are answered here, before anything reaches a running browser.
    auto request
        = parseCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    if (!request) {
        std::cerr << "quivel-browser: " << request.error() << "\n"
                  << "Try 'quivel-browser --help' for more information.\n";
        return 2;
    }
    if (request->help) {
        std::cout << commandLineUsage();
        return 0;
    }
    if (request->version) {
        std::cout << versionText(QV_VERSION);
        return 0;
    }

    chooseRendererForMachine();
    ensureUserRuntimeDirectory();

    // One browser per user: a later launch hands its command line to the running one over the
    // session bus. Without a bus the application runs on its own.
    auto flags
        = Gio::Application::Flags::HANDLES_COMMAND_LINE | Gio::Application::Flags::HANDLES_OPEN;
    if (request->newInstance || nonUniqueRequested())
        flags |= Gio::Application::Flags::NON_UNIQUE;
    if (!sessionBusReachable()) {
        logLine("No session bus: this browser runs on its own");
        flags |= Gio::Application::Flags::NON_UNIQUE;
        // Each failed look-up of the bus would spawn dbus-launch again (the registration, every
        // window's accessibility, the engine's processes); an unusable address fails at once.
        g_setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", TRUE);
    }
    auto application = Gtk::Application::create("org.quivel.Browser", flags);
    // Nothing of ours lives under a resource path. Without one, the toolkit's start-up does not
    // add an icon folder to the theme, so the theme it began reading on a worker thread stays
    // valid, instead of being read again on this thread by the first toolbar button.
    application->unset_resource_base_path();
    // Registering runs the toolkit's start-up, so extension web views can be made before the
    // menu exists and before launching finishes; in a later launch it finds the running one.
    try {
        application->register_application();
    } catch (const Glib::Error& error) {
        logLine("Could not register with the session bus: " + std::string(error.what()));
        application = Gtk::Application::create(
            "org.quivel.Browser", flags | Gio::Application::Flags::NON_UNIQUE);
        application->register_application();
    }
    if (application->is_remote())
        return application->run(argc, argv);

    Gtk::Window::set_default_icon_name("org.quivel.Browser");
    BrowserController controller(application);
    controller.extensions().loadExtensions();
    controller.installMainMenu();
    application->signal_command_line().connect(
        [&controller](const Glib::RefPtr<Gio::ApplicationCommandLine>& line) {
            std::string cwd = line->get_cwd();
            return controller.handleCommandLine(commandLineArguments(line), cwd);
        },
        false);
    // Files and addresses another program asks the running browser to open.
    application->signal_open().connect(
        [&controller](const Gio::Application::type_vec_files& files, const Glib::ustring&) {
            std::vector<std::string> argv = { "quivel-browser", "--" };
            for (const auto& file : files)
                argv.push_back(file->get_uri());
            controller.handleCommandLine(argv, {});
        },
        false);
    application->signal_activate().connect(
        [&controller] { controller.handleCommandLine({ "quivel-browser" }, {}); });
    // However the application ends, the files pending in the writer are written first.
    application->signal_shutdown().connect([&controller] { controller.shell().flushFiles(); });
    return application->run(argc, argv);
}

} // namespace qv

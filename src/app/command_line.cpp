// The command line: the first tabs of a launch, and addresses a later launch hands over.
#include "app/browser_controller.h"
#include "session/session_service.h"
#include "app/shell.h"
#include "devtools/devtools_service.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"

#include "app/browser_window.h"
#include "app/web_views.h"
#include "navigation/address_resolution.h"

namespace qv {

namespace {

bool pathExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

} // namespace

int BrowserController::handleCommandLine(
    const std::vector<std::string>& argv, const std::filesystem::path& workingDirectory)
{
    std::vector<std::string> arguments;
    if (argv.size() > 1)
        arguments.assign(argv.begin() + 1, argv.end());
    auto request = parseCommandLine(arguments);
    if (!request)
        return 2;
    std::vector<LaunchAddress> addresses;
    for (const std::string& argument : request->addresses) {
        if (auto address = launchAddressFor(argument, workingDirectory.string(), pathExists))
            addresses.push_back(*address);
    }
    if (!m_window) {
        m_launchAddresses = std::move(addresses);
        applicationDidFinishLaunching();
        m_launchAddresses.clear();
        return 0;
    }
    if (m_shell->closingApplication())
        return 0;
    if (addresses.empty() && request->newTab)
        m_tabs->createNewTab();
    else
        openLaunchAddresses(addresses);
    m_window->present();
    return 0;
}

void BrowserController::openFirstTabs()
{
    // Restoring waits for the last session to be read; the window is up meanwhile.
    if (m_shell->defaults().boolForKey(kRestoreSessionOnLaunchKey))
        return;
    if (m_launchAddresses.empty())
        m_tabs->createBrowserTabWithURL(m_profiles->homePageURLForProfile(m_profiles->currentProfile()));
    else
        openLaunchAddresses(m_launchAddresses);
}

void BrowserController::lastSessionKnown()
{
    if (!m_window)
        return;
    if (m_shell->defaults().boolForKey(kRestoreSessionOnLaunchKey)) {
        bool restored = m_session->restorePreviousSession();
        if (!m_launchAddresses.empty())
            openLaunchAddresses(m_launchAddresses);
        else if (!restored && m_tabs->browserTabs().empty())
            m_tabs->createBrowserTabWithURL(m_profiles->homePageURLForProfile(m_profiles->currentProfile()));
    }
    if (m_session->lastRunCrashed())
        m_session->offerRestoreAfterCrash();
}

void BrowserController::openLaunchAddresses(const std::vector<LaunchAddress>& addresses)
{
    if (!m_tabs->browserTabsCreated())
        return;
    for (const LaunchAddress& address : addresses) {
        if (address.kind == LaunchAddress::Kind::Typed) {
            m_navigation->resolveTypedAddressInTab(
                address.text, m_tabs->createBrowserTabWithURL(std::nullopt));
            continue;
        }
        TabID id = m_tabs->createBrowserTabWithURL(address.text);
        // The tab loads only web addresses itself; file addresses are loaded here.
        WebKitWebView* view = m_tabs->browserTabForID(id);
        if (view && !normalizedAddress(address.text))
            webkit_web_view_load_uri(view, address.text.c_str());
    }
}

} // namespace qv

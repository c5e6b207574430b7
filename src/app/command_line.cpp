// The command line: the first tabs of a launch, and addresses a later launch hands over.
#include "app/browser_controller.h"

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
        createNewTab();
    else
        openLaunchAddresses(addresses);
    m_window->present();
    return 0;
}

void BrowserController::openFirstTabs()
{
    if (m_launchAddresses.empty())
        createBrowserTabWithURL(m_profiles->homePageURLForProfile(m_profiles->currentProfile()));
    else
        openLaunchAddresses(m_launchAddresses);
}

void BrowserController::openLaunchAddresses(const std::vector<LaunchAddress>& addresses)
{
    if (!m_browserTabsCreated)
        return;
    for (const LaunchAddress& address : addresses) {
        if (address.kind == LaunchAddress::Kind::Typed) {
            resolveTypedAddressInTab(address.text, createBrowserTabWithURL(std::nullopt));
            continue;
        }
        TabID id = createBrowserTabWithURL(address.text);
        // The tab loads only web addresses itself; file addresses are loaded here.
        WebKitWebView* view = browserTabForID(id);
        if (view && !normalizedAddress(address.text))
            webkit_web_view_load_uri(view, address.text.c_str());
    }
}

void BrowserController::resolveTypedAddressInTab(const std::string& text, const TabID& tabID)
{
    RequestDecision decision = decideRequest(text, typedRequestContext(SubmitOrigin::User));
    if (browserTabForID(tabID) && browserTabForID(tabID) == m_webView)
        setAddressFieldText(decision.input);

    std::vector<std::string> candidates;
    switch (decision.kind) {
    case RequestKind::Ignore:
        return;
    case RequestKind::OpenFile:
        loadResolvedAddressInTab(decision.fileAddress, tabID);
        return;
    case RequestKind::Search:
        loadResolvedAddressInTab(m_profiles->searchURLForCurrentProfile(decision.input), tabID);
        return;
    case RequestKind::Probe:
        candidates = m_addressCandidateBuilder ? m_addressCandidateBuilder(decision.input)
                                               : decision.candidates;
        break;
    }
    if (candidates.empty()) {
        loadResolvedAddressInTab(m_profiles->searchURLForCurrentProfile(decision.input), tabID);
        return;
    }

    probeAddressCandidates(candidates, [this, query = decision.input, tabID](auto winner) {
        const Tab* tab = m_tabs.tabWithID(tabID);
        // Something was loaded in the tab meanwhile: that wins over the late answer.
        if (!tab || !webViewURI(tab->webView()).empty() || !tab->url().empty())
            return;
        loadResolvedAddressInTab(winner.value_or(searchURLForTab(tabID, query)), tabID);
    });
}

} // namespace qv

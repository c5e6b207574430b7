// The command line: the first tabs of a launch, and addresses a later launch hands over.
#include "app/browser_controller.h"
#include "app/browser_window.h"

#include "navigation/address_resolution.h"
#include "tabs/tab_model.h"

#include <memory>

namespace qv {

namespace {

    namespace fs = std::filesystem;

    constexpr auto kProbeTimeout = std::chrono::seconds(3);

    PathKind pathKindAt(const std::string& path)
    {
        std::error_code ec;
        fs::file_status status = fs::status(path, ec);
        if (ec || !fs::exists(status))
            return PathKind::None;
        return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
    }

    bool pathExists(const std::string& path) { return pathKindAt(path) != PathKind::None; }

    std::string homeDirectory()
    {
        const char* home = g_getenv("HOME");
        return home && *home ? home : g_get_home_dir();
    }

    // A launch address's probes: the tab's own, so several launch addresses resolve side by side.
    struct LaunchProbe {
        std::vector<std::string> candidates;
        std::vector<std::optional<int>> statuses;
        size_t outstanding = 0;
        std::string query;
        TabID tabID;
    };

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
    if (m_closingApplication)
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
        createBrowserTabWithURL(homePageURLForProfile(currentProfile()));
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
    RequestContext context;
    context.homeDirectory = homeDirectory();
    context.pathKind = pathKindAt;
    RequestDecision decision = decideRequest(text, context);
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
        loadResolvedAddressInTab(searchURLForCurrentProfile(decision.input), tabID);
        return;
    case RequestKind::Probe:
        candidates = m_addressCandidateBuilder ? m_addressCandidateBuilder(decision.input)
                                               : decision.candidates;
        break;
    }
    if (candidates.empty()) {
        loadResolvedAddressInTab(searchURLForCurrentProfile(decision.input), tabID);
        return;
    }

    auto probe = std::make_shared<LaunchProbe>();
    probe->candidates = candidates;
    probe->statuses.assign(candidates.size(), std::nullopt);
    probe->query = decision.input;
    probe->tabID = tabID;
    auto finish = [this, probe] {
        for (const BrowserTab& tab : m_browserTabs) {
            if (tab.id != probe->tabID)
                continue;
            // Something was loaded in the tab meanwhile: that wins over the late answer.
            const char* uri = tab.webView ? webkit_web_view_get_uri(tab.webView.get()) : nullptr;
            if ((uri && *uri) || !tab.url.empty())
                return;
            ProfileID profile
                = tab.profileID.empty() ? ProfileID(kDefaultProfileID) : tab.profileID;
            std::optional<std::string> winner
                = firstAnsweringCandidate(probe->candidates, probe->statuses);
            loadResolvedAddressInTab(
                winner.value_or(searchURLForProfile(profile, probe->query)), probe->tabID);
            return;
        }
    };
    if (!m_httpClient)
        m_httpClient = std::make_unique<HttpClient>();
    for (size_t i = 0; i < candidates.size(); ++i) {
        // The client never calls back once it is gone, and the controller owns it.
        bool sent = m_httpClient->head(
            candidates[i], kProbeTimeout, [probe, i, finish](std::optional<int> status) {
                probe->statuses[i] = status;
                if (--probe->outstanding == 0)
                    finish();
            });
        if (sent)
            ++probe->outstanding;
    }
    if (probe->outstanding == 0)
        Glib::signal_idle().connect_once(sigc::track_obj(finish, *this));
}

} // namespace qv

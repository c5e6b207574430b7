// Submitting the address field: file loads, searches, candidate probes; search and home pages.
#include "navigation/navigation_service.h"

#include "app/browser_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "base/text_util.h"
#include "base/url.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "platform/address_probe.h"
#include "profiles/profile_service.h"
#include "tabs/tab_model.h"
#include "tabs/tab_service.h"

#include <thread>

namespace qv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kInvalidURLMessage = "Could not create a valid URL for this input.";

// Static initialisation runs on the thread that starts the program.
const std::thread::id g_mainThread = std::this_thread::get_id();

PathKind pathKindAt(const std::string& path)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
        return PathKind::None;
    return fs::is_directory(status) ? PathKind::Folder : PathKind::File;
}

// An address a web view can be asked to load.
bool isLoadableURL(const std::string& address)
{
    auto parts = parseURL(address);
    return parts && !parts->scheme.empty();
}

} // namespace

void NavigationService::openRequest() { openRequest(SubmitOrigin::User); }

void NavigationService::submitAddressFieldFromExtension() { openRequest(SubmitOrigin::Extension); }

void NavigationService::openRequest(SubmitOrigin origin)
{
    std::string text = window() ? window()->requestField().get_text().raw() : std::string();
    m_addressFieldEditedByUser = false;
    m_services.extensions->emitExtensionEvent("addressBar.submitted", { { "text", text } });

    RequestDecision decision = decideRequest(text, typedRequestContext(origin));
    if (decision.kind == RequestKind::Ignore)
        return;
    uint64_t generation = ++m_addressLookupGeneration;

    switch (decision.kind) {
    case RequestKind::OpenFile:
        if (!m_services.tabs->selectedWebView())
            return;
        setAddressFieldText(decision.fileAddress);
        m_services.downloads->noteBrowserStartedLoad(m_services.tabs->selectedWebView());
        webkit_web_view_load_uri(m_services.tabs->selectedWebView(), decision.fileAddress.c_str());
        return;
    case RequestKind::Search:
        loadResolvedAddress(m_services.profiles->searchURLForCurrentProfile(decision.input));
        return;
    case RequestKind::Probe: {
        std::vector<std::string> candidates = candidatesFor(decision);
        if (candidates.empty())
            loadResolvedAddress(m_services.profiles->searchURLForCurrentProfile(decision.input));
        else
            resolveAddressCandidates(candidates, decision.input, generation);
        return;
    }
    case RequestKind::Ignore:
        return;
    }
}

std::vector<std::string> NavigationService::candidatesFor(const RequestDecision& decision) const
{
    return m_addressCandidateBuilder ? m_addressCandidateBuilder(decision.input)
                                     : decision.candidates;
}

RequestContext NavigationService::typedRequestContext(SubmitOrigin origin) const
{
    RequestContext context;
    if (const char* home = g_getenv("HOME"); home && *home)
        context.homeDirectory = home;
    else
        context.homeDirectory = g_get_home_dir();
    context.pathKind = pathKindAt;
    context.origin = origin;
    return context;
}

void NavigationService::probeAddressCandidates(const std::vector<std::string>& candidates,
    std::function<void(std::optional<std::string>)> decided)
{
    uint64_t key = ++m_addressProbeCount;
    // A settled probe has let go of this callback and touches nothing of its own after it.
    auto settled = [this, key, decided = std::move(decided)](std::optional<std::string> winner) {
        m_addressProbes.erase(key);
        decided(std::move(winner));
    };
    m_addressProbes[key]
        = std::make_unique<AddressProbe>(candidates, m_addressProbeTimeout, std::move(settled));
}

size_t NavigationService::pendingAddressProbes() const
{
    size_t pending = 0;
    for (const auto& [key, probe] : m_addressProbes)
        pending += probe->pendingCount();
    return pending;
}

std::string NavigationService::searchURLForTab(const TabID& tabID, const std::string& query) const
{
    ProfileID profile = m_services.profiles->currentProfile();
    if (const Tab* tab = m_services.tabs->tabList().tabWithID(tabID))
        profile = tab->profileID().empty() ? ProfileID(kDefaultProfileID) : tab->profileID();
    return m_services.profiles->searchURLForProfile(profile, query);
}

void NavigationService::resolveAddressCandidates(
    const std::vector<std::string>& candidates, const std::string& query, uint64_t generation)
{
    // The result belongs to the tab that was selected when the text was submitted.
    TabID tabID = m_services.tabs->tabIDForWebView(m_services.tabs->selectedWebView()).value_or("");
    probeAddressCandidates(candidates, [this, query, generation, tabID](auto winner) {
        if (generation != m_addressLookupGeneration)
            return;
        loadResolvedAddressInTab(winner.value_or(searchURLForTab(tabID, query)), tabID);
    });
}

void NavigationService::loadResolvedAddressInTab(const std::string& address, const TabID& tabID)
{
    Tab* tab = m_services.tabs->tabList().tabWithID(tabID);
    if (!tab)
        return;
    if (!isLoadableURL(address)) {
        m_services.shell->showError(kInvalidURLMessage);
        return;
    }
    if (!tab->webView()) {
        // A lazy tab left while probing loads the result when it is selected again.
        tab->setURL(address);
        return;
    }
    if (tab->webView() == m_services.tabs->selectedWebView())
        setAddressFieldText(address);
    m_services.downloads->noteBrowserStartedLoad(tab->webView());
    webkit_web_view_load_uri(tab->webView(), address.c_str());
}

void NavigationService::loadResolvedAddress(const std::optional<std::string>& address)
{
    if (!address || !isLoadableURL(*address)) {
        m_services.shell->showError(kInvalidURLMessage);
        return;
    }
    if (!m_services.tabs->selectedWebView())
        return;
    setAddressFieldText(*address);
    m_services.downloads->noteBrowserStartedLoad(m_services.tabs->selectedWebView());
    webkit_web_view_load_uri(m_services.tabs->selectedWebView(), address->c_str());
}

void NavigationService::updateAddressFieldForURL(const std::string& url)
{
    if (url.empty())
        return;
    // What the user is typing is never replaced by the page's own progress (a failing or slow
    // load in the tab); their text stays until they submit it or leave the field.
    auto update = [this, url] {
        updateSecurityIndicator();
        if (m_addressFieldEditedByUser && window()) {
            // The keyboard focus is on the field's text widget inside it.
            Gtk::Widget* focus = window()->get_focus();
            Gtk::Widget& field = window()->requestField();
            if (focus && (focus == &field || focus->is_ancestor(field)))
                return;
        }
        setAddressFieldText(url);
    };
    if (std::this_thread::get_id() == g_mainThread) {
        update();
        return;
    }
    Glib::MainContext::get_default()->invoke(sigc::track_obj(
        [update] {
            update();
            return false;
        },
        *this));
}

void NavigationService::setAddressFieldText(const std::string& text)
{
    if (!window())
        return;
    // The same text again would still redraw the field, on every step of every load.
    Gtk::Entry& field = window()->requestField();
    if (field.get_text().raw() != text) {
        ++m_programmaticAddressEdits;
        field.set_text(text);
        --m_programmaticAddressEdits;
    }
    m_addressFieldEditedByUser = false;
}

void NavigationService::showTextInAddressField(const std::string& text)
{
    if (!window())
        return;
    ++m_programmaticAddressEdits;
    window()->requestField().set_text(text);
    --m_programmaticAddressEdits;
}

void NavigationService::controlTextDidChange()
{
    if (!window() || m_programmaticAddressEdits > 0)
        return;
    m_addressFieldEditedByUser = true;
    std::string text = window()->requestField().get_text().raw();
    m_services.extensions->emitExtensionEvent("addressBar.changed", { { "text", text } });
    if (text.empty() || text.back() != '#')
        return;
    // Changing the text from inside its own change signal is left to the next turn.
    Glib::signal_idle().connect_once(sigc::track_obj(
        [this, text] {
            if (!window() || window()->requestField().get_text().raw() != text)
                return;
            setAddressFieldText(text.substr(0, text.size() - 1));
            openRequest();
        },
        *this));
}

void NavigationService::resolveTypedAddressInTab(const std::string& text, const TabID& tabID)
{
    RequestDecision decision = decideRequest(text, typedRequestContext(SubmitOrigin::User));
    if (m_services.tabs->browserTabForID(tabID) && m_services.tabs->browserTabForID(tabID) == m_services.tabs->selectedWebView())
        setAddressFieldText(decision.input);

    std::vector<std::string> candidates;
    switch (decision.kind) {
    case RequestKind::Ignore:
        return;
    case RequestKind::OpenFile:
        loadResolvedAddressInTab(decision.fileAddress, tabID);
        return;
    case RequestKind::Search:
        loadResolvedAddressInTab(m_services.profiles->searchURLForCurrentProfile(decision.input), tabID);
        return;
    case RequestKind::Probe:
        candidates = candidatesFor(decision);
        break;
    }
    if (candidates.empty()) {
        loadResolvedAddressInTab(m_services.profiles->searchURLForCurrentProfile(decision.input), tabID);
        return;
    }

    probeAddressCandidates(candidates, [this, query = decision.input, tabID](auto winner) {
        const Tab* tab = m_services.tabs->tabList().tabWithID(tabID);
        // Something was loaded in the tab meanwhile: that wins over the late answer.
        if (!tab || !webViewURI(tab->webView()).empty() || !tab->url().empty())
            return;
        loadResolvedAddressInTab(winner.value_or(searchURLForTab(tabID, query)), tabID);
    });
}

} // namespace qv

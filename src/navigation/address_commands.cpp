// Submitting the address field: file loads, searches, candidate probes; search and home pages.
#include "app/browser_controller.h"

#include "app/browser_window.h"

#include "base/text_util.h"
#include "base/url.h"
#include "platform/address_probe.h"
#include "tabs/tab_model.h"

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

std::string BrowserController::normalizedAddressForTab(const std::string& address) const
{
    return normalizedAddress(address).value_or("");
}

void BrowserController::openRequest() { openRequest(SubmitOrigin::User); }

void BrowserController::submitAddressFieldFromExtension() { openRequest(SubmitOrigin::Extension); }

void BrowserController::openRequest(SubmitOrigin origin)
{
    std::string text = m_window ? m_window->requestField().get_text().raw() : std::string();
    m_addressFieldEditedByUser = false;
    m_extensions->emitExtensionEvent("addressBar.submitted", { { "text", text } });

    RequestDecision decision = decideRequest(text, typedRequestContext(origin));
    if (decision.kind == RequestKind::Ignore)
        return;
    uint64_t generation = ++m_addressLookupGeneration;

    switch (decision.kind) {
    case RequestKind::OpenFile:
        if (!m_webView)
            return;
        setAddressFieldText(decision.fileAddress);
        m_downloads->noteBrowserStartedLoad(m_webView);
        webkit_web_view_load_uri(m_webView, decision.fileAddress.c_str());
        return;
    case RequestKind::Search:
        loadResolvedAddress(m_profiles->searchURLForCurrentProfile(decision.input));
        return;
    case RequestKind::Probe: {
        std::vector<std::string> candidates = m_addressCandidateBuilder
            ? m_addressCandidateBuilder(decision.input)
            : decision.candidates;
        if (candidates.empty())
            loadResolvedAddress(m_profiles->searchURLForCurrentProfile(decision.input));
        else
            resolveAddressCandidates(candidates, decision.input, generation);
        return;
    }
    case RequestKind::Ignore:
        return;
    }
}

RequestContext BrowserController::typedRequestContext(SubmitOrigin origin) const
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

void BrowserController::probeAddressCandidates(const std::vector<std::string>& candidates,
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

size_t BrowserController::pendingAddressProbes() const
{
    size_t pending = 0;
    for (const auto& [key, probe] : m_addressProbes)
        pending += probe->pendingCount();
    return pending;
}

std::string BrowserController::searchURLForTab(const TabID& tabID, const std::string& query) const
{
    ProfileID profile = m_profiles->currentProfile();
    if (const Tab* tab = m_tabs.tabWithID(tabID))
        profile = tab->profileID().empty() ? ProfileID(kDefaultProfileID) : tab->profileID();
    return m_profiles->searchURLForProfile(profile, query);
}

void BrowserController::resolveAddressCandidates(
    const std::vector<std::string>& candidates, const std::string& query, uint64_t generation)
{
    // The result belongs to the tab that was selected when the text was submitted.
    TabID tabID = tabIDForWebView(m_webView).value_or("");
    probeAddressCandidates(candidates, [this, query, generation, tabID](auto winner) {
        if (generation != m_addressLookupGeneration)
            return;
        loadResolvedAddressInTab(winner.value_or(searchURLForTab(tabID, query)), tabID);
    });
}

void BrowserController::loadResolvedAddressInTab(const std::string& address, const TabID& tabID)
{
    Tab* tab = m_tabs.tabWithID(tabID);
    if (!tab)
        return;
    if (!isLoadableURL(address)) {
        m_shell->showError(kInvalidURLMessage);
        return;
    }
    if (!tab->webView()) {
        // A lazy tab left while probing loads the result when it is selected again.
        tab->setURL(address);
        return;
    }
    if (tab->webView() == m_webView)
        setAddressFieldText(address);
    m_downloads->noteBrowserStartedLoad(tab->webView());
    webkit_web_view_load_uri(tab->webView(), address.c_str());
}

void BrowserController::loadResolvedAddress(const std::optional<std::string>& address)
{
    if (!address || !isLoadableURL(*address)) {
        m_shell->showError(kInvalidURLMessage);
        return;
    }
    if (!m_webView)
        return;
    setAddressFieldText(*address);
    m_downloads->noteBrowserStartedLoad(m_webView);
    webkit_web_view_load_uri(m_webView, address->c_str());
}

void BrowserController::updateAddressFieldForURL(const std::string& url)
{
    if (url.empty())
        return;
    // What the user is typing is never replaced by the page's own progress (a failing or slow
    // load in the tab); their text stays until they submit it or leave the field.
    auto update = [this, url] {
        if (m_addressFieldEditedByUser && m_window) {
            // The keyboard focus is on the field's text widget inside it.
            Gtk::Widget* focus = m_window->get_focus();
            Gtk::Widget& field = m_window->requestField();
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

void BrowserController::setAddressFieldText(const std::string& text)
{
    if (!m_window)
        return;
    ++m_programmaticAddressEdits;
    m_window->requestField().set_text(text);
    --m_programmaticAddressEdits;
    m_addressFieldEditedByUser = false;
}

void BrowserController::controlTextDidChange()
{
    if (!m_window || m_programmaticAddressEdits > 0)
        return;
    m_addressFieldEditedByUser = true;
    std::string text = m_window->requestField().get_text().raw();
    m_extensions->emitExtensionEvent("addressBar.changed", { { "text", text } });
    if (text.empty() || text.back() != '#')
        return;
    // Changing the text from inside its own change signal is left to the next turn.
    Glib::signal_idle().connect_once(sigc::track_obj(
        [this, text] {
            if (!m_window || m_window->requestField().get_text().raw() != text)
                return;
            setAddressFieldText(text.substr(0, text.size() - 1));
            openRequest();
        },
        *this));
}

} // namespace qv

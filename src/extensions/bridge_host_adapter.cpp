// BridgeHost on top of the controller: tabs, chrome, address field, page scripts, storage,
// extension fetches and downloads.
#include "extensions/bridge_host_adapter.h"

#include "app/browser_window.h"
#include "app/web_views.h"

#include "downloads/download_files.h"
#include "app/auxiliary_window.h"
#include "app/services.h"
#include "app/shell.h"
#include "downloads/download_service.h"
#include "extensions/extension_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/tab_service.h"
#include "extensions/extension_network.h"
#include "extensions/extension_storage.h"
#include "navigation/address_resolution.h"
#include "platform/file_panels.h"
#include "platform/log.h"
#include "profiles/profile_model.h"

#include <memory>

namespace qv {

namespace {

// A bounded read is measured in the engine before it is converted, so an oversized answer
// costs nothing more here, and its converted size is checked once more in UTF-8.
Result<Json> limitedScriptResult(JSCValue* value, const PageReadLimit& limit)
{
    if (auto failure = pageReadOverLimit(limit, scriptValueLength(value, limit.maxLength)))
        return Result<Json>::failure(*failure);
    Json result = jsonFromScriptValue(value);
    if (auto failure = pageReadOverLimit(limit, pageReadSize(result, limit.maxLength)))
        return Result<Json>::failure(*failure);
    return result;
}

// One download being written next to its destination.
struct PendingDownload {
    explicit PendingDownload(FileReplacement replacement)
        : file(std::move(replacement))
    {
    }
    FileReplacement file;
    ExtensionDownloadMeter meter;
    std::string failure; // set once writing failed, the server refused or the limit passed
    BridgeReplyHandler reply;
    // Shown among the running downloads under this key, where the user may cancel it.
    std::string key;
    bool cancelled = false;
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total;
    std::shared_ptr<HttpStreamStop> stopper = std::make_shared<HttpStreamStop>();
};

std::string fileURLForPath(const std::filesystem::path& path)
{
    char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string text = uri ? uri : "";
    g_free(uri);
    return text;
}

} // namespace

WebKitWebView* ServicesBridgeHost::webViewAt(std::size_t index) const
{
    const TabList& tabs = m_services.tabs->browserTabs();
    return index < tabs.size() ? tabs[index].webView() : nullptr;
}

std::vector<BridgeTabInfo> ServicesBridgeHost::browserTabs()
{
    std::vector<BridgeTabInfo> list;
    for (const Tab& tab : m_services.tabs->browserTabs()) {
        BridgeTabInfo info;
        info.id = tab.id();
        info.storedURL = tab.url();
        info.storedTitle = tab.title();
        if (WebKitWebView* view = tab.webView()) {
            info.hasWebView = true;
            info.selected = view == m_services.tabs->selectedWebView();
            info.currentURL = webViewURI(view);
            info.pageTitle = webViewTitle(view);
            info.isLoading = webkit_web_view_is_loading(view);
            info.canGoBack = webkit_web_view_can_go_back(view);
            info.canGoForward = webkit_web_view_can_go_forward(view);
        }
        list.push_back(std::move(info));
    }
    return list;
}

void ServicesBridgeHost::selectBrowserTab(std::size_t index)
{
    m_services.tabs->selectBrowserTabAtIndex(index);
}

void ServicesBridgeHost::closeBrowserTab(std::size_t index)
{
    m_services.tabs->closeBrowserTabAtIndex(index);
}

TabID ServicesBridgeHost::createBrowserTab(const std::string& url)
{
    TabID id = m_services.tabs->createBrowserTabWithURL(url);
    if (BrowserWindow* window = m_services.shell->window())
        window->present();
    return id;
}

std::string ServicesBridgeHost::homePageURL()
{
    return m_services.profiles->homePageURLForProfile(m_services.profiles->currentProfile());
}

std::string ServicesBridgeHost::searchURL(const std::string& query)
{
    return m_services.profiles->searchURLForProfile(m_services.profiles->currentProfile(), query);
}

BridgeUIState ServicesBridgeHost::uiState()
{
    BridgeUIState state;
    state.darkMode = m_services.shell->darkMode();
    state.currentProfileID = m_services.profiles->currentProfile();
    UserDefaults& defaults = m_services.shell->defaults();
    Json stored = defaults.objectForKey(kProfilesKey);
    Json current = defaults.objectForKey(kCurrentProfileKey);
    RepairedProfiles profiles = repairStoredProfiles(
        stored.is_null() ? nullptr : &stored, current.is_null() ? nullptr : &current);
    if (const BrowserProfile* profile = profileForID(profiles.profiles, state.currentProfileID))
        state.currentProfileName = profile->name;
    if (BrowserWindow* window = m_services.shell->window()) {
        state.extensionTabsVisible = window->extensionTabsVisible();
        state.extensionToolbarVisible = window->extensionToolbarVisible();
        state.browserElementFullscreen = window->elementFullscreen();
    }
    return state;
}

void ServicesBridgeHost::setDarkMode(bool dark) { m_services.shell->setDarkMode(dark); }

void ServicesBridgeHost::setChromeVisibility(
    std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible)
{
    if (BrowserWindow* window = m_services.shell->window())
        window->setExtensionChromeVisibility(tabsVisible, toolbarVisible);
}

std::string ServicesBridgeHost::addressFieldText()
{
    BrowserWindow* window = m_services.shell->window();
    return window ? window->requestField().get_text().raw() : std::string();
}

void ServicesBridgeHost::setAddressFieldText(const std::string& text)
{
    m_services.navigation->setAddressFieldText(text);
}

void ServicesBridgeHost::submitAddressField(AddressSubmitter submitter)
{
    if (submitter == AddressSubmitter::Extension)
        m_services.navigation->submitAddressFieldFromExtension();
    else
        m_services.navigation->openRequest();
}

void ServicesBridgeHost::loadURL(std::size_t index, const std::string& url)
{
    if (WebKitWebView* view = webViewAt(index)) {
        m_services.downloads->noteBrowserStartedLoad(view);
        webkit_web_view_load_uri(view, url.c_str());
    }
}

void ServicesBridgeHost::reload(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_reload(view);
}

void ServicesBridgeHost::goBack(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_go_back(view);
}

void ServicesBridgeHost::goForward(std::size_t index)
{
    if (WebKitWebView* view = webViewAt(index))
        webkit_web_view_go_forward(view);
}

void ServicesBridgeHost::setCustomUserAgent(
    std::size_t index, const std::optional<std::string>& agent)
{
    WebKitWebView* view = webViewAt(index);
    if (!view)
        return;
    // Null gives the engine's own user agent back.
    webkit_settings_set_user_agent(
        webkit_web_view_get_settings(view), agent ? agent->c_str() : nullptr);
}

void ServicesBridgeHost::runPageScript(
    std::size_t index, const PageScript& script, ScriptCompletion completion)
{
    WebKitWebView* view = webViewAt(index);
    if (!view) {
        completion(Result<Json>::failure("No browser tab with that ID exists."));
        return;
    }
    qv::runPageScript(view, script, m_lifetime.token(),
        [completion = std::move(completion), limit = script.resultLimit](
            JSCValue* value, const GError* error) {
            if (error)
                completion(Result<Json>::failure(error->message));
            else
                completion(limit ? limitedScriptResult(value, *limit)
                                 : Result<Json>(jsonFromScriptValue(value)));
        });
}

Json ServicesBridgeHost::extensionStorage(const ExtensionID& id)
{
    return m_services.shell->defaults().objectForKey(extensionStorageKey(id));
}

void ServicesBridgeHost::setExtensionStorage(const ExtensionID& id, const Json& dictionary)
{
    m_services.shell->setDefaultsValue(extensionStorageKey(id), dictionary);
}

ExtensionEventSubscriptions& ServicesBridgeHost::extensionEventSubscriptions()
{
    return m_services.extensions->extensionEventSubscriptions();
}

void ServicesBridgeHost::emitExtensionEvent(const std::string& name, const Json& detail)
{
    m_services.extensions->emitExtensionEvent(name, detail);
}

HttpStreamRequest extensionFetchStreamRequest(const ExtensionFetchRequest& request)
{
    HttpStreamRequest http;
    http.method = request.method;
    http.url = request.url;
    http.headers = request.headers;
    http.body = request.body;
    // A server that drips its answer never holds a reply, or the connection, for longer.
    http.idleTimeout = kExtensionRequestTimeout;
    http.totalTimeout = kExtensionRequestTimeout;
    return http;
}

HttpStreamRequest extensionDownloadStreamRequest(const std::string& url)
{
    HttpStreamRequest http;
    http.url = url;
    http.idleTimeout = kExtensionRequestTimeout;
    http.totalTimeout = kExtensionRequestTimeout;
    return http;
}

void ServicesBridgeHost::performExtensionFetch(
    const ExtensionFetchRequest& request, BridgeReplyHandler reply)
{
    HttpStreamRequest http = extensionFetchStreamRequest(request);
    // Shared by the callbacks; the body never grows past the accumulator's limit.
    auto accumulator = std::make_shared<ExtensionFetchAccumulator>(request);
    auto head = std::make_shared<HttpResponseHead>();
    HttpStreamCallbacks callbacks;
    callbacks.response = [accumulator, head](const HttpResponseHead& received) {
        *head = received;
        return accumulator->receiveResponse(received.status, received.contentLength);
    };
    callbacks.body
        = [accumulator](std::string_view chunk) { return accumulator->receiveBody(chunk); };
    callbacks.finished = [accumulator, head, reply](const HttpStreamEnd& end) {
        if (end.kind != HttpStreamEnd::Kind::Complete) {
            reply(accumulator->fail(end.error));
            return;
        }
        Json headers = Json::object();
        for (const auto& [name, value] : head->headers)
            headers[name] = value;
        reply(accumulator->finish(head->finalURL, std::move(headers)));
    };
    if (!m_network.stream(http, std::move(callbacks)))
        reply(accumulator->fail(""));
}

void ServicesBridgeHost::performExtensionDownload(
    const ExtensionDownloadRequest& request, const ExtensionID&, BridgeReplyHandler reply)
{
    GtkWindow* parent = nullptr;
    AuxiliaryWindow* manager = m_services.shell->auxiliaryWindow(AuxiliaryWindowKind::ExtensionManager);
    if (manager && manager->get_visible())
        parent = manager->gobj();
    else if (BrowserWindow* window = m_services.shell->window())
        parent = GTK_WINDOW(window->gobj());
    if (!parent) {
        reply(BridgeReply::failure(std::string(kDownloadNoWindowMessage)));
        return;
    }
    FilePanelSpec panel;
    panel.kind = FilePanelSpec::Kind::Save;
    panel.title = "Save Download";
    panel.acceptLabel = "Save";
    panel.suggestedName = request.proposedName;
    Lifetime::Token alive = m_lifetime.token();
    std::string url = request.url;
    runFilePanel(
        parent, panel, [this, alive, url, reply](std::optional<std::filesystem::path> destination) {
            if (alive.expired())
                return;
            if (!destination) {
                reply(BridgeReply::failure(std::string(kDownloadCancelledMessage)));
                return;
            }
            startExtensionDownload(url, *destination, reply);
        });
}

void ServicesBridgeHost::startExtensionDownload(
    const std::string& url, const std::filesystem::path& destination, BridgeReplyHandler reply)
{
    // Written beside the destination and renamed over it only when complete, so the user's
    // file stays as it was whenever anything fails.
    auto replacement = FileReplacement::begin(destination);
    if (!replacement) {
        reply(extensionDownloadFailureReply(replacement.error(), kDownloadNotSavedMessage));
        return;
    }
    auto pending = std::make_shared<PendingDownload>(std::move(replacement.value()));
    pending->reply = reply;
    HttpStreamRequest http = extensionDownloadStreamRequest(url);
    http.stopper = pending->stopper;
    DownloadService& downloads = *m_services.downloads;
    // Only a weak hold: the transfer's own callbacks keep the download alive, not its row.
    std::weak_ptr<PendingDownload> cancellable = pending;
    pending->key = downloads.beginOwnDownload(
        destination.filename().string(), url, [cancellable] {
            if (auto download = cancellable.lock()) {
                download->cancelled = true;
                download->stopper->stop();
            }
        });
    HttpStreamCallbacks callbacks;
    callbacks.response = [pending, &downloads](const HttpResponseHead& head) {
        // An error page is not the file that was asked for.
        if (head.status < 200 || head.status > 299) {
            pending->failure = "Download failed: the server answered with status "
                + std::to_string(head.status) + ".";
            return false;
        }
        if (!pending->meter.receiveResponse(head.contentLength)) {
            pending->failure = std::string(kDownloadLimitMessage);
            return false;
        }
        pending->total = head.contentLength;
        downloads.ownDownloadProgress(pending->key, 0, pending->total);
        return true;
    };
    callbacks.body = [pending, &downloads](std::string_view chunk) {
        if (!pending->meter.receiveBody(chunk.size())) {
            pending->failure = std::string(kDownloadLimitMessage);
            return false;
        }
        auto appended = pending->file.append(chunk);
        if (!appended)
            pending->failure = appended.error();
        pending->received += chunk.size();
        downloads.ownDownloadProgress(pending->key, pending->received, pending->total);
        return appended.ok();
    };
    callbacks.finished = [this, pending, url](const HttpStreamEnd& end) {
        m_services.downloads->endOwnDownload(pending->key);
        if (pending->cancelled) {
            pending->file.abandon();
            pending->reply(BridgeReply::failure(std::string(kDownloadCancelledMessage)));
            return;
        }
        if (end.kind != HttpStreamEnd::Kind::Complete) {
            pending->file.abandon();
            pending->reply(extensionDownloadFailureReply(
                pending->failure.empty() ? end.error : pending->failure, kDownloadFailedMessage));
            return;
        }
        std::filesystem::path saved = pending->file.destination();
        auto committed = pending->file.commit();
        if (!committed) {
            pending->reply(
                extensionDownloadFailureReply(committed.error(), kDownloadNotSavedMessage));
            return;
        }
        m_services.downloads->recordCompletedDownloadURL(fileURLForPath(saved), url);
        std::error_code error;
        auto bytes = std::filesystem::file_size(saved, error);
        pending->reply(extensionDownloadReply(saved.string(), error ? 0 : bytes));
    };
    if (!m_network.stream(http, std::move(callbacks))) {
        downloads.endOwnDownload(pending->key);
        pending->file.abandon();
        reply(BridgeReply::failure(std::string(kDownloadFailedMessage)));
    }
}

} // namespace qv

// The browser as the bridge dispatcher sees it: BridgeHost on top of the services.
#pragma once

#include "app/services.h"
#include "app/web_views.h"
#include "extensions/bridge_dispatcher.h"
#include "platform/http_client.h"

#include <memory>

namespace qv {

// A script value as JSON: undefined, null and values without a JSON form give null.
Json jsonFromScriptValue(JSCValue* value);

// The transfers behind "network.fetch" and "download.save", each bounded in time.
HttpStreamRequest extensionFetchStreamRequest(const ExtensionFetchRequest& request);
HttpStreamRequest extensionDownloadStreamRequest(const std::string& url);

class ServicesBridgeHost final : public BridgeHost {
public:
    explicit ServicesBridgeHost(const Services& services)
        : m_services(services)
    {
    }

    std::vector<BridgeTabInfo> browserTabs() override;
    void selectBrowserTab(std::size_t index) override;
    void closeBrowserTab(std::size_t index) override;
    TabID createBrowserTab(const std::string& url) override;

    std::string homePageURL() override;
    std::string searchURL(const std::string& query) override;

    BridgeUIState uiState() override;
    void setDarkMode(bool dark) override;
    void setChromeVisibility(
        std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible) override;

    std::string addressFieldText() override;
    void setAddressFieldText(const std::string& text) override;
    void submitAddressField(AddressSubmitter submitter) override;

    void loadURL(std::size_t index, const std::string& url) override;
    void reload(std::size_t index) override;
    void goBack(std::size_t index) override;
    void goForward(std::size_t index) override;
    void setCustomUserAgent(std::size_t index, const std::optional<std::string>& agent) override;
    void runPageScript(
        std::size_t index, const PageScript& script, ScriptCompletion completion) override;

    Json extensionStorage(const ExtensionID& id) override;
    void setExtensionStorage(const ExtensionID& id, const Json& dictionary) override;

    ExtensionEventSubscriptions& extensionEventSubscriptions() override;
    void emitExtensionEvent(const std::string& name, const Json& detail) override;

    void performExtensionFetch(
        const ExtensionFetchRequest& request, BridgeReplyHandler reply) override;
    void performExtensionDownload(const ExtensionDownloadRequest& request, const ExtensionID& id,
        BridgeReplyHandler reply) override;

private:
    // The web view of the tab at index in browserTabs, or nothing.
    WebKitWebView* webViewAt(std::size_t index) const;

    // Streams the chosen download into place and replies.
    void startExtensionDownload(
        const std::string& url, const std::filesystem::path& destination, BridgeReplyHandler reply);

    const Services& m_services;
    // Requests in flight end with the host; their replies then come from the dispatcher.
    HttpClient m_network;
    // Tells a save panel or a page script that answers late that the host is gone.
    Lifetime m_lifetime;
};

} // namespace qv

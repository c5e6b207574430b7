// A browser for bridge tests and fuzzing: records every call and answers from plain fields.
#pragma once

#include "extensions/bridge_dispatcher.h"

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qv::test {

struct PendingScript {
    std::size_t index;
    PageScript script;
    ScriptCompletion completion;
};

class FakeHost : public BridgeHost {
public:
    std::vector<BridgeTabInfo> tabs;
    BridgeUIState ui;
    std::string address;
    std::map<ExtensionID, Json> storage;
    ExtensionEventSubscriptions subscriptions;
    std::vector<std::string> calls;
    std::vector<PendingScript> scripts;
    std::vector<std::pair<std::string, Json>> events;
    std::optional<ExtensionFetchRequest> fetch;
    std::optional<ExtensionDownloadRequest> download;
    BridgeReplyHandler pendingNetworkReply;
    bool throwOnAddress = false;

    std::vector<BridgeTabInfo> browserTabs() override { return tabs; }
    void selectBrowserTab(std::size_t index) override { log("select", index); }
    void closeBrowserTab(std::size_t index) override { log("close", index); }
    TabID createBrowserTab(const std::string& url) override
    {
        calls.push_back("create " + url);
        return "NEW-TAB";
    }
    std::string homePageURL() override { return "https://www.google.com/search?q="; }
    std::string searchURL(const std::string& query) override
    {
        return "https://search.example/?q=" + query;
    }
    BridgeUIState uiState() override { return ui; }
    void setDarkMode(bool dark) override { calls.push_back(dark ? "dark" : "light"); }
    void setChromeVisibility(
        std::optional<bool> tabsVisible, std::optional<bool> toolbarVisible) override
    {
        auto text = [](std::optional<bool> v) { return v ? (*v ? "on" : "off") : "unchanged"; };
        calls.push_back(
            std::string("chrome tabs=") + text(tabsVisible) + " toolbar=" + text(toolbarVisible));
    }
    std::string addressFieldText() override
    {
        if (throwOnAddress)
            throw std::runtime_error("boom");
        return address;
    }
    void setAddressFieldText(const std::string& text) override
    {
        calls.push_back("setText " + text);
    }
    void submitAddressField(AddressSubmitter submitter) override
    {
        calls.push_back(
            submitter == AddressSubmitter::Extension ? "submit web-only" : "submit user");
    }
    void loadURL(std::size_t index, const std::string& url) override { log("load", index, url); }
    void reload(std::size_t index) override { log("reload", index); }
    void goBack(std::size_t index) override { log("back", index); }
    void goForward(std::size_t index) override { log("forward", index); }
    void setCustomUserAgent(std::size_t index, const std::optional<std::string>& agent) override
    {
        log("agent", index, agent.value_or("<default>"));
    }
    void runPageScript(
        std::size_t index, const PageScript& script, ScriptCompletion completion) override
    {
        scripts.push_back({ index, script, std::move(completion) });
    }
    Json extensionStorage(const ExtensionID& id) override
    {
        auto it = storage.find(id);
        return it == storage.end() ? Json() : it->second;
    }
    void setExtensionStorage(const ExtensionID& id, const Json& dictionary) override
    {
        storage[id] = dictionary;
        calls.push_back("storage");
    }
    ExtensionEventSubscriptions& extensionEventSubscriptions() override { return subscriptions; }
    void emitExtensionEvent(const std::string& name, const Json& detail) override
    {
        events.emplace_back(name, detail);
    }
    void performExtensionFetch(
        const ExtensionFetchRequest& request, BridgeReplyHandler reply) override
    {
        fetch = request;
        pendingNetworkReply = std::move(reply);
    }
    void performExtensionDownload(const ExtensionDownloadRequest& request, const ExtensionID&,
        BridgeReplyHandler reply) override
    {
        download = request;
        pendingNetworkReply = std::move(reply);
    }

private:
    void log(const char* what, std::size_t index, const std::string& extra = "")
    {
        calls.push_back(
            std::string(what) + " " + std::to_string(index) + (extra.empty() ? "" : " " + extra));
    }
};

} // namespace qv::test

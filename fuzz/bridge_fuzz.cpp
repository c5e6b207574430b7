// Bridge messages of any JSON against a fake browser: every message is answered exactly once.
#include "../tests/core/fake_bridge_host.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

namespace {

BridgeTabInfo tab(const std::string& id, const std::string& url, bool loaded, bool selected)
{
    BridgeTabInfo info;
    info.id = id;
    info.storedURL = url;
    info.storedTitle = "Stored " + id;
    info.hasWebView = loaded;
    info.selected = selected;
    info.currentURL = loaded ? url : "";
    info.pageTitle = "Page " + id;
    info.canGoBack = loaded;
    return info;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::optional<Json> body
        = parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!body)
        return 0;

    ExtensionRecord record;
    record.manifest = { { "id", "ext" }, { "name", "Ext" },
        { "permissions", allExtensionPermissionNames() }, { "type", "file" } };
    record.rootURL = "/store/ext";
    BridgeCaller caller { &record, allExtensionPermissionNames() };
    BridgeMessageSource source;
    source.frameURL = "file:///store/ext/index.html";

    test::FakeHost host;
    host.tabs = { tab("A", "https://a.example/", true, true),
        tab("B", "https://b.example/", false, false), tab("C", "", true, false) };
    host.address = "typed text";
    host.storage["ext"] = { { "k", "v" } };

    int replies = 0;
    dispatchBridgeMessage(*body, source, caller, host, [&](const BridgeReply& reply) {
        ++replies;
        (void)reply.text();
    });
    // Half the page scripts finish, the rest are dropped; a network request fails.
    for (std::size_t i = 0; i < host.scripts.size(); ++i) {
        if (i % 2 == 0 && host.scripts[i].completion)
            host.scripts[i].completion(Json { { "ok", true }, { "value", nullptr } });
    }
    host.scripts.clear();
    if (host.pendingNetworkReply) {
        auto pending = std::move(host.pendingNetworkReply);
        host.pendingNetworkReply = nullptr;
        pending(BridgeReply::failure("offline"));
    }
    fuzz::require(replies == 1, "a message is answered exactly once");

    int activityReplies = 0;
    handleUserActivityMessage(
        *body, { true, TabID("A") }, host, [&](const BridgeReply&) { ++activityReplies; });
    fuzz::require(activityReplies == 1, "an activity report is answered exactly once");
    return 0;
}

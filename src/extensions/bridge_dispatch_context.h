// Shared by the bridge's action files only: one request being answered.
#pragma once

#include "extensions/bridge_dispatcher.h"

#include <memory>

namespace qv::bridge {

// Calls the handler exactly once: later calls are ignored, and if every copy is dropped
// without a call (a completion the host never ran), the request still gets a failure reply.
class ReplyOnce {
public:
    explicit ReplyOnce(BridgeReplyHandler handler);
    void operator()(const BridgeReply& reply) const;
    // A handler for the host that forwards here.
    BridgeReplyHandler handler() const;

private:
    struct State {
        BridgeReplyHandler handler;
        bool done = false;
        ~State();
    };
    std::shared_ptr<State> m_state;
};

struct Dispatch {
    BridgeRequest request;
    ExtensionID id;
    const ExtensionRecord& record;
    const std::vector<std::string>& granted;
    BridgeHost& host;
    ReplyOnce reply;

    bool has(std::string_view permission) const;
    const std::string& action() const { return request.action; }
    const Json& args() const { return request.args; }
};

// The tab a "tabId" argument names among all tabs: "" is the selected tab, otherwise the
// first tab with that ID, loaded or not.
std::optional<std::size_t> findTabIndex(
    const std::vector<BridgeTabInfo>& tabs, const std::string& tabID);

struct ResolvedTab {
    std::size_t index = 0;
    BridgeTabInfo info;
};

// Tab resolution for actions that run in a page: the tab must have a web view.
std::optional<ResolvedTab> resolvePageTab(BridgeHost& host, const Json& args);

// Runs a page script and replies with `onValue` of its result, or its failure.
void runScript(Dispatch& dispatch, std::size_t index, const PageScript& script,
    std::function<BridgeReply(const Json&)> onValue);

// Interface actions (ui, tabs, browser, scripting, spoofing, storage, events, addressBar).
// False when the action is none of them.
bool dispatchInterfaceAction(Dispatch& dispatch);

// Actions that first resolve their tab: source, page, network, download, and the rest.
void dispatchTabAction(Dispatch& dispatch);

inline constexpr const char* kNoSuchTab = "No browser tab with that ID exists.";
inline constexpr const char* kNoLoadedPage = "The selected tab has no loaded page.";

} // namespace qv::bridge

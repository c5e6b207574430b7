// Shared by the bridge's action files only: one request being answered.
#pragma once

#include "extensions/bridge_dispatcher.h"

#include <memory>
#include <span>
#include <string_view>

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

// One bridge action: its name, the permission it needs, and its handler. A browser action
// works on the browser; a tab action first resolves "tabId" to a tab with a web view
// (resolvePageTab) and fails with kNoSuchTab when there is none.
struct BridgeAction {
    std::string_view name;
    std::string_view permission;
    void (*browser)(Dispatch&) = nullptr;
    void (*tab)(Dispatch&, const ResolvedTab&) = nullptr;
};

// The rows, one table per file that holds their handlers.
std::span<const BridgeAction> browserActions();
std::span<const BridgeAction> tabActions();

// The row of an action name, or nothing.
const BridgeAction* findBridgeAction(std::string_view name);

// What a name that no row has gets once its tab is resolved.
void unknownTabAction(Dispatch& dispatch, const ResolvedTab& tab);

inline constexpr const char* kNoSuchTab = "No browser tab with that ID exists.";
inline constexpr const char* kNoLoadedPage = "The selected tab has no loaded page.";

} // namespace qv::bridge

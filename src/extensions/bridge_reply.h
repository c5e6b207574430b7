// The extension bridge's request and reply shapes.
#pragma once

#include "base/json_text.h"
#include "extensions/bridge_page_scripts.h"

#include <functional>
#include <string>

namespace qv {

// A message body as posted to "qvBridge": `action` (missing or not a string: "") and `args`
// (missing or not an object: {}). A body that is not an object counts as {}.
struct BridgeRequest {
    std::string action;
    Json args = Json::object();

    static BridgeRequest fromMessageBody(const Json& body);
};

// {ok: true, value} or {ok: false, error}; also the two fixed forms of the intake.
class BridgeReply {
public:
    static BridgeReply success(Json value = nullptr);
    // An empty message becomes "Request denied.".
    static BridgeReply failure(std::string message);
    // Origin check failed: "Extension bridge rejected the request.".
    static BridgeReply rejected();
    // User-activity reports: {ok: true} without a value, or the fixed rejection.
    static BridgeReply interactionAccepted();
    static BridgeReply interactionRejected();

    bool ok() const;
    const Json& json() const { return m_body; }
    // The value of a success (null when there is none) and the message of a failure ("" else).
    Json value() const;
    std::string error() const;
    // Compact JSON text; invalid UTF-8 in strings is replaced, so it always serialises.
    std::string text() const;

private:
    explicit BridgeReply(Json body)
        : m_body(std::move(body))
    {
    }
    Json m_body;
};

using BridgeReplyHandler = std::function<void(const BridgeReply&)>;

inline constexpr const char* kBridgeMessageHandlerName = "qvBridge";
inline constexpr const char* kUserActivityMessageHandlerName = "qvUserActivity";
// The script world the activity reporter runs in, out of the page's reach.
inline constexpr const char* kUserActivityWorld = kBrowserScriptWorld;

} // namespace qv

// Bridge request parsing and reply forms.
#include "extensions/bridge_reply.h"

namespace qv {

BridgeRequest BridgeRequest::fromMessageBody(const Json& body)
{
    BridgeRequest request;
    if (!body.is_object())
        return request;
    request.action = jsonString(body, "action");
    auto args = body.find("args");
    if (args != body.end() && args->is_object())
        request.args = *args;
    return request;
}

BridgeReply BridgeReply::success(Json value)
{
    return BridgeReply(Json { { "ok", true }, { "value", std::move(value) } });
}

BridgeReply BridgeReply::failure(std::string message)
{
    if (message.empty())
        message = "Request denied.";
    return BridgeReply(Json { { "ok", false }, { "error", std::move(message) } });
}

BridgeReply BridgeReply::rejected() { return failure("Extension bridge rejected the request."); }

BridgeReply BridgeReply::interactionAccepted() { return BridgeReply(Json { { "ok", true } }); }

BridgeReply BridgeReply::interactionRejected()
{
    return failure("Browser interaction event rejected.");
}

bool BridgeReply::ok() const { return jsonBool(m_body, "ok"); }

Json BridgeReply::value() const
{
    auto it = m_body.find("value");
    return it == m_body.end() ? Json(nullptr) : *it;
}

std::string BridgeReply::error() const { return jsonString(m_body, "error"); }

std::string BridgeReply::text() const { return dumpJson(m_body); }

} // namespace qv

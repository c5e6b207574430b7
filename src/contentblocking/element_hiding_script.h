// The page side of generic element hiding: a script in a world of its own reports the classes
// and IDs each document uses, and adds the style the browser answers with.
#pragma once

#include "platform/gobject_ptr.h"

#include <webkit/webkit.h>

#include <functional>
#include <string>
#include <vector>

namespace qv {

class ElementHidingScript {
public:
    // The style for a document of the manager that uses these ".class" and "#id" tokens; only
    // tokens not asked for before in that document arrive.
    using Lookup = std::function<std::string(WebKitUserContentManager*, const std::vector<std::string>&)>;

    // Adds the script to every frame of the manager's pages, in the world named, and answers it
    // while this lives.
    ElementHidingScript(WebKitUserContentManager* content, const char* world, Lookup lookup);
    ~ElementHidingScript();
    ElementHidingScript(const ElementHidingScript&) = delete;
    ElementHidingScript& operator=(const ElementHidingScript&) = delete;

private:
    static gboolean messageReceived(WebKitUserContentManager* content, JSCValue* value,
        WebKitScriptMessageReply* reply, gpointer self);

    GObjectPtr<WebKitUserContentManager> m_content;
    std::string m_world;
    WebKitUserScript* m_script = nullptr;
    Lookup m_lookup;
    SignalConnection m_message;
};

} // namespace qv

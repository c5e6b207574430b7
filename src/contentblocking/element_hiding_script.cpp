// Generic element hiding in the page: the reporting script and its answers.
#include "contentblocking/element_hiding_script.h"

#include "contentblocking/element_hiding.h"

#include <cstring>

namespace qv {

namespace {

constexpr const char* kHandler = "qvElementHiding";

// Watches the document from its start: each class and ID is reported once, in batches, one
// message at a time; the answers collect in one style element the script keeps attached.
constexpr const char* kHidingScript = R"JS((function () {
    var handler = window.webkit && webkit.messageHandlers && webkit.messageHandlers.qvElementHiding;
    if (!handler)
        return;
    var seen = new Set(), pending = [], style = null, posting = false;
    function note(token) {
        if (token.length > 256 || seen.size >= 20000 || seen.has(token))
            return;
        seen.add(token);
        pending.push(token);
    }
    function scan(element) {
        if (element.id)
            note('#' + element.id);
        var classes = element.classList;
        for (var i = 0; classes && i < classes.length; i++)
            note('.' + classes[i]);
    }
    function scanTree(node) {
        if (node.nodeType !== 1)
            return;
        scan(node);
        if (!node.firstElementChild)
            return;
        var all = node.querySelectorAll('[id],[class]');
        for (var i = 0; i < all.length; i++)
            scan(all[i]);
    }
    function send() {
        if (posting || !pending.length)
            return;
        posting = true;
        handler.postMessage(pending.splice(0, 1000)).then(function (css) {
            posting = false;
            if (typeof css === 'string' && css) {
                style = style || document.createElement('style');
                style.textContent += css;
            }
            if (style && !style.isConnected && document.documentElement)
                (document.head || document.documentElement).appendChild(style);
            send();
        }, function () { posting = false; });
    }
    new MutationObserver(function (records) {
        for (var i = 0; i < records.length; i++) {
            var record = records[i];
            if (record.type === 'attributes') {
                scan(record.target);
                continue;
            }
            for (var k = 0; k < record.addedNodes.length; k++)
                scanTree(record.addedNodes[k]);
        }
        send();
    }).observe(document, { childList: true, subtree: true, attributes: true, attributeFilter: ['class', 'id'] });
})();)JS";

} // namespace

ElementHidingScript::ElementHidingScript(WebKitUserContentManager* content, const char* world, Lookup lookup)
    : m_content(GObjectPtr<WebKitUserContentManager>::retain(content))
    , m_world(world)
    , m_lookup(std::move(lookup))
{
    webkit_user_content_manager_register_script_message_handler_with_reply(content, kHandler, world);
    m_script = webkit_user_script_new_for_world(kHidingScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, world, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, m_script);
    m_message = SignalConnection(content,
        g_signal_connect(content, "script-message-with-reply-received::qvElementHiding",
            G_CALLBACK(&ElementHidingScript::messageReceived), this));
}

ElementHidingScript::~ElementHidingScript()
{
    m_message.disconnect();
    webkit_user_content_manager_remove_script(m_content.get(), m_script);
    webkit_user_script_unref(m_script);
    webkit_user_content_manager_unregister_script_message_handler(m_content.get(), kHandler, m_world.c_str());
}

gboolean ElementHidingScript::messageReceived(
    WebKitUserContentManager* content, JSCValue* value, WebKitScriptMessageReply* reply, gpointer data)
{
    auto* self = static_cast<ElementHidingScript*>(data);
    // The tokens are the page's own class names and IDs: only strings, only so many.
    std::vector<std::string> tokens;
    if (jsc_value_is_array(value)) {
        JSCValue* length = jsc_value_object_get_property(value, "length");
        int32_t count = jsc_value_is_number(length) ? jsc_value_to_int32(length) : 0;
        g_object_unref(length);
        for (int32_t i = 0; i < count && tokens.size() < kMaxHidingTokensPerQuery; ++i) {
            JSCValue* item = jsc_value_object_get_property_at_index(value, static_cast<guint>(i));
            if (jsc_value_is_string(item)) {
                char* text = jsc_value_to_string(item);
                if (std::strlen(text) <= kMaxHidingTokenLength)
                    tokens.emplace_back(text);
                g_free(text);
            }
            g_object_unref(item);
        }
    }
    std::string style = tokens.empty() ? std::string() : self->m_lookup(content, tokens);
    JSCValue* answer = jsc_value_new_string(jsc_value_get_context(value), style.c_str());
    webkit_script_message_reply_return_value(reply, answer);
    g_object_unref(answer);
    return TRUE;
}

} // namespace qv

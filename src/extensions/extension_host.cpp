// Running extensions, their menu and event delivery.
#include "app/browser_controller.h"

namespace qv {

void BrowserController::loadExtensions() { m_extensionsLoaded = true; }

Glib::RefPtr<Gio::Menu> BrowserController::makeExtensionsMenu()
{
    auto menu = Gio::Menu::create();
    menu->append("Manage Extensions\u2026", "app.manage-extensions");
    return menu;
}

void BrowserController::emitExtensionEvent(const std::string&, const Json&) { }

bool BrowserController::isExtensionWebView(WebKitWebView*) const { return false; }

Json BrowserController::handleUserActivityMessage(WebKitWebView*, const Json&)
{
    return Json { { "ok", true } };
}

gboolean BrowserController::onUserActivityMessage(WebKitUserContentManager*, JSCValue* value,
    WebKitScriptMessageReply* reply, gpointer self)
{
    auto* controller = static_cast<BrowserController*>(self);
    char* text = jsc_value_to_json(value, 0);
    Json detail = text ? parseJson(text).value_or(Json()) : Json();
    g_free(text);
    Json answer = controller->handleUserActivityMessage(nullptr, detail);
    JSCValue* result = jsc_value_new_from_json(jsc_value_get_context(value), dumpJson(answer).c_str());
    webkit_script_message_reply_return_value(reply, result);
    g_object_unref(result);
    return TRUE;
}

} // namespace qv

// The activity reporter: in browser tabs' pages only while a running extension holds
// "userActivity". Without one nobody hears it, and every page would pay for a script world of
// its own.
#include "extensions/extension_service.h"

#include "app/services.h"
#include "tabs/tab_service.h"

#include <algorithm>
#include <set>

namespace qv {

namespace {

// Reports user activity on interactive elements; never printable keys or typed text.
constexpr const char* kUserActivityScript = R"JS((function () {
    // Also run into pages already open when reporting starts, which may have it from before.
    if (window.qvActivityReporter)
        return;
    window.qvActivityReporter = true;
    function report(event) {
        // Only the user's own input counts: events a page makes or dispatches are not trusted.
        if (!event.isTrusted)
            return;
        var node = event.target instanceof Element ? event.target : null;
        if (node) {
            var interactive = node.closest('button,a,input,select,textarea,[role=button],[role=link]');
            if (interactive)
                node = interactive;
        }
        if (!node)
            return;
        var key = event.type === 'keydown' && typeof event.key === 'string' && event.key.length > 1
            ? event.key : '';
        var detail = {
            type: event.type,
            tag: (node.tagName || '').toLowerCase(),
            id: node.id || '',
            role: node.getAttribute('role') || '',
            inputType: node instanceof HTMLInputElement ? (node.type || '') : '',
            key: key,
            // Set by the browser in this world when the page commits: windows a page opens
            // share their opener's message handler, so the handler alone cannot tell them apart.
            view: typeof window.qvActivityTab === 'string' ? window.qvActivityTab : ''
        };
        try {
            var reply = webkit.messageHandlers.qvUserActivity.postMessage(detail);
            if (reply && typeof reply.catch === 'function')
                reply.catch(function () {});
        } catch (e) {}
    }
    ['click', 'keydown', 'input', 'submit'].forEach(function (type) {
        document.addEventListener(type, report, true);
    });
})();)JS";

} // namespace

WebKitUserScript* ExtensionService::activityReporterScript()
{
    if (!m_activityScript)
        m_activityScript.reset(webkit_user_script_new_for_world(kUserActivityScript,
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
            kUserActivityWorld, nullptr, nullptr));
    return m_activityScript.get();
}

void ExtensionService::addActivityReporterTo(WebKitUserContentManager* content)
{
    if (m_activityReporting)
        webkit_user_content_manager_add_script(content, activityReporterScript());
}

void ExtensionService::updateActivityReporters()
{
    bool wanted = std::any_of(m_extensionWebViews.begin(), m_extensionWebViews.end(),
        [this](const auto& entry) { return extensionHasPermission(entry.first, "userActivity"); });
    if (wanted == m_activityReporting)
        return;
    m_activityReporting = wanted;
    // Views a page opened share their opener's manager: each manager gets the script once.
    std::set<WebKitUserContentManager*> managers;
    for (const Tab& tab : m_services.tabs->browserTabs()) {
        WebKitWebView* view = tab.webView();
        if (!view)
            continue;
        WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
        if (managers.insert(content).second) {
            if (wanted)
                webkit_user_content_manager_add_script(content, activityReporterScript());
            else
                webkit_user_content_manager_remove_script(content, activityReporterScript());
        }
        // Pages already open report from now on too.
        if (wanted) {
            runPageScript(view, kUserActivityScript, { PageScriptKind::Expression, kUserActivityWorld, nullptr });
            markActivityReporter(view);
        }
    }
}

void ExtensionService::markActivityReporter(WebKitWebView* view)
{
    std::optional<TabID> id = m_activityReporting ? m_services.tabs->tabIDForWebView(view) : std::nullopt;
    if (!id)
        return;
    std::string script = "window.qvActivityTab = " + dumpJson(Json(*id)) + ";";
    runPageScript(view, script, { PageScriptKind::Expression, kUserActivityWorld, nullptr });
}

} // namespace qv

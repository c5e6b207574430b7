// Page script texts of the bridge's page, source and scripting actions.
#include "extensions/bridge_page_scripts.h"

namespace qv {

namespace {

PageScript expression(std::string source)
{
    return { PageScriptKind::Expression, std::move(source), PageScriptWorld::Isolated, std::nullopt };
}

PageScript bodyWithoutArguments(std::string_view body)
{
    return asyncFunctionWithArguments(body, {});
}

PageScript limited(PageScript script, const PageReadLimit& limit)
{
    script.resultLimit = limit;
    return script;
}

const char* localStorageBody(LocalStorageAction action)
{
    switch (action) {
    case LocalStorageAction::Get:
        return "return "
               "Object.fromEntries(Array.from({length:localStorage.length},(_,i)=>{const "
               "k=localStorage.key(i);return [k,localStorage.getItem(k)]}));";
    case LocalStorageAction::Set:
        return "localStorage.setItem(key,value); return true;";
    case LocalStorageAction::Remove:
        return "localStorage.removeItem(key); return true;";
    case LocalStorageAction::Clear:
        return "localStorage.clear(); return true;";
    }
    return "";
}

// Only real inputs and text areas take the value setter; calling HTMLInputElement's setter on
// any other element throws, and such elements get their text content instead.
const char* kTypeBody
    = "const e=document.querySelector(selector); if(!e) throw new Error('Element not found'); "
      "e.focus(); "
      "const "
      "proto=e.tagName==='TEXTAREA'?HTMLTextAreaElement.prototype:HTMLInputElement.prototype; "
      "const owner=e.tagName==='TEXTAREA'?HTMLTextAreaElement:HTMLInputElement; "
      "const setter=(e instanceof "
      "owner)?Object.getOwnPropertyDescriptor(proto,'value')?.set:undefined; "
      "if(setter){setter.call(e,text);}else{e.textContent=text;} "
      "e.dispatchEvent(new Event('input',{bubbles:true})); "
      "e.dispatchEvent(new Event('change',{bubbles:true})); return true;";

const char* elementBody(ElementAction action)
{
    switch (action) {
    case ElementAction::Click:
        return "const e=document.querySelector(selector); if(!e) throw new Error('Element not "
               "found'); e.click(); return true;";
    case ElementAction::Scroll:
        return "const e=document.querySelector(selector); if(!e) throw new Error('Element not "
               "found'); e.scrollIntoView({block:'center'}); "
               "window.scrollBy(Number(x),Number(y)); "
               "return {scrollX,scrollY};";
    case ElementAction::Type:
        return kTypeBody;
    }
    return "";
}

} // namespace

PageScript asyncFunctionWithArguments(std::string_view body, const ScriptArguments& arguments)
{
    std::string source;
    for (const auto& [name, value] : arguments)
        source += "const " + name + " = " + jsonForScript(value) + ";\n";
    source += body;
    return { PageScriptKind::AsyncFunctionBody, std::move(source), PageScriptWorld::Isolated,
        std::nullopt };
}

PageScript userAgentScript() { return expression("navigator.userAgent"); }

PageScript pageTextScript()
{
    return limited(expression("document.body ? document.body.innerText : ''"), kPageTextReadLimit);
}

PageScript pageHTMLScript()
{
    return limited(
        expression("document.documentElement ? document.documentElement.outerHTML : ''"),
        kLiveHTMLReadLimit);
}

PageScript pageResourcesScript()
{
    return limited(expression("performance.getEntriesByType('resource').map(r => ({name:r.name, "
                              "type:r.initiatorType, duration:r.duration, size:r.transferSize}))"),
        kResourceListReadLimit);
}

PageScript localStorageScript(
    LocalStorageAction action, const std::string& key, const std::string& value)
{
    PageScript script = asyncFunctionWithArguments(
        localStorageBody(action), { { "key", key }, { "value", value } });
    if (action == LocalStorageAction::Get)
        script.resultLimit = kLocalStorageReadLimit;
    return script;
}

PageScript elementActionScript(
    ElementAction action, const std::string& selector, const std::string& text, double x, double y)
{
    return asyncFunctionWithArguments(elementBody(action),
        { { "selector", selector }, { "text", text }, { "x", x }, { "y", y } });
}

PageScript executeScriptScript(const std::string& code)
{
    PageScript script = limited(expression(code), kScriptResultReadLimit);
    script.world = PageScriptWorld::Page;
    return script;
}

PageScript sourceGetHTMLScript()
{
    return limited(
        bodyWithoutArguments(
            "const html = document.documentElement ? document.documentElement.outerHTML : ''; if "
            "(new TextEncoder().encode(html).length > 2097152) throw new Error('Live HTML is "
            "larger than 2 MB'); return html;"),
        kLiveHTMLReadLimit);
}

PageScript sourceSetHTMLScript(const std::string& html)
{
    return asyncFunctionWithArguments(
        "const parsed = new DOMParser().parseFromString(html, 'text/html'); if "
        "(!parsed.documentElement) throw new Error('Invalid HTML document'); "
        "document.documentElement.replaceWith(parsed.documentElement); return true;",
        { { "html", html } });
}

PageScript sourceListResourcesScript()
{
    return limited(expression("performance.getEntriesByType('resource').slice(0,10000).map(r => "
                              "({url:r.name, type:r.initiatorType, size:r.transferSize}))"),
        kResourceListReadLimit);
}

PageScript sourceReadResourceScript(const std::string& url)
{
    PageScript script = asyncFunctionWithArguments(
        "const requested = new URL(url, location.href).href; "
        "const loaded = requested === location.href || "
        "performance.getEntriesByType('resource').some(r => r.name === requested); "
        "if (!loaded) throw new Error('Only resources already loaded by this page can be read'); "
        "const response = await fetch(requested, {credentials: 'same-origin'}); "
        "if (!response.ok) throw new Error('Resource request failed: ' + response.status); "
        "if (Number(response.headers.get('content-length') || 0) > 2097152) "
        "throw new Error('Resources larger than 2 MB cannot be read'); "
        "const text = await response.text(); "
        "if (new TextEncoder().encode(text).length > 2097152) "
        "throw new Error('Resources larger than 2 MB cannot be read'); "
        "return text;",
        { { "url", url } });
    return limited(std::move(script), kResourceReadLimit);
}

PageScript sourceInsertCSSScript(const std::string& css)
{
    return asyncFunctionWithArguments(
        "const style = document.createElement('style'); const id = 'qv-source-' + "
        "Date.now().toString(36) + '-' + Math.random().toString(36).slice(2); "
        "style.dataset.qvSourceId = id; style.textContent = css; (document.head || "
        "document.documentElement).appendChild(style); return id;",
        { { "css", css } });
}

PageScript sourceRemoveCSSScript(const std::string& styleId)
{
    return asyncFunctionWithArguments(
        "const node = Array.from(document.querySelectorAll('style[data-qv-source-id]')).find(item "
        "=> item.dataset.qvSourceId === styleId); if (!node) return false; node.remove(); return "
        "true;",
        { { "styleId", styleId } });
}

} // namespace qv

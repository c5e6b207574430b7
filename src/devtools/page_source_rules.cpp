// Resource records, page scripts and editor-state rules of the page source editor.
#include "devtools/page_source_rules.h"

#include "base/text_util.h"
#include "base/url.h"

#include <array>
#include <unordered_set>

namespace qv {

namespace {

constexpr std::array<std::string_view, 7> kSourceKinds { "html", "js", "css", "image", "font",
    "media", "text" };

const char* kListingScript
    = "(function(){"
      "const found=new Map();"
      "const add=(value,kind)=>{try{const u=new URL(value,location.href);u.hash='';"
      "if((u.protocol==='http:'||u.protocol==='https:')&&!found.has(u.href))"
      "found.set(u.href,kind);}catch(e){}};"
      "add(location.href,'html');"
      "document.querySelectorAll('script[src]').forEach(e=>add(e.src,'js'));"
      "document.querySelectorAll('link[href]').forEach(e=>{"
      "if(String(e.rel||'').toLowerCase().split(/\\s+/).includes('stylesheet'))"
      "add(e.href,'css');});"
      "document.querySelectorAll('img,source,video[src],audio[src]').forEach(e=>{"
      "const src=e.getAttribute('src')||'';"
      "if(src)add(src,'image');"
      "String(e.getAttribute('srcset')||'').split(',').forEach(c=>{"
      "const u=c.trim().split(/\\s+/)[0];if(u)add(u,'image');});});"
      "const "
      "kinds={script:'js',link:'css',img:'image',font:'font',video:'media',audio:'media'};"
      "try{performance.getEntriesByType('resource').forEach(r=>"
      "add(r.name,Object.prototype.hasOwnProperty.call(kinds,r.initiatorType)"
      "?kinds[r.initiatorType]:'text'));}catch(e){}"
      "return Array.from(found,([url,kind])=>({url,kind}));"
      "})();";

const char* kFetchBody
    = "const controller=new AbortController();"
      "const timer=setTimeout(()=>controller.abort(),10000);"
      "try{"
      "const response=await fetch(url,{credentials:'include',signal:controller.signal});"
      "if(!response.ok)throw new Error('HTTP '+response.status);"
      "const type=response.headers.get('content-type')||'';"
      "const lower=type.toLowerCase();"
      "if(!(lower.startsWith('text/')||/javascript|json|xml|svg/.test(lower)))"
      "throw new Error('Not a readable text resource: '+type);"
      "const text=await response.text();"
      "if(text.length>2000000)throw new Error('File exceeds the 2 MB editor limit');"
      "return text;"
      "}finally{clearTimeout(timer);}";

const char* kApplyHTML = "document.open();document.write(SOURCE);document.close();";
const char* kApplyCSS
    = "let style=document.getElementById('__quivelbrowser_source_override__');"
      "if(!style){style=document.createElement('style');"
      "style.id='__quivelbrowser_source_override__';document.head.appendChild(style);}"
      "style.textContent=SOURCE;";
const char* kApplyJS = "(0,eval)(SOURCE);";

bool isListableURL(const std::string& url)
{
    if (url.size() > kMaxSourceResourceURLBytes || !isValidUtf8(url))
        return false;
    auto address = parsePlainAddress(url);
    return address && address->isHTTP() && !address->host.empty() && !address->fragment;
}

} // namespace

bool isSourceResourceKind(std::string_view kind)
{
    for (std::string_view known : kSourceKinds) {
        if (kind == known)
            return true;
    }
    return false;
}

std::optional<std::vector<SourceResource>> sourceResourcesFromValue(const Json& value)
{
    if (!value.is_array())
        return std::nullopt;
    std::vector<SourceResource> resources;
    std::unordered_set<std::string> seen;
    for (const Json& element : value) {
        if (resources.size() >= kMaxListedSourceResources)
            break;
        if (!element.is_object())
            continue;
        auto url = element.find("url");
        auto kind = element.find("kind");
        if (url == element.end() || kind == element.end() || !url->is_string()
            || !kind->is_string())
            continue;
        SourceResource resource { url->get<std::string>(), kind->get<std::string>() };
        if (!isListableURL(resource.url) || !isSourceResourceKind(resource.kind))
            continue;
        if (!seen.insert(resource.url).second)
            continue;
        resources.push_back(std::move(resource));
    }
    return resources;
}

std::optional<std::vector<SourceResource>> sourceResourcesFromJSONText(std::string_view text)
{
    auto value = parseJson(text);
    if (!value)
        return std::nullopt;
    return sourceResourcesFromValue(*value);
}

std::string sourceResourceRowLabel(const SourceResource& resource)
{
    std::string kind = resource.kind;
    for (char& c : kind) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return "[" + kind + "] " + resource.url;
}

PageScript sourceResourceListingScript()
{
    // Its own world: the page's scripts share the document but not the functions the listing
    // calls, so they cannot replace querySelectorAll, performance or URL to feed it names.
    return { PageScriptKind::Expression, kListingScript, PageScriptWorld::Isolated, std::nullopt };
}

PageScript sourceLiveHTMLScript()
{
    return { PageScriptKind::Expression, "document.documentElement.outerHTML", PageScriptWorld::Page,
        std::nullopt };
}

PageScript sourceResourceFetchScript(const std::string& url)
{
    return asyncFunctionWithArguments(kFetchBody, { { "url", Json(url) } });
}

void markSourceLoaded(SourceEditorState& state, const SourceResource& resource)
{
    state.loaded = resource;
    state.dirty = false;
}

std::optional<std::string> markSourceEdited(SourceEditorState& state)
{
    if (!state.loaded)
        return std::nullopt;
    state.dirty = true;
    auto address = parsePlainAddress(state.loaded->url);
    return "Unsaved local edits · " + lastURLPathComponent(address ? address->path : "");
}

SourceLoadStep sourceLoadStep(const SourceEditorState& state, const SourceResource& next)
{
    if (!state.dirty || !state.loaded)
        return SourceLoadStep::Load;
    return state.loaded->url == next.url ? SourceLoadStep::RefuseSameDirty
                                         : SourceLoadStep::AskToSaveOrDiscard;
}

Result<PageScript> applyPageSourceScript(const SourceEditorState& state, std::string_view text)
{
    if (!state.loaded)
        return Result<PageScript>::failure("Select and load a file before applying edits.");
    const std::string& kind = state.loaded->kind;
    const char* statement = kind == "html" ? kApplyHTML
        : kind == "css"                    ? kApplyCSS
        : kind == "js"                     ? kApplyJS
                                           : nullptr;
    if (!statement)
        return Result<PageScript>::failure(
            "This text resource is editable and saveable, but cannot be applied as HTML/CSS/JS.");
    // jsonForScript replaces invalid UTF-8 and escapes "</", so the literal cannot end early.
    std::string source = "(function(){const SOURCE=" + jsonForScript(Json(std::string(text))) + ";"
        + statement + "})();";
    return PageScript {
        PageScriptKind::Expression, std::move(source), PageScriptWorld::Page, std::nullopt
    };
}

} // namespace qv

// Bridge actions that work on a tab: page, source, network and download.
#include "extensions/bridge_dispatch_context.h"

#include "base/text_util.h"
#include "extensions/extension_address.h"

namespace qv::bridge {

namespace {

BridgeReply stringOrEmpty(const Json& value)
{
    return BridgeReply::success(value.is_string() ? value : Json(""));
}

BridgeReply resultOrTrue(const Json& value)
{
    return BridgeReply::success(value.is_null() ? Json(true) : value);
}

BridgeReply passThrough(const Json& value) { return BridgeReply::success(value); }

const Json* stringArgument(const Json& args, const char* key)
{
    auto it = args.find(key);
    return it != args.end() && it->is_string() ? &*it : nullptr;
}

double numberArgument(const Json& args, const char* key)
{
    auto it = args.find(key);
    return it != args.end() && it->is_number() ? it->get<double>() : 0.0;
}

// Source actions read and change the loaded page only.
bool hasLoadedPage(Dispatch& d, const ResolvedTab& tab)
{
    if (tab.info.currentURL.empty()) {
        d.reply(BridgeReply::failure(kNoLoadedPage));
        return false;
    }
    return true;
}

void sourceSetHTML(Dispatch& d, const ResolvedTab& tab)
{
    const Json* html = stringArgument(d.args(), "html");
    if (!html)
        d.reply(BridgeReply::failure("HTML must be a string."));
    else if (html->get_ref<const std::string&>().size() > 2097152)
        d.reply(BridgeReply::failure("Live HTML is limited to 2 MB per update."));
    else
        runScript(d, tab.index, sourceSetHTMLScript(html->get<std::string>()), resultOrTrue);
}

void sourceReadResource(Dispatch& d, const ResolvedTab& tab)
{
    const Json* url = stringArgument(d.args(), "url");
    std::size_t length = url ? utf16Length(url->get_ref<const std::string&>()) : 0;
    if (length < 1 || length > 8192)
        d.reply(BridgeReply::failure("Provide a loaded resource URL up to 8192 characters."));
    else
        runScript(d, tab.index, sourceReadResourceScript(url->get<std::string>()), stringOrEmpty);
}

void sourceInsertCSS(Dispatch& d, const ResolvedTab& tab)
{
    const Json* css = stringArgument(d.args(), "css");
    if (!css)
        d.reply(BridgeReply::failure("CSS must be a string."));
    else if (css->get_ref<const std::string&>().size() > 1048576)
        d.reply(BridgeReply::failure("Injected CSS is limited to 1 MB."));
    else
        runScript(
            d, tab.index, sourceInsertCSSScript(css->get<std::string>()), [](const Json& value) {
                return BridgeReply::success(value.is_string() ? value : Json(nullptr));
            });
}

void sourceRemoveCSS(Dispatch& d, const ResolvedTab& tab)
{
    const Json* styleId = stringArgument(d.args(), "styleId");
    std::size_t length = styleId ? utf16Length(styleId->get_ref<const std::string&>()) : 0;
    if (length < 1 || length > 128)
        d.reply(BridgeReply::failure("A valid style ID is required."));
    else
        runScript(d, tab.index, sourceRemoveCSSScript(styleId->get<std::string>()),
            [](const Json& value) {
                return BridgeReply::success(value.is_boolean() ? value : Json(false));
            });
}

void localStorageAction(Dispatch& d, const ResolvedTab& tab, LocalStorageAction action)
{
    if (tab.info.currentURL.empty()) {
        d.reply(BridgeReply::failure(kNoLoadedPage));
        return;
    }
    std::string key = jsonString(d.args(), "key");
    bool needsKey = action == LocalStorageAction::Set || action == LocalStorageAction::Remove;
    if (needsKey && key.empty()) {
        d.reply(BridgeReply::failure("A non-empty localStorage key is required."));
        return;
    }
    std::string value = jsonString(d.args(), "value");
    runScript(d, tab.index, localStorageScript(action, key, value), passThrough);
}

void elementAction(Dispatch& d, const ResolvedTab& tab, ElementAction action)
{
    const Json* selector = stringArgument(d.args(), "selector");
    std::size_t length = selector ? utf16Length(selector->get_ref<const std::string&>()) : 0;
    if (length < 1 || length > 2048) {
        d.reply(BridgeReply::failure("A CSS selector (up to 2048 characters) is required."));
        return;
    }
    PageScript script = elementActionScript(action, selector->get<std::string>(),
        jsonString(d.args(), "text"), numberArgument(d.args(), "x"), numberArgument(d.args(), "y"));
    runScript(d, tab.index, script, resultOrTrue);
}

void pageExpression(Dispatch& d, const ResolvedTab& tab, const PageScript& script,
    std::function<BridgeReply(const Json&)> onValue)
{
    if (tab.info.currentURL.empty()) {
        d.reply(BridgeReply::failure(kNoLoadedPage));
        return;
    }
    runScript(d, tab.index, script, std::move(onValue));
}

void pageNavigate(Dispatch& d, const ResolvedTab& tab)
{
    std::string text = jsonString(d.args(), "url");
    if (text.empty()) {
        d.reply(BridgeReply::failure("A URL is required."));
        return;
    }
    std::string address = webAddressForExtensionText(
        text, [&d](const std::string& query) { return d.host.searchURL(query); });
    d.host.loadURL(tab.index, address);
    d.reply(BridgeReply::success(address));
}

void pageGetInfo(Dispatch& d, const ResolvedTab& tab)
{
    const BridgeTabInfo& info = tab.info;
    d.reply(BridgeReply::success(Json {
        { "url", info.currentURL },
        { "title", info.pageTitle },
        { "isLoading", info.isLoading },
        { "canGoBack", info.canGoBack },
        { "canGoForward", info.canGoForward },
    }));
}

void pageBackOrForward(Dispatch& d, const ResolvedTab& tab, bool back)
{
    if (back && tab.info.canGoBack)
        d.host.goBack(tab.index);
    else if (!back && tab.info.canGoForward)
        d.host.goForward(tab.index);
    d.reply(BridgeReply::success(true));
}

void networkFetch(Dispatch& d, const ResolvedTab&)
{
    auto request = extensionFetchRequest(d.args());
    if (!request)
        d.reply(BridgeReply::failure(request.error()));
    else
        d.host.performExtensionFetch(request.value(), d.reply.handler());
}

void downloadSave(Dispatch& d, const ResolvedTab&)
{
    auto request = extensionDownloadRequest(d.args());
    if (!request)
        d.reply(BridgeReply::failure(request.error()));
    else
        d.host.performExtensionDownload(request.value(), d.id, d.reply.handler());
}

// Source actions need a loaded page before anything else is checked.
template <void (*Handler)(Dispatch&, const ResolvedTab&)>
void onLoadedPage(Dispatch& d, const ResolvedTab& tab)
{
    if (hasLoadedPage(d, tab))
        Handler(d, tab);
}

void sourceGetHTML(Dispatch& d, const ResolvedTab& tab)
{
    runScript(d, tab.index, sourceGetHTMLScript(), stringOrEmpty);
}

void sourceListResources(Dispatch& d, const ResolvedTab& tab)
{
    runScript(d, tab.index, sourceListResourcesScript(), [](const Json& value) {
        return BridgeReply::success(value.is_array() ? value : Json::array());
    });
}

const BridgeAction kTabActions[] = {
    { "source.getHTML", "source", nullptr, &onLoadedPage<&sourceGetHTML> },
    { "source.setHTML", "source", nullptr, &onLoadedPage<&sourceSetHTML> },
    { "source.listResources", "source", nullptr, &onLoadedPage<&sourceListResources> },
    { "source.readResource", "source", nullptr, &onLoadedPage<&sourceReadResource> },
    { "source.insertCSS", "source", nullptr, &onLoadedPage<&sourceInsertCSS> },
    { "source.removeCSS", "source", nullptr, &onLoadedPage<&sourceRemoveCSS> },
    { "page.getInfo", "page", nullptr, &pageGetInfo },
    { "page.getText", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            pageExpression(d, t, pageTextScript(), stringOrEmpty);
        } },
    { "page.localStorage.get", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            localStorageAction(d, t, LocalStorageAction::Get);
        } },
    { "page.localStorage.set", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            localStorageAction(d, t, LocalStorageAction::Set);
        } },
    { "page.localStorage.remove", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            localStorageAction(d, t, LocalStorageAction::Remove);
        } },
    { "page.localStorage.clear", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            localStorageAction(d, t, LocalStorageAction::Clear);
        } },
    { "page.getHTML", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            pageExpression(d, t, pageHTMLScript(), passThrough);
        } },
    { "page.getSource", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            pageExpression(d, t, pageHTMLScript(), passThrough);
        } },
    { "page.getResources", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            pageExpression(d, t, pageResourcesScript(), passThrough);
        } },
    { "page.click", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) { elementAction(d, t, ElementAction::Click); } },
    { "page.type", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) { elementAction(d, t, ElementAction::Type); } },
    { "page.scroll", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) { elementAction(d, t, ElementAction::Scroll); } },
    { "page.navigate", "page", nullptr, &pageNavigate },
    { "page.reload", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) {
            d.host.reload(t.index);
            d.reply(BridgeReply::success(true));
        } },
    { "page.back", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) { pageBackOrForward(d, t, true); } },
    { "page.forward", "page", nullptr,
        [](Dispatch& d, const ResolvedTab& t) { pageBackOrForward(d, t, false); } },
    { "network.fetch", "network", nullptr, &networkFetch },
    { "download.save", "downloads", nullptr, &downloadSave },
};

} // namespace

std::span<const BridgeAction> tabActions() { return kTabActions; }

void unknownTabAction(Dispatch& d, const ResolvedTab& tab)
{
    if (startsWith(d.action(), "source.")) {
        if (hasLoadedPage(d, tab))
            d.reply(BridgeReply::failure("Unknown source API action."));
        return;
    }
    d.reply(BridgeReply::failure("Unsupported Quivel API action: " + d.action()));
}

} // namespace qv::bridge

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

void sourceAction(Dispatch& d, const ResolvedTab& tab)
{
    const std::string& a = d.action();
    const Json& args = d.args();
    if (tab.info.currentURL.empty()) {
        d.reply(BridgeReply::failure(kNoLoadedPage));
        return;
    }
    if (a == "source.getHTML") {
        runScript(d, tab.index, sourceGetHTMLScript(), stringOrEmpty);
    } else if (a == "source.setHTML") {
        const Json* html = stringArgument(args, "html");
        if (!html)
            d.reply(BridgeReply::failure("HTML must be a string."));
        else if (html->get_ref<const std::string&>().size() > 2097152)
            d.reply(BridgeReply::failure("Live HTML is limited to 2 MB per update."));
        else
            runScript(d, tab.index, sourceSetHTMLScript(html->get<std::string>()), resultOrTrue);
    } else if (a == "source.listResources") {
        runScript(d, tab.index, sourceListResourcesScript(), [](const Json& value) {
            return BridgeReply::success(value.is_array() ? value : Json::array());
        });
    } else if (a == "source.readResource") {
        const Json* url = stringArgument(args, "url");
        std::size_t length = url ? utf16Length(url->get_ref<const std::string&>()) : 0;
        if (length < 1 || length > 8192)
            d.reply(BridgeReply::failure("Provide a loaded resource URL up to 8192 characters."));
        else
            runScript(
                d, tab.index, sourceReadResourceScript(url->get<std::string>()), stringOrEmpty);
    } else if (a == "source.insertCSS") {
        const Json* css = stringArgument(args, "css");
        if (!css)
            d.reply(BridgeReply::failure("CSS must be a string."));
        else if (css->get_ref<const std::string&>().size() > 1048576)
            d.reply(BridgeReply::failure("Injected CSS is limited to 1 MB."));
        else
            runScript(d, tab.index, sourceInsertCSSScript(css->get<std::string>()),
                [](const Json& value) {
                    return BridgeReply::success(value.is_string() ? value : Json(nullptr));
                });
    } else if (a == "source.removeCSS") {
        const Json* styleId = stringArgument(args, "styleId");
        std::size_t length = styleId ? utf16Length(styleId->get_ref<const std::string&>()) : 0;
        if (length < 1 || length > 128)
            d.reply(BridgeReply::failure("A valid style ID is required."));
        else
            runScript(d, tab.index, sourceRemoveCSSScript(styleId->get<std::string>()),
                [](const Json& value) {
                    return BridgeReply::success(value.is_boolean() ? value : Json(false));
                });
    } else {
        d.reply(BridgeReply::failure("Unknown source API action."));
    }
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

} // namespace

void dispatchTabAction(Dispatch& d)
{
    auto tab = resolvePageTab(d.host, d.args());
    if (!tab) {
        d.reply(BridgeReply::failure(kNoSuchTab));
        return;
    }
    const std::string& a = d.action();
    const BridgeTabInfo& info = tab->info;
    if (startsWith(a, "source.")) {
        sourceAction(d, *tab);
    } else if (a == "page.getInfo") {
        d.reply(BridgeReply::success(Json {
            { "url", info.currentURL },
            { "title", info.pageTitle },
            { "isLoading", info.isLoading },
            { "canGoBack", info.canGoBack },
            { "canGoForward", info.canGoForward },
        }));
    } else if (a == "page.getText") {
        pageExpression(d, *tab, pageTextScript(), stringOrEmpty);
    } else if (a == "page.localStorage.get") {
        localStorageAction(d, *tab, LocalStorageAction::Get);
    } else if (a == "page.localStorage.set") {
        localStorageAction(d, *tab, LocalStorageAction::Set);
    } else if (a == "page.localStorage.remove") {
        localStorageAction(d, *tab, LocalStorageAction::Remove);
    } else if (a == "page.localStorage.clear") {
        localStorageAction(d, *tab, LocalStorageAction::Clear);
    } else if (a == "page.getHTML" || a == "page.getSource") {
        pageExpression(d, *tab, pageHTMLScript(), passThrough);
    } else if (a == "page.getResources") {
        pageExpression(d, *tab, pageResourcesScript(), passThrough);
    } else if (a == "page.click") {
        elementAction(d, *tab, ElementAction::Click);
    } else if (a == "page.type") {
        elementAction(d, *tab, ElementAction::Type);
    } else if (a == "page.scroll") {
        elementAction(d, *tab, ElementAction::Scroll);
    } else if (a == "page.navigate") {
        pageNavigate(d, *tab);
    } else if (a == "page.reload") {
        d.host.reload(tab->index);
        d.reply(BridgeReply::success(true));
    } else if (a == "page.back" || a == "page.forward") {
        bool back = a == "page.back";
        if (back && info.canGoBack)
            d.host.goBack(tab->index);
        else if (!back && info.canGoForward)
            d.host.goForward(tab->index);
        d.reply(BridgeReply::success(true));
    } else if (a == "network.fetch") {
        auto request = extensionFetchRequest(d.args());
        if (!request)
            d.reply(BridgeReply::failure(request.error()));
        else
            d.host.performExtensionFetch(request.value(), d.reply.handler());
    } else if (a == "download.save") {
        auto request = extensionDownloadRequest(d.args());
        if (!request)
            d.reply(BridgeReply::failure(request.error()));
        else
            d.host.performExtensionDownload(request.value(), d.id, d.reply.handler());
    } else {
        d.reply(BridgeReply::failure("Unsupported Quivel API action: " + a));
    }
}

} // namespace qv::bridge

// Favicons: the page's icon found after each finished load, fetched within the size limit,
// decoded, cached and shown in the tab strip.
#include "app/browser_controller.h"

#include "app/web_views.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace qv {

namespace {

    using namespace std::chrono_literals;

    // A drip-fed icon gives up after this long, whatever its size so far.
    constexpr auto kFaviconTimeout = 15s;
    // Larger images are refused before their pixels are allocated where the loader allows it,
    // and refused after decoding otherwise; the strip draws icons at 16 points.
    constexpr int kMaxFaviconSide = 1024;
    constexpr int kFaviconDisplaySide = 64;

    struct FaviconDecoding {
        bool tooLarge = false;
    };

    // The icon as a texture, or nothing when the bytes are no image or an oversized one.
    Glib::RefPtr<Gdk::Texture> decodeFavicon(const std::string& bytes)
    {
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
        FaviconDecoding decoding;
        g_signal_connect(loader, "size-prepared",
            G_CALLBACK(+[](GdkPixbufLoader* loader, int width, int height, gpointer data) {
                auto* decoding = static_cast<FaviconDecoding*>(data);
                if (width <= 0 || height <= 0 || width > kMaxFaviconSide
                    || height > kMaxFaviconSide) {
                    decoding->tooLarge = true;
                    // Loaders that scale while decoding then allocate only this.
                    gdk_pixbuf_loader_set_size(loader, 1, 1);
                    return;
                }
                if (width > kFaviconDisplaySide || height > kFaviconDisplaySide) {
                    double scale = double(kFaviconDisplaySide) / std::max(width, height);
                    gdk_pixbuf_loader_set_size(
                        loader, std::max(1, int(width * scale)), std::max(1, int(height * scale)));
                }
            }),
            &decoding);
        GError* error = nullptr;
        bool written = gdk_pixbuf_loader_write(
            loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error);
        if (error)
            g_clear_error(&error);
        bool closed = gdk_pixbuf_loader_close(loader, &error);
        if (error)
            g_clear_error(&error);
        Glib::RefPtr<Gdk::Texture> texture;
        GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (written && closed && pixbuf && !decoding.tooLarge)
            texture = Glib::wrap(gdk_texture_new_for_pixbuf(pixbuf));
        g_object_unref(loader);
        return texture;
    }

} // namespace

size_t BrowserController::pendingFaviconDownloads() const
{
    return m_faviconClient ? m_faviconClient->pendingCount() : 0;
}

void BrowserController::updateFaviconForWebView(WebKitWebView* view)
{
    std::string pageHost = hostOfURI(webViewURI(view));
    if (!view || pageHost.empty() || isExtensionWebView(view))
        return;
    std::optional<TabID> tabID = tabIDForWebView(view);
    if (!tabID)
        return;

    // The tab it is meant for: still showing W, still on the same host.
    auto tabStillOnHost = [this, view, pageHost, id = *tabID]() -> BrowserTab* {
        for (auto& tab : m_browserTabs) {
            if (tab.id == id)
                return tab.webView == view && hostOfURI(webViewURI(view)) == pageHost ? &tab
                                                                                      : nullptr;
        }
        return nullptr;
    };

    std::weak_ptr<bool> alive = m_faviconLookupsAlive;
    evaluateBrowserScript(view, std::string(kFaviconLookupScript),
        [this, alive, tabStillOnHost](ScriptAnswer answer) {
            if (alive.expired() || !answer.ok || !answer.isString)
                return;
            if (!tabStillOnHost())
                return;
            FaviconSource source = faviconSourceFor(answer.text);
            if (source.kind == FaviconSource::Kind::None)
                return;
            if (source.kind == FaviconSource::Kind::Inline) {
                // Inline icons are not cached: the address is the image itself.
                if (auto texture = decodeFavicon(source.bytes)) {
                    tabStillOnHost()->favicon = texture;
                    refreshTabBar();
                }
                return;
            }
            if (auto cached = m_faviconCache.find(source.address)) {
                tabStillOnHost()->favicon = *cached;
                refreshTabBar();
                return;
            }
            if (!m_faviconClient)
                m_faviconClient = std::make_unique<HttpClient>();
            auto download = std::make_shared<FaviconDownload>();
            HttpStreamCallbacks handlers;
            handlers.response = [download](const HttpResponseHead& head) {
                return download->receiveResponse(head.status, head.contentLength);
            };
            handlers.body
                = [download](std::string_view chunk) { return download->receiveData(chunk); };
            handlers.finished = [this, alive, download, tabStillOnHost, address = source.address](
                                    const HttpStreamEnd& end) {
                if (alive.expired() || end.kind != HttpStreamEnd::Kind::Complete)
                    return;
                std::optional<std::string> bytes = download->finish();
                if (!bytes)
                    return;
                Glib::RefPtr<Gdk::Texture> texture = decodeFavicon(*bytes);
                BrowserTab* tab = tabStillOnHost();
                // An icon for a page the tab has left is neither shown nor cached.
                if (!texture || !tab)
                    return;
                m_faviconCache.insert(address, texture);
                tab->favicon = texture;
                refreshTabBar();
            };
            HttpStreamRequest request;
            request.url = source.address;
            request.idleTimeout = kFaviconTimeout;
            m_faviconClient->stream(request, std::move(handlers));
        });
}

} // namespace qv

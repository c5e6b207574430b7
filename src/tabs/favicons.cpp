// Favicons: the page's icon found after each finished load, fetched within the size limit,
// checked and decoded on a worker thread, cached and shown in the tab strip.
#include "tabs/tab_service.h"

#include "app/services.h"
#include "extensions/extension_service.h"
#include "platform/http_client.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace qv {

namespace {

    using namespace std::chrono_literals;

    // A drip-fed icon gives up after this long, whatever its size so far.
    constexpr auto kFaviconTimeout = 15s;
    // A look-up whose page's markup cannot tell runs a script in the page: pages passed through
    // (a redirect, quick steps back) are not asked.
    constexpr unsigned kFaviconLookupDelayMilliseconds = 300;

    const char* loaderTypeFor(FaviconFormat format)
    {
        switch (format) {
        case FaviconFormat::Png:
            return "png";
        case FaviconFormat::Jpeg:
            return "jpeg";
        case FaviconFormat::Gif:
            return "gif";
        case FaviconFormat::Bmp:
            return "bmp";
        case FaviconFormat::Ico:
            return "ico";
        case FaviconFormat::Svg:
            return "svg";
        }
        return "png";
    }

    struct SizeGuard {
        FaviconFormat format;
        bool refused = false;
    };

    void checkPreparedSize(GdkPixbufLoader* loader, int width, int height, gpointer data)
    {
        auto* guard = static_cast<SizeGuard*>(data);
        // SVG is drawn at the size it is given, so any size it declares costs no more than the
        // display size; every other format has been held to its header.
        bool drawnToSize = guard->format == FaviconFormat::Svg && width > 0 && height > 0;
        if (!drawnToSize && !isAcceptableFaviconSize(width, height)) {
            guard->refused = true;
            // The PNG decoder gives up at a zero size; SVG draws at whatever it is given.
            int side = guard->format == FaviconFormat::Png ? 0 : 1;
            gdk_pixbuf_loader_set_size(loader, side, side);
            return;
        }
        auto [shownWidth, shownHeight] = faviconDisplaySize(width, height);
        if (shownWidth != width || shownHeight != height)
            gdk_pixbuf_loader_set_size(loader, shownWidth, shownHeight);
    }

    // Runs on a worker thread. The header is checked before any decoder sees the bytes, and the
    // decoder is the one for the format the header names, so no other loader guesses at them.
    // The size the decoder reports is checked again before it allocates.
    GdkPixbuf* decodeFaviconPixbuf(const std::string& bytes)
    {
        std::optional<FaviconImageHeader> header = checkedFaviconHeader(bytes);
        if (!header)
            return nullptr;
        GError* error = nullptr;
        GdkPixbufLoader* loader
            = gdk_pixbuf_loader_new_with_type(loaderTypeFor(header->format), &error);
        if (!loader) {
            g_clear_error(&error);
            return nullptr;
        }
        SizeGuard guard { header->format };
        g_signal_connect(loader, "size-prepared", G_CALLBACK(checkPreparedSize), &guard);
        bool written = gdk_pixbuf_loader_write(
            loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), &error);
        g_clear_error(&error);
        bool closed = gdk_pixbuf_loader_close(loader, &error);
        g_clear_error(&error);
        GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        GdkPixbuf* decoded = written && closed && pixbuf && !guard.refused
            ? GDK_PIXBUF(g_object_ref(pixbuf))
            : nullptr;
        g_object_unref(loader);
        return decoded;
    }

    // Gets the decoded image, or null; it is only borrowed for the call.
    using FaviconDecoded = std::function<void(GdkPixbuf*)>;

    void decodeFaviconInBackground(std::string bytes, FaviconDecoded done)
    {
        runInBackground<GdkPixbuf*>(
            [bytes = std::move(bytes)] { return decodeFaviconPixbuf(bytes); },
            [done = std::move(done)](GdkPixbuf* pixbuf) {
                done(pixbuf);
                if (pixbuf)
                    g_object_unref(pixbuf);
            });
    }

    struct MainResourceRead {
        std::function<void(std::optional<std::string>)> done;
    };

    // The bytes of the page's main document as it arrived, when it is HTML that announced a
    // size the markup reader takes; nothing otherwise. The engine hands over the whole document
    // in one piece, so one without an announced size (or a compressed one, whose announced size
    // is not its own) is never asked for.
    void readPageMarkup(WebKitWebView* view, std::function<void(std::optional<std::string>)> done)
    {
        WebKitWebResource* page = webkit_web_view_get_main_resource(view);
        WebKitURIResponse* response = page ? webkit_web_resource_get_response(page) : nullptr;
        const char* type = response ? webkit_uri_response_get_mime_type(response) : nullptr;
        std::optional<std::uint64_t> length = announcedDecodedLength(response);
        if (!type || std::string_view(type) != "text/html" || !length
            || *length > kMaxFaviconMarkupBytes) {
            done(std::nullopt);
            return;
        }
        AsyncCall<MainResourceRead> pending({ std::move(done) });
        webkit_web_resource_get_data(
            page, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto read = AsyncCall<MainResourceRead>::take(data);
                gsize length = 0;
                GError* error = nullptr;
                guchar* bytes = webkit_web_resource_get_data_finish(
                    WEBKIT_WEB_RESOURCE(source), result, &length, &error);
                g_clear_error(&error);
                std::optional<std::string> markup;
                if (bytes && length <= kMaxFaviconMarkupBytes)
                    markup.emplace(reinterpret_cast<const char*>(bytes), length);
                g_free(bytes);
                read->done(std::move(markup));
            },
            pending.release());
    }

} // namespace

size_t TabService::pendingFaviconDownloads() const
{
    return m_faviconClient ? m_faviconClient->pendingCount() : 0;
}

void TabService::updateFaviconForWebView(WebKitWebView* view)
{
    std::optional<TabID> tabID = tabIDForWebView(view);
    Tab* tab = tabID ? m_tabs.tabWithID(*tabID) : nullptr;
    if (!tab)
        return;
    unsigned serial = tab->loadState().serial;
    Lifetime::Token alive = m_lifetime.token();
    Glib::signal_timeout().connect_once(
        [this, alive, view, id = *tabID, serial] {
            if (alive.expired())
                return;
            // Still the same tab, view and finished load.
            Tab* tab = m_tabs.tabWithID(id);
            if (tab && tab->webView() == view && tab->loadState().serial == serial
                && tab->loadState().finished && !webkit_web_view_is_loading(view))
                lookUpFavicon(view);
        },
        kFaviconLookupDelayMilliseconds);
}

void TabService::findFaviconAddress(WebKitWebView* view, const std::string& pageAddress,
    Lifetime::Token alive, std::function<bool()> stillWanted,
    std::function<void(std::optional<std::string>)> found)
{
    auto askTheScript = [this, view, alive, found] {
        ++m_faviconScriptLookups;
        evaluateBrowserScript(view, std::string(kFaviconLookupScript), alive,
            [found](ScriptAnswer answer) {
                found(answer.ok && answer.isString ? std::optional(std::move(answer.text))
                                                   : std::nullopt);
            });
    };
    readPageMarkup(view,
        [alive, stillWanted, found, askTheScript, pageAddress](
            std::optional<std::string> markup) {
            if (alive.expired())
                return;
            // A page left is answered with nothing; without markup only the script can tell.
            if (!stillWanted())
                return found(std::nullopt);
            if (!markup)
                return askTheScript();
            runInBackground<std::optional<std::string>>(
                [markup = std::move(*markup), pageAddress] {
                    return faviconFromMarkup(markup, pageAddress);
                },
                [alive, stillWanted, found, askTheScript](std::optional<std::string> address) {
                    if (alive.expired())
                        return;
                    if (address || !stillWanted())
                        found(std::move(address));
                    else
                        askTheScript();
                });
        });
}

void TabService::lookUpFavicon(WebKitWebView* view)
{
    std::string pageAddress = webViewURI(view);
    std::string pageHost = hostOfURI(pageAddress);
    if (!view || pageHost.empty() || m_services.extensions->isExtensionWebView(view))
        return;
    std::optional<TabID> tabID = tabIDForWebView(view);
    if (!tabID)
        return;

    // The tab it is meant for: still showing W, still on the same host.
    auto tabStillOnHost = [this, view, pageHost, id = *tabID]() -> Tab* {
        Tab* tab = m_tabs.tabWithID(id);
        return tab && tab->webView() == view && hostOfURI(webViewURI(view)) == pageHost ? tab
                                                                                        : nullptr;
    };
    auto show = [pageHost](Tab& tab, Glib::RefPtr<Gdk::Texture> texture) {
        tab.setFavicon(std::move(texture), pageHost);
    };

    Lifetime::Token alive = m_lifetime.token();
    findFaviconAddress(view, pageAddress, alive,
        [tabStillOnHost] { return tabStillOnHost() != nullptr; },
        [this, alive, tabStillOnHost, show, pageAddress](std::optional<std::string> address) {
            FaviconSource source
                = address && tabStillOnHost() ? faviconSourceFor(*address) : FaviconSource {};
            if (source.kind == FaviconSource::Kind::None) {
                ++m_faviconLookupsFinished;
                return;
            }
            if (source.kind == FaviconSource::Kind::Inline) {
                // Inline icons are not cached: the address is the image itself.
                decodeFaviconInBackground(std::move(source.bytes),
                    [this, alive, tabStillOnHost, show](GdkPixbuf* pixbuf) {
                        if (alive.expired())
                            return;
                        ++m_faviconLookupsFinished;
                        if (Tab* tab = tabStillOnHost(); tab && pixbuf)
                            show(*tab, Glib::wrap(gdk_texture_new_for_pixbuf(pixbuf)));
                    });
                return;
            }
            if (auto cached = m_faviconCache.find(source.address)) {
                ++m_faviconLookupsFinished;
                show(*tabStillOnHost(), *cached);
                return;
            }
            // An icon that failed for this page is not asked for again while the browser runs:
            // a page that reloads itself would otherwise have it fetched every time.
            std::string failureKey = faviconFailureKey(pageAddress, source.address);
            if (m_failedFavicons.find(failureKey)) {
                ++m_faviconLookupsFinished;
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
            handlers.finished = [this, alive, download, tabStillOnHost, show, failureKey,
                                    address = source.address](const HttpStreamEnd& end) {
                if (alive.expired())
                    return;
                std::optional<std::string> bytes;
                if (end.kind == HttpStreamEnd::Kind::Complete)
                    bytes = download->finish();
                if (!bytes) {
                    m_failedFavicons.insert(failureKey, true);
                    ++m_faviconLookupsFinished;
                    return;
                }
                decodeFaviconInBackground(std::move(*bytes),
                    [this, alive, tabStillOnHost, show, failureKey, address](GdkPixbuf* pixbuf) {
                        if (alive.expired())
                            return;
                        ++m_faviconLookupsFinished;
                        if (!pixbuf) {
                            m_failedFavicons.insert(failureKey, true);
                            return;
                        }
                        // An icon for a page the tab has left is neither shown nor cached.
                        Tab* tab = tabStillOnHost();
                        if (!tab)
                            return;
                        Glib::RefPtr<Gdk::Texture> texture
                            = Glib::wrap(gdk_texture_new_for_pixbuf(pixbuf));
                        m_faviconCache.insert(address, texture);
                        show(*tab, texture);
                    });
            };
            HttpStreamRequest request;
            request.url = source.address;
            request.idleTimeout = kFaviconTimeout;
            m_faviconClient->stream(request, std::move(handlers));
        });
}

} // namespace qv

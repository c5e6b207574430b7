// Favicons without a toolkit: the look-up script, icon addresses, inline icons, the download
// limit and the bounded cache of fetched icons.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qv {

// Run in the page after each finished load; its string result is the icon's address.
inline constexpr std::string_view kFaviconLookupScript
    = "(() => { const icon = document.querySelector('link[rel~=\"icon\"],link[rel=\"shortcut "
      "icon\"]'); return icon ? icon.href : new URL('/favicon.ico', location.href).href; })()";

// The largest page whose markup is read for its icon; a larger one is asked with the script.
inline constexpr size_t kMaxFaviconMarkupBytes = 1024 * 1024;

// The look-up script's answer for an HTML page at pageAddress, read from the page's markup
// alone: a page without scripts of its own then never has one run in it, which would cost it a
// script context on every later navigation of its frame. Nothing when only the script can
// tell: the page has scripts or event handlers, names a base address, holds content the reader
// does not model (templates, SVG or MathML, frames, raw text it cannot delimit), writes a
// character reference or a non-ASCII byte in the icon's link, or is too large.
std::optional<std::string> faviconFromMarkup(std::string_view markup, std::string_view pageAddress);

// Inline icons may carry this many characters after the comma; fetched icons this many bytes.
inline constexpr size_t kMaxFaviconDataCharacters = 700000;
inline constexpr std::uint64_t kMaxFaviconBytes = 700000;
inline constexpr size_t kFaviconCacheCapacity = 500;

// The host of an address as written, or nothing when it has none (blank pages, local files).
std::optional<std::string> faviconPageHost(std::string_view address);

// "/favicon.ico" at the page's origin, for when the page names no icon.
std::optional<std::string> faviconFallbackAddress(std::string_view pageAddress);

// Where an icon comes from, decided from the script's string result.
struct FaviconSource {
    enum class Kind { None, Inline, Network };
    Kind kind = Kind::None;
    std::string bytes; // Inline: the image data to decode
    std::string address; // Network: the address to fetch and the cache key
};

// A "data:image/" address gives its decoded bytes (Base64 when the header says ";base64",
// otherwise percent escapes removed); an http or https address with a host is fetched. Anything
// else, an oversized payload or a bad escape gives None.
FaviconSource faviconSourceFor(std::string_view scriptResult);

// Base64 decoding that ignores every character outside the alphabet.
std::string decodeBase64Lenient(std::string_view text);

// Decoders allocate what an image's header declares before they read a single pixel, so an
// icon of a few bytes can ask for gigabytes. Icons are checked against these limits first:
// every side at most kMaxFaviconSide, and at most kMaxFaviconPixels in all, counting every frame
// of an animation and every image of an icon file. Icons show at 16 points and are scaled to at
// most kFaviconDisplaySide while decoding.
inline constexpr std::uint32_t kMaxFaviconSide = 1024;
inline constexpr std::uint64_t kMaxFaviconPixels = 4 * 1024 * 1024;
inline constexpr int kFaviconDisplaySide = 64;

enum class FaviconFormat { Png, Jpeg, Gif, Bmp, Ico, Svg };

struct FaviconImageHeader {
    FaviconFormat format = FaviconFormat::Png;
    // The largest size declared; 0 for SVG, which declares its size in markup and is always
    // drawn at the display size, whatever that size is.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The icon's format as its own bytes say, when its headers are whole and every size they declare
// is within the limits; nothing for anything else: unknown or compressed formats, empty or
// oversized declarations, truncated headers, and SVG that declares entities, embeds images or
// data addresses, or includes other files.
std::optional<FaviconImageHeader> checkedFaviconHeader(std::string_view bytes);

// Whether a size a decoder reports may be decoded.
bool isAcceptableFaviconSize(int width, int height);

// The display size for an image of the given size: scaled down to fit kFaviconDisplaySide,
// never up, keeping its proportions and at least one pixel a side.
std::pair<int, int> faviconDisplaySize(int width, int height);

// The key under which a failed icon is remembered for the page that asked for it.
std::string faviconFailureKey(std::string_view pageAddress, std::string_view iconAddress);

// A status the icon download accepts: 200 to 399.
bool isAcceptableFaviconStatus(int status);

// Collects an icon download and says when to stop: as soon as the announced length or the bytes
// received pass the limit, or the status is not accepted.
class FaviconDownload {
public:
    explicit FaviconDownload(std::uint64_t limit = kMaxFaviconBytes)
        : m_limit(limit)
    {
    }

    // The response head; false means cancel the transfer now.
    bool receiveResponse(std::optional<int> httpStatus, std::optional<std::uint64_t> contentLength);
    // One chunk of the body; false means cancel the transfer now (the data is dropped).
    bool receiveData(std::string_view chunk);
    // The whole icon when the transfer ended within the limit with something in it.
    std::optional<std::string> finish();

    bool failed() const { return m_failed; }

private:
    std::uint64_t m_limit;
    std::string m_data;
    bool m_failed = false;
};

// Icons fetched from the network, keyed by the address exactly as the page gave it, keeping the
// most recently used ones. A hit returns the image that was stored.
template <class Image> class FaviconCache {
public:
    explicit FaviconCache(size_t capacity = kFaviconCacheCapacity)
        : m_capacity(capacity ? capacity : 1)
    {
    }

    // The image for the address, which becomes the most recently used.
    std::optional<Image> find(const std::string& address)
    {
        auto it = m_index.find(address);
        if (it == m_index.end())
            return std::nullopt;
        m_order.splice(m_order.begin(), m_order, it->second);
        return it->second->second;
    }

    // Stores or replaces the image; the least recently used icon goes when the cache is full.
    void insert(const std::string& address, Image image)
    {
        auto it = m_index.find(address);
        if (it != m_index.end()) {
            it->second->second = std::move(image);
            m_order.splice(m_order.begin(), m_order, it->second);
            return;
        }
        if (m_order.size() >= m_capacity) {
            m_index.erase(m_order.back().first);
            m_order.pop_back();
        }
        m_order.emplace_front(address, std::move(image));
        m_index.emplace(address, m_order.begin());
    }

    bool contains(const std::string& address) const { return m_index.count(address) != 0; }
    size_t size() const { return m_order.size(); }
    void clear()
    {
        m_index.clear();
        m_order.clear();
    }

private:
    using Entry = std::pair<std::string, Image>;
    size_t m_capacity;
    std::list<Entry> m_order; // most recently used first
    std::unordered_map<std::string, typename std::list<Entry>::iterator> m_index;
};

} // namespace qv

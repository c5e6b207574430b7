// Icon addresses, inline icon decoding and the download limit.
#include "tabs/favicon_rules.h"

#include "base/markup_tags.h"
#include "base/text_util.h"
#include "base/url.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qv {

namespace {

    // Reads little- and big-endian fields; out-of-range reads give nothing.
    class ByteReader {
    public:
        explicit ByteReader(std::string_view bytes)
            : m_bytes(bytes)
        {
        }
        size_t size() const { return m_bytes.size(); }
        bool has(size_t at, size_t count) const
        {
            return at <= m_bytes.size() && count <= m_bytes.size() - at;
        }
        std::optional<std::uint32_t> u8(size_t at) const
        {
            if (!has(at, 1))
                return std::nullopt;
            return static_cast<std::uint8_t>(m_bytes[at]);
        }
        std::optional<std::uint32_t> le(size_t at, size_t count) const
        {
            if (!has(at, count))
                return std::nullopt;
            std::uint32_t value = 0;
            for (size_t i = count; i-- > 0;)
                value = (value << 8) | static_cast<std::uint8_t>(m_bytes[at + i]);
            return value;
        }
        std::optional<std::uint32_t> be(size_t at, size_t count) const
        {
            if (!has(at, count))
                return std::nullopt;
            std::uint32_t value = 0;
            for (size_t i = 0; i < count; ++i)
                value = (value << 8) | static_cast<std::uint8_t>(m_bytes[at + i]);
            return value;
        }
        bool matches(size_t at, std::string_view text) const
        {
            return has(at, text.size()) && m_bytes.substr(at, text.size()) == text;
        }
        std::string_view from(size_t at) const
        {
            return at < m_bytes.size() ? m_bytes.substr(at) : std::string_view();
        }

    private:
        std::string_view m_bytes;
    };

    // Sums what an image declares and remembers the largest single size.
    class DeclaredSizes {
    public:
        bool add(std::uint64_t width, std::uint64_t height)
        {
            if (width == 0 || height == 0 || width > kMaxFaviconSide || height > kMaxFaviconSide)
                return false;
            m_pixels += width * height;
            if (m_pixels > kMaxFaviconPixels)
                return false;
            if (width * height >= std::uint64_t(m_width) * m_height) {
                m_width = static_cast<std::uint32_t>(width);
                m_height = static_cast<std::uint32_t>(height);
            }
            return true;
        }
        std::optional<FaviconImageHeader> header(FaviconFormat format) const
        {
            if (m_width == 0)
                return std::nullopt;
            return FaviconImageHeader { format, m_width, m_height };
        }

    private:
        std::uint64_t m_pixels = 0;
        std::uint32_t m_width = 0;
        std::uint32_t m_height = 0;
    };

    constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1A\n";

    // The size in a PNG's first chunk, which must be its header.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> pngSize(const ByteReader& r, size_t at)
    {
        if (!r.matches(at, kPngSignature) || !r.matches(at + 12, "IHDR"))
            return std::nullopt;
        auto width = r.be(at + 16, 4);
        auto height = r.be(at + 20, 4);
        if (!width || !height)
            return std::nullopt;
        return std::pair { *width, *height };
    }

    std::optional<FaviconImageHeader> pngHeader(const ByteReader& r)
    {
        auto size = pngSize(r, 0);
        DeclaredSizes sizes;
        if (!size || !sizes.add(size->first, size->second))
            return std::nullopt;
        return sizes.header(FaviconFormat::Png);
    }

    // JPEG: the first start-of-frame segment before the scan; the decoder refuses a second one.
    std::optional<FaviconImageHeader> jpegHeader(const ByteReader& r)
    {
        size_t at = 2;
        while (true) {
            if (r.u8(at) != 0xFFu)
                return std::nullopt;
            while (r.u8(at + 1) == 0xFFu)
                ++at; // fill bytes
            auto marker = r.u8(at + 1);
            if (!marker)
                return std::nullopt;
            if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD8)) {
                at += 2;
                continue;
            }
            if (*marker == 0xD9 || *marker == 0xDA)
                return std::nullopt; // image data or the end before any size
            auto length = r.be(at + 2, 2);
            if (!length || *length < 2)
                return std::nullopt;
            bool startOfFrame = *marker >= 0xC0 && *marker <= 0xCF && *marker != 0xC4
                && *marker != 0xC8 && *marker != 0xCC;
            if (startOfFrame) {
                auto height = r.be(at + 5, 2);
                auto width = r.be(at + 7, 2);
                DeclaredSizes sizes;
                if (!height || !width || !sizes.add(*width, *height))
                    return std::nullopt;
                return sizes.header(FaviconFormat::Jpeg);
            }
            at += 2 + *length;
        }
    }

    // GIF: the logical screen and every frame, each frame placed within the limit.
    std::optional<FaviconImageHeader> gifHeader(const ByteReader& r)
    {
        auto screenWidth = r.le(6, 2);
        auto screenHeight = r.le(8, 2);
        auto flags = r.u8(10);
        if (!screenWidth || !screenHeight || !flags)
            return std::nullopt;
        DeclaredSizes sizes;
        if (!sizes.add(*screenWidth, *screenHeight))
            return std::nullopt;
        size_t at = 13;
        if (*flags & 0x80)
            at += 3u << ((*flags & 7) + 1);
        auto skipSubBlocks = [&r](size_t& position) {
            while (true) {
                auto length = r.u8(position);
                if (!length)
                    return false;
                ++position;
                if (*length == 0)
                    return true;
                position += *length;
            }
        };
        while (true) {
            auto kind = r.u8(at);
            // The whole file is here, so an end between blocks leaves no frame unseen.
            if (!kind || *kind == 0x3B)
                return sizes.header(FaviconFormat::Gif);
            if (*kind == 0x21) {
                at += 2;
                if (!skipSubBlocks(at))
                    return std::nullopt;
                continue;
            }
            if (*kind != 0x2C)
                return std::nullopt;
            auto left = r.le(at + 1, 2);
            auto top = r.le(at + 3, 2);
            auto width = r.le(at + 5, 2);
            auto height = r.le(at + 7, 2);
            auto frameFlags = r.u8(at + 9);
            if (!left || !top || !width || !height || !frameFlags)
                return std::nullopt;
            // A frame reaching past the screen grows the image to hold it.
            if (std::uint64_t(*left) + *width > kMaxFaviconSide
                || std::uint64_t(*top) + *height > kMaxFaviconSide || !sizes.add(*width, *height))
                return std::nullopt;
            at += 10;
            if (*frameFlags & 0x80)
                at += 3u << ((*frameFlags & 7) + 1);
            at += 1; // the code size
            if (!skipSubBlocks(at))
                return std::nullopt;
        }
    }

    // A device-independent bitmap header as BMP and ICO files carry it; ICO images declare
    // twice their height (the mask follows the colours).
    std::optional<std::pair<std::uint64_t, std::uint64_t>> dibSize(
        const ByteReader& r, size_t at, bool doubledHeight)
    {
        auto headerSize = r.le(at, 4);
        if (!headerSize)
            return std::nullopt;
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        if (*headerSize == 12) {
            auto w = r.le(at + 4, 2);
            auto h = r.le(at + 6, 2);
            if (!w || !h)
                return std::nullopt;
            width = *w;
            height = *h;
        } else if (*headerSize >= 16) {
            auto w = r.le(at + 4, 4);
            auto h = r.le(at + 8, 4);
            if (!w || !h)
                return std::nullopt;
            // Signed fields: a negative height only means the rows run top-down.
            auto magnitude = [](std::uint32_t v) -> std::uint64_t {
                return v & 0x80000000u ? std::uint64_t(~v) + 1 : v;
            };
            if (*w & 0x80000000u)
                return std::nullopt;
            width = *w;
            height = magnitude(*h);
        } else {
            return std::nullopt;
        }
        if (doubledHeight)
            height /= 2;
        return std::pair { width, height };
    }

    std::optional<FaviconImageHeader> bmpHeader(const ByteReader& r)
    {
        auto size = dibSize(r, 14, false);
        DeclaredSizes sizes;
        if (!size || !sizes.add(size->first, size->second))
            return std::nullopt;
        return sizes.header(FaviconFormat::Bmp);
    }

    // ICO and CUR: every entry's own image, a PNG or a bitmap, within the limits.
    std::optional<FaviconImageHeader> icoHeader(const ByteReader& r)
    {
        auto count = r.le(4, 2);
        if (!count || *count == 0)
            return std::nullopt;
        DeclaredSizes sizes;
        for (size_t i = 0; i < *count; ++i) {
            size_t entry = 6 + i * 16;
            auto offset = r.le(entry + 12, 4);
            if (!offset)
                return std::nullopt;
            std::optional<std::pair<std::uint64_t, std::uint64_t>> size;
            if (r.matches(*offset, kPngSignature)) {
                if (auto png = pngSize(r, *offset))
                    size = std::pair<std::uint64_t, std::uint64_t> { png->first, png->second };
            } else {
                size = dibSize(r, *offset, true);
            }
            if (!size || !sizes.add(size->first, size->second))
                return std::nullopt;
        }
        return sizes.header(FaviconFormat::Ico);
    }

    bool containsIgnoringCase(std::string_view text, std::string_view needle)
    {
        if (needle.size() > text.size())
            return false;
        for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
            size_t k = 0;
            while (k < needle.size()) {
                char c = text[i + k];
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
                if (c != needle[k])
                    break;
                ++k;
            }
            if (k == needle.size())
                return true;
        }
        return false;
    }

    // SVG: plain markup only. Entities can multiply the text, and embedded images and data
    // addresses go to the image decoders unchecked; included files are not an icon's business.
    std::optional<FaviconImageHeader> svgHeader(std::string_view text)
    {
        if (startsWith(text, "\xEF\xBB\xBF"))
            text.remove_prefix(3);
        size_t first = text.find_first_not_of(" \t\r\n");
        if (first == std::string_view::npos || text[first] != '<')
            return std::nullopt;
        if (!containsIgnoringCase(text.substr(0, 4096), "<svg"))
            return std::nullopt;
        for (std::string_view refused : { "<!entity", "<image", "feimage", "data:", "xinclude" }) {
            if (containsIgnoringCase(text, refused))
                return std::nullopt;
        }
        return FaviconImageHeader { FaviconFormat::Svg, 0, 0 };
    }

} // namespace

std::optional<FaviconImageHeader> checkedFaviconHeader(std::string_view bytes)
{
    ByteReader r(bytes);
    if (r.matches(0, kPngSignature))
        return pngHeader(r);
    if (r.matches(0, "\xFF\xD8"))
        return jpegHeader(r);
    if (r.matches(0, "GIF87a") || r.matches(0, "GIF89a"))
        return gifHeader(r);
    if (r.matches(0, "BM"))
        return bmpHeader(r);
    if (r.matches(0, std::string_view("\0\0\1\0", 4))
        || r.matches(0, std::string_view("\0\0\2\0", 4)))
        return icoHeader(r);
    return svgHeader(bytes);
}

bool isAcceptableFaviconSize(int width, int height)
{
    return width > 0 && height > 0 && std::uint64_t(width) <= kMaxFaviconSide
        && std::uint64_t(height) <= kMaxFaviconSide;
}

std::pair<int, int> faviconDisplaySize(int width, int height)
{
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width <= kFaviconDisplaySide && height <= kFaviconDisplaySide)
        return { width, height };
    double scale = double(kFaviconDisplaySide) / std::max(width, height);
    return { std::max(1, int(width * scale)), std::max(1, int(height * scale)) };
}

namespace {

    // An attribute value with its character references decoded; nothing for a reference the
    // reader does not know or a byte outside printable ASCII.
    std::optional<std::string> decodedMarkupValue(std::string_view value)
    {
        constexpr std::array<std::pair<std::string_view, char>, 5> kNamed {
            { { "amp", '&' }, { "lt", '<' }, { "gt", '>' }, { "quot", '"' }, { "apos", '\'' } }
        };
        std::string out;
        for (size_t i = 0; i < value.size(); ++i) {
            auto byte = static_cast<unsigned char>(value[i]);
            if (byte >= 0x7F || (byte < 0x20 && !isMarkupBlank(value[i])))
                return std::nullopt;
            if (value[i] != '&') {
                out += value[i];
                continue;
            }
            size_t end = i + 1;
            while (end < value.size() && (isAsciiAlnum(value[end]) || value[end] == '#'))
                ++end;
            std::string_view name = value.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += '&';
                continue;
            }
            if (end >= value.size() || value[end] != ';' || name.size() > 8)
                return std::nullopt;
            std::optional<unsigned long> code;
            if (name[0] == '#') {
                bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
                std::string digits(name.substr(hex ? 2 : 1));
                bool valid = !digits.empty()
                    && std::all_of(digits.begin(), digits.end(), [hex](char c) {
                           return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                                      : isAsciiDigit(c);
                       });
                if (valid)
                    code = std::stoul(digits, nullptr, hex ? 16 : 10);
            } else {
                for (auto [known, character] : kNamed) {
                    if (name == known)
                        code = static_cast<unsigned char>(character);
                }
            }
            if (!code || *code < 0x20 || *code >= 0x7F)
                return std::nullopt;
            out += static_cast<char>(*code);
            i = end;
        }
        return out;
    }

    bool namesIcon(std::string_view rel)
    {
        size_t i = 0;
        while (i < rel.size()) {
            while (i < rel.size() && isMarkupBlank(rel[i]))
                ++i;
            size_t start = i;
            while (i < rel.size() && !isMarkupBlank(rel[i]))
                ++i;
            if (i > start && toLowerAscii(rel.substr(start, i - start)) == "icon")
                return true;
        }
        return false;
    }

    const MarkupAttribute* firstAttribute(
        const std::vector<MarkupAttribute>& attributes, std::string_view name)
    {
        auto it = std::find_if(attributes.begin(), attributes.end(),
            [name](const MarkupAttribute& attribute) { return attribute.name == name; });
        return it == attributes.end() ? nullptr : &*it;
    }

    // Elements whose content or effect on the document the reader does not model.
    bool leavesMarkupToTheScript(std::string_view tag)
    {
        for (std::string_view refused : { "script", "base", "template", "noscript", "svg", "math",
                 "plaintext", "xmp", "iframe", "noembed", "noframes", "frameset", "select" }) {
            if (tag == refused)
                return true;
        }
        return false;
    }

    // The end of a raw-text element's text that starts at `from`: its first end tag.
    size_t rawTextEnd(std::string_view lower, size_t from, std::string_view tag)
    {
        std::string close = "</" + std::string(tag);
        for (size_t at = lower.find(close, from); at != std::string_view::npos;
             at = lower.find(close, at + 1)) {
            size_t after = at + close.size();
            if (after >= lower.size() || isMarkupBlank(lower[after]) || lower[after] == '/'
                || lower[after] == '>')
                return at;
        }
        return std::string_view::npos;
    }

} // namespace

std::optional<std::string> faviconFromMarkup(std::string_view markup, std::string_view pageAddress)
{
    if (markup.size() > kMaxFaviconMarkupBytes || markup.find('\0') != std::string_view::npos
        || markup.starts_with("\xFE\xFF") || markup.starts_with("\xFF\xFE"))
        return std::nullopt;
    const std::string lower = toLowerAscii(markup);
    if (lower.find("javascript:") != std::string::npos)
        return std::nullopt;
    constexpr auto npos = std::string::npos;
    size_t i = 0;
    while (true) {
        size_t open = lower.find('<', i);
        if (open == npos)
            break;
        std::string_view rest = std::string_view(lower).substr(open);
        if (rest.starts_with("<!--")) {
            // "<!-->" and "<!--->" close at once; "--!>" also closes, which is not modelled.
            if (rest.starts_with("<!-->") || rest.starts_with("<!--->")) {
                i = open + (rest[4] == '>' ? 5 : 6);
                continue;
            }
            size_t end = lower.find("-->", open + 4);
            size_t bang = lower.find("--!>", open + 4);
            if (bang != npos && (end == npos || bang < end))
                return std::nullopt;
            if (end == npos)
                break;
            i = end + 3;
            continue;
        }
        bool closing = rest.starts_with("</");
        size_t nameStart = open + (closing ? 2 : 1);
        if (rest.starts_with("<!") || rest.starts_with("<?")
            || (closing && nameStart < lower.size() && !isAsciiAlpha(lower[nameStart]))) {
            // Declarations and bogus comments run to the next ">".
            size_t end = lower.find('>', open + 1);
            if (end == npos)
                break;
            i = end + 1;
            continue;
        }
        if (nameStart >= lower.size() || !isAsciiAlpha(lower[nameStart])) {
            i = open + 1; // a "<" that starts no tag is text
            continue;
        }
        size_t nameEnd = nameStart;
        while (nameEnd < lower.size() && !isMarkupBlank(lower[nameEnd]) && lower[nameEnd] != '/'
            && lower[nameEnd] != '>')
            ++nameEnd;
        std::string_view tag = std::string_view(lower).substr(nameStart, nameEnd - nameStart);
        std::vector<MarkupAttribute> attributes;
        i = markupTagAttributes(markup, nameEnd, attributes);
        // A tag the text ends inside is dropped, as is everything after it.
        bool closed = markup[i - 1] == '>'
            && (attributes.empty()
                || attributes.back().offset + attributes.back().value.size() < markup.size());
        if (!closed)
            break;
        if (closing)
            continue;
        if (leavesMarkupToTheScript(tag))
            return std::nullopt;
        for (const MarkupAttribute& attribute : attributes) {
            if (attribute.name.starts_with("on"))
                return std::nullopt;
        }
        if (tag == "title" || tag == "textarea" || tag == "style") {
            i = rawTextEnd(lower, i, tag);
            if (i == npos)
                break;
            continue;
        }
        const MarkupAttribute* rel = tag == "link" ? firstAttribute(attributes, "rel") : nullptr;
        if (!rel)
            continue;
        std::optional<std::string> relValue = decodedMarkupValue(rel->value);
        if (!relValue)
            return std::nullopt;
        if (!namesIcon(*relValue))
            continue;
        // The first icon link decides, as the script's query does.
        const MarkupAttribute* href = firstAttribute(attributes, "href");
        std::optional<std::string> hrefValue
            = href ? decodedMarkupValue(href->value) : std::nullopt;
        std::string address = hrefValue ? trim(*hrefValue) : std::string();
        if (address.empty())
            return std::nullopt;
        // An inline icon is its own address; the address parser drops tabs and line breaks.
        if (toLowerAscii(address.substr(0, 5)) == "data:") {
            std::erase_if(address, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
            return address;
        }
        return resolveURLReference(pageAddress, address);
    }
    return faviconFallbackAddress(pageAddress);
}

std::string faviconFailureKey(std::string_view pageAddress, std::string_view iconAddress)
{
    std::string key(pageAddress);
    key += '\n';
    key += iconAddress;
    return key;
}

std::optional<std::string> faviconPageHost(std::string_view address)
{
    auto parts = parseURL(address);
    if (!parts || parts->host.empty())
        return std::nullopt;
    return parts->host;
}

std::optional<std::string> faviconFallbackAddress(std::string_view pageAddress)
{
    auto parts = parseURL(pageAddress);
    if (!parts || parts->host.empty() || !parts->isHTTP())
        return std::nullopt;
    // User information stays out: the icon request should not carry the page's credentials.
    std::string address = parts->scheme + "://" + parts->hostText();
    if (parts->port && !parts->port->empty())
        address += ":" + *parts->port;
    return address + "/favicon.ico";
}

std::string decodeBase64Lenient(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        int value = base64DigitValue(c);
        if (value < 0)
            continue;
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

FaviconSource faviconSourceFor(std::string_view scriptResult)
{
    FaviconSource source;
    if (startsWith(scriptResult, "data:image/")) {
        size_t comma = scriptResult.find(',');
        if (comma == std::string_view::npos)
            return source;
        std::string_view header = scriptResult.substr(0, comma);
        std::string_view payload = scriptResult.substr(comma + 1);
        if (payload.size() > kMaxFaviconDataCharacters)
            return source;
        std::string bytes;
        if (header.find(";base64") != std::string_view::npos) {
            bytes = decodeBase64Lenient(payload);
        } else {
            auto decoded = percentDecode(payload);
            if (!decoded)
                return source;
            bytes = std::move(*decoded);
        }
        if (bytes.empty())
            return source;
        source.kind = FaviconSource::Kind::Inline;
        source.bytes = std::move(bytes);
        return source;
    }
    auto parts = parseURL(scriptResult);
    if (!parts || parts->host.empty() || !parts->isHTTP())
        return source;
    source.kind = FaviconSource::Kind::Network;
    source.address = std::string(scriptResult);
    return source;
}

bool isAcceptableFaviconStatus(int status) { return status >= 200 && status <= 399; }

bool FaviconDownload::receiveResponse(
    std::optional<int> httpStatus, std::optional<std::uint64_t> contentLength)
{
    if (m_failed)
        return false;
    if ((httpStatus && !isAcceptableFaviconStatus(*httpStatus))
        || (contentLength && *contentLength > m_limit)) {
        m_failed = true;
        m_data.clear();
    }
    return !m_failed;
}

bool FaviconDownload::receiveData(std::string_view chunk)
{
    if (m_failed)
        return false;
    if (chunk.size() > m_limit - m_data.size()) {
        m_failed = true;
        m_data.clear();
        m_data.shrink_to_fit();
        return false;
    }
    m_data.append(chunk);
    return true;
}

std::optional<std::string> FaviconDownload::finish()
{
    if (m_failed || m_data.empty())
        return std::nullopt;
    return std::move(m_data);
}

} // namespace qv

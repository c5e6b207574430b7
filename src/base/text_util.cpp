// Trimming and UTF-8 helpers.
#include "base/text_util.h"

#include <algorithm>
#include <cstdint>

namespace qv {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Length of the valid UTF-8 sequence starting at i, or 0 when it is invalid.
size_t validSequenceLength(std::string_view s, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t c = byte(i);
    if (c < 0x80)
        return 1;
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else
        return 0;
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000))
        return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0;
    return len;
}

uint32_t decodeAt(std::string_view s, size_t i, size_t len)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    if (len == 1)
        return byte(i);
    uint32_t cp = byte(i) & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    return cp;
}

// Characters that reorder or hide the text around them without showing themselves.
bool isInvisibleFormatCharacter(uint32_t cp)
{
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E)
        || (cp >= 0x2066 && cp <= 0x206F) || cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB);
}

bool isControlOrLineBreak(uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

} // namespace

std::string displaySafeTitle(std::string_view title)
{
    std::string out;
    out.reserve(std::min(title.size(), kMaxDisplayedTitleCharacters * 4));
    size_t characters = 0;
    bool pendingSpace = false;
    for (size_t i = 0; i < title.size();) {
        size_t len = validSequenceLength(title, i);
        uint32_t cp = len ? decodeAt(title, i, len) : 0xFFFD;
        std::string_view piece = len ? title.substr(i, len) : std::string_view("\xEF\xBF\xBD");
        i += len ? len : 1;
        if (isInvisibleFormatCharacter(cp))
            continue;
        if (cp == ' ' || isControlOrLineBreak(cp)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (characters + (pendingSpace ? 1 : 0) >= kMaxDisplayedTitleCharacters) {
            out += "\xE2\x80\xA6";
            break;
        }
        if (pendingSpace) {
            out += ' ';
            ++characters;
            pendingSpace = false;
        }
        out.append(piece);
        ++characters;
    }
    return out;
}

std::string trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

bool isValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        size_t len = validSequenceLength(text, i);
        if (!len)
            return false;
        i += len;
    }
    return true;
}

std::string utf8FromString(std::string_view text)
{
    return isValidUtf8(text) ? std::string(text) : std::string();
}

std::string sanitizeUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = validSequenceLength(text, i);
        if (len) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

std::string cutUtf8(std::string text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

std::string toLowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string lastPathComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    size_t slash = path.rfind('/');
    std::string last(slash == std::string_view::npos ? path : path.substr(slash + 1));
    if (last == "." || last == ".." || last == "/" || last.find('\0') != std::string::npos)
        return "";
    return last;
}

std::string htmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string base64Encode(std::string_view bytes)
{
    static const char* kAlphabet
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned n = (static_cast<unsigned char>(bytes[i]) << 16)
            | (static_cast<unsigned char>(bytes[i + 1]) << 8)
            | static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i < bytes.size()) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        bool two = i + 1 < bytes.size();
        if (two)
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += two ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

int base64DigitValue(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int a = base64DigitValue(text[i]), b = base64DigitValue(text[i + 1]);
        bool padTwo = last && text[i + 2] == '=' && text[i + 3] == '=';
        bool padOne = last && !padTwo && text[i + 3] == '=';
        int c = padTwo ? 0 : base64DigitValue(text[i + 2]);
        int d = padTwo || padOne ? 0 : base64DigitValue(text[i + 3]);
        if (a < 0 || b < 0 || c < 0 || d < 0)
            return std::nullopt;
        unsigned n = (unsigned(a) << 18) | (unsigned(b) << 12) | (unsigned(c) << 6) | unsigned(d);
        out += static_cast<char>((n >> 16) & 255);
        if (!padTwo)
            out += static_cast<char>((n >> 8) & 255);
        if (!padTwo && !padOne)
            out += static_cast<char>(n & 255);
    }
    return out;
}

} // namespace qv

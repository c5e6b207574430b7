// A single forward scanner for the console editor's colours, and the line-number column.
#include "devtools/script_highlighting.h"

#include "base/text_util.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace qv {

namespace {

constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

constexpr std::string_view kKeywords[] = { "const", "let", "var", "function", "return", "if",
    "else", "for", "while", "do", "switch", "case", "break", "continue", "try", "catch",
    "finally", "throw", "new", "class", "extends", "this", "typeof", "instanceof", "in", "of",
    "async", "await", "yield", "import", "export", "default" };
constexpr std::string_view kLiterals[] = { "true", "false", "null", "undefined", "NaN" };

// Word characters as a word boundary sees them: ASCII letters, digits and "_", and every
// non-ASCII character (letters of other scripts, approximately).
constexpr std::array<bool, 256> makeWordTable()
{
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c >= 0x80;
    return table;
}
constexpr std::array<bool, 256> kWordByte = makeWordTable();

bool isWordByte(char c) { return kWordByte[static_cast<unsigned char>(c)]; }
bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool inList(std::string_view word, std::span<const std::string_view> list)
{
    if (word.size() < 2 || word.size() > 10)
        return false;
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool isKeyword(std::string_view word)
{
    return word[0] >= 'a' && word[0] <= 'y' && inList(word, kKeywords);
}

bool isLiteral(std::string_view word)
{
    return (word[0] == 't' || word[0] == 'f' || word[0] == 'n' || word[0] == 'u'
               || word[0] == 'N')
        && inList(word, kLiterals);
}

// An escape needs a following character that is not a line break: "\n", VT, FF, "\r", U+0085,
// U+2028 or U+2029.
bool isEscapableAt(std::string_view t, std::size_t i)
{
    if (i >= t.size())
        return false;
    unsigned char c = static_cast<unsigned char>(t[i]);
    if (c >= 0x0A && c <= 0x0D)
        return false;
    if (c == 0xC2 && i + 1 < t.size() && static_cast<unsigned char>(t[i + 1]) == 0x85)
        return false;
    if (c == 0xE2 && i + 2 < t.size() && t[i + 1] == '\x80'
        && (t[i + 2] == '\xA8' || t[i + 2] == '\xA9'))
        return false;
    return true;
}

class Scanner {
public:
    Scanner(
        std::string_view text, const ScriptScanState& from, std::vector<ScriptColourSpan>& out)
        : m_text(text)
        , m_state(from)
        , m_out(out)
    {
    }

    ScriptScanState run(std::size_t until, bool& finished)
    {
        const std::size_t n = m_text.size();
        const std::size_t start = std::min(m_state.offset, n);
        std::size_t pos = start;
        if (m_state.mode != ScriptScanState::Mode::Code)
            m_state.tokenEnd = std::min(m_state.tokenEnd, n);
        while (pos < n) {
            if (pos >= until && pos > start
                && (m_text[pos - 1] == '\n'
                    || (m_state.mode == ScriptScanState::Mode::Code
                        && pos - until >= kScriptLongLineSlack)))
                break;
            if (m_state.mode != ScriptScanState::Mode::Code) {
                pos = tokenLine(pos);
                continue;
            }
            char c = m_text[pos];
            char next = pos + 1 < n ? m_text[pos + 1] : '\0';
            if (c == '/' && next == '/') {
                const void* nl = std::memchr(m_text.data() + pos, '\n', n - pos);
                std::size_t end = nl ? static_cast<const char*>(nl) - m_text.data() : n;
                interior(ScriptTokenKind::Comment, pos, end);
                pos = end;
            } else if (c == '/' && next == '*') {
                pos = openBlockComment(pos);
            } else if (c == '\'' || c == '"') {
                pos = openString(pos, c);
            } else if (isWordByte(c)) {
                pos = word(pos, ScriptTokenKind::Keyword);
            } else {
                ++pos;
            }
        }
        finished = pos >= n;
        ScriptScanState next = m_state;
        next.offset = pos;
        next.characterOffset = m_state.characterOffset + characterCount(m_state.offset, pos);
        next.horizon = std::max(next.horizon, pos);
        if (finished)
            next.mode = ScriptScanState::Mode::Code;
        return next;
    }

private:
    std::size_t characterCount(std::size_t from, std::size_t to) const
    {
        std::size_t count = 0;
        for (std::size_t i = from; i < to; ++i)
            count += !isContinuationByte(m_text[i]);
        return count;
    }

    void depend(std::size_t end) { m_state.horizon = std::max(m_state.horizon, end); }

    void emit(std::size_t offset, std::size_t end, ScriptTokenKind kind)
    {
        if (end > offset)
            m_out.push_back({ offset, end - offset, kind });
    }

    // The rest of the open string or comment's current line, up to and with its "\n".
    std::size_t tokenLine(std::size_t pos)
    {
        std::size_t end = m_state.tokenEnd;
        if (end <= pos) {
            m_state.mode = ScriptScanState::Mode::Code;
            return pos;
        }
        if (const void* nl = std::memchr(m_text.data() + pos, '\n', end - pos))
            end = static_cast<const char*>(nl) - m_text.data() + 1;
        interior(m_state.mode == ScriptScanState::Mode::String ? ScriptTokenKind::String
                                                               : ScriptTokenKind::Comment,
            pos, end);
        if (end == m_state.tokenEnd)
            m_state.mode = ScriptScanState::Mode::Code;
        return end;
    }

    // A "/*" closes at the first "*/" after it; without one it is plain text, and so is every
    // later "/*".
    std::size_t openBlockComment(std::size_t pos)
    {
        if (m_state.blockCommentsNeverClose)
            return pos + 1;
        std::string_view rest = m_text.substr(pos + 2);
        std::size_t close = rest.find("*/");
        if (close == std::string_view::npos) {
            m_state.blockCommentsNeverClose = true;
            depend(kUnbounded);
            return pos + 1;
        }
        m_state.mode = ScriptScanState::Mode::BlockComment;
        m_state.tokenEnd = pos + 2 + close + 2;
        depend(m_state.tokenEnd);
        return pos;
    }

    // A quote closes at the next unescaped same quote. An escape before a line break or the end
    // ends the attempt, and the quote is plain text. Every same quote up to that point was
    // escaped, so its own attempt would fail at the same place: remembering that keeps a text
    // of many unclosed quotes linear.
    std::size_t openString(std::size_t pos, char quote)
    {
        std::size_t& failsBefore
            = quote == '\'' ? m_state.apostropheFailsBefore : m_state.quotationFailsBefore;
        if (pos < failsBefore)
            return pos + 1;
        const std::size_t n = m_text.size();
        std::size_t k = pos + 1;
        while (k < n) {
            char c = m_text[k];
            if (c == quote) {
                m_state.mode = ScriptScanState::Mode::String;
                m_state.tokenEnd = k + 1;
                depend(k + 1);
                return pos;
            }
            if (c == '\\') {
                if (!isEscapableAt(m_text, k + 1)) {
                    failsBefore = k;
                    depend(k + 1 >= n ? kUnbounded : k + 4);
                    return pos + 1;
                }
                k += 2;
            } else {
                ++k;
            }
        }
        failsBefore = kUnbounded;
        depend(kUnbounded);
        return pos + 1;
    }

    // A word at `pos`: a number when it starts with a digit, else a keyword (in code only) or a
    // literal. Returns where the scan goes on.
    std::size_t word(std::size_t pos, ScriptTokenKind in, std::size_t limit = kUnbounded)
    {
        const std::size_t n = std::min(m_text.size(), limit);
        auto boundaryAt = [&](std::size_t i) { return i >= n || !isWordByte(m_text[i]); };
        std::size_t end = pos;
        while (end < n && isWordByte(m_text[end]))
            ++end;
        if (isAsciiDigit(m_text[pos])) {
            std::size_t digits = pos;
            while (digits < n && isAsciiDigit(m_text[digits]))
                ++digits;
            if (digits + 1 < n && m_text[digits] == '.' && isAsciiDigit(m_text[digits + 1])) {
                std::size_t fraction = digits + 1;
                while (fraction < n && isAsciiDigit(m_text[fraction]))
                    ++fraction;
                if (boundaryAt(fraction)) {
                    emit(pos, fraction, ScriptTokenKind::Number);
                    return fraction;
                }
            }
            if (boundaryAt(digits)) {
                emit(pos, digits, ScriptTokenKind::Number);
                return digits;
            }
            return end;
        }
        std::string_view w = m_text.substr(pos, end - pos);
        if (in == ScriptTokenKind::Keyword && isKeyword(w))
            emit(pos, end, ScriptTokenKind::Keyword);
        else if (isLiteral(w))
            emit(pos, end, ScriptTokenKind::Literal);
        return end;
    }

    // A string or comment stretch; numbers and literal words inside it keep their own colours.
    void interior(ScriptTokenKind kind, std::size_t from, std::size_t to)
    {
        std::size_t plain = from;
        std::size_t i = from;
        // word() always stops on a non-word byte, so every word met here starts at a boundary.
        while (i < to) {
            if (!isWordByte(m_text[i])) {
                ++i;
                continue;
            }
            std::size_t mark = m_out.size();
            std::size_t next = word(i, kind, to);
            if (m_out.size() != mark) {
                ScriptColourSpan inner = m_out.back();
                m_out.pop_back();
                emit(plain, inner.offset, kind);
                m_out.push_back(inner);
                plain = next;
            }
            i = next;
        }
        emit(plain, to, kind);
    }

    std::string_view m_text;
    ScriptScanState m_state;
    std::vector<ScriptColourSpan>& m_out;
};

} // namespace

ScriptColour scriptColourOf(ScriptTokenKind kind)
{
    switch (kind) {
    case ScriptTokenKind::String:
        return { 0.81, 0.65, 0.39 };
    case ScriptTokenKind::Comment:
        return { 0.42, 0.68, 0.48 };
    case ScriptTokenKind::Number:
        return { 0.71, 0.57, 0.91 };
    case ScriptTokenKind::Keyword:
    case ScriptTokenKind::Literal:
        break;
    }
    return { 0.34, 0.67, 0.96 };
}

ScriptColouring colourScriptLines(
    std::string_view text, const ScriptScanState& from, std::size_t untilOffset)
{
    ScriptColouring colouring;
    Scanner scanner(text, from, colouring.spans);
    colouring.next = scanner.run(untilOffset, colouring.finished);
    return colouring;
}

std::vector<ScriptColourSpan> colourScript(std::string_view text)
{
    return colourScriptLines(text, ScriptScanState {}, text.size()).spans;
}

bool canResumeAfterEdit(const ScriptScanState& state, std::size_t editOffset)
{
    return editOffset >= state.offset && editOffset >= state.horizon;
}

namespace {

    // Byte offsets and lengths of items in text order to character ones, from an anchor known in
    // both units; items before the anchor are dropped.
    template <typename Item, typename Make>
    std::vector<Item> toCharacters(std::string_view text, std::span<const Item> items,
        std::size_t anchorByte, std::size_t anchorCharacter, Make make)
    {
        std::vector<Item> converted;
        converted.reserve(items.size());
        std::size_t byte = std::min(anchorByte, text.size());
        std::size_t character = anchorCharacter;
        auto advanceTo = [&](std::size_t target) {
            target = std::min(target, text.size());
            for (; byte < target; ++byte)
                character += !isContinuationByte(text[byte]);
            return character;
        };
        for (const Item& item : items) {
            if (item.offset < byte)
                continue; // before the anchor: not ours to place
            std::size_t start = advanceTo(item.offset);
            std::size_t end = advanceTo(item.offset + item.length);
            converted.push_back(make(item, start, end - start));
        }
        return converted;
    }

} // namespace

std::vector<ScriptColourSpan> scriptCharacterSpans(std::string_view text,
    std::span<const ScriptColourSpan> spans, std::size_t anchorByte, std::size_t anchorCharacter)
{
    return toCharacters(text, spans, anchorByte, anchorCharacter,
        [](const ScriptColourSpan& span, std::size_t offset, std::size_t length) {
            return ScriptColourSpan { offset, length, span.kind };
        });
}

std::vector<ScriptTextRange> scriptCharacterRanges(std::string_view text,
    std::span<const ScriptTextRange> ranges, std::size_t anchorByte, std::size_t anchorCharacter)
{
    return toCharacters(text, ranges, anchorByte, anchorCharacter,
        [](const ScriptTextRange&, std::size_t offset, std::size_t length) {
            return ScriptTextRange { offset, length };
        });
}

ScriptLineLimitedColouring limitScriptColouringPerLine(std::string_view text,
    std::span<const ScriptColourSpan> spans, std::size_t from, std::size_t to)
{
    ScriptLineLimitedColouring limited;
    to = std::min(to, text.size());
    from = std::min(from, to);
    std::size_t lineStart = from;
    if (from > 0) {
        std::size_t lastBreak = text.find_last_of("\r\n", from - 1);
        lineStart = lastBreak == std::string_view::npos ? 0 : lastBreak + 1;
    }
    std::size_t next = 0;
    for (std::size_t pos = lineStart; pos < to;) {
        std::size_t lineEnd = text.find_first_of("\r\n", pos);
        lineEnd = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
        const bool coloured = lineEnd - pos <= kScriptColouredLineBytes;
        const std::size_t keptStart = std::max(pos, from);
        const std::size_t keptEnd = coloured ? std::min(lineEnd, to) : keptStart;
        if (keptStart < keptEnd) {
            if (!limited.cleared.empty()
                && limited.cleared.back().offset + limited.cleared.back().length == keptStart)
                limited.cleared.back().length += keptEnd - keptStart;
            else
                limited.cleared.push_back({ keptStart, keptEnd - keptStart });
        }
        std::size_t count = 0;
        for (; next < spans.size() && spans[next].offset < lineEnd; ++next) {
            if (spans[next].offset >= keptStart && spans[next].offset < keptEnd
                && count < kScriptMaxSpansPerLine)
                limited.spans.push_back(spans[next]);
            ++count;
        }
        pos = lineEnd;
    }
    return limited;
}

std::size_t scriptNumberedLineCount(std::string_view text)
{
    std::size_t lines = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        ++lines;
        while (i < n) {
            char c = text[i];
            if (c == '\n') {
                ++i;
                break;
            }
            if (c == '\r') {
                i += (i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
                break;
            }
            if (c == '\xE2' && i + 2 < n && text[i + 1] == '\x80' && text[i + 2] == '\xA9') {
                i += 3;
                break;
            }
            ++i;
        }
    }
    return lines;
}

std::string scriptLineNumberColumnText(
    std::size_t first, std::size_t count, std::size_t numberedLines)
{
    std::string column;
    first = std::max<std::size_t>(first, 1);
    if (count == 0 || first > numberedLines)
        return column;
    std::size_t last = std::min(numberedLines, first + std::min(count, numberedLines) - 1);
    for (std::size_t line = first; line <= last; ++line) {
        if (line != first)
            column += '\n';
        column += std::to_string(line);
    }
    return column;
}

double scriptRulerThickness(std::size_t numberedLines, double digitWidth)
{
    constexpr double kLeftRoom = 4;
    std::size_t digits = std::to_string(std::max<std::size_t>(numberedLines, 1)).size();
    double needed = std::ceil(static_cast<double>(digits) * std::max(digitWidth, 0.0)
        + kScriptRulerLabelInset + kLeftRoom);
    return std::max(kScriptRulerThickness, needed);
}

double scriptLineNumberX(double thickness, double labelWidth)
{
    return thickness - labelWidth - kScriptRulerLabelInset;
}

} // namespace qv

// Colouring of the console editor's JavaScript and the text of its line-number column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// What a coloured stretch of text is. Literal words (true, false, null, undefined, NaN) take the
// keyword colour.
enum class ScriptTokenKind : std::uint8_t { Keyword, String, Comment, Number, Literal };

struct ScriptColour {
    double red;
    double green;
    double blue;
};

inline constexpr ScriptColour kScriptPlainColour { 0.84, 0.84, 0.84 };
ScriptColour scriptColourOf(ScriptTokenKind kind);

// One coloured stretch. `offset` and `length` count UTF-8 bytes of the text that was coloured;
// scriptCharacterSpans() turns them into the character offsets a GTK text buffer takes.
struct ScriptColourSpan {
    std::size_t offset;
    std::size_t length;
    ScriptTokenKind kind;
    bool operator==(const ScriptColourSpan&) const = default;
};

// Where the scanner stands at the start of a line (just after a "\n", or at the text's start),
// or between two tokens of a line too long to wait for its end, with what it has learned of the
// text further on. Valid only for the text it was made from,
// and after an edit only while canResumeAfterEdit() says so.
struct ScriptScanState {
    enum class Mode : std::uint8_t { Code, String, BlockComment };

    std::size_t offset = 0; // byte offset where the scan goes on
    std::size_t characterOffset = 0; // the same place in characters
    Mode mode = Mode::Code;
    std::size_t tokenEnd = 0; // end of the open string or comment, one past its last byte
    // No string opened by this quote before these offsets can close (each was scanned once).
    std::size_t apostropheFailsBefore = 0;
    std::size_t quotationFailsBefore = 0;
    bool blockCommentsNeverClose = false; // no "*/" follows any later "/*"
    // One past the last byte this state depends on; SIZE_MAX when it depends on where the text
    // ends.
    std::size_t horizon = 0;

    bool operator==(const ScriptScanState&) const = default;
};

inline constexpr std::size_t kScriptLongLineSlack = 4096;

struct ScriptColouring {
    std::vector<ScriptColourSpan> spans; // in text order, never overlapping
    ScriptScanState next; // where to resume; next.offset == text size when finished
    bool finished = false;
};

// Colours whole lines from `from` until the first line start at or after `untilOffset` (or the
// end of the text), at least one line. A line that runs on more than kScriptLongLineSlack bytes
// past `untilOffset` (minified code) is cut there between two tokens instead. Resuming from `next`
// over and over gives exactly the spans of one pass over the whole text. Stretches that run over
// several lines are split after each "\n", so no span crosses a resume point. Linear in the length
// scanned; no recursion.
ScriptColouring colourScriptLines(
    std::string_view text, const ScriptScanState& from, std::size_t untilOffset);

// The whole text at once.
std::vector<ScriptColourSpan> colourScript(std::string_view text);

// Whether a state made from the old text still holds after the text changed from byte
// `editOffset` on (the first byte that differs).
bool canResumeAfterEdit(const ScriptScanState& state, std::size_t editOffset);

// The same spans with offset and length in characters (code points, as GTK text iters count
// them). `anchorByte` and `anchorCharacter` name one place in both units at or before the first
// span, such as a state's offset and characterOffset.
std::vector<ScriptColourSpan> scriptCharacterSpans(std::string_view text,
    std::span<const ScriptColourSpan> spans, std::size_t anchorByte = 0,
    std::size_t anchorCharacter = 0);

// Long lines are costly in a text view: each tag placed on a line walks all that line's tags,
// every colour on a paragraph slows the laying out of all of it, and a changed line is laid out
// again whole. The editor therefore leaves a line longer than kScriptColouredLineBytes (minified
// code) plain, and colours only the first kScriptMaxSpansPerLine spans of the others. A line is
// cut into several slices only past kScriptLongLineSlack, so every coloured line lies within one.
inline constexpr std::size_t kScriptColouredLineBytes = 4000;
inline constexpr std::size_t kScriptMaxSpansPerLine = 200;
static_assert(kScriptColouredLineBytes <= kScriptLongLineSlack);

struct ScriptTextRange {
    std::size_t offset;
    std::size_t length;
    bool operator==(const ScriptTextRange&) const = default;
};

struct ScriptLineLimitedColouring {
    std::vector<ScriptColourSpan> spans; // the spans the editor applies
    std::vector<ScriptTextRange> cleared; // the parts of the slice whose old colours it clears
};

// Applies those limits to the spans colourScriptLines() gave for the bytes [from, to). Lines end
// after "\n" or "\r".
ScriptLineLimitedColouring limitScriptColouringPerLine(std::string_view text,
    std::span<const ScriptColourSpan> spans, std::size_t from, std::size_t to);
// Byte ranges to character ones, as scriptCharacterSpans() does for spans.
std::vector<ScriptTextRange> scriptCharacterRanges(std::string_view text,
    std::span<const ScriptTextRange> ranges, std::size_t anchorByte = 0,
    std::size_t anchorCharacter = 0);

// Line numbers. A line ends after "\n", "\r", "\r\n" or U+2029, as the editor breaks them; a
// final empty line after a trailing break gets no number, and an empty text none at all.
std::size_t scriptNumberedLineCount(std::string_view text);

// The labels of lines `first` to `first + count - 1` (numbered from 1), one per line joined by
// "\n", cut off at the last numbered line.
std::string scriptLineNumberColumnText(
    std::size_t first, std::size_t count, std::size_t numberedLines);

inline constexpr double kScriptRulerThickness = 44;
inline constexpr double kScriptRulerLabelInset = 10; // from the right edge to a label's end
inline constexpr double kScriptRulerFontSize = 11;

// 44 points, widened only when the widest number would not fit with a little room on its left.
double scriptRulerThickness(std::size_t numberedLines, double digitWidth);
// Left edge of a right-aligned label.
double scriptLineNumberX(double thickness, double labelWidth);

} // namespace qv

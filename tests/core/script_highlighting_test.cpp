// Colouring of console scripts, resuming the scan, and the line-number column.
#include "devtools/script_highlighting.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace {

using namespace qv;

char letterOf(ScriptTokenKind kind)
{
    switch (kind) {
    case ScriptTokenKind::Keyword:
        return 'K';
    case ScriptTokenKind::String:
        return 'S';
    case ScriptTokenKind::Comment:
        return 'C';
    case ScriptTokenKind::Number:
        return 'N';
    case ScriptTokenKind::Literal:
        return 'L';
    }
    return '?';
}

// The text with each span written as Kind{text}, so a table row reads like the editor.
std::string marked(std::string_view text, const std::vector<ScriptColourSpan>& spans)
{
    std::string out;
    std::size_t at = 0;
    for (const ScriptColourSpan& span : spans) {
        if (span.offset < at || span.offset + span.length > text.size())
            return "overlapping or out of range";
        out.append(text.substr(at, span.offset - at));
        out += letterOf(span.kind);
        out += '{';
        out.append(text.substr(span.offset, span.length));
        out += '}';
        at = span.offset + span.length;
    }
    out.append(text.substr(at));
    return out;
}

struct ColouringCase {
    const char* text;
    const char* expected;
};

const ColouringCase kColouringCases[] = {
    { "let x = 'if 42';", "K{let} x = S{'if }N{42}S{'};" },
    { "// a null b", "C{// a }L{null}C{ b}" },
    { "/* 1 true */x", "C{/* }N{1}C{ }L{true}C{ */}x" },
    { R"("a\"b" + 1)", R"(S{"a\"b"} + N{1})" },
    { R"('\'' x)", R"(S{'\''} x)" },
    { "x = \"it's\"", "x = S{\"it's\"}" },
    { "'abc", "'abc" },
    { "/* open", "/* open" },
    { "/*/ x */", "C{/*/ x */}" },
    { "a/*b*/c", "aC{/*b*/}c" },
    { "instanceof in of typeof", "K{instanceof} K{in} K{of} K{typeof}" },
    { "doubled do default", "doubled K{do} K{default}" },
    { "iffy $if _if if_", "iffy $K{if} _if if_" },
    { "1.5 1.5abc x1 1_0 1.2.3 7.", "N{1.5} N{1}.5abc x1 1_0 N{1.2}.N{3} N{7}." },
    { "true false null undefined NaN nan True",
        "L{true} L{false} L{null} L{undefined} L{NaN} nan True" },
    { "'a\nb'", "S{'a\n}S{b'}" },
    // An escape cannot take a line break: the first quote stays plain, the next one pairs up.
    { "'a\\\nb' 'c", "'a\\\nbS{' '}c" },
    { "// it's\nx = 'y'", "C{// it's}\nx = S{'y'}" },
    { "'// not a comment' /* \"no\" */", "S{'// not a comment'} C{/* \"no\" */}" },
    { "`x` if", "`x` K{if}" },
    { "\xC3\xA9 if \xC3\xA9if", "\xC3\xA9 K{if} \xC3\xA9if" },
    { "return(await f(1))", "K{return}(K{await} f(N{1}))" },
    { "", "" },
};

TEST(ScriptHighlighting, ColoursEachKindByTheRules)
{
    for (const ColouringCase& c : kColouringCases) {
        EXPECT_EQ(marked(c.text, colourScript(c.text)), c.expected) << "text: " << c.text;
    }
}

std::string sampleScript()
{
    std::string line = "const a = 'it\\'s 42'; // note null\n"
                       "/* block\n 3.14 spans\n lines */ let b = \"x\n y\" + 7;\n"
                       "if (a instanceof B) { return true; } 'open\n"
                       "\xC3\xA9t\xC3\xA9 = `tpl` /* open\n";
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += line;
    return text + "*/ done";
}

std::vector<ScriptColourSpan> colourInSlices(std::string_view text, std::size_t step)
{
    std::vector<ScriptColourSpan> all;
    ScriptScanState state;
    for (int guard = 0; guard < 100000; ++guard) {
        ScriptColouring part = colourScriptLines(text, state, state.offset + step);
        all.insert(all.end(), part.spans.begin(), part.spans.end());
        EXPECT_GT(part.next.offset, state.offset);
        state = part.next;
        if (part.finished)
            break;
    }
    return all;
}

TEST(ScriptHighlighting, ResumingSliceBySliceGivesTheWholePass)
{
    std::string text = sampleScript();
    auto whole = colourScript(text);
    ASSERT_FALSE(whole.empty());
    for (std::size_t step : { 1, 7, 64, 1000 })
        EXPECT_EQ(colourInSlices(text, step), whole) << "step " << step;
}

TEST(ScriptHighlighting, SlicesMatchTheWholePassOnScrambledText)
{
    const std::string_view pieces[] = { "'", "\"", "\\", "/", "*", "\n", " ", "if", "null", "1",
        ".", "9", "\r", "x", "\xC3\xA9" };
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int round = 0; round < 200; ++round) {
        // Odd rounds make one long line, so slices are also cut between tokens.
        bool oneLine = round % 2 == 1;
        std::string text;
        for (int i = 0; i < (oneLine ? 6000 : 600); ++i) {
            std::string_view piece = pieces[next() % std::size(pieces)];
            if (!oneLine || (piece != "\n" && piece != "\r"))
                text += piece;
        }
        auto whole = colourScript(text);
        std::size_t end = 0;
        for (const ScriptColourSpan& span : whole) {
            ASSERT_GE(span.offset, end) << text;
            ASSERT_GT(span.length, 0u);
            end = span.offset + span.length;
            ASSERT_LE(end, text.size());
            ASSERT_EQ(text.substr(span.offset, span.length - 1).find('\n'), std::string::npos);
        }
        ASSERT_EQ(colourInSlices(text, 1 + next() % 50), whole) << text;
    }
}

TEST(ScriptHighlighting, LongLinesAreCutBetweenTokens)
{
    std::string minified;
    while (minified.size() < 50000)
        minified += "if(a>1.5){b='s\\'';/*c*/x=null}";
    ScriptColouring first = colourScriptLines(minified, {}, 100);
    EXPECT_FALSE(first.finished);
    EXPECT_LE(first.next.offset, 100 + kScriptLongLineSlack + 64);
    EXPECT_EQ(colourInSlices(minified, 1000), colourScript(minified));
}

TEST(ScriptHighlighting, SlicesStopAtLineStartsAndCountCharacters)
{
    std::string text = "\xC3\xA9\xC3\xA9 'a\nb'\nc";
    ScriptColouring first = colourScriptLines(text, {}, 1);
    EXPECT_FALSE(first.finished);
    EXPECT_EQ(first.next.offset, 8u); // just after the first "\n"
    EXPECT_EQ(first.next.characterOffset, 6u);
    EXPECT_EQ(first.next.mode, ScriptScanState::Mode::String);
    ScriptColouring rest = colourScriptLines(text, first.next, text.size());
    EXPECT_TRUE(rest.finished);
    EXPECT_EQ(rest.next.offset, text.size());
}

TEST(ScriptHighlighting, SavedStateIsReusedOnlyForEditsPastWhatItSaw)
{
    std::string text = "/* a\nb */ x\ny\nz = 1\n";
    ScriptColouring first = colourScriptLines(text, {}, 1); // stops inside the comment
    ASSERT_EQ(first.next.mode, ScriptScanState::Mode::BlockComment);
    EXPECT_FALSE(canResumeAfterEdit(first.next, 7)); // the comment's end moved
    EXPECT_TRUE(canResumeAfterEdit(first.next, text.find('z')));

    std::string edited = text;
    edited.replace(text.find('z'), 1, "'q' /* w */");
    auto resumed = colourScriptLines(edited, first.next, edited.size()).spans;
    auto whole = colourScript(edited);
    std::vector<ScriptColourSpan> tail;
    for (const auto& span : whole)
        if (span.offset >= first.next.offset)
            tail.push_back(span);
    EXPECT_EQ(resumed, tail);

    // An unclosed quote depends on where the text ends, so no later edit can reuse the state.
    std::string open = "'x\ny\nz\n";
    ScriptColouring part = colourScriptLines(open, {}, 1);
    EXPECT_FALSE(canResumeAfterEdit(part.next, open.size()));
}

TEST(ScriptHighlighting, LargeInputsComplete)
{
    std::string literal = "x = '" + std::string(200 * 1024, 'a') + "';";
    auto spans = colourScript(literal);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].length, 200 * 1024 + 2u);

    std::string unclosedQuotes;
    for (int i = 0; i < 100000; ++i)
        unclosedQuotes += i % 2 ? "\"\\\n" : "'/*";
    EXPECT_TRUE(colourScript(unclosedQuotes).empty());

    std::string minified;
    while (minified.size() < 1024 * 1024)
        minified += "function f(a){if(a>1.5){return\"s\"+a}var b='t';/*c*/return null}";
    auto big = colourScript(minified);
    EXPECT_GT(big.size(), 100000u);
}

TEST(ScriptHighlighting, CharacterSpansCountCodePoints)
{
    std::string text = "\xC3\xA9 '\xF0\x9F\x98\x80' 1";
    auto spans = scriptCharacterSpans(text, colourScript(text));
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0], (ScriptColourSpan { 2, 3, ScriptTokenKind::String }));
    EXPECT_EQ(spans[1], (ScriptColourSpan { 6, 1, ScriptTokenKind::Number }));

    auto fromAnchor = scriptCharacterSpans(text, colourScript(text), 3, 2);
    EXPECT_EQ(fromAnchor, spans);
}

TEST(ScriptHighlighting, LongLinesStayPlainAndLinesKeepTheirFirstSpans)
{
    // A short line, a line with more spans than are kept, and a line longer than is kept.
    std::string manyNumbers;
    for (std::size_t i = 0; i < kScriptMaxSpansPerLine + 50; ++i)
        manyNumbers += "1,";
    std::string longLine = "1" + std::string(kScriptColouredLineBytes, ' ') + "2 3";
    std::string text = "x = 1;\n" + manyNumbers + "\n" + longLine + "\nnull";
    const std::size_t manyStart = 7;
    const std::size_t longStart = manyStart + manyNumbers.size() + 1;
    const std::size_t lastStart = longStart + longLine.size() + 1;

    auto whole = colourScript(text);
    auto limited = limitScriptColouringPerLine(text, whole, 0, text.size());
    auto onLine = [&](std::size_t from, std::size_t to) {
        return std::count_if(limited.spans.begin(), limited.spans.end(),
            [&](const ScriptColourSpan& s) { return s.offset >= from && s.offset < to; });
    };
    EXPECT_EQ(onLine(0, manyStart), 1);
    EXPECT_EQ(onLine(manyStart, longStart), static_cast<long>(kScriptMaxSpansPerLine));
    EXPECT_EQ(onLine(longStart, lastStart), 0);
    EXPECT_EQ(onLine(lastStart, text.size()), 1);
    // Cleared: everything but the long line.
    EXPECT_EQ(limited.cleared,
        (std::vector<ScriptTextRange> { { 0, longStart }, { lastStart, text.size() - lastStart } }));

    // A slice that starts inside a long line touches nothing of that line.
    auto inside = limitScriptColouringPerLine(text, {}, longStart + 10, lastStart);
    EXPECT_TRUE(inside.cleared.empty());
    EXPECT_EQ(scriptCharacterRanges("\xC3\xA9" "ab", std::vector<ScriptTextRange> { { 2, 2 } }),
        (std::vector<ScriptTextRange> { { 1, 2 } }));
}

struct LineCountCase {
    const char* text;
    std::size_t lines;
};

const LineCountCase kLineCountCases[] = {
    { "", 0 },
    { "a", 1 },
    { "a\n", 1 },
    { "\n", 1 },
    { "a\nb", 2 },
    { "\n\n", 2 },
    { "a\r\nb\r\n", 2 },
    { "a\rb", 2 },
    { "a\xE2\x80\xA9"
      "b",
        2 },
    { "a\xE2\x80\xA8"
      "b",
        1 },
};

TEST(ScriptLineNumbers, TrailingBreakGetsNoNumber)
{
    for (const LineCountCase& c : kLineCountCases)
        EXPECT_EQ(scriptNumberedLineCount(c.text), c.lines) << "text: " << c.text;
}

TEST(ScriptLineNumbers, ColumnTextStopsAtTheLastLine)
{
    EXPECT_EQ(scriptLineNumberColumnText(1, 3, 2), "1\n2");
    EXPECT_EQ(scriptLineNumberColumnText(9, 3, 11), "9\n10\n11");
    EXPECT_EQ(scriptLineNumberColumnText(6, 1, 5), "");
    EXPECT_EQ(scriptLineNumberColumnText(1, 5, 0), "");
}

TEST(ScriptLineNumbers, RulerWidensOnlyWhenNumbersDoNotFit)
{
    EXPECT_EQ(scriptRulerThickness(999, 6.6), kScriptRulerThickness);
    double wide = scriptRulerThickness(1000000, 6.6);
    EXPECT_GT(wide, kScriptRulerThickness);
    EXPECT_GE(scriptLineNumberX(wide, 7 * 6.6), 0.0);
}

} // namespace

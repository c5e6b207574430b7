// The JavaScript console against a real page: capture, stale runs, the page's console after
// overlapping runs, stop and pause, and the editor's colouring and line numbers.
#include "support/browser_fixture.h"

#include "base/json_text.h"
#include "devtools/script_console_window.h"
#include "devtools/script_editor_view.h"

#include <cstdlib>
#include <iostream>

namespace qv::test {

class ScriptConsoleTest : public BrowserTest {
protected:
    ScriptConsoleWindow& openConsoleOnPage()
    {
        m_server->page("/console.html", "Console Page", "<p>console</p>");
        controller().navigation().loadResolvedAddress(m_server->url("/console.html"));
        EXPECT_TRUE(waitForLoad(selectedView(), m_server->url("/console.html")));
        controller().devtools().showJavaScriptEditor();
        return *controller().devtools().scriptWindow();
    }

    ScriptConsoleWindow& openConsole()
    {
        controller().devtools().showJavaScriptEditor();
        ScriptConsoleWindow& window = *controller().devtools().scriptWindow();
        EXPECT_TRUE(waitUntil([&] { return window.get_mapped(); }));
        return window;
    }

    bool pageHas(const std::string& expression)
    {
        return waitUntil([&] { return evaluate(selectedView(), expression) == "true"; });
    }

    // Which colour the character at `offset` has, or nothing when it is plain.
    static std::optional<ScriptTokenKind> kindAt(ScriptEditorView& editor, int offset)
    {
        auto iter = editor.buffer()->get_iter_at_offset(offset);
        std::optional<ScriptTokenKind> found;
        for (const auto& tag : iter.get_tags()) {
            Gdk::RGBA colour = tag->property_foreground_rgba();
            for (auto kind : { ScriptTokenKind::Keyword, ScriptTokenKind::String,
                     ScriptTokenKind::Comment, ScriptTokenKind::Number }) {
                ScriptColour expected = scriptColourOf(kind);
                if (std::abs(colour.get_red() - expected.red) < 0.002
                    && std::abs(colour.get_green() - expected.green) < 0.002
                    && std::abs(colour.get_blue() - expected.blue) < 0.002)
                    found = kind;
            }
        }
        return found;
    }
};

TEST_F(ScriptConsoleTest, RunShowsTheCapturedConsoleLinesThenTheValue)
{
    ScriptConsoleWindow& window = openConsoleOnPage();
    window.runJavaScript(); // the initial text, document.title
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 1; }));
    EXPECT_EQ(window.consoleText(), "> \"Console Page\"");

    window.scriptEditor().setText("console.log('a', 1);\nconsole.warn({ b: [2] });\n42");
    window.runJavaScript();
    EXPECT_EQ(window.scriptOutput().get_text(), "Running in current page…");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 2; }));
    EXPECT_EQ(window.consoleText(), "LOG: a 1\nWARN: {\"b\":[2]}\n> 42");
    EXPECT_EQ(window.scriptOutput().get_text(), "Finished");

    window.scriptEditor().setText("nope(");
    window.runJavaScript();
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 3; }));
    EXPECT_EQ(window.consoleText().rfind("ERROR: SyntaxError", 0), 0u) << window.consoleText();
    EXPECT_EQ(window.scriptOutput().get_text(), "Finished with error");
}

TEST_F(ScriptConsoleTest, AHostilePageNeitherReceivesTheCodeNorChoosesWhatTheConsoleShows)
{
    // The page replaces every function a console could run the code or shape its answer with,
    // and records what they are handed.
    m_server->page("/hostile.html", "Hostile",
        "<script>"
        "window.__seen = [];"
        "const spy = (name) => function (...a) {"
        "  window.__seen.push(name + ':' + a.map(String).join('|')); return 'FAKE'; };"
        "window.eval = spy('eval');"
        "window.Function = spy('Function');"
        "Function.prototype.constructor = spy('constructor');"
        "Object.defineProperty(Object.getPrototypeOf(async function () {}), 'constructor',"
        "  { value: spy('AsyncFunction') });"
        "JSON.stringify = spy('stringify');"
        "JSON.parse = spy('parse');"
        "RegExp.prototype.test = spy('test');"
        "RegExp.prototype.exec = spy('exec');"
        "String.prototype.indexOf = spy('indexOf');"
        "Object.prototype.toJSON = spy('toJSON');"
        "</script>");
    controller().navigation().loadResolvedAddress(m_server->url("/hostile.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/hostile.html")));
    controller().devtools().showJavaScriptEditor();
    ScriptConsoleWindow& window = *controller().devtools().scriptWindow();

    window.scriptEditor().setText("const token = 'secret-1';\nconsole.log('got', token);\n"
                                  "({ token, n: [1, 2] })");
    window.runJavaScript();
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 1; }));
    // The engine hands objects over without their key order, so the value is compared as JSON.
    const std::string prefix = "LOG: got secret-1\n> ";
    const std::string text = window.consoleText();
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_EQ(parseJson(text.substr(prefix.size())),
        std::optional<Json>(Json { { "token", "secret-1" }, { "n", { 1, 2 } } }))
        << text;
    EXPECT_EQ(window.scriptOutput().get_text(), "Finished");

    // Top-level await runs as a function body the engine builds, not the page.
    window.scriptEditor().setText("await 0;\nreturn 'secret-2' + '!';");
    window.runJavaScript();
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 2; }));
    EXPECT_EQ(window.consoleText(), "> \"secret-2!\"");

    window.scriptEditor().setText("throw new TypeError('secret-3')");
    window.runJavaScript();
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 3; }));
    EXPECT_EQ(window.consoleText(), "ERROR: TypeError: secret-3");

    std::string seen = evaluate(selectedView(), "window.__seen.join('\\n')");
    for (const char* secret : { "secret-1", "secret-2", "secret-3" })
        EXPECT_EQ(seen.find(secret), std::string::npos) << secret << " reached the page: " << seen;
    EXPECT_EQ(seen.find("const token"), std::string::npos) << seen;
    EXPECT_EQ(evaluate(selectedView(), "typeof console.log === 'function'"), "true");
}

TEST_F(ScriptConsoleTest, AStaleRunsResultNeverShows)
{
    ScriptConsoleWindow& window = openConsoleOnPage();
    window.scriptEditor().setText(
        "await new Promise(r => { window.__release = r; });\nreturn 'first';");
    window.runJavaScript();
    ASSERT_TRUE(pageHas("typeof window.__release === 'function'"));

    window.scriptEditor().setText("'second'");
    window.runJavaScript();
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 1; }));
    EXPECT_EQ(window.consoleText(), "> \"second\"");

    evaluate(selectedView(), "window.__release(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 2; }));
    EXPECT_EQ(window.consoleText(), "> \"second\"");
    EXPECT_EQ(window.scriptOutput().get_text(), "Finished");
}

TEST_F(ScriptConsoleTest, OverlappingRunsLeaveThePageConsoleAsItWas)
{
    ScriptConsoleWindow& window = openConsoleOnPage();
    evaluate(selectedView(), "window.__original = [console.log, console.error]; true");
    window.scriptEditor().setText(
        "await new Promise(r => { window.__releaseA = r; });\nconsole.log('a');\nreturn 1;");
    window.runJavaScript();
    ASSERT_TRUE(pageHas("typeof window.__releaseA === 'function'"));
    window.scriptEditor().setText(
        "await new Promise(r => { window.__releaseB = r; });\nconsole.log('b');\nreturn 2;");
    window.runJavaScript();
    ASSERT_TRUE(pageHas("typeof window.__releaseB === 'function'"));
    EXPECT_EQ(evaluate(selectedView(), "console.log === window.__original[0]"), "false");

    // The first run ends first, under the second's wrapper.
    evaluate(selectedView(), "window.__releaseA(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 1; }));
    evaluate(selectedView(), "window.__releaseB(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 2; }));
    // The first run logged while the second was capturing.
    EXPECT_EQ(window.consoleText(), "LOG: a\nLOG: b\n> 2");
    EXPECT_EQ(evaluate(selectedView(),
                  "console.log === window.__original[0] && console.error === window.__original[1]"),
        "true");
}

TEST_F(ScriptConsoleTest, StopDropsTheRunAndPauseHoldsOutputUntilResume)
{
    ScriptConsoleWindow& window = openConsoleOnPage();
    window.scriptEditor().setText(
        "await new Promise(r => { window.__stopMe = r; });\nreturn 'late';");
    window.runJavaScript();
    ASSERT_TRUE(pageHas("typeof window.__stopMe === 'function'"));
    window.stopJavaScript();
    EXPECT_EQ(window.scriptOutput().get_text(), "Stopped · result ignored; page code may continue");
    evaluate(selectedView(), "window.__stopMe(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 1; }));
    EXPECT_EQ(window.consoleText(), "");

    window.scriptEditor().setText(
        "await new Promise(r => { window.__pauseMe = r; });\nconsole.log('held');\nreturn 7;");
    window.runJavaScript();
    ASSERT_TRUE(pageHas("typeof window.__pauseMe === 'function'"));
    window.pauseJavaScript();
    EXPECT_EQ(window.scriptOutput().get_text(), "Output paused · page code continues");
    EXPECT_EQ(window.scriptPauseButton().get_tooltip_text(), "Resume output (page code continues)");
    evaluate(selectedView(), "window.__pauseMe(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 2; }));
    EXPECT_EQ(window.consoleText(), "");
    EXPECT_EQ(window.scriptOutput().get_text(), "Output paused · page code continues");

    window.pauseJavaScript();
    EXPECT_EQ(window.consoleText(), "LOG: held\n> 7");
    EXPECT_EQ(window.scriptOutput().get_text(), "Output resumed");
    EXPECT_EQ(window.scriptPauseButton().get_tooltip_text(), "Pause output (page code continues)");

    // Restart runs what was last run, not the edited text.
    window.scriptEditor().setText("'edited'");
    evaluate(selectedView(), "window.__pauseMe = null; true");
    window.restartJavaScript();
    EXPECT_EQ(window.scriptOutput().get_text(), "Restarting in current page…");
    ASSERT_TRUE(pageHas("typeof window.__pauseMe === 'function'"));
    evaluate(selectedView(), "window.__pauseMe(); true");
    ASSERT_TRUE(waitUntil([&] { return window.completedRuns() == 3; }));
    EXPECT_EQ(window.consoleText(), "LOG: held\n> 7");
}

TEST_F(ScriptConsoleTest, EditorColoursKeywordsStringsNumbersAndComments)
{
    ScriptConsoleWindow& window = openConsole();
    ScriptEditorView& editor = window.scriptEditor();
    //            0         1         2
    //            0123456789012345678901234567
    editor.setText("let s = 'if 42'; // a null\nx");
    ASSERT_TRUE(editor.colouringComplete());
    EXPECT_EQ(kindAt(editor, 0), ScriptTokenKind::Keyword);
    EXPECT_EQ(kindAt(editor, 4), std::nullopt);
    EXPECT_EQ(kindAt(editor, 8), ScriptTokenKind::String);
    EXPECT_EQ(kindAt(editor, 9), ScriptTokenKind::String); // "if" inside the string
    EXPECT_EQ(kindAt(editor, 12), ScriptTokenKind::Number);
    EXPECT_EQ(kindAt(editor, 17), ScriptTokenKind::Comment);
    EXPECT_EQ(kindAt(editor, 22), ScriptTokenKind::Keyword); // null inside the comment

    // Typing a quote before the string turns what follows into a string, and back.
    auto buffer = editor.buffer();
    auto at = buffer->get_iter_at_offset(0);
    buffer->insert(at, "'");
    EXPECT_EQ(editor.text(), "'let s = 'if 42'; // a null\nx");
    EXPECT_EQ(kindAt(editor, 1), ScriptTokenKind::String);
    buffer->erase(buffer->get_iter_at_offset(0), buffer->get_iter_at_offset(1));
    EXPECT_EQ(kindAt(editor, 0), ScriptTokenKind::Keyword);
    EXPECT_EQ(kindAt(editor, 4), std::nullopt);
}

TEST_F(ScriptConsoleTest, GutterNumbersTheLinesOfTheText)
{
    ScriptConsoleWindow& window = openConsole();
    ScriptEditorView& editor = window.scriptEditor();
    editor.setText("one\ntwo\nthree");
    ASSERT_TRUE(waitUntil([&] { return editor.visibleLineNumbers().size() == 3; }));
    EXPECT_EQ(editor.visibleLineNumbers(), (std::vector<std::size_t> { 1, 2, 3 }));
    editor.setText("one\ntwo\nthree\n");
    EXPECT_EQ(editor.visibleLineNumbers(), (std::vector<std::size_t> { 1, 2, 3 }));
    editor.setText("");
    EXPECT_TRUE(editor.visibleLineNumbers().empty());

    // The caret label follows the caret: the start of the third line.
    editor.setText("one\ntwo\nthree");
    editor.buffer()->place_cursor(editor.buffer()->get_iter_at_line(2));
    EXPECT_EQ(window.scriptCursorStatus().get_text(), "Ln 3, Col 1");
}

TEST_F(ScriptConsoleTest, AMegabyteScriptIsColouredWhileTheMainLoopRuns)
{
    ScriptConsoleWindow& window = openConsole();
    ScriptEditorView& editor = window.scriptEditor();
    const std::string piece = "function f(a){if(a>1.5){return\"s\"+a}var b='t';/*c*/return null}";
    // Minified code broken into lines of about 2 KB as bundlers often leave it, then all of it on
    // one line followed by a short one.
    std::string lines;
    std::string oneLine;
    while (lines.size() < 1024 * 1024) {
        for (int i = 0; i < 32; ++i)
            lines += piece;
        lines += '\n';
    }
    while (oneLine.size() < 1024 * 1024)
        oneLine += piece;
    const std::string joined = oneLine + "\nnull";

    using Clock = std::chrono::steady_clock;
    const std::string* texts[] = { &lines, &joined };
    for (const std::string* text : texts) {
        auto started = Clock::now();
        editor.setText(*text);
        double setMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();

        int ticksWhileColouring = 0;
        double longestGapMs = 0;
        auto last = Clock::now();
        auto timer = Glib::signal_timeout().connect(
            [&] {
                auto now = Clock::now();
                longestGapMs = std::max(
                    longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
                last = now;
                if (!editor.colouringComplete())
                    ++ticksWhileColouring;
                return true;
            },
            10);
        ASSERT_TRUE(
            waitUntil([&] { return editor.colouringComplete(); }, std::chrono::seconds(120)));
        double wholeMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        timer.disconnect();

        std::cout << "[ measure  ] 1 MB script, "
                  << (text == &lines ? "2 KB lines" : "one line and a short one") << ": setText " << setMs << " ms, coloured in " << wholeMs
                  << " ms, longest gap between 10 ms timeouts " << longestGapMs << " ms, "
                  << ticksWhileColouring << " timeouts while colouring, longest colouring slice "
                  << editor.longestSliceMs() << " ms\n";
        EXPECT_EQ(editor.text().size(), text->size());
        // The 2 KB lines take many slices with the main loop running between them, and every
        // line is coloured to the last one; a line of a megabyte stays plain.
        if (text == &lines) {
            EXPECT_GT(ticksWhileColouring, 0);
            const auto lastLine = lines.rfind('\n', lines.size() - 2) + 1;
            EXPECT_EQ(kindAt(editor, static_cast<int>(lastLine)), ScriptTokenKind::Keyword);
        } else {
            EXPECT_EQ(kindAt(editor, 0), std::nullopt);
        }
    }
    const int nullAt = static_cast<int>(oneLine.size()) + 1;
    EXPECT_EQ(kindAt(editor, nullAt), ScriptTokenKind::Keyword);
    // Joining the short line onto the long one carries its colour into that line: it goes.
    auto newline = editor.buffer()->get_iter_at_offset(nullAt - 1);
    auto after = newline;
    after.forward_char();
    editor.buffer()->erase(newline, after);
    ASSERT_TRUE(waitUntil([&] { return editor.colouringComplete(); }, std::chrono::seconds(60)));
    EXPECT_EQ(kindAt(editor, nullAt - 1), std::nullopt);
}

} // namespace qv::test

namespace qv::test {

// Pictures for the docs: QV_CONSOLE_SHOT=/path/prefix, run with --gtest_also_run_disabled_tests
// on a display of its own.
TEST_F(ScriptConsoleTest, DISABLED_Screenshots)
{
    const char* prefix = std::getenv("QV_CONSOLE_SHOT");
    ASSERT_TRUE(prefix);
    for (bool dark : { false, true }) {
        controller().shell().setDarkMode(dark);
        ScriptConsoleWindow& window = openConsoleOnPage();
        window.scriptEditor().setText("// Sum the prices on the page\nconst prices = [4.5, 12, "
                                      "30];\nlet total = 0;\nfor (const p of prices) {\n    "
                                      "total += p;\n    console.log('price', p);\n}\nif (total > "
                                      "40) console.warn(\"expensive\", { total });\ntotal;\n");
        window.runJavaScript();
        ASSERT_TRUE(waitUntil([&] { return window.scriptOutput().get_text() == "Finished"; }));
        window.scriptEditor().buffer()->place_cursor(
            window.scriptEditor().buffer()->get_iter_at_line_offset(4, 10));
        ASSERT_TRUE(flushIdleWork());
        std::string path = std::string(prefix) + (dark ? "-dark.png" : "-light.png");
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        window.set_visible(false);
    }
}

} // namespace qv::test

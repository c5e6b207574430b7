// The console's wrapper text, output assembly, run state and caret label.
#include "devtools/script_console_rules.h"

#include <gtest/gtest.h>

namespace {

using namespace qv;

TEST(ScriptConsoleScripts, NoScriptTheConsoleSendsCarriesOrEvaluatesText)
{
    const std::string token = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    for (const std::string& script : { scriptConsoleCollectorScript(token),
             scriptConsoleHookScript(token), scriptConsoleFinishScript(token) }) {
        EXPECT_NE(script.find(token), std::string::npos);
        for (const char* evaluates : { "eval", "Function", "setTimeout", "__src" })
            EXPECT_EQ(script.find(evaluates), std::string::npos) << evaluates << "\n" << script;
    }
}

TEST(ScriptConsoleScripts, TheHookRestoresOnlyItsOwnWrapperAfterItStopsCapturing)
{
    std::string hook = scriptConsoleHookScript("T");
    std::size_t cleanup = hook.rfind("addEventListener(__end");
    ASSERT_NE(cleanup, std::string::npos);
    std::string tail = hook.substr(cleanup);
    std::size_t done = tail.find("__done = true");
    std::size_t guard = tail.find("__c[k] !== own");
    std::size_t restore = tail.find("__c[k] = ");
    ASSERT_NE(restore, std::string::npos);
    EXPECT_LT(done, guard);
    EXPECT_LT(guard, restore);
    EXPECT_EQ(tail.find("__c[k] = ", restore + 1), std::string::npos);
}

TEST(ScriptConsoleScripts, CodeRunsAsAnAsyncBodyOnlyWhenItFailsAsAScriptAndSaysAwait)
{
    struct Case {
        bool parses;
        const char* source;
        ScriptRunMode mode;
    };
    const Case cases[] = {
        { true, "await", ScriptRunMode::Script },
        { false, "await x", ScriptRunMode::AsyncFunctionBody },
        { false, "x;\nawait(y)", ScriptRunMode::AsyncFunctionBody },
        { false, "awaiting(", ScriptRunMode::Script },
        { false, "o.await_ + _await + await1 (", ScriptRunMode::Script },
        { false, "nope(", ScriptRunMode::Script },
    };
    for (const Case& c : cases)
        EXPECT_EQ(scriptRunMode(c.parses, c.source), c.mode) << c.source;
}

TEST(ScriptConsoleScripts, EngineErrorsLoseThePlaceTheyStartWith)
{
    const std::pair<const char*, const char*> cases[] = {
        { "console:1:5: TypeError: null is not an object", "TypeError: null is not an object" },
        { "console:1: SyntaxError: Unexpected end of script",
            "SyntaxError: Unexpected end of script" },
        { "console:1:14: plain: text", "plain: text" },
        { ":1:5: Error: x", "Error: x" },
        { "http://127.0.0.1:8080/app.html:10:3: Error: boom", "Error: boom" },
        { "SyntaxError: Unexpected token '}'", "SyntaxError: Unexpected token '}'" },
        { "Unsupported result type", "Unsupported result type" },
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(scriptErrorText(message), shown) << message;
}

TEST(ScriptConsoleScripts, TheReplyJoinsCollectedLinesWithTheEnginesOutcome)
{
    Json collected = { { "lines", Json::array({ "LOG: a 1" }) }, { "dropped", 2 } };
    auto text = [&](std::optional<Json> lines, ScriptCodeOutcome code) {
        return scriptRunOutput(scriptRunReplyFor(std::move(lines), code));
    };
    ScriptRunOutput value = text(collected, { ScriptCodeOutcome::Kind::Value, "\"t\"" });
    EXPECT_EQ(value.text, "LOG: a 1\n… 2 more lines not shown\n> \"t\"");
    EXPECT_FALSE(value.failed);
    ScriptRunOutput error = text(collected, { ScriptCodeOutcome::Kind::Error, "Error: x" });
    EXPECT_EQ(error.text, "LOG: a 1\n… 2 more lines not shown\nERROR: Error: x");
    EXPECT_TRUE(error.failed);
    EXPECT_EQ(text(std::nullopt, { ScriptCodeOutcome::Kind::Error, "" }).text,
        "ERROR: JavaScript failed");
    EXPECT_EQ(text(Json("junk"), { ScriptCodeOutcome::Kind::Unshowable, "" }).text,
        "> " + std::string(kScriptUnshowableValue));
}

struct OutputCase {
    const char* name;
    std::optional<Json> result;
    std::optional<std::string> engineError;
    const char* text;
    bool failed;
};

const OutputCase kOutputCases[] = {
    { "no result", std::nullopt, std::nullopt, "> undefined", false },
    { "undefined value", Json { { "lines", Json::array() }, { "value", "undefined" } },
        std::nullopt, "> undefined", false },
    { "lines and value", Json { { "lines", Json::array({ "LOG: a 1" }) }, { "value", "42" } },
        std::nullopt, "LOG: a 1\n> 42", false },
    { "error entry",
        Json { { "lines", Json::array({ "LOG: x" }) }, { "error", "SyntaxError: bad" } },
        std::nullopt, "LOG: x\nERROR: SyntaxError: bad", true },
    { "engine error without text", std::nullopt, std::string(), "ERROR: JavaScript failed", true },
    { "engine error", std::nullopt, std::string("The page went away"), "ERROR: The page went away",
        true },
    { "lines not an array", Json { { "lines", "LOG: x" }, { "value", 5 } }, std::nullopt, "> 5",
        false },
    { "lines of other types",
        Json {
            { "lines", Json::array({ 1, nullptr, Json { { "a", 1 } } }) }, { "value", nullptr } },
        std::nullopt, "1\nnull\n{\"a\":1}\n> undefined", false },
    { "error of another type", Json { { "error", 7 }, { "value", "\"v\"" } }, std::nullopt,
        "> \"v\"", true },
    { "plain string result", Json("plain"), std::nullopt, "> plain", false },
    { "array result", Json { 1, 2 }, std::nullopt, "> [1,2]", false },
    { "dropped lines", Json { { "value", "x" }, { "dropped", 3 } }, std::nullopt,
        "… 3 more lines not shown\n> x", false },
    { "negative dropped", Json { { "value", "x" }, { "dropped", -3 } }, std::nullopt, "> x",
        false },
};

TEST(ScriptRunOutput, AssemblesLinesAndTheFinalLine)
{
    for (const OutputCase& c : kOutputCases) {
        ScriptRunOutput output = scriptRunOutput({ c.result, c.engineError });
        EXPECT_EQ(output.text, c.text) << c.name;
        EXPECT_EQ(output.failed, c.failed) << c.name;
    }
}

TEST(ScriptRunOutput, KeepsBoundedOutputOfAHostilePage)
{
    Json lines = Json::array();
    for (std::size_t i = 0; i < kMaxScriptConsoleLines + 500; ++i)
        lines.push_back("LOG: " + std::to_string(i));
    lines[0] = std::string(1024 * 1024, 'x');
    lines[1] = "bad \xFF";
    Json deep = Json::array();
    for (int i = 0; i < 100000; ++i) {
        Json outer = Json::array();
        outer.push_back(std::move(deep));
        deep = std::move(outer);
    }
    lines[2] = std::move(deep);

    // Moved, never copied: copying a value this deep recurses.
    ScriptRunReply reply;
    reply.result = Json::object();
    (*reply.result)["lines"] = std::move(lines);
    (*reply.result)["value"] = "1";
    ScriptRunOutput output = scriptRunOutput(reply);
    EXPECT_LE(output.text.size(), kMaxScriptConsoleOutputBytes + kMaxScriptConsoleLineBytes + 100);
    EXPECT_NE(output.text.find("\n… 500 more lines not shown\n> 1"), std::string::npos);
    std::string first = output.text.substr(0, output.text.find('\n'));
    EXPECT_LE(first.size(), kMaxScriptConsoleLineBytes + 3);
    EXPECT_NE(output.text.find("bad \xEF\xBF\xBD\n"), std::string::npos);
    EXPECT_NE(output.text.find("\n[…]\n"), std::string::npos);
}

ScriptRunOutput finished(const char* value)
{
    return scriptRunOutput({ Json { { "value", value } }, {} });
}

TEST(ScriptConsoleState, RunWithoutPageOnlySetsTheStatus)
{
    ScriptConsoleState state;
    ScriptConsoleUpdate update = state.run("1", PageOpen::No);
    EXPECT_EQ(update.status, kScriptNoPageRunStatus);
    EXPECT_FALSE(update.run);
    EXPECT_EQ(state.generation(), 0u);
    EXPECT_EQ(state.lastSource(), "");
}

TEST(ScriptConsoleState, CurrentRunIsShownAndStaleOnesAreDropped)
{
    ScriptConsoleState state;
    auto first = state.run("1", PageOpen::Yes);
    ASSERT_TRUE(first.run);
    EXPECT_EQ(first.status, kScriptRunningStatus);
    auto second = state.run("2", PageOpen::Yes);
    ASSERT_TRUE(second.run);
    EXPECT_NE(second.run->generation, first.run->generation);

    auto stale = state.complete(first.run->generation, finished("1"));
    EXPECT_FALSE(stale.consoleText);
    EXPECT_FALSE(stale.status);

    auto shown = state.complete(second.run->generation, finished("2"));
    EXPECT_EQ(shown.consoleText, "> 2");
    EXPECT_EQ(shown.status, kScriptFinishedStatus);

    auto failing = state.run("x(", PageOpen::Yes);
    auto error = state.complete(failing.run->generation,
        scriptRunOutput({ Json { { "lines", Json::array() }, { "error", "SyntaxError" } }, {} }));
    EXPECT_EQ(error.status, kScriptFinishedWithErrorStatus);
}

TEST(ScriptConsoleState, StopIgnoresTheOutstandingRun)
{
    ScriptConsoleState state;
    auto started = state.run("long()", PageOpen::Yes);
    EXPECT_EQ(state.stop().status, kScriptStoppedStatus);
    auto late = state.complete(started.run->generation, finished("1"));
    EXPECT_FALSE(late.consoleText);
    EXPECT_FALSE(late.status);
}

TEST(ScriptConsoleState, PausedOutputWaitsForResume)
{
    ScriptConsoleState state;
    auto started = state.run("1", PageOpen::Yes);
    auto paused = state.togglePause();
    EXPECT_EQ(paused.status, kScriptPausedStatus);
    EXPECT_EQ(state.pauseLook().symbol, "play.fill");

    auto held = state.complete(started.run->generation, finished("1"));
    EXPECT_FALSE(held.consoleText);
    EXPECT_FALSE(held.status);
    EXPECT_EQ(state.pendingOutput(), "> 1");

    auto resumed = state.togglePause();
    EXPECT_EQ(resumed.consoleText, "> 1");
    EXPECT_EQ(resumed.status, kScriptResumedStatus);
    EXPECT_FALSE(state.pendingOutput());
    EXPECT_EQ(state.pauseLook().symbol, "pause.fill");
}

TEST(ScriptConsoleState, ResumeBeforeCompletionSaysTheScriptMayStillRun)
{
    ScriptConsoleState state;
    EXPECT_EQ((state.togglePause(), state.togglePause()).status, kScriptResumedStatus);

    auto started = state.run("1", PageOpen::Yes);
    state.togglePause();
    auto resumed = state.togglePause();
    EXPECT_EQ(resumed.status, kScriptMayStillRunStatus);
    EXPECT_FALSE(resumed.consoleText);
    EXPECT_EQ(state.complete(started.run->generation, finished("1")).status, kScriptFinishedStatus);
}

TEST(ScriptConsoleState, RunWhilePausedUnpausesAndDropsPendingOutput)
{
    ScriptConsoleState state;
    auto first = state.run("1", PageOpen::Yes);
    state.togglePause();
    state.complete(first.run->generation, finished("1"));
    auto second = state.run("2", PageOpen::Yes);
    EXPECT_TRUE(second.pauseLookChanged);
    EXPECT_FALSE(state.paused());
    EXPECT_FALSE(state.pendingOutput());
}

TEST(ScriptConsoleState, RestartRerunsTheLastSourceNotTheEditedText)
{
    ScriptConsoleState state;
    auto first = state.run("old()", PageOpen::Yes);
    auto restarted = state.restart("edited()", PageOpen::Yes);
    ASSERT_TRUE(restarted.run);
    EXPECT_EQ(restarted.run->source, "old()");
    EXPECT_EQ(restarted.status, kScriptRestartingStatus);
    EXPECT_FALSE(state.complete(first.run->generation, finished("1")).consoleText);
    EXPECT_TRUE(state.complete(restarted.run->generation, finished("1")).consoleText);

    ScriptConsoleState fresh;
    auto noPage = fresh.restart("typed()", PageOpen::No);
    EXPECT_EQ(noPage.status, kScriptNoPageRestartStatus);
    EXPECT_FALSE(noPage.run);
    EXPECT_EQ(fresh.lastSource(), "typed()");
    EXPECT_EQ(fresh.restart("other()", PageOpen::Yes).run->source, "typed()");
}

struct CaretCase {
    const char* text;
    std::size_t caret;
    const char* status;
};

const CaretCase kCaretCases[] = {
    { "", 0, "Ln 1, Col 1" },
    { "a\nb\nc", 4, "Ln 3, Col 1" },
    { "abc", 99, "Ln 1, Col 4" },
    { "\xF0\x9F\x98\x80x", 1, "Ln 1, Col 3" }, // outside the BMP: two UTF-16 units
    { "\xC3\xA9\n", 1, "Ln 1, Col 2" },
    { "a\r\nb", 3, "Ln 2, Col 1" },
    { "a\rb", 3, "Ln 1, Col 4" },
};

TEST(ScriptCursorStatus, CountsLinesOnNewlinesAndColumnsInUtf16Units)
{
    for (const CaretCase& c : kCaretCases)
        EXPECT_EQ(scriptCursorStatus(c.text, c.caret), c.status) << c.text << " @" << c.caret;
}

} // namespace

// The JavaScript console's rules: the capture wrapper sent to the page, the output built from
// what the page returns, the run, stop, pause and restart state, and the caret label.
#pragma once

#include "base/json_text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kScriptInitialSource = "document.title";
inline constexpr std::string_view kScriptReadyStatus = "Ready · runs in the current page";
inline constexpr std::string_view kScriptRunningStatus = "Running in current page…";
inline constexpr std::string_view kScriptRestartingStatus = "Restarting in current page…";
inline constexpr std::string_view kScriptFinishedStatus = "Finished";
inline constexpr std::string_view kScriptFinishedWithErrorStatus = "Finished with error";
inline constexpr std::string_view kScriptStoppedStatus
    = "Stopped · result ignored; page code may continue";
inline constexpr std::string_view kScriptPausedStatus = "Output paused · page code continues";
inline constexpr std::string_view kScriptResumedStatus = "Output resumed";
inline constexpr std::string_view kScriptMayStillRunStatus
    = "Script may still be running in the page";
inline constexpr std::string_view kScriptNoPageRunStatus = "Open a page before running JavaScript.";
inline constexpr std::string_view kScriptNoPageRestartStatus
    = "Open a page before restarting JavaScript.";
inline constexpr std::string_view kScriptFailedMessage = "JavaScript failed";

// What is kept of one run's output; the page may log without end while a run is outstanding.
inline constexpr std::size_t kMaxScriptConsoleLines = 10000;
inline constexpr std::size_t kMaxScriptConsoleLineBytes = 20000;
inline constexpr std::size_t kMaxScriptConsoleOutputBytes = 4 * 1024 * 1024;

// The user's code is handed to the engine as it is, in the page's world, never through a
// function the page could replace; the page never sees the text. Its console output is caught
// by a hook in the page that passes each line, as a DOM event named for the run, to a collector
// in the console's own script world, which the page cannot read or rewrite.
inline constexpr std::string_view kScriptConsoleWorld = "quivel-console";
// The name the engine gives the user's code in errors and stacks.
inline constexpr std::string_view kScriptConsoleSourceName = "console";
// Shown for a result the engine cannot copy out of the page.
inline constexpr std::string_view kScriptUnshowableValue
    = "(a function, promise, symbol or page element; it stays in the page)";

// How the code runs: as a script whose last expression is the value, or, when it only fails to
// parse as a script and mentions await, as the body of an asynchronous function whose returned
// value is awaited.
enum class ScriptRunMode { Script, AsyncFunctionBody };
ScriptRunMode scriptRunMode(bool parsesAsScript, std::string_view source);

// The three scripts of one run, tied together by `token` (letters, digits and hyphens only):
// the collector, started first in the console's world; the console hook, installed next in the
// page's world; and the finish, run in the console's world once the code has finished, which
// takes the hook out and returns { lines, dropped }.
std::string scriptConsoleCollectorScript(std::string_view token);
std::string scriptConsoleHookScript(std::string_view token);
std::string scriptConsoleFinishScript(std::string_view token);

// What the engine said about the user's code.
struct ScriptCodeOutcome {
    enum class Kind { Value, Error, Unshowable };
    Kind kind = Kind::Value;
    std::string text; // Value: the value as JSON, or as text when it has none; Error: the message
};

// The engine's message without the "<source>:<line>:<column>: " it starts with.
std::string scriptErrorText(std::string_view engineMessage);

// What came back from one run: the function's result converted to JSON (nothing when it gave
// none), and the web view's own error when it reported one ("" when that had no message).
struct ScriptRunReply {
    std::optional<Json> result;
    std::optional<std::string> engineError;
};

struct ScriptRunOutput {
    std::string text; // captured lines, then the "> value" or "ERROR: ..." line, joined by "\n"
    bool failed = false;
};

// The reply of one run from what the collector returned (nothing when it could not be reached)
// and the engine's outcome for the code.
ScriptRunReply scriptRunReplyFor(std::optional<Json> collected, const ScriptCodeOutcome& code);

// The console text of a reply. Anything of the wrong type is read as missing; lines past the
// limits are dropped with one line saying how many.
ScriptRunOutput scriptRunOutput(const ScriptRunReply& reply);

enum class PageOpen { No, Yes };

struct ScriptRunRequest {
    std::string source;
    std::uint64_t generation = 0;
};

// What the window does after an action: each field set is one change to make.
struct ScriptConsoleUpdate {
    std::optional<std::string> status;
    std::optional<std::string> consoleText; // replaces the pane's whole text; scroll to its end
    std::optional<ScriptRunRequest> run; // send to the page; complete() with its generation
    bool pauseLookChanged = false; // show pauseLook() on the pause button
};

struct ScriptPauseLook {
    std::string_view symbol; // "pause.fill" or "play.fill"
    std::string_view tooltip; // also the accessibility label
};

// Run state of the console. Every run carries the generation it was started with; Stop,
// Restart and a new Run advance the counter, and a completion whose generation is no longer
// current changes nothing.
class ScriptConsoleState {
public:
    ScriptConsoleUpdate run(std::string_view editorText, PageOpen page);
    ScriptConsoleUpdate stop();
    ScriptConsoleUpdate togglePause();
    ScriptConsoleUpdate restart(std::string_view editorText, PageOpen page);
    ScriptConsoleUpdate complete(std::uint64_t generation, const ScriptRunOutput& output);

    std::uint64_t generation() const { return m_generation; }
    bool paused() const { return m_paused; }
    const std::string& lastSource() const { return m_lastSource; }
    const std::optional<std::string>& pendingOutput() const { return m_pendingOutput; }
    ScriptPauseLook pauseLook() const;

private:
    void abandon(ScriptConsoleUpdate& update);

    std::string m_lastSource;
    std::optional<std::string> m_pendingOutput;
    bool m_paused = false;
    std::uint64_t m_generation = 0;
};

// "Ln N, Col M" for a caret `caretCharacter` characters into the text (clamped to its end):
// lines split on "\n", columns count UTF-16 units, both from 1.
std::string scriptCursorStatus(std::string_view text, std::size_t caretCharacter);

} // namespace qv

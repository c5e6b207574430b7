// The console's wrapper script, output assembly, run state and caret label.
#include "devtools/script_console_rules.h"

#include "base/text_util.h"

#include <algorithm>
#include <vector>

namespace qv {

namespace {

// The hook, after the lines that declare __line, __end and __maxLine. It holds no user text and
// returns nothing the console shows: each console call is formatted here and handed on as one
// event for the collector. Each run only puts back a console method that is still its own
// wrapper: with overlapping runs the later one may sit on top, and taking it away would drop
// that run's capture. A finished run's wrapper stops capturing and only passes calls on, and
// whoever restores next skips past it, so no run leaves the console patched for good.
constexpr std::string_view kHookBody = R"JS(
const __c = window.console;
const __doc = document;
const __names = ['log', 'info', 'warn', 'error', 'debug'];
const __saved = {};
const __own = {};
let __done = false;
const __fmt = function (v) {
  const type = typeof v;
  if (type === 'string') return v;
  // Plain values are written out here, with nothing the page could have replaced.
  if (type === 'number') return v === v && v !== Infinity && v !== -Infinity ? `${v}` : 'null';
  if (type === 'boolean' || v === null) return `${v}`;
  if (type === 'undefined') return 'undefined';
  let text;
  try { text = JSON.stringify(v); } catch (e) { text = undefined; }
  if (typeof text === 'string') return text;
  try { return String(v); } catch (e) { return typeof v; }
};
const __send = function (line) {
  try { __doc.dispatchEvent(new CustomEvent(__line, { detail: line })); } catch (e) {}
};
if (typeof __c === 'object' && __c !== null) {
  for (const k of __names) {
    try {
      const saved = __c[k];
      const label = k.toUpperCase() + ': ';
      const wrapper = function (...a) {
        if (!__done) {
          try {
            let line = label;
            for (let i = 0; i < a.length && line.length <= __maxLine; i++) {
              if (i > 0) line += ' ';
              line += __fmt(a[i]);
            }
            if (line.length > __maxLine) line = line.slice(0, __maxLine) + '\u2026';
            __send(line);
          } catch (e) {}
        }
        return typeof saved === 'function' ? Reflect.apply(saved, this, a) : undefined;
      };
      Object.defineProperty(wrapper, '__qvConsoleCapture', {
        value: function () { return { done: __done, saved: saved }; }
      });
      __c[k] = wrapper;
      if (__c[k] === wrapper) {
        __saved[k] = saved;
        __own[k] = wrapper;
      }
    } catch (e) {}
  }
}
__doc.addEventListener(__end, function () {
  __done = true;
  for (const k of __names) {
    try {
      const own = __own[k];
      if (typeof own !== 'function' || __c[k] !== own) continue;
      let f = __saved[k];
      for (let i = 0; i < 100 && typeof f === 'function'; i++) {
        const mark = Object.getOwnPropertyDescriptor(f, '__qvConsoleCapture');
        if (!mark || typeof mark.value !== 'function') break;
        const state = mark.value();
        if (!state || state.done !== true) break;
        f = state.saved;
      }
      __c[k] = f;
    } catch (e) {}
  }
}, { once: true });
})();
)JS";

// The collector, after the lines that declare __token, __line, __maxLines and __maxLine. It
// lives in the console's world, so what it keeps is out of the page's reach; the page can only
// send it lines, as it could by logging.
constexpr std::string_view kCollectorBody = R"JS(
const runs = window.__qvConsoleRuns || (window.__qvConsoleRuns = new Map());
const run = { lines: [], dropped: 0 };
run.listener = function (event) {
  const line = event.detail;
  if (typeof line !== 'string') return;
  if (run.lines.length >= __maxLines) { run.dropped++; return; }
  run.lines.push(line.length > __maxLine ? line.slice(0, __maxLine) + '\u2026' : line);
};
document.addEventListener(__line, run.listener);
runs.set(__token, run);
return true;
})();
)JS";

// The finish, after the lines that declare __token, __line and __end: the hook is told to put
// the console back, and the run's lines leave the collector.
constexpr std::string_view kFinishBody = R"JS(
document.dispatchEvent(new CustomEvent(__end));
const runs = window.__qvConsoleRuns;
const run = runs ? runs.get(__token) : undefined;
if (!run) return { lines: [], dropped: 0 };
document.removeEventListener(__line, run.listener);
runs.delete(__token);
return { lines: run.lines, dropped: run.dropped };
})();
)JS";

std::string declaration(std::string_view name, const Json& value)
{
    return "const " + std::string(name) + " = " + jsonForScript(value) + ";\n";
}

std::string lineEvent(std::string_view token) { return "qvconsole-line-" + std::string(token); }
std::string endEvent(std::string_view token) { return "qvconsole-end-" + std::string(token); }

std::string cappedText(std::string_view text, std::size_t maxBytes)
{
    std::string line = sanitizeUtf8(text);
    if (line.size() <= maxBytes)
        return line;
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    line.resize(cut);
    line += "…";
    return line;
}

// Deeper values come only from a page that tampers with our array; dumping them recurses.
bool nestingAtMost(const Json& value, std::size_t limit)
{
    std::vector<std::pair<const Json*, std::size_t>> stack { { &value, 1 } };
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (!node->is_structured())
            continue;
        if (depth > limit)
            return false;
        for (const Json& child : *node)
            stack.push_back({ &child, depth + 1 });
    }
    return true;
}

std::string describe(const Json& value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (!nestingAtMost(value, 64))
        return value.is_array() ? "[…]" : "{…}";
    return dumpJson(value);
}

std::string valueText(const std::optional<Json>& result)
{
    if (!result || result->is_null())
        return "undefined";
    if (!result->is_object())
        return describe(*result);
    auto it = result->find("value");
    if (it == result->end() || it->is_null())
        return "undefined";
    return describe(*it);
}

} // namespace

ScriptRunMode scriptRunMode(bool parsesAsScript, std::string_view source)
{
    if (parsesAsScript)
        return ScriptRunMode::Script;
    // The word await on its own, as the pattern \bawait\b finds it.
    auto isWordCharacter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_';
    };
    for (std::size_t at = source.find("await"); at != std::string_view::npos;
         at = source.find("await", at + 1)) {
        bool startsWord = at == 0 || !isWordCharacter(source[at - 1]);
        bool endsWord = at + 5 == source.size() || !isWordCharacter(source[at + 5]);
        if (startsWord && endsWord)
            return ScriptRunMode::AsyncFunctionBody;
    }
    return ScriptRunMode::Script;
}

std::string scriptConsoleCollectorScript(std::string_view token)
{
    std::string script = "(() => {\n" + declaration("__token", Json(std::string(token)));
    script += declaration("__line", Json(lineEvent(token)));
    script += declaration("__maxLines", Json(kMaxScriptConsoleLines));
    script += declaration("__maxLine", Json(kMaxScriptConsoleLineBytes));
    return script + std::string(kCollectorBody);
}

std::string scriptConsoleHookScript(std::string_view token)
{
    std::string script = "(() => {\n" + declaration("__line", Json(lineEvent(token)));
    script += declaration("__end", Json(endEvent(token)));
    script += declaration("__maxLine", Json(kMaxScriptConsoleLineBytes));
    return script + std::string(kHookBody);
}

std::string scriptConsoleFinishScript(std::string_view token)
{
    std::string script = "(() => {\n" + declaration("__token", Json(std::string(token)));
    script += declaration("__line", Json(lineEvent(token)));
    script += declaration("__end", Json(endEvent(token)));
    return script + std::string(kFinishBody);
}

std::string scriptErrorText(std::string_view message)
{
    // "<source>:<line>: " or "<source>:<line>:<column>: "; a source name holds no space. The
    // engine names the page's address for code the console ran, so the place says nothing.
    for (std::size_t colon = message.find(": "); colon != std::string_view::npos;
         colon = message.find(": ", colon + 1)) {
        std::string_view place = message.substr(0, colon);
        if (place.find(' ') != std::string_view::npos)
            break;
        std::size_t digits = place.find_last_not_of("0123456789");
        bool endsInLine = digits != std::string_view::npos && digits + 1 < place.size()
            && place[digits] == ':';
        if (!endsInLine)
            continue;
        return std::string(message.substr(colon + 2));
    }
    return std::string(message);
}

ScriptRunReply scriptRunReplyFor(std::optional<Json> collected, const ScriptCodeOutcome& code)
{
    Json result = Json::object();
    result["lines"] = Json::array();
    if (collected && collected->is_object()) {
        auto lines = collected->find("lines");
        if (lines != collected->end() && lines->is_array())
            result["lines"] = std::move(*lines);
        auto dropped = collected->find("dropped");
        if (dropped != collected->end() && dropped->is_number())
            result["dropped"] = *dropped;
    }
    switch (code.kind) {
    case ScriptCodeOutcome::Kind::Value:
        result["value"] = code.text;
        break;
    case ScriptCodeOutcome::Kind::Unshowable:
        result["value"] = std::string(kScriptUnshowableValue);
        break;
    case ScriptCodeOutcome::Kind::Error:
        result["error"] = code.text.empty() ? std::string(kScriptFailedMessage) : code.text;
        break;
    }
    ScriptRunReply reply;
    reply.result = std::move(result);
    return reply;
}

ScriptRunOutput scriptRunOutput(const ScriptRunReply& reply)
{
    const std::optional<Json>& result = reply.result;
    const bool isObject = result && result->is_object();
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    std::uint64_t dropped = 0;
    if (isObject) {
        auto it = result->find("lines");
        if (it != result->end() && it->is_array()) {
            for (const Json& element : *it) {
                if (lines.size() >= kMaxScriptConsoleLines
                    || bytes >= kMaxScriptConsoleOutputBytes) {
                    ++dropped;
                    continue;
                }
                lines.push_back(cappedText(describe(element), kMaxScriptConsoleLineBytes));
                bytes += lines.back().size() + 1;
            }
        }
        auto count = result->find("dropped");
        if (count != result->end() && count->is_number()) {
            double reported = count->get<double>();
            if (reported >= 1)
                dropped += static_cast<std::uint64_t>(std::min(reported, 1e9));
        }
    }
    if (dropped > 0)
        lines.push_back("… " + std::to_string(dropped) + " more lines not shown");

    ScriptRunOutput output;
    if (reply.engineError) {
        output.failed = true;
        lines.push_back("ERROR: "
            + (reply.engineError->empty()
                    ? std::string(kScriptFailedMessage)
                    : cappedText(*reply.engineError, kMaxScriptConsoleOutputBytes)));
    } else if (isObject && result->contains("error")) {
        output.failed = true;
        const Json& error = (*result)["error"];
        if (error.is_string())
            lines.push_back(
                "ERROR: " + cappedText(error.get<std::string>(), kMaxScriptConsoleOutputBytes));
        else
            lines.push_back("> " + cappedText(valueText(result), kMaxScriptConsoleOutputBytes));
    } else {
        lines.push_back("> " + cappedText(valueText(result), kMaxScriptConsoleOutputBytes));
    }

    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            output.text += '\n';
        output.text += lines[i];
    }
    return output;
}

void ScriptConsoleState::abandon(ScriptConsoleUpdate& update)
{
    ++m_generation;
    m_paused = false;
    m_pendingOutput.reset();
    update.pauseLookChanged = true;
}

ScriptConsoleUpdate ScriptConsoleState::run(std::string_view editorText, PageOpen page)
{
    ScriptConsoleUpdate update;
    if (page == PageOpen::No) {
        update.status = kScriptNoPageRunStatus;
        return update;
    }
    m_lastSource = editorText;
    m_pendingOutput.reset();
    m_paused = false;
    update.pauseLookChanged = true;
    ++m_generation;
    update.status = kScriptRunningStatus;
    update.run = ScriptRunRequest { m_lastSource, m_generation };
    return update;
}

ScriptConsoleUpdate ScriptConsoleState::stop()
{
    ScriptConsoleUpdate update;
    abandon(update);
    update.status = kScriptStoppedStatus;
    return update;
}

ScriptConsoleUpdate ScriptConsoleState::togglePause()
{
    ScriptConsoleUpdate update;
    m_paused = !m_paused;
    update.pauseLookChanged = true;
    if (m_paused) {
        update.status = kScriptPausedStatus;
        return update;
    }
    if (m_pendingOutput && !m_pendingOutput->empty()) {
        update.consoleText = *m_pendingOutput;
        update.status = kScriptResumedStatus;
    } else {
        update.status = m_lastSource.empty() ? kScriptResumedStatus : kScriptMayStillRunStatus;
    }
    m_pendingOutput.reset();
    return update;
}

ScriptConsoleUpdate ScriptConsoleState::restart(std::string_view editorText, PageOpen page)
{
    ScriptConsoleUpdate update;
    if (m_lastSource.empty())
        m_lastSource = editorText;
    if (page == PageOpen::No) {
        update.status = kScriptNoPageRestartStatus;
        return update;
    }
    abandon(update);
    ++m_generation;
    update.status = kScriptRestartingStatus;
    update.run = ScriptRunRequest { m_lastSource, m_generation };
    return update;
}

ScriptConsoleUpdate ScriptConsoleState::complete(
    std::uint64_t generation, const ScriptRunOutput& output)
{
    ScriptConsoleUpdate update;
    if (generation != m_generation)
        return update;
    if (m_paused) {
        m_pendingOutput = output.text;
        return update;
    }
    update.consoleText = output.text;
    update.status = output.failed ? kScriptFinishedWithErrorStatus : kScriptFinishedStatus;
    return update;
}

ScriptPauseLook ScriptConsoleState::pauseLook() const
{
    if (m_paused)
        return { "play.fill", "Resume output (page code continues)" };
    return { "pause.fill", "Pause output (page code continues)" };
}

std::string scriptCursorStatus(std::string_view text, std::size_t caretCharacter)
{
    std::size_t line = 1;
    std::size_t column = 1;
    std::size_t characters = 0;
    std::size_t i = 0;
    while (i < text.size() && characters < caretCharacter) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::size_t units = 1;
        if (lead >= 0xF0 && lead <= 0xF7) {
            length = 4;
            units = 2;
        } else if (lead >= 0xE0) {
            length = lead <= 0xEF ? 3 : 1;
        } else if (lead >= 0xC0) {
            length = 2;
        }
        std::size_t end = i + 1;
        while (end < i + length && end < text.size()
            && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            ++end;
        if (end - i < length)
            units = 1; // a broken sequence counts as one character
        i = end;
        ++characters;
        if (lead == '\n') {
            ++line;
            column = 1;
        } else {
            column += units;
        }
    }
    return "Ln " + std::to_string(line) + ", Col " + std::to_string(column);
}

} // namespace qv

// The console's wrapper script, output assembly, run state and caret label.
#include "devtools/script_console_rules.h"

#include "base/text_util.h"

#include <algorithm>
#include <vector>

namespace qv {

namespace {

// The wrapper after the line that declares __src. Each run only puts back a console method
// that is still its own wrapper: with overlapping runs the later one may sit on top, and taking
// it away would drop that run's capture. A finished run's wrapper stops capturing and only
// passes calls on, and whoever restores next skips past it, so no run leaves the console
// patched for good and no finished run's lines keep growing.
constexpr std::string_view kWrapperBody = R"JS(
const __log = [];
const __c = window.console;
const __saved = {};
const __own = {};
const __names = ['log', 'info', 'warn', 'error', 'debug'];
let __dropped = 0;
let __done = false;
const __fmt = function (v) {
  if (typeof v === 'string') return v;
  let text;
  try { text = JSON.stringify(v); } catch (e) { text = undefined; }
  if (typeof text === 'string') return text;
  try { return String(v); } catch (e) { return typeof v; }
};
if (typeof __c === 'object' && __c !== null) {
  for (const k of __names) {
    try {
      const saved = __c[k];
      const label = k.toUpperCase() + ': ';
      const wrapper = function (...a) {
        if (!__done) {
          try {
            if (__log.length < __maxLines) {
              let line = label;
              for (let i = 0; i < a.length && line.length <= __maxLine; i++) {
                if (i > 0) line += ' ';
                line += __fmt(a[i]);
              }
              if (line.length > __maxLine) line = line.slice(0, __maxLine) + '\u2026';
              __log[__log.length] = line;
            } else {
              __dropped++;
            }
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
try {
  let value;
  let evaluated = true;
  try {
    value = (0, eval)(__src);
  } catch (e) {
    if (!(e instanceof SyntaxError) || !/\bawait\b/.test(__src)) throw e;
    const AsyncFunction = Object.getPrototypeOf(async function () {}).constructor;
    evaluated = false;
    value = await new AsyncFunction(__src)();
  }
  if (evaluated && value && typeof value.then === 'function') value = await value;
  let text;
  if (value === undefined) {
    text = 'undefined';
  } else {
    try { text = JSON.stringify(value); } catch (e) { text = undefined; }
    if (typeof text !== 'string') text = String(value);
  }
  if (text.length > __maxValue) text = text.slice(0, __maxValue) + '\u2026';
  return { lines: __log, value: text, dropped: __dropped };
} catch (e) {
  let text;
  try {
    const head = String(e);
    const stack = e instanceof Error && !(e instanceof SyntaxError)
        && typeof e.stack === 'string' ? e.stack : '';
    text = stack === '' ? head : (stack.indexOf(head) === 0 ? stack : head + '\n' + stack);
    if (text.length > __maxValue) text = text.slice(0, __maxValue) + '\u2026';
  } catch (x) {
    text = 'Error';
  }
  return { lines: __log, error: text, dropped: __dropped };
} finally {
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
}
)JS";

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

std::string scriptConsoleWrapper(std::string_view source)
{
    std::string body = "const __src = " + jsonForScript(Json(sanitizeUtf8(source))) + ";\n";
    body += "const __maxLines = " + std::to_string(kMaxScriptConsoleLines) + ";\n";
    body += "const __maxLine = " + std::to_string(kMaxScriptConsoleLineBytes) + ";\n";
    body += "const __maxValue = " + std::to_string(kMaxScriptConsoleOutputBytes) + ";";
    body += kWrapperBody;
    return body;
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

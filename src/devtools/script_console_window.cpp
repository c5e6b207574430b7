// The JavaScript console window and the controller's operation that shows it.
#include "devtools/script_console_window.h"

#include "app/shell.h"
#include "tabs/tab_service.h"
#include "app/view_helpers.h"
#include "app/web_views.h"
#include "base/text_util.h"
#include "base/uuid.h"
#include "devtools/script_editor_view.h"
#include "extensions/extension_runtime_rules.h"

#include <webkit/webkit.h>

#include <array>
#include <cstring>

namespace qv {

namespace {

    constexpr const char* kConsoleCss = R"CSS(
.qv-script-window { background: rgb(30,30,30); }
textview.qv-script-editor, textview.qv-script-editor text {
    background: rgb(30,30,30); color: rgb(214,214,214); caret-color: rgb(230,230,230);
    font-family: monospace; font-size: 13pt; }
textview.qv-script-output, textview.qv-script-output text {
    background: rgb(23,23,23); color: rgb(199,209,199); font-family: monospace; font-size: 12pt; }
.qv-script-caption { font-size: 11pt; font-weight: 600; color: rgb(140,140,140); }
.qv-script-status { color: rgb(158,163,171); }
.qv-script-caret { font-family: monospace; font-size: 11pt; color: rgb(140,145,153); }
.qv-script-window scrolledwindow { border: none; }
)CSS";

    // The platform's names for the console's symbols.
    const char* iconForSymbol(std::string_view symbol)
    {
        if (symbol == "play.fill")
            return "media-playback-start-symbolic";
        if (symbol == "stop.fill")
            return "media-playback-stop-symbolic";
        if (symbol == "pause.fill")
            return "media-playback-pause-symbolic";
        return "view-refresh-symbolic";
    }

    Gtk::Button* consoleButton(
        const char* symbol, const char* tooltip, std::function<void()> action)
    {
        Gtk::Button* button = symbolButton(iconForSymbol(symbol), tooltip, 14);
        button->add_css_class("circular");
        button->set_size_request(32, 32);
        button->set_valign(Gtk::Align::CENTER);
        button->signal_clicked().connect(std::move(action));
        return button;
    }

    // Lays out the window's four parts by the console's fixed rules: the editor takes six tenths
    // of the height, the button row sits at the bottom and the output pane fills what is between.
} // namespace

class ConsoleLayout : public Gtk::Widget {
public:
    ConsoleLayout(
        Gtk::Widget& editor, Gtk::Widget& caption, Gtk::Widget& console, Gtk::Widget& controls)
        : m_editor(editor)
        , m_caption(caption)
        , m_console(console)
        , m_controls(controls)
    {
        for (Gtk::Widget* child : children())
            child->set_parent(*this);
    }
    ~ConsoleLayout() override
    {
        for (Gtk::Widget* child : children())
            child->unparent();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override
    {
        return Gtk::SizeRequestMode::CONSTANT_SIZE;
    }

    void measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
        int& minimumBaseline, int& naturalBaseline) const override
    {
        minimumBaseline = naturalBaseline = -1;
        if (orientation == Gtk::Orientation::HORIZONTAL) {
            int controlsMin = 0;
            int controlsNat = 0;
            int ignored = 0;
            m_controls.measure(orientation, -1, controlsMin, controlsNat, ignored, ignored);
            minimum = std::max(controlsMin + 28, 420);
            natural = std::max(minimum, 900);
        } else {
            minimum = 360;
            natural = 680;
        }
    }

    void size_allocate_vfunc(int width, int height, int) override
    {
        int ignored = 0;
        int captionHeight = 0;
        int captionWidth = 0;
        m_caption.measure(Gtk::Orientation::VERTICAL, -1, ignored, captionHeight, ignored, ignored);
        m_caption.measure(
            Gtk::Orientation::HORIZONTAL, -1, ignored, captionWidth, ignored, ignored);
        int rowHeight = 0;
        m_controls.measure(Gtk::Orientation::VERTICAL, -1, ignored, rowHeight, ignored, ignored);
        rowHeight = std::max(rowHeight, 32);
        m_controls.measure(Gtk::Orientation::HORIZONTAL, -1, ignored, ignored, ignored, ignored);
        m_editor.measure(Gtk::Orientation::VERTICAL, -1, ignored, ignored, ignored, ignored);
        m_console.measure(Gtk::Orientation::VERTICAL, -1, ignored, ignored, ignored, ignored);

        const int innerWidth = std::max(width - 28, 1);
        const int editorHeight = std::max(static_cast<int>(height * 0.6), 1);
        m_editor.size_allocate(Gtk::Allocation(14, 10, innerWidth, editorHeight), -1);
        const int captionTop = 10 + editorHeight + 10;
        m_caption.size_allocate(
            Gtk::Allocation(16, captionTop, std::min(captionWidth, width - 16), captionHeight), -1);
        const int rowTop = height - 10 - rowHeight;
        m_controls.size_allocate(Gtk::Allocation(14, rowTop, innerWidth, rowHeight), -1);
        const int consoleTop = captionTop + captionHeight + 4;
        m_console.size_allocate(
            Gtk::Allocation(14, consoleTop, innerWidth, std::max(rowTop - 8 - consoleTop, 1)), -1);
    }

private:
    std::array<Gtk::Widget*, 4> children()
    {
        return { &m_editor, &m_caption, &m_console, &m_controls };
    }

    Gtk::Widget& m_editor;
    Gtk::Widget& m_caption;
    Gtk::Widget& m_console;
    Gtk::Widget& m_controls;
};

struct ScriptConsoleWindow::PendingRun {
    ScriptConsoleWindow* window;
    Lifetime::Token alive;
    std::uint64_t generation = 0;
    std::string token;
    ScriptCodeOutcome code;
};

namespace {

    void evaluateInWorld(WebKitWebView* view, const std::string& script, const char* world)
    {
        runPageScript(view, script, { PageScriptKind::Expression, world, nullptr });
    }

    // The engine's answer for the user's code. The value is the engine's own copy, made outside
    // the page, so turning it into text runs none of the page's code.
    ScriptCodeOutcome codeOutcomeFrom(JSCValue* value, const GError* error)
    {
        ScriptCodeOutcome outcome;
        if (error) {
            if (g_error_matches(
                    error, WEBKIT_JAVASCRIPT_ERROR, WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT)) {
                outcome.kind = ScriptCodeOutcome::Kind::Unshowable;
                return outcome;
            }
            outcome.kind = ScriptCodeOutcome::Kind::Error;
            outcome.text = scriptErrorText(error->message ? error->message : "");
            return outcome;
        }
        if (!value || jsc_value_is_undefined(value)) {
            outcome.text = "undefined";
            return outcome;
        }
        char* json = jsc_value_to_json(value, 0);
        if (json) {
            if (strnlen(json, kMaxScriptReplyJsonBytes + 1) > kMaxScriptReplyJsonBytes) {
                outcome.kind = ScriptCodeOutcome::Kind::Error;
                outcome.text = "The page's answer is too large to show.";
            } else {
                outcome.text = json;
            }
            g_free(json);
        } else {
            // No JSON form (a cycle, for one): its plain text, as String() gives it.
            char* text = jsc_value_to_string(value);
            outcome.text = text ? text : "undefined";
            g_free(text);
        }
        jsc_context_clear_exception(jsc_value_get_context(value));
        return outcome;
    }

} // namespace

ScriptRunReply scriptRunReplyFrom(const char* json, const GError* error)
{
    ScriptRunReply reply;
    if (error) {
        reply.engineError = error->message ? error->message : "";
        return reply;
    }
    if (!json)
        return reply; // undefined: no JSON form
    std::size_t length = strnlen(json, kMaxScriptReplyJsonBytes + 1);
    if (length > kMaxScriptReplyJsonBytes) {
        reply.engineError = "The page's answer is too large to show.";
        return reply;
    }
    reply.result = parseEngineJson(std::string_view(json, length));
    return reply;
}

ScriptConsoleWindow::ScriptConsoleWindow(Shell& shell, TabService& tabs)
    : AuxiliaryWindow(shell, AuxiliaryWindowKind::ScriptConsole, "JavaScript Console")
    , m_tabs(tabs)
{
    set_default_size(900, 680);
    add_css_class("qv-script-window");

    addApplicationStyleSheet(kConsoleCss);

    m_scriptEditor = Gtk::make_managed<ScriptEditorView>();
    m_scriptEditor->add_css_class("qv-script-editor");
    setAccessibleLabel(*m_scriptEditor, "Script");
    m_scriptEditor->set_monospace(true);
    m_scriptEditor->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    m_scriptEditor->set_left_margin(12);
    m_scriptEditor->set_right_margin(12);
    m_scriptEditor->set_top_margin(12);
    m_scriptEditor->set_bottom_margin(12);
    m_scriptEditor->get_buffer()->set_enable_undo(true);
    auto* editorScroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    editorScroller->set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    editorScroller->set_child(*m_scriptEditor);

    auto* caption = Gtk::make_managed<Gtk::Label>("CONSOLE");
    caption->add_css_class("qv-script-caption");
    caption->set_xalign(0);

    m_scriptConsole = Gtk::make_managed<Gtk::TextView>();
    m_scriptConsole->add_css_class("qv-script-output");
    setAccessibleLabel(*m_scriptConsole, "Console");
    m_scriptConsole->set_editable(false);
    m_scriptConsole->set_cursor_visible(false);
    m_scriptConsole->set_monospace(true);
    m_scriptConsole->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
    m_scriptConsole->set_left_margin(8);
    m_scriptConsole->set_top_margin(6);
    m_consoleScroller = Gtk::make_managed<Gtk::ScrolledWindow>();
    m_consoleScroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    m_consoleScroller->set_child(*m_scriptConsole);

    auto* controls = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
    auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    buttons->append(*consoleButton("play.fill", "Run", [this] { runJavaScript(); }));
    buttons->append(
        *consoleButton("stop.fill", "Stop (ignore result)", [this] { stopJavaScript(); }));
    m_scriptPauseButton = consoleButton(
        "pause.fill", "Pause output (page code continues)", [this] { pauseJavaScript(); });
    buttons->append(*m_scriptPauseButton);
    buttons->append(
        *consoleButton("arrow.counterclockwise", "Restart", [this] { restartJavaScript(); }));
    controls->append(*buttons);

    m_scriptOutput = Gtk::make_managed<Gtk::Label>(std::string(kScriptReadyStatus));
    m_scriptOutput->add_css_class("qv-script-status");
    m_scriptOutput->set_ellipsize(Pango::EllipsizeMode::END);
    m_scriptOutput->set_xalign(0);
    m_scriptOutput->set_hexpand(true);
    m_scriptOutput->set_margin_start(12);
    m_scriptOutput->set_margin_end(12);
    m_scriptOutput->set_valign(Gtk::Align::CENTER);
    controls->append(*m_scriptOutput);

    m_scriptCursorStatus = Gtk::make_managed<Gtk::Label>("Ln 1, Col 1");
    m_scriptCursorStatus->add_css_class("qv-script-caret");
    m_scriptCursorStatus->set_valign(Gtk::Align::CENTER);
    controls->append(*m_scriptCursorStatus);

    m_layout
        = std::make_unique<ConsoleLayout>(*editorScroller, *caption, *m_consoleScroller, *controls);
    set_child(*m_layout);

    m_scriptEditor->signalChanged().connect([this] { updateScriptCursorStatus(); });
    m_scriptEditor->get_buffer()->property_cursor_position().signal_changed().connect(
        [this] { updateScriptCursorStatus(); });
    m_scriptEditor->setText(std::string(kScriptInitialSource));
    updateScriptCursorStatus();
}

ScriptConsoleWindow::~ScriptConsoleWindow()
{
    m_lifetime.end();
    // The layout lets go of its children while the window still stands.
    unset_child();
    m_layout.reset();
}

void ScriptConsoleWindow::showEditor()
{
    showInFront();
    // Only once shown: focus given in a window never shown makes the toolkit describe the
    // window to screen readers as a plain widget, not a window.
    m_scriptEditor->grab_focus();
}

bool ScriptConsoleWindow::pageOpen() const
{
    return !webViewURI(m_tabs.selectedWebView()).empty();
}

void ScriptConsoleWindow::runJavaScript()
{
    apply(m_state.run(m_scriptEditor->text(), pageOpen() ? PageOpen::Yes : PageOpen::No));
}

void ScriptConsoleWindow::stopJavaScript() { apply(m_state.stop()); }

void ScriptConsoleWindow::pauseJavaScript() { apply(m_state.togglePause()); }

void ScriptConsoleWindow::restartJavaScript()
{
    apply(m_state.restart(m_scriptEditor->text(), pageOpen() ? PageOpen::Yes : PageOpen::No));
}

void ScriptConsoleWindow::apply(const ScriptConsoleUpdate& update)
{
    if (update.pauseLookChanged)
        applyPauseLook();
    if (update.status)
        m_scriptOutput->set_text(*update.status);
    if (update.consoleText) {
        auto buffer = m_scriptConsole->get_buffer();
        buffer->set_text(*update.consoleText);
        buffer->place_cursor(buffer->end());
        m_scriptConsole->scroll_to(buffer->get_insert());
    }
    if (update.run)
        executeJavaScriptSource(*update.run);
}

void ScriptConsoleWindow::applyPauseLook()
{
    ScriptPauseLook look = m_state.pauseLook();
    if (auto* image = dynamic_cast<Gtk::Image*>(m_scriptPauseButton->get_child()))
        image->set_from_icon_name(iconForSymbol(look.symbol));
    std::string tooltip(look.tooltip);
    m_scriptPauseButton->set_tooltip_text(tooltip);
    setAccessibleLabel(*m_scriptPauseButton, tooltip);
}

bool ScriptConsoleWindow::parsesAsScript(const std::string& source)
{
    // Parsed here, in a context of the browser's own, so that nothing runs twice and the page
    // never sees code that fails.
    if (!m_syntaxContext)
        m_syntaxContext = GObjectPtr<JSCContext>::adopt(jsc_context_new());
    JSCException* exception = nullptr;
    JSCCheckSyntaxResult result = jsc_context_check_syntax(m_syntaxContext.get(), source.c_str(),
        static_cast<gssize>(source.size()), JSC_CHECK_SYNTAX_MODE_SCRIPT,
        std::string(kScriptConsoleSourceName).c_str(), 1, &exception);
    if (exception)
        g_object_unref(exception);
    return result == JSC_CHECK_SYNTAX_RESULT_SUCCESS;
}

void ScriptConsoleWindow::executeJavaScriptSource(const ScriptRunRequest& request)
{
    WebKitWebView* view = m_tabs.selectedWebView();
    if (!view)
        return;
    const std::string world(kScriptConsoleWorld);
    const std::string sourceName(kScriptConsoleSourceName);
    std::string token = makeUUIDString();
    std::string source = sanitizeUtf8(request.source);

    // The engine runs one page's requests in the order they are made: the collector listens
    // before the hook sends, and both are in place before the code runs.
    evaluateInWorld(view, scriptConsoleCollectorScript(token), world.c_str());
    evaluateInWorld(view, scriptConsoleHookScript(token), nullptr);

    PendingRun run { this, m_lifetime.token(), request.generation, token, {} };
    PageScriptRun how { PageScriptKind::Expression, nullptr, sourceName.c_str() };
    if (scriptRunMode(parsesAsScript(source), source) != ScriptRunMode::Script)
        how.kind = PageScriptKind::AsyncFunctionBody;
    // The console must be put back whatever happens to the window, so the code's answer is
    // always taken; only the last step asks whether anyone still waits.
    runPageScript(view, source, how, Lifetime::ofProcess(),
        [view, run = std::move(run)](JSCValue* value, const GError* error) {
            finishCode(view, std::move(run), value, error);
        });
}

void ScriptConsoleWindow::finishCode(
    WebKitWebView* view, PendingRun run, JSCValue* value, const GError* error)
{
    run.code = codeOutcomeFrom(value, error);
    std::string finish = scriptConsoleFinishScript(run.token);
    Lifetime::Token alive = run.alive;
    runPageScript(view, finish,
        { PageScriptKind::Expression, std::string(kScriptConsoleWorld).c_str(), nullptr }, alive,
        [run = std::move(run)](JSCValue* value, const GError* error) {
            char* json = value ? jsc_value_to_json(value, 0) : nullptr;
            ScriptRunReply collected = scriptRunReplyFrom(json, error);
            g_free(json);
            ScriptRunReply reply = scriptRunReplyFor(std::move(collected.result), run.code);
            run.window->finishRun(run.generation, reply);
        });
}

void ScriptConsoleWindow::finishRun(std::uint64_t generation, const ScriptRunReply& reply)
{
    ++m_completedRuns;
    if (generation != m_state.generation())
        return; // stale: not even worth building the text
    apply(m_state.complete(generation, scriptRunOutput(reply)));
}

void ScriptConsoleWindow::updateScriptCursorStatus()
{
    if (!m_scriptCursorStatus || !m_scriptEditor)
        return;
    Gtk::TextIter start;
    Gtk::TextIter end;
    auto buffer = m_scriptEditor->get_buffer();
    buffer->get_selection_bounds(start, end);
    m_scriptCursorStatus->set_text(qv::scriptCursorStatus(
        m_scriptEditor->text(), static_cast<std::size_t>(start.get_offset())));
}

std::string ScriptConsoleWindow::consoleText() const
{
    return m_scriptConsole->get_buffer()->get_text(true);
}

} // namespace qv

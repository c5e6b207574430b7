// The JavaScript console window: the script editor, the output pane, the run controls and
// the status and caret labels; runs go to the selected tab's page.
#pragma once

#include "app/auxiliary_window.h"
#include "app/web_views.h"
#include "devtools/script_console_rules.h"
#include "platform/gobject_ptr.h"

#include <webkit/webkit.h>

#include <memory>
#include <string>

namespace qv {

class Shell;
class TabService;

class ConsoleLayout;
class ScriptEditorView;

// Answers larger than this are not parsed: the wrapper keeps far less, so only a page that
// tampers with it sends more.
inline constexpr std::size_t kMaxScriptReplyJsonBytes = 32 * 1024 * 1024;

class ScriptConsoleWindow : public AuxiliaryWindow {
public:
    ScriptConsoleWindow(Shell& shell, TabService& tabs);
    ~ScriptConsoleWindow() override;

    // Brings the window to the front with the editor focused.
    void showEditor();

    void runJavaScript();
    void stopJavaScript();
    void pauseJavaScript();
    void restartJavaScript();
    void updateScriptCursorStatus();

    ScriptEditorView& scriptEditor() const { return *m_scriptEditor; }
    Gtk::TextView& scriptConsole() const { return *m_scriptConsole; }
    Gtk::Label& scriptOutput() const { return *m_scriptOutput; }
    Gtk::Label& scriptCursorStatus() const { return *m_scriptCursorStatus; }
    Gtk::Button& scriptPauseButton() const { return *m_scriptPauseButton; }
    const ScriptConsoleState& state() const { return m_state; }
    std::string consoleText() const;
    // Completions received, stale ones included.
    std::size_t completedRuns() const { return m_completedRuns; }

private:
    struct PendingRun;
    void executeJavaScriptSource(const ScriptRunRequest& request);
    bool parsesAsScript(const std::string& source);
    static void finishCode(
        WebKitWebView* view, PendingRun run, JSCValue* value, const GError* error);
    void finishRun(std::uint64_t generation, const ScriptRunReply& reply);
    void apply(const ScriptConsoleUpdate& update);
    void applyPauseLook();
    bool pageOpen() const;

    ScriptConsoleState m_state;
    std::unique_ptr<ConsoleLayout> m_layout;
    ScriptEditorView* m_scriptEditor = nullptr;
    Gtk::TextView* m_scriptConsole = nullptr;
    Gtk::ScrolledWindow* m_consoleScroller = nullptr;
    Gtk::Label* m_scriptOutput = nullptr;
    Gtk::Label* m_scriptCursorStatus = nullptr;
    Gtk::Button* m_scriptPauseButton = nullptr;
    std::size_t m_completedRuns = 0;
    GObjectPtr<JSCContext> m_syntaxContext;
    // Completions that arrive after the window is gone find it ended.
    Lifetime m_lifetime;
    TabService& m_tabs;
};

// The reply of one run as the engine hands it back: its JSON (length-checked before parsing)
// or its error.
ScriptRunReply scriptRunReplyFrom(const char* json, const GError* error);

} // namespace qv

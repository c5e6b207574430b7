// A 1 MB script in the real script editor on screen: time to the first coloured frame, time
// until the whole text is coloured, and the longest stall of the main loop meanwhile.
#include "devtools/script_editor_view.h"

#include <benchmark/benchmark.h>
#include <gtkmm.h>

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Minified code: lines of about 2 KB (as bundlers often leave it), or one single line.
std::string minifiedScript(bool oneLine)
{
    const std::string piece = "function f(a){if(a>1.5){return\"s\"+a}var b='t';/*c*/return null}";
    std::string text;
    while (text.size() < 1024 * 1024) {
        for (int i = 0; i < 32; ++i)
            text += piece;
        if (!oneLine)
            text += '\n';
    }
    return text;
}

std::string ordinaryScript()
{
    const std::string lines[] = {
        "const total = items.length; // count\n",
        "for (let i = 0; i < 10.5; i++) {\n",
        "    if (name === 'it\\'s ok' || x) {\n",
        "        return \"done\" + null;\n",
        "    } /* keep going */ else {\n",
        "        value = await fetch(url, true);\n",
        "    }\n",
        "}\n",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < 1024 * 1024; ++i)
        text += lines[i % std::size(lines)];
    return text;
}

struct Screen {
    Gtk::Window window;
    qv::ScriptEditorView* editor = nullptr;

    Screen()
    {
        window.set_default_size(900, 680);
        auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
        editor = Gtk::make_managed<qv::ScriptEditorView>();
        editor->set_monospace(true);
        editor->set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
        scroller->set_child(*editor);
        window.set_child(*scroller);
        window.present();
        drain();
    }
    static void drain()
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(200);
        while (Clock::now() < deadline)
            g_main_context_iteration(nullptr, FALSE);
    }
    // Runs the loop until the next frame has been painted.
    void nextFrame()
    {
        bool painted = false;
        auto clock = window.get_frame_clock();
        auto connection = clock->signal_after_paint().connect([&] { painted = true; });
        window.queue_draw();
        while (!painted)
            g_main_context_iteration(nullptr, TRUE);
        connection.disconnect();
    }
};

Screen& screen()
{
    static Screen* shared = new Screen;
    return *shared;
}

const std::string& script(int which)
{
    static const std::string texts[]
        = { ordinaryScript(), minifiedScript(false), minifiedScript(true) };
    return texts[which];
}

const char* label(int which)
{
    static const char* labels[]
        = { "ordinary lines", "minified, 2 KB lines", "minified, one line" };
    return labels[which];
}

void BM_EditorFirstColouredFrame(benchmark::State& state)
{
    Screen& s = screen();
    const std::string& text = script(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        s.editor->setText("");
        Screen::drain();
        auto started = Clock::now();
        s.editor->setText(text);
        s.nextFrame();
        state.SetIterationTime(msSince(started) / 1000);
    }
    state.SetLabel(label(static_cast<int>(state.range(0))));
}

void BM_EditorWholeFileColoured(benchmark::State& state)
{
    Screen& s = screen();
    const std::string& text = script(static_cast<int>(state.range(0)));
    double longestStallMs = 0;
    for (auto _ : state) {
        s.editor->setText("");
        Screen::drain();
        auto started = Clock::now();
        s.editor->setText(text);
        auto last = Clock::now();
        while (!s.editor->colouringComplete()) {
            g_main_context_iteration(nullptr, TRUE);
            longestStallMs = std::max(longestStallMs, msSince(last));
            last = Clock::now();
        }
        state.SetIterationTime(msSince(started) / 1000);
    }
    state.counters["longest_loop_turn_ms"] = longestStallMs;
    state.SetLabel(label(static_cast<int>(state.range(0))));
}

} // namespace

BENCHMARK(BM_EditorFirstColouredFrame)
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditorWholeFileColoured)
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The application object sets up the C++ wrappers of the toolkit.
    auto application = Gtk::Application::create(
        "org.quivel.ScriptEditorBench", Gio::Application::Flags::NON_UNIQUE);
    gtk_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

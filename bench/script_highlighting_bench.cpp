// Colouring a 1 MB console script: the first screen of about 60 lines, and the whole file.
#include "devtools/script_highlighting.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// Ordinary code, about 40 bytes a line, with every kind of token.
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

// One long line, as minified code comes.
std::string minifiedScript()
{
    std::string text;
    while (text.size() < 1024 * 1024)
        text += "function f(a){if(a>1.5){return\"s\"+a}var b='t';/*c*/return null}";
    return text;
}

const std::string& script(int which)
{
    static const std::string ordinary = ordinaryScript();
    static const std::string minified = minifiedScript();
    return which == 0 ? ordinary : minified;
}

// Byte offset just after the 60th line (or a screenful of a long line).
std::size_t firstScreenEnd(const std::string& text)
{
    std::size_t end = 0;
    for (int line = 0; line < 60 && end != std::string::npos; ++line)
        end = text.find('\n', end + 1);
    return end == std::string::npos ? 60 * 100 : end + 1;
}

void BM_FirstScreen(benchmark::State& state)
{
    const std::string& text = script(static_cast<int>(state.range(0)));
    std::size_t until = firstScreenEnd(text);
    for (auto _ : state) {
        qv::ScriptColouring part = qv::colourScriptLines(text, {}, until);
        auto spans = qv::scriptCharacterSpans(text, part.spans);
        benchmark::DoNotOptimize(spans.data());
    }
    state.SetLabel(state.range(0) == 0 ? "ordinary lines" : "one minified line");
}

void BM_WholeFile(benchmark::State& state)
{
    const std::string& text = script(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto spans = qv::scriptCharacterSpans(text, qv::colourScript(text));
        benchmark::DoNotOptimize(spans.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(state.range(0) == 0 ? "ordinary lines" : "one minified line");
}

void BM_StringLiteral200K(benchmark::State& state)
{
    std::string text = "x = '" + std::string(200 * 1024, 'a') + "';";
    for (auto _ : state)
        benchmark::DoNotOptimize(qv::colourScript(text).data());
}

} // namespace

BENCHMARK(BM_FirstScreen)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringLiteral200K)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

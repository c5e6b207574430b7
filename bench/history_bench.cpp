// Cost of recording one visit in a history file that already holds many, against the plain way.
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "history/history_store.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using qv::HistoryClock;
using qv::Json;

// Where the visits sit: a hundred a day over many days, or all on one day.
enum class Spread { HundredPerDay, OneDay };

const HistoryClock::time_point kFirstDay = sys_days { year { 2024 } / January / 1 };

HistoryClock::time_point visitMoment(size_t i, Spread spread)
{
    size_t day = spread == Spread::OneDay ? 0 : i / 100;
    return kFirstDay + days { day } + seconds { static_cast<long>(i % 100) * 60 };
}

// About 230 bytes a visit in the file, as a real history with ordinary addresses and titles.
Json visitRecord(size_t i, Spread spread)
{
    std::string n = std::to_string(i);
    return Json { { "url",
                      "https://www.example-site-" + std::to_string(i % 97)
                          + ".test/articles/2024/some-longer-path-" + n + "?ref=home" },
        { "title", "Article number " + n + " \xE2\x80\x94 a reasonably long page title" },
        { "time", qv::historyTimestamp(visitMoment(i, spread)) } };
}

fs::path makeTempDir()
{
    std::string pattern = (fs::temp_directory_path() / "qv-history-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

// A history file with count visits, written the way the store writes it.
fs::path writeHistory(size_t count, Spread spread)
{
    fs::path file = makeTempDir() / "history.json";
    Json document { { "years", Json::object() } };
    for (size_t i = 0; i < count; ++i) {
        qv::HistoryDayKeys keys = qv::historyDayKeys(visitMoment(i, spread));
        document["years"][keys.year][keys.month][keys.day].push_back(visitRecord(i, spread));
    }
    if (!qv::writeFileAtomically(file, qv::prettyHistoryText(document)))
        std::abort();
    return file;
}

void removeHistory(const fs::path& file)
{
    std::error_code error;
    fs::remove_all(file.parent_path(), error);
}

void recordVisit(benchmark::State& state, Spread spread)
{
    size_t count = static_cast<size_t>(state.range(0));
    fs::path file = writeHistory(count, spread);
    // What the caller's thread pays: the writes happen on the writer's, coalesced.
    qv::FileWriter writer;
    qv::HistoryStore store(file, writer);
    if (!store.load())
        std::abort();
    size_t next = count;
    for (auto _ : state) {
        Json visit = visitRecord(next, spread);
        if (!store.addVisit(visit["url"].get<std::string>(), visit["title"].get<std::string>(),
                visitMoment(next, spread)))
            state.SkipWithError("visit not recorded");
        ++next;
    }
    writer.flush();
    state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
    removeHistory(file);
}

void BM_RecordVisit(benchmark::State& state) { recordVisit(state, Spread::HundredPerDay); }
void BM_RecordVisitAllOnOneDay(benchmark::State& state) { recordVisit(state, Spread::OneDay); }

// Re-read, parse, append, pretty dump and write on every visit.
void BM_RecordVisitPlainWay(benchmark::State& state)
{
    size_t count = static_cast<size_t>(state.range(0));
    fs::path file = writeHistory(count, Spread::HundredPerDay);
    size_t next = count;
    for (auto _ : state) {
        qv::FileRead read = qv::readWholeFile(file);
        auto document = qv::parseJson(read.contents);
        if (!document)
            std::abort();
        qv::HistoryDayKeys keys = qv::historyDayKeys(visitMoment(next, Spread::HundredPerDay));
        (*document)["years"][keys.year][keys.month][keys.day].push_back(
            visitRecord(next, Spread::HundredPerDay));
        if (!qv::writeFileAtomically(file, qv::dumpJson(*document, qv::kHistoryIndent)))
            std::abort();
        ++next;
    }
    removeHistory(file);
}

// The floor under any recording: replacing a file of the same size atomically (with its fsync).
void BM_AtomicWriteOnly(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    std::string text = qv::readWholeFile(file).contents;
    for (auto _ : state) {
        if (!qv::writeFileAtomically(file, text))
            std::abort();
    }
    removeHistory(file);
}

void BM_LoadHistory(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    qv::FileWriter writer;
    for (auto _ : state) {
        qv::HistoryStore store(file, writer);
        if (!store.load())
            std::abort();
        benchmark::DoNotOptimize(store.entries().size());
    }
    removeHistory(file);
}

BENCHMARK(BM_RecordVisit)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordVisitAllOnOneDay)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordVisitPlainWay)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomicWriteOnly)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadHistory)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

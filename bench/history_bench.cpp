// What recording a visit costs the caller's thread and the disk in a history that already holds
// many, what reading a large history costs and how much memory it takes, each beside the floor
// of the same work done the plainest way in the same run.
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "history/history_store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include <ctime>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using qv::HistoryClock;

// Where the visits sit: a hundred a day over many days, or all on one day.
enum class Spread { HundredPerDay, OneDay };

const HistoryClock::time_point kFirstDay = sys_days { year { 2024 } / January / 1 };

HistoryClock::time_point visitMoment(size_t i, Spread spread)
{
    size_t day = spread == Spread::OneDay ? 0 : i / 100;
    return kFirstDay + days { day } + seconds { static_cast<long>(i % 100) * 60 };
}

// About 230 bytes a visit in the file, as a real history with ordinary addresses and titles.
std::string visitURL(size_t i)
{
    return "https://www.example-site-" + std::to_string(i % 97)
        + ".test/articles/2024/some-longer-path-" + std::to_string(i) + "?ref=home";
}
std::string visitTitle(size_t i)
{
    return "Article number " + std::to_string(i) + " \xE2\x80\x94 a reasonably long page title";
}

fs::path makeTempDir()
{
    std::string pattern = (fs::temp_directory_path() / "qv-history-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

// A history file with count visits, in the text the store writes (keys in the library's order).
fs::path writeHistory(size_t count, Spread spread)
{
    std::map<std::string, std::map<std::string, std::map<std::string, std::vector<size_t>>>> days;
    for (size_t i = 0; i < count; ++i) {
        qv::HistoryDayKeys keys = qv::historyDayKeys(visitMoment(i, spread));
        days[keys.year][keys.month][keys.day].push_back(i);
    }
    std::string text = "{\n \"years\": {";
    const char* yearSep = "\n";
    for (const auto& [yearKey, months] : days) {
        text += std::string(yearSep) + "  \"" + yearKey + "\": {";
        yearSep = ",\n";
        const char* monthSep = "\n";
        for (const auto& [monthKey, monthDays] : months) {
            text += std::string(monthSep) + "   \"" + monthKey + "\": {";
            monthSep = ",\n";
            const char* daySep = "\n";
            for (const auto& [dayKey, visits] : monthDays) {
                text += std::string(daySep) + "    \"" + dayKey + "\": [";
                daySep = ",\n";
                const char* visitSep = "\n";
                for (size_t i : visits) {
                    text += std::string(visitSep) + "     {\n      \"time\": \""
                        + qv::historyTimestamp(visitMoment(i, spread)) + "\",\n      \"title\": \""
                        + visitTitle(i) + "\",\n      \"url\": \"" + visitURL(i) + "\"\n     }";
                    visitSep = ",\n";
                }
                text += "\n    ]";
            }
            text += "\n   }";
        }
        text += "\n  }";
    }
    text += count ? "\n }\n}" : "}\n}";
    fs::path file = makeTempDir() / "history.json";
    if (!qv::writeFileAtomically(file, text))
        std::abort();
    return file;
}

void removeHistory(const fs::path& file)
{
    std::error_code error;
    fs::remove_all(file.parent_path(), error);
}

double threadMicros()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Bytes the allocator has handed out and not had back.
double heapBytes()
{
    struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// One loaded history per size for the recording benchmarks, kept across their repetitions.
struct LoadedHistory {
    fs::path file;
    std::unique_ptr<qv::FileWriter> writer;
    std::unique_ptr<qv::HistoryStore> store;
    size_t next = 0;
};

// Emptied before main returns: their threads still write while they end, which must not come
// after the statics of the writers' own code are gone.
std::map<std::pair<size_t, Spread>, LoadedHistory> histories;

LoadedHistory& loadedHistory(size_t count, Spread spread)
{
    LoadedHistory& history = histories[{ count, spread }];
    if (!history.store) {
        history.file = writeHistory(count, spread);
        // Folds wait for a flush, so that the journal's bytes can be counted and BM_Fold times
        // whole folds; what addVisit pays does not depend on when the fold comes.
        history.writer = std::make_unique<qv::FileWriter>(hours(1));
        history.store = std::make_unique<qv::HistoryStore>(history.file, *history.writer);
        if (!history.store->load())
            std::abort();
        history.next = count;
    }
    return history;
}

// What the caller's thread pays for one visit: the journal and the file are written on their
// own threads. The slowest visit is reported too, to show that no visit pays for the history.
void recordVisit(benchmark::State& state, Spread spread)
{
    size_t count = static_cast<size_t>(state.range(0));
    LoadedHistory& history = loadedHistory(count, spread);
    fs::path journal = qv::historyJournalPath(history.file);
    history.writer->flush();
    std::uintmax_t fileBefore = fs::file_size(history.file);
    const size_t first = history.next;
    double slowest = 0;
    size_t recorded = 0, slowestAt = 0, overMillisecond = 0;
    for (auto _ : state) {
        size_t i = history.next++;
        std::string url = visitURL(i), title = visitTitle(i);
        // The thread's own CPU time, so that being preempted does not count as cost.
        double start = threadMicros();
        bool added = history.store->addVisit(url, title, visitMoment(i, spread));
        double took = threadMicros() - start;
        if (took > slowest)
            slowestAt = recorded;
        slowest = std::max(slowest, took);
        overMillisecond += took > 1000 ? 1 : 0;
        if (!added)
            state.SkipWithError("visit not recorded");
        ++recorded;
    }
    // The journal's bytes for these visits, from its own lines once its thread has written the
    // last (no fold comes before the flush to take them out).
    const std::string last = visitURL(history.next - 1);
    std::string text;
    for (int tries = 0; tries < 60000; ++tries) {
        text = qv::readWholeFile(journal, qv::kHistoryFileLimit).contents;
        if (text.find(last) != std::string::npos)
            break;
        usleep(1000);
    }
    size_t journalBytes = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        auto line = qv::parseJson(std::string_view(text).substr(start, end - start));
        if (!line || !line->contains("url"))
            continue;
        std::string url = (*line)["url"];
        size_t at = url.find("-path-");
        if (at != std::string::npos && std::stoul(url.substr(at + 6)) >= first)
            journalBytes += end + 1 - start;
    }
    history.writer->flush();
    state.counters["slowest_cpu_us"] = slowest;
    state.counters["slowest_at"] = static_cast<double>(slowestAt);
    state.counters["over_1ms"] = static_cast<double>(overMillisecond);
    state.counters["journal_B_per_visit"]
        = recorded ? static_cast<double>(journalBytes) / static_cast<double>(recorded) : 0;
    state.counters["file_MB"] = static_cast<double>(fileBefore) / 1e6;
}

void BM_RecordVisit(benchmark::State& state) { recordVisit(state, Spread::HundredPerDay); }
void BM_RecordVisitAllOnOneDay(benchmark::State& state) { recordVisit(state, Spread::OneDay); }

// The floor under the caller's share: making the same journal line and handing it to another
// thread's queue, nothing more.
void BM_VisitHandOverFloor(benchmark::State& state)
{
    std::mutex mutex;
    std::deque<std::string> queue;
    size_t i = 0, overMillisecond = 0;
    double slowest = 0;
    for (auto _ : state) {
        std::string url = visitURL(i), title = visitTitle(i);
        double start = threadMicros();
        std::string line = qv::historyJournalVisitLine(
            { i, url, title, qv::historyTimestamp(visitMoment(i, Spread::HundredPerDay)) });
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back(std::move(line));
            if (queue.size() > 1024)
                queue.clear();
        }
        double took = threadMicros() - start;
        slowest = std::max(slowest, took);
        overMillisecond += took > 1000 ? 1 : 0;
        ++i;
    }
    state.counters["slowest_cpu_us"] = slowest;
    state.counters["over_1ms"] = static_cast<double>(overMillisecond);
}

// The floor under the journal's share: appending the same bytes to a file and flushing them to
// disk, one visit at a time.
void BM_PlainAppendFloor(benchmark::State& state)
{
    fs::path dir = makeTempDir();
    int fd = ::open((dir / "append").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        std::string line = qv::historyJournalVisitLine({ i, visitURL(i), visitTitle(i),
            qv::historyTimestamp(visitMoment(i, Spread::HundredPerDay)) });
        if (qv::writeAll(fd, line) != 0 || fdatasync(fd) != 0)
            std::abort();
        bytes += line.size();
        ++i;
    }
    ::close(fd);
    state.counters["B_per_visit"] = i ? static_cast<double>(bytes) / static_cast<double>(i) : 0;
    std::error_code error;
    fs::remove_all(dir, error);
}

// A fold: the whole file written from memory on the writer's thread, beside replacing a file of
// the same size atomically (with its fsync), the floor under any whole-file write.
void BM_Fold(benchmark::State& state)
{
    size_t count = static_cast<size_t>(state.range(0));
    LoadedHistory& history = loadedHistory(count, Spread::HundredPerDay);
    for (auto _ : state) {
        state.PauseTiming();
        size_t i = history.next++;
        history.store->addVisit(visitURL(i), visitTitle(i), visitMoment(i, Spread::HundredPerDay));
        state.ResumeTiming();
        history.writer->flush();
    }
    state.counters["file_MB"] = static_cast<double>(fs::file_size(history.file)) / 1e6;
}

void BM_AtomicWriteFloor(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    std::string text = qv::readWholeFile(file, qv::kHistoryFileLimit).contents;
    for (auto _ : state) {
        if (!qv::writeFileAtomically(file, text))
            std::abort();
    }
    removeHistory(file);
}

// Reading the history, as the worker thread does it, and the memory the history then takes
// beside the file's size; adopting it is all the UI thread does.
void BM_LoadHistory(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    double fileBytes = static_cast<double>(fs::file_size(file));
    qv::FileWriter writer;
    double heap = 0, adoptMicros = 0;
    for (auto _ : state) {
        malloc_trim(0);
        double before = heapBytes();
        qv::HistoryLoad loaded = qv::HistoryStore::read(file);
        state.PauseTiming();
        qv::HistoryStore store(file, writer);
        auto start = steady_clock::now();
        if (!store.adopt(std::move(loaded)))
            std::abort();
        adoptMicros = duration<double, std::micro>(steady_clock::now() - start).count();
        heap = heapBytes() - before;
        benchmark::DoNotOptimize(store.entries().size());
        state.ResumeTiming();
    }
    state.counters["file_MB"] = fileBytes / 1e6;
    state.counters["heap_MB"] = heap / 1e6;
    state.counters["heap_per_file"] = heap / fileBytes;
    state.counters["adopt_us"] = adoptMicros;
    removeHistory(file);
}

// The floors under reading: the file's bytes alone, and those bytes checked as JSON without
// building anything.
void BM_ReadFloor(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    for (auto _ : state)
        benchmark::DoNotOptimize(qv::readWholeFile(file, qv::kHistoryFileLimit).contents.size());
    removeHistory(file);
}

void BM_ReadAndValidateFloor(benchmark::State& state)
{
    fs::path file = writeHistory(static_cast<size_t>(state.range(0)), Spread::HundredPerDay);
    for (auto _ : state) {
        std::string text = qv::readWholeFile(file, qv::kHistoryFileLimit).contents;
        if (!qv::Json::accept(text))
            std::abort();
    }
    removeHistory(file);
}

BENCHMARK(BM_RecordVisit)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordVisitAllOnOneDay)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VisitHandOverFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainAppendFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fold)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomicWriteFloor)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadHistory)->Arg(100000)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFloor)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndValidateFloor)->Arg(1000000)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    std::vector<fs::path> files;
    for (auto& [key, history] : histories)
        files.push_back(history.file);
    histories.clear();
    for (const fs::path& file : files)
        removeHistory(file);
    benchmark::Shutdown();
    return 0;
}

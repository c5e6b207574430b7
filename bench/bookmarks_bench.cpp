// Importing a 10,000-bookmark file beside 10,000 kept ones: the worker's read, parse, merge and
// new file text, and the part left on the main loop, beside the floor of a plain read and one pass over the
// same bytes, and of parsing the bookmarks file's own JSON of the same bookmarks, in the same run.
#include "base/atomic_file.h"
#include "base/json_text.h"
#include "bookmarks/bookmark_store.h"
#include "bookmarks/netscape_bookmarks.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr size_t kImportedBookmarks = 10000;

// An exported file as browsers write one: a few folders two deep, ordinary titles and addresses.
std::string netscapeFile(size_t count)
{
    std::vector<qv::Bookmark> list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string folder = i % 3 == 0 ? "" : "Folder " + std::to_string(i % 40);
        if (i % 7 == 0 && !folder.empty())
            folder += "/Sub " + std::to_string(i % 5);
        list.push_back({ std::to_string(i),
            "Article number " + std::to_string(i) + " \xE2\x80\x94 a reasonably long page title",
            "https://www.example-site-" + std::to_string(i % 97) + ".test/articles/some-path-"
                + std::to_string(i) + "?ref=home&x=1",
            1700000000 + static_cast<std::int64_t>(i), folder, i % 11 == 0 ? std::vector<std::string> { "read", "later" } : std::vector<std::string> {} });
    }
    return qv::netscapeBookmarksText(list);
}

struct BenchFile {
    fs::path folder;
    fs::path html;
    fs::path json;
    size_t htmlBytes = 0;
    BenchFile()
    {
        std::string pattern = (fs::temp_directory_path() / "qv-bookmarks-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        html = folder / "bookmarks.html";
        std::string text = netscapeFile(kImportedBookmarks);
        htmlBytes = text.size();
        std::ofstream(html, std::ios::binary) << text;
        json = folder / "bookmarks.json";
        std::ofstream(json, std::ios::binary)
            << qv::bookmarksFileText(qv::parseNetscapeBookmarks(text, 0).bookmarks);
    }
    ~BenchFile()
    {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

BenchFile& benchFile()
{
    static BenchFile file;
    return file;
}

// A list of 10,000 bookmarks already kept, none of them in the imported file.
const std::vector<qv::Bookmark>& keptBookmarks()
{
    static const std::vector<qv::Bookmark> kept = [] {
        qv::FileRead read = qv::readWholeFile(benchFile().html, qv::kBookmarkImportFileLimit, qv::FileLinks::Follow);
        std::vector<qv::Bookmark> list = qv::parseNetscapeBookmarks(read.contents, 0).bookmarks;
        for (auto& b : list)
            b.url += "#kept";
        return list;
    }();
    return kept;
}

// What the import's worker does: read the chosen file, parse it, add it to a copy of the kept
// list and make the new bookmarks file's text.
void BM_ImportWorker(benchmark::State& state)
{
    BenchFile& file = benchFile();
    size_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<qv::Bookmark> list = keptBookmarks();
        state.ResumeTiming();
        qv::FileRead read = qv::readWholeFile(file.html, qv::kBookmarkImportFileLimit, qv::FileLinks::Follow);
        qv::BookmarkImport parsed = qv::parseNetscapeBookmarks(read.contents, 1700000000);
        added = qv::mergeBookmarks(list, std::move(parsed.bookmarks)).added;
        std::string text = qv::bookmarksFileText(list);
        benchmark::DoNotOptimize(text);
    }
    if (added != kImportedBookmarks)
        state.SkipWithError("not every bookmark was added");
    state.counters["bytes"] = static_cast<double>(file.htmlBytes);
}

// What the main loop does for an import: the copy of the kept list handed to the worker, and
// taking the merged list back in place of the old one.
void BM_ImportMainLoopPart(benchmark::State& state)
{
    std::vector<qv::Bookmark> merged = keptBookmarks();
    merged.insert(merged.end(), keptBookmarks().begin(), keptBookmarks().end());
    std::vector<qv::Bookmark> current;
    for (auto _ : state) {
        std::vector<qv::Bookmark> snapshot = keptBookmarks();
        state.PauseTiming();
        std::vector<qv::Bookmark> result = merged;
        state.ResumeTiming();
        current = std::move(result);
        benchmark::DoNotOptimize(snapshot);
        benchmark::DoNotOptimize(current);
    }
}

// Floor: reading the same file and one pass over its bytes counting the tags.
void BM_FloorReadAndScan(benchmark::State& state)
{
    BenchFile& file = benchFile();
    for (auto _ : state) {
        qv::FileRead read = qv::readWholeFile(file.html, qv::kBookmarkImportFileLimit, qv::FileLinks::Follow);
        size_t tags = 0;
        for (char c : read.contents)
            tags += c == '<';
        benchmark::DoNotOptimize(tags);
    }
}

// Floor: reading and parsing the bookmarks file of the same bookmarks with the JSON library.
void BM_FloorReadAndParseJson(benchmark::State& state)
{
    BenchFile& file = benchFile();
    for (auto _ : state) {
        qv::FileRead read = qv::readWholeFile(file.json, qv::kBookmarksFileLimit);
        auto parsed = qv::parseJson(read.contents);
        benchmark::DoNotOptimize(parsed);
    }
}

BENCHMARK(BM_ImportWorker)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportMainLoopPart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorReadAndScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorReadAndParseJson)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

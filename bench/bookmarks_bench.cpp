// Importing a 10,000-bookmark file: the worker's read and parse, and the part left on the main
// loop (adding the new ones to the list), beside the floor of a plain read and one pass over the
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

// What the import's worker does: read the chosen file and parse it.
void BM_ImportWorker(benchmark::State& state)
{
    BenchFile& file = benchFile();
    size_t found = 0;
    for (auto _ : state) {
        qv::FileRead read = qv::readWholeFile(file.html, qv::kBookmarkImportFileLimit, qv::FileLinks::Follow);
        qv::BookmarkImport parsed = qv::parseNetscapeBookmarks(read.contents, 1700000000);
        found = parsed.bookmarks.size();
        benchmark::DoNotOptimize(parsed);
    }
    if (found != kImportedBookmarks)
        state.SkipWithError("not every bookmark was read");
    state.counters["bytes"] = static_cast<double>(file.htmlBytes);
}

// What is left for the main loop: adding them to a list that already holds 10,000 others.
void BM_ImportMainLoopPart(benchmark::State& state)
{
    BenchFile& file = benchFile();
    qv::FileRead read = qv::readWholeFile(file.html, qv::kBookmarkImportFileLimit, qv::FileLinks::Follow);
    qv::BookmarkImport parsed = qv::parseNetscapeBookmarks(read.contents, 1700000000);
    std::vector<qv::Bookmark> existing = parsed.bookmarks;
    for (auto& b : existing)
        b.url += "#kept";
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<qv::Bookmark> list = existing;
        std::vector<qv::Bookmark> incoming = parsed.bookmarks;
        state.ResumeTiming();
        qv::BookmarkMerge merge = qv::mergeBookmarks(list, std::move(incoming));
        // The store's copy for the writer's thread.
        std::vector<qv::Bookmark> copy = list;
        benchmark::DoNotOptimize(merge);
        benchmark::DoNotOptimize(copy);
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

// What the address field's suggestions cost: each keystroke of ten-letter words over 100,000
// visits, 10,000 bookmarks and 200 open tabs, and the index's memory beside the files it comes
// from. The floor is one plain pass of std::string::find over every address and title in the
// same run: the least any search that does not keep an index of words can do.
#include "base/file_writer.h"
#include "bookmarks/bookmark_store.h"
#include "history/history_store.h"
#include "suggestions/suggestion_index.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <ctime>
#include <malloc.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kWords[] = { "adventures", "blueprints", "carpentry", "dictionary", "earthquake", "friendship",
    "geographic", "harmonicas", "invitation", "journalism", "kettledrum", "lighthouse", "mainframes", "nightshade",
    "orchestras", "photograph", "quarantine", "restaurant", "strawberry", "technology", "understand", "volleyball",
    "watermelon", "xylophones", "yesteryear", "zoological", "basketball", "chocolates", "delightful", "everything" };
constexpr size_t kWordCount = std::size(kWords);

struct Visit {
    std::string url;
    std::string title;
};

// A history of `visits` visits to `addresses` addresses on `hosts` hosts: a few addresses get
// most visits, as in a real history.
std::vector<Visit> makeVisits(size_t visits, size_t addresses, size_t hosts)
{
    std::mt19937 random(7);
    std::vector<Visit> pages;
    for (size_t i = 0; i < addresses; ++i) {
        size_t host = i % hosts;
        std::string word = kWords[(i * 7 + host) % kWordCount];
        std::string other = kWords[(i * 13 + 5) % kWordCount];
        pages.push_back({ "https://www." + std::string(kWords[host % kWordCount]) + "-" + std::to_string(host)
                + ".example/" + word + "/" + other + "-" + std::to_string(i) + "?ref=home",
            "The " + word + " of " + other + " \xE2\x80\x94 page " + std::to_string(i) });
    }
    std::vector<Visit> list;
    std::discrete_distribution<size_t> pick;
    {
        std::vector<double> weights(addresses);
        for (size_t i = 0; i < addresses; ++i)
            weights[i] = 1.0 / static_cast<double>(1 + i % 1000);
        pick = std::discrete_distribution<size_t>(weights.begin(), weights.end());
    }
    for (size_t i = 0; i < visits; ++i)
        list.push_back(addresses == visits ? pages[i] : pages[pick(random)]);
    return list;
}

// CPU time of this thread: what the keystroke itself costs, whatever else runs on the machine.
double threadMillis()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double heapBytes()
{
    struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

double percentile(std::vector<double> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<size_t>(p * static_cast<double>(samples.size())))];
}

// The bookmarks file as the browser writes it.
std::uintmax_t writeBookmarks(const fs::path& file, const std::vector<qv::SuggestionBookmark>& bookmarks)
{
    std::vector<qv::Bookmark> list;
    for (size_t i = 0; i < bookmarks.size(); ++i)
        list.push_back({ std::to_string(i), bookmarks[i].title, bookmarks[i].url, 1765000000, "", {} });
    std::ofstream(file) << qv::bookmarksFileText(list);
    return fs::file_size(file);
}

void run(const char* name, size_t addresses)
{
    constexpr size_t kVisits = 100000, kBookmarks = 10000, kTabs = 200;
    fs::path folder = fs::temp_directory_path() / ("qv-suggestion-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::path historyFile = folder / "history.json";
    std::vector<Visit> visits = makeVisits(kVisits, addresses, 1000);
    {
        qv::FileWriter writer;
        qv::HistoryStore store(historyFile, writer);
        if (!store.load())
            std::abort();
        auto start = qv::HistoryClock::now() - std::chrono::hours(24 * 120);
        for (size_t i = 0; i < visits.size(); ++i) {
            // A visit a minute or so, the last ones today; never two of an address within the
            // store's repeat window.
            store.addVisit(visits[i].url, visits[i].title, start + std::chrono::seconds(i * 100));
        }
        writer.flush();
    }
    std::vector<qv::SuggestionBookmark> bookmarks;
    std::vector<Visit> marked = makeVisits(kBookmarks, kBookmarks, 300);
    for (size_t i = 0; i < kBookmarks; ++i)
        bookmarks.push_back({ marked[i].url + "&b", marked[i].title });
    std::uintmax_t fileBytes = fs::file_size(historyFile) + writeBookmarks(folder / "bookmarks.json", bookmarks);

    double heapBefore = heapBytes();
    auto built = Clock::now();
    qv::SuggestionIndex index;
    {
        qv::HistoryLoad loaded = qv::HistoryStore::read(historyFile);
        qv::HistoryStore::forEachVisit(loaded, [&](std::string_view url, std::string_view title, std::string_view time) {
            index.addVisit(url, title, qv::secondsFromHistoryTime(time).value_or(0));
        });
    }
    index.finishLoading();
    index.setBookmarks(bookmarks);
    double buildMs = std::chrono::duration<double, std::milli>(Clock::now() - built).count();
    double heapIndex = heapBytes() - heapBefore;

    qv::SuggestionRequest request;
    request.now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    request.currentProfile = "default";
    for (size_t i = 0; i < kTabs; ++i)
        request.tabs.push_back({ "tab" + std::to_string(i), i % 3 ? "default" : "work", visits[i * 37].url, visits[i * 37].title });

    // Every address and title once, for the floor.
    std::vector<std::string> plain;
    index.suggest(request);
    for (const Visit& visit : makeVisits(addresses, addresses, 1000))
        plain.push_back(visit.url + " " + visit.title);

    std::vector<double> keystrokes, cpu, floors;
    for (size_t round = 0; round < 3; ++round) {
        for (const char* word : kWords) {
            std::string typed;
            for (const char* c = word; *c; ++c) {
                typed += *c;
                request.typed = typed;
                auto start = Clock::now();
                double cpuStart = threadMillis();
                std::vector<qv::Suggestion> rows = index.suggest(request);
                cpu.push_back(threadMillis() - cpuStart);
                keystrokes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                if (rows.empty())
                    std::abort();
            }
            auto start = Clock::now();
            size_t found = 0;
            for (const std::string& text : plain)
                found += text.find(word) != std::string::npos;
            floors.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (found == 0)
                std::abort();
        }
    }
    std::printf("%-34s %8zu addresses  index built in %6.1f ms\n", name, index.addressCount(), buildMs);
    std::printf("  keystroke: median %.3f ms  p99 %.3f ms  max %.3f ms (%zu keystrokes; budget 5 ms)\n",
        percentile(keystrokes, 0.5), percentile(keystrokes, 0.99), percentile(keystrokes, 1.0), keystrokes.size());
    std::printf("  keystroke CPU time: median %.3f ms  p99 %.3f ms  max %.3f ms\n", percentile(cpu, 0.5),
        percentile(cpu, 0.99), percentile(cpu, 1.0));
    std::printf("  floor, one plain find pass: median %.3f ms  -> p99 keystroke is %.2fx the floor\n",
        percentile(floors, 0.5), percentile(keystrokes, 0.99) / percentile(floors, 0.5));
    std::printf("  memory: index %.1f MB counted, %.1f MB heap; files %.1f MB -> %.2fx the files\n\n",
        static_cast<double>(index.memoryBytes()) / 1e6, heapIndex / 1e6, static_cast<double>(fileBytes) / 1e6,
        std::max(heapIndex, static_cast<double>(index.memoryBytes())) / static_cast<double>(fileBytes));
    std::error_code error;
    fs::remove_all(folder, error);
}

} // namespace

int main()
{
    run("100,000 visits, 25,000 addresses", 25000);
    run("100,000 visits, every one new", 100000);
    return 0;
}

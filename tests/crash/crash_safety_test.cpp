// Kills a process writing the history, the tab snapshot, the defaults and the downloads list at
// random moments and checks that every file is whole, that nothing handed over more than a
// second before is lost, and that no temporaries pile up.
#include "crash_files.h"

#include "../core/temp_dir.h"
#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/json_text.h"
#include "base/user_defaults.h"
#include "history/history_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qv::test {

namespace {

namespace fs = std::filesystem;

constexpr int kKills = 250;
constexpr unsigned kSeed = 20260315;
const std::vector<std::string> kFiles = { "history.json", "history.json.journal", "tab.json",
    "defaults.json", "downloads.json", "saved.bin" };

// Starts the writer with these arguments and returns once it has begun writing (or has ended).
// With output, the read end of its standard output is handed over instead of closed.
pid_t startWriterWith(std::vector<std::string> args, int* output = nullptr)
{
    std::string program = QV_CRASH_WRITER;
    std::vector<char*> argv { program.data() };
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char signal = 0;
    if (spawned == 0) {
        while (read(pipeFds[0], &signal, 1) < 0 && errno == EINTR) { }
    }
    if (output)
        *output = pipeFds[0];
    else
        close(pipeFds[0]);
    return spawned == 0 ? pid : -1;
}

pid_t startWriter(const fs::path& folder, const char* steps = nullptr)
{
    std::vector<std::string> args { folder.string() };
    if (steps)
        args.emplace_back(steps);
    return startWriterWith(std::move(args));
}

// The visit numbers of the history as the browser loads it (the file and its journal), sorted;
// nothing when it does not load.
std::optional<std::vector<long>> historyVisits(const fs::path& file)
{
    FileWriter writer;
    HistoryStore store(file, writer);
    if (!store.load() || store.readOnly())
        return std::nullopt;
    std::vector<long> visits;
    const std::string prefix = crashVisitURL(0).substr(0, crashVisitURL(0).size() - 1);
    for (const HistoryEntry& entry : store.entries()) {
        if (entry.url.rfind(prefix, 0) != 0)
            return std::nullopt;
        visits.push_back(std::stol(entry.url.substr(prefix.size())));
    }
    std::sort(visits.begin(), visits.end());
    return visits;
}

// The step whose snapshot tab.json holds exactly, -1 when missing, among the candidates.
std::optional<long> tabsStep(const fs::path& file, std::initializer_list<long> candidates)
{
    FileRead read = readWholeFile(file);
    for (long step : candidates) {
        if (step < 0 ? read.status == ReadStatus::Missing
                     : read.status == ReadStatus::Ok
                    && read.contents == tabsSnapshotJson(crashTabs(step)))
            return step;
    }
    return std::nullopt;
}

std::optional<long> defaultsStep(const fs::path& file, std::initializer_list<long> candidates)
{
    FileRead read = readWholeFile(file);
    auto values = parseJson(read.contents);
    for (long step : candidates) {
        if (step < 0 ? read.status == ReadStatus::Missing
                     : read.status == ReadStatus::Ok && values
                    && *values == Json { { kCurrentProfileKey, crashProfile(step) } })
            return step;
    }
    return std::nullopt;
}

// The step a whole tab.json or defaults.json holds (found from its own contents and checked
// byte for byte against what that step writes); nothing when it is torn or missing.
std::optional<long> wholeTabsStep(const fs::path& file)
{
    std::string contents = readWholeFile(file).contents;
    auto at = contents.find("TAB-");
    if (at == std::string::npos)
        return std::nullopt;
    long step = std::atol(contents.c_str() + at + 4);
    return contents == tabsSnapshotJson(crashTabs(step)) ? std::optional<long>(step) : std::nullopt;
}

std::optional<long> wholeDefaultsStep(const fs::path& file)
{
    auto values = parseJson(readWholeFile(file).contents);
    if (!values || !values->is_object() || !values->contains(kCurrentProfileKey)
        || !(*values)[kCurrentProfileKey].is_string())
        return std::nullopt;
    std::string profile = (*values)[kCurrentProfileKey];
    long step = std::atol(profile.c_str() + std::string("profile-").size());
    return *values == Json { { kCurrentProfileKey, crashProfile(step) } }
        ? std::optional<long>(step)
        : std::nullopt;
}

// The step of the newest record of a whole downloads.json, -1 for an empty list.
std::optional<long> wholeDownloadsStep(const fs::path& file)
{
    auto list = parseJson(readWholeFile(file).contents);
    if (!list || !list->is_array())
        return std::nullopt;
    const std::string prefix = crashVisitURL(0).substr(0, crashVisitURL(0).size() - 1);
    for (const Json& record : *list)
        if (!record.is_object() || !record.contains("source")
            || record["source"].get<std::string>().rfind(prefix, 0) != 0)
            return std::nullopt;
    return list->empty() ? -1 : std::stol((*list)[0]["source"].get<std::string>().substr(prefix.size()));
}

// Temporaries per written file; fails on any item that is neither.
std::map<std::string, int> temporaries(const fs::path& folder)
{
    std::map<std::string, int> counts;
    for (const auto& item : fs::directory_iterator(folder)) {
        std::string name = item.path().filename().string();
        if (std::find(kFiles.begin(), kFiles.end(), name) != kFiles.end())
            continue;
        auto file = std::find_if(kFiles.begin(), kFiles.end(),
            [&](const std::string& f) { return isAtomicWriteTemporaryName(name, f); });
        EXPECT_NE(file, kFiles.end()) << "unexpected item " << name;
        if (file != kFiles.end())
            ++counts[*file];
    }
    return counts;
}

} // namespace

TEST(CrashSafety, KilledWritersLeaveWholeFilesAndNoTemporariesPileUp)
{
    std::printf("crash seed %u, %d kills\n", kSeed, kKills);
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> delayMicros(0, 20000);
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();

    long visits = 0;
    std::map<std::string, int> interruptedWrites;
    for (int kill = 0; kill < kKills; ++kill) {
        pid_t pid = startWriter(dir.path());
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself, status " << status;

        // Every visit recorded so far is still there, once, and none is torn.
        auto recorded = historyVisits(dir / "history.json");
        ASSERT_TRUE(recorded) << "torn history after kill " << kill;
        const long n = static_cast<long>(recorded->size());
        ASSERT_GE(n, visits) << "visits lost at kill " << kill;
        for (long i = 0; i < n; ++i)
            ASSERT_EQ((*recorded)[i], i) << "kill " << kill;
        visits = n;

        // A step writes the visit, then the tabs, then the defaults: each of the other two is
        // the old or the new version of the step that was under way.
        auto tabs = tabsStep(dir / "tab.json", { n - 1, n - 2 });
        ASSERT_TRUE(tabs) << "torn tab.json after kill " << kill << " with " << n << " visits";
        auto defaults = defaultsStep(dir / "defaults.json", { n - 1, n - 2 });
        ASSERT_TRUE(defaults) << "torn defaults after kill " << kill << " with " << n << " visits";
        EXPECT_LE(*defaults, *tabs);

        // A kill leaves at most the temporary of the write it interrupted, per file.
        for (const auto& [file, count] : temporaries(dir.path())) {
            ASSERT_LE(count, 1) << file << " temporaries pile up at kill " << kill;
            ++interruptedWrites[file];
        }
    }

    // A writer that runs to its end removes what the killed ones left.
    pid_t pid = startWriter(dir.path(), "1");
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(temporaries(dir.path()).empty());
    EXPECT_EQ(historyVisits(dir / "history.json")->size(), static_cast<size_t>(visits + 1));

    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "%d kills in %.1f s, %ld visits; temporaries seen after a kill:", kKills, seconds, visits);
    for (const auto& [file, count] : interruptedWrites)
        std::printf(" %s %d", file.c_str(), count);
    std::printf("\n");
}

TEST(CrashSafety, KilledFileWriterInTheMiddleOfBurstsLeavesAWholeHistory)
{
    constexpr int kBurstKills = 100;
    std::mt19937 random(kSeed + 1);
    std::uniform_int_distribution<int> delayMicros(0, 20000);
    TempDir dir;

    size_t visits = 0;
    int interrupted = 0;
    for (int kill = 0; kill < kBurstKills; ++kill) {
        pid_t pid = startWriterWith({ "--bursts", dir.path().string() });
        ASSERT_GT(pid, 0);
        usleep(static_cast<useconds_t>(delayMicros(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself, status " << status;

        // The whole file of one coalesced write: visits 0 to n-1, none torn, none lost.
        auto recorded = historyVisits(dir / "history.json");
        ASSERT_TRUE(recorded) << "torn history after kill " << kill;
        ASSERT_GE(recorded->size(), visits) << "visits lost at kill " << kill;
        for (size_t i = 0; i < recorded->size(); ++i)
            ASSERT_EQ((*recorded)[i], static_cast<long>(i)) << "kill " << kill;
        visits = recorded->size();
        for (const auto& [file, count] : temporaries(dir.path())) {
            ASSERT_LE(count, 1) << file << " temporaries pile up at kill " << kill;
            ++interrupted;
        }
    }

    pid_t pid = startWriterWith({ "--bursts", dir.path().string(), "1" });
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(temporaries(dir.path()).empty());
    EXPECT_EQ(historyVisits(dir / "history.json")->size(), visits + 20);
    std::printf("%d kills, %zu visits, %d interrupted writes\n", kBurstKills, visits, interrupted);
}

TEST(CrashSafety, KilledDuringBurstsLosesNothingHandedOverMoreThanASecondBefore)
{
    constexpr int kJournalKills = 30;
    std::mt19937 random(kSeed + 2);
    std::uniform_int_distribution<int> runMillis(0, 3000);
    TempDir dir;

    size_t visits = 0;
    long checked = 0;
    int interrupted = 0;
    for (int kill = 0; kill < kJournalKills; ++kill) {
        int output = -1;
        pid_t pid = startWriterWith({ "--journal", dir.path().string() }, &output);
        ASSERT_GT(pid, 0);
        // The numbers of the visits the writer has recorded, each with when we heard of it.
        std::vector<std::pair<long, std::chrono::steady_clock::time_point>> heard;
        std::string pending;
        auto listen = [&](int timeoutMillis) {
            pollfd ready { output, POLLIN, 0 };
            if (poll(&ready, 1, timeoutMillis) <= 0)
                return;
            char bytes[4096];
            ssize_t got = read(output, bytes, sizeof bytes);
            for (ssize_t i = 0; i < got; ++i) {
                if (bytes[i] != '\n') {
                    pending += bytes[i];
                    continue;
                }
                heard.emplace_back(std::stol(pending), std::chrono::steady_clock::now());
                pending.clear();
            }
        };
        auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(runMillis(random));
        while (std::chrono::steady_clock::now() < killAt)
            listen(5);
        ::kill(pid, SIGKILL);
        const auto killed = std::chrono::steady_clock::now();
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        close(output);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself, status " << status;

        // The history loads whole: every visit once, none lost from earlier runs, and every
        // visit recorded more than a second before the kill is there.
        auto recorded = historyVisits(dir / "history.json");
        ASSERT_TRUE(recorded) << "history does not load after kill " << kill;
        ASSERT_GE(recorded->size(), visits) << "visits lost at kill " << kill;
        for (size_t i = 0; i < recorded->size(); ++i)
            ASSERT_EQ((*recorded)[i], static_cast<long>(i)) << "kill " << kill;
        // The files the writer writes are whole and hold what was handed over a second before.
        auto tabs = wholeTabsStep(dir / "tab.json");
        auto defaults = wholeDefaultsStep(dir / "defaults.json");
        auto downloads = wholeDownloadsStep(dir / "downloads.json");
        if (!heard.empty()) {
            ASSERT_TRUE(tabs) << "torn tab.json after kill " << kill;
            ASSERT_TRUE(defaults) << "torn defaults.json after kill " << kill;
        }
        ASSERT_TRUE(downloads || !fs::exists(dir / "downloads.json"))
            << "torn downloads.json after kill " << kill;
        for (const auto& [number, when] : heard) {
            if (killed - when > std::chrono::seconds(1)) {
                ASSERT_LT(number, static_cast<long>(recorded->size()))
                    << "visit recorded over a second before kill " << kill << " lost";
                ASSERT_GE(*tabs, number) << "tabs of over a second before kill " << kill << " lost";
                ASSERT_GE(*defaults, number) << "defaults lost at kill " << kill;
                // The last download of this run recorded at or before it.
                if (long download = number - number % 10; download >= heard.front().first) {
                    ASSERT_GE(downloads.value_or(-1), download)
                        << "download recorded over a second before kill " << kill << " lost";
                }
                ++checked;
            }
        }
        visits = recorded->size();
        for (const auto& [file, count] : temporaries(dir.path())) {
            ASSERT_LE(count, 1) << file << " temporaries pile up at kill " << kill;
            ++interrupted;
        }
    }

    int output = -1;
    pid_t pid = startWriterWith({ "--journal", dir.path().string(), "3" }, &output);
    ASSERT_GT(pid, 0);
    char bytes[4096];
    while (read(output, bytes, sizeof bytes) > 0) { }
    close(output);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(temporaries(dir.path()).empty());
    EXPECT_EQ(historyVisits(dir / "history.json")->size(), visits + 30);
    // A run that ends folds everything into the file: the journal holds no visit.
    EXPECT_EQ(readWholeFile(dir / "history.json.journal").contents.find("\"n\":"),
        std::string::npos);
    EXPECT_GT(checked, 0);
    std::printf("%d kills, %zu visits, %ld of them checked as over a second old, %d interrupted "
                "writes\n",
        kJournalKills, visits, checked, interrupted);
}

} // namespace qv::test

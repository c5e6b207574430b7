// Writes history.json (and its journal), tab.json, defaults.json and downloads.json in a loop
// through the browser's own writers, so a test can kill it at any moment.
#include "crash_files.h"

#include "base/atomic_file.h"
#include "base/file_writer.h"
#include "base/user_defaults.h"
#include "downloads/download_store.h"
#include "history/history_store.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr long kBurstVisits = 20;

// Visits in bursts that the file writer coalesces into one fold, each burst flushed before the
// next; BURSTS of them, or until killed.
int writeBursts(const fs::path& folder, long bursts)
{
    qv::FileWriter writer;
    qv::HistoryStore history(folder / "history.json", writer);
    if (!history.load()) {
        std::fprintf(stderr, "history unreadable\n");
        return 3;
    }
    long n = static_cast<long>(history.entries().size());
    std::fputc('w', stdout);
    std::fflush(stdout);
    for (long burst = 0; bursts < 0 || burst < bursts; ++burst) {
        for (long i = 0; i < kBurstVisits; ++i, ++n) {
            if (!history.addVisit(qv::test::crashVisitURL(n), "Visit " + std::to_string(n),
                    qv::HistoryClock::now())) {
                std::fprintf(stderr, "visit %ld not taken\n", n);
                return 4;
            }
        }
        writer.flush();
        if (!history.takeWriteFailures().empty()) {
            std::fprintf(stderr, "burst %ld not saved\n", burst);
            return 4;
        }
    }
    return 0;
}

// Visits in bursts with pauses between, never waiting for a write: each is only handed to the
// journal, and the file is folded every kFoldEvery. With each visit n, as the browser does on a
// page load, the tabs and the defaults of step n (and every tenth step a finished download) are
// handed to the file writer. The number goes to stdout once all that has returned, so the test
// knows when it was handed over.
int writeJournal(const fs::path& folder, long bursts)
{
    // Longer than a second, so that visits over a second old are often in the journal only.
    constexpr std::chrono::milliseconds kFoldEvery { 1500 };
    qv::FileWriter writer;
    qv::HistoryStore history(folder / "history.json", writer, {}, kFoldEvery);
    if (!history.load() || history.readOnly()) {
        std::fprintf(stderr, "history unreadable\n");
        return 3;
    }
    qv::UserDefaults defaults(folder / "defaults.json");
    defaults.writeThrough(writer, [](const std::string& message) {
        std::fprintf(stderr, "defaults not saved: %s\n", message.c_str());
    });
    qv::DownloadStore downloads(folder / "downloads.json", writer);
    const fs::path saved = folder / "saved.bin";
    if (!qv::writeFileAtomically(saved, "x") || downloads.load()) {
        std::fprintf(stderr, "downloads unusable\n");
        return 3;
    }
    long n = static_cast<long>(history.entries().size());
    std::fputc('w', stdout);
    std::fflush(stdout);
    for (long burst = 0; bursts < 0 || burst < bursts; ++burst) {
        for (long i = 0; i < kBurstVisits / 2; ++i, ++n) {
            if (!history.addVisit(qv::test::crashVisitURL(n), "Visit " + std::to_string(n),
                    qv::HistoryClock::now())) {
                std::fprintf(stderr, "visit %ld not taken\n", n);
                return 4;
            }
            writer.submit(folder / "tab.json", qv::tabsSnapshotJson(qv::test::crashTabs(n)));
            if (!defaults.setObject(qv::kCurrentProfileKey, qv::test::crashProfile(n))) {
                std::fprintf(stderr, "defaults of step %ld refused\n", n);
                return 5;
            }
            if (n % 10 == 0
                && !downloads.recordCompletedDownload(saved, qv::test::crashVisitURL(n),
                    std::chrono::system_clock::now()).recorded) {
                std::fprintf(stderr, "download of step %ld not recorded\n", n);
                return 5;
            }
            std::printf("%ld\n", n);
            std::fflush(stdout);
        }
        if (!history.takeWriteFailures().empty() || !downloads.takeWriteFailures().empty()) {
            std::fprintf(stderr, "burst %ld not saved\n", burst);
            return 4;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return 0;
}

} // namespace

// Usage: crash_writer FOLDER [STEPS], crash_writer --bursts FOLDER [BURSTS] or crash_writer
// --journal FOLDER [BURSTS]. Without a count it writes until it is killed. Step n records visit
// n (flushed, so folded into the file, before the step goes on), then writes the tabs of step n,
// then the defaults of step n; it starts at the number of visits the history already holds,
// after finishing the step before it.
int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--bursts") == 0)
        return writeBursts(argv[2], argc > 3 ? std::atol(argv[3]) : -1);
    if (argc >= 3 && std::strcmp(argv[1], "--journal") == 0)
        return writeJournal(argv[2], argc > 3 ? std::atol(argv[3]) : -1);
    if (argc < 2) {
        std::fprintf(stderr, "usage: crash_writer FOLDER [STEPS]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const long steps = argc > 2 ? std::atol(argv[2]) : -1;

    qv::FileWriter writer;
    qv::HistoryStore history(folder / "history.json", writer);
    if (!history.load()) {
        std::fprintf(stderr, "history unreadable\n");
        return 3;
    }
    qv::UserDefaults defaults(folder / "defaults.json");
    long n = static_cast<long>(history.entries().size());
    // Tells a waiting test that the writes begin now.
    std::fputc('w', stdout);
    std::fflush(stdout);
    // A killed run may have recorded its last visit but not the rest of that step.
    if (n > 0) {
        const fs::path tabs = folder / "tab.json";
        bool tabsCurrent
            = qv::readWholeFile(tabs).contents == qv::tabsSnapshotJson(qv::test::crashTabs(n - 1));
        if ((!tabsCurrent && !qv::writeTabsSnapshot(tabs, qv::test::crashTabs(n - 1)))
            || (defaults.stringForKey(qv::kCurrentProfileKey) != qv::test::crashProfile(n - 1)
                && !defaults.setObject(qv::kCurrentProfileKey, qv::test::crashProfile(n - 1)))) {
            std::fprintf(stderr, "step %ld not completed\n", n - 1);
            return 5;
        }
    }
    for (long step = 0; steps < 0 || step < steps; ++step, ++n) {
        bool added = history.addVisit(
            qv::test::crashVisitURL(n), "Visit " + std::to_string(n), qv::HistoryClock::now());
        writer.flush();
        if (!added || !history.takeWriteFailures().empty()) {
            std::fprintf(stderr, "visit %ld not saved\n", n);
            return 4;
        }
        if (!qv::writeTabsSnapshot(folder / "tab.json", qv::test::crashTabs(n))
            || !defaults.setObject(qv::kCurrentProfileKey, qv::test::crashProfile(n))) {
            std::fprintf(stderr, "step %ld not saved\n", n);
            return 5;
        }
    }
    return 0;
}

// Writes history.json, tab.json and defaults.json in a loop through the browser's own writers,
// so a test can kill it at any moment.
#include "crash_files.h"

#include "base/atomic_file.h"
#include "base/user_defaults.h"
#include "history/history_store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

// Usage: crash_writer FOLDER [STEPS]. Without STEPS it writes until it is killed. Step n
// records visit n, then writes the tabs of step n, then the defaults of step n; it starts at
// the number of visits the history already holds, after finishing the step before it.
int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: crash_writer FOLDER [STEPS]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const long steps = argc > 2 ? std::atol(argv[2]) : -1;

    qv::HistoryStore history(folder / "history.json");
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
        auto added = history.addVisit(
            qv::test::crashVisitURL(n), "Visit " + std::to_string(n), qv::HistoryClock::now());
        if (!added || !*added) {
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

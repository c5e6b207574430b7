// What the crash writer writes at each step, so a test can tell whole files from torn ones.
#pragma once

#include "tabs/tab_model.h"

#include <string>
#include <vector>

namespace qv::test {

// Visit n of the history.
inline std::string crashVisitURL(long n) { return "https://visit.test/" + std::to_string(n); }

// The tabs of step n: one to five, so the snapshot's length changes from step to step.
inline std::vector<TabSnapshotEntry> crashTabs(long n)
{
    std::vector<TabSnapshotEntry> tabs;
    for (long i = 0; i <= n % 5; ++i) {
        std::string tab = std::to_string(n) + "-" + std::to_string(i);
        tabs.push_back({ "TAB-" + tab, crashVisitURL(n), "Step " + tab,
            i % 2 ? "default" : "PROFILE-" + tab, i % 3 == 0, i == 0 });
    }
    return tabs;
}

// The current profile the defaults hold after step n.
inline std::string crashProfile(long n) { return "profile-" + std::to_string(n); }

} // namespace qv::test

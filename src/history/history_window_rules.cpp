// History window rows, reopening and confirmations.
#include "history/history_window_rules.h"

#include "base/text_util.h"

#include <algorithm>

namespace qv {

std::string historyVisitedText(std::string_view time)
{
    std::string out;
    out.reserve(time.size() + 4);
    for (char c : time) {
        if (c == 'T')
            out += ' ';
        else if (c == 'Z')
            out += " UTC";
        else
            out += c;
    }
    return out;
}

HistoryRow historyRowOf(const HistoryEntry& entry)
{
    return { displaySafeTitle(entry.title), entry.url, historyVisitedText(entry.time) };
}

std::vector<size_t> historySelection(std::vector<size_t> selectedRows)
{
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    return selectedRows;
}

HistoryReopenPlan historyReopenStart(size_t selectedCount)
{
    HistoryReopenPlan plan;
    if (selectedCount == 0)
        return plan;
    plan.mode = selectedCount == 1 ? HistoryReopenMode::CurrentTab
        : selectedCount <= 3       ? HistoryReopenMode::NewTabs
                                   : HistoryReopenMode::LazyTabs;
    plan.bringBrowserToFront = true;
    return plan;
}

HistoryActionDecision clearHistoryDecision(bool readOnly, const std::filesystem::path& file)
{
    if (readOnly)
        return { HistoryActionKind::Refuse, std::string(kHistoryReadOnlyMessage), {} };
    Confirmation ask { "Clear all browsing history?", file.string(), { "Cancel", "Clear History" },
        1 };
    return { HistoryActionKind::Confirm, {}, std::move(ask) };
}

HistoryActionDecision deleteHistoryDecision(bool readOnly, size_t selectedCount)
{
    if (selectedCount == 0)
        return {};
    if (readOnly)
        return { HistoryActionKind::Refuse, std::string(kHistoryReadOnlyMessage), {} };
    Confirmation ask { "Delete " + std::to_string(selectedCount) + " selected history item(s)?",
        "Only the selected entries will be removed from browsing history.",
        { "Delete Selected", "Cancel" }, 0 };
    return { HistoryActionKind::Confirm, {}, std::move(ask) };
}

} // namespace qv

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

std::vector<HistoryRow> historyRows(const std::deque<HistoryEntry>& entries)
{
    std::vector<HistoryRow> rows;
    rows.reserve(entries.size());
    for (const auto& entry : entries)
        rows.push_back(
            { displaySafeTitle(entry.title), entry.url, historyVisitedText(entry.time) });
    return rows;
}

HistoryReopenPlan historyReopenPlan(
    const std::deque<HistoryEntry>& entries, std::vector<size_t> selectedRows)
{
    std::sort(selectedRows.begin(), selectedRows.end());
    selectedRows.erase(std::unique(selectedRows.begin(), selectedRows.end()), selectedRows.end());
    HistoryReopenPlan plan;
    const size_t n = selectedRows.size();
    if (n == 0)
        return plan;
    if (n == 1) {
        size_t row = selectedRows.front();
        if (row >= entries.size() || entries[row].url.empty())
            return plan;
        plan.mode = HistoryReopenMode::CurrentTab;
        plan.visits.push_back({ entries[row].url, entries[row].url });
        plan.bringBrowserToFront = true;
        return plan;
    }
    plan.mode = n <= 3 ? HistoryReopenMode::NewTabs : HistoryReopenMode::LazyTabs;
    plan.bringBrowserToFront = true;
    for (size_t row : selectedRows) {
        if (row >= entries.size() || entries[row].url.empty())
            continue;
        const auto& entry = entries[row];
        plan.visits.push_back({ entry.url, entry.title.empty() ? entry.url : entry.title });
    }
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

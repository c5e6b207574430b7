// What the history window shows and decides: its rows, reopening a selection, confirmations.
#pragma once

#include "base/confirmation.h"
#include "history/history_store.h"

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// One row of the history table: the cell texts of "title", "url" and "time".
struct HistoryRow {
    std::string title;
    std::string url;
    std::string visited;
};

// "2026-12-06T22:22:48Z" shows as "2026-12-06 22:22:48 UTC".
std::string historyVisitedText(std::string_view time);

HistoryRow historyRowOf(const HistoryEntry& entry);

// One row per entry, in the store's order (newest first), so that row i is entries[i]. Entries
// is the store's list or any list of HistoryEntry with size() and operator[].
template <class Entries>
std::vector<HistoryRow> historyRows(const Entries& entries)
{
    std::vector<HistoryRow> rows;
    rows.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const HistoryEntry& entry = entries[i];
        rows.push_back(historyRowOf(entry));
    }
    return rows;
}

enum class HistoryReopenMode {
    Nothing,
    // The one visit goes through the address field as typed text, in the selected tab.
    CurrentTab,
    // Two or three visits: each in a new tab that loads at once; the last ends up selected.
    NewTabs,
    // Four or more: each in a new lazy tab with the visit's title; the first is then selected.
    LazyTabs,
};

struct ReopenedVisit {
    std::string url;
    // The lazy tab's title: the visit's title, or its address when it has none.
    std::string title;
};

struct HistoryReopenPlan {
    HistoryReopenMode mode = HistoryReopenMode::Nothing;
    std::vector<ReopenedVisit> visits;
    bool bringBrowserToFront = false;
};

// The distinct selected rows, in order.
std::vector<size_t> historySelection(std::vector<size_t> selectedRows);
// The plan's mode for this many selected rows.
HistoryReopenPlan historyReopenStart(size_t selectedCount);

// What opening the selected rows does. The mode follows the number of selected rows; rows past
// the end and visits without an address are then skipped.
template <class Entries>
HistoryReopenPlan historyReopenPlan(const Entries& entries, std::vector<size_t> selectedRows)
{
    selectedRows = historySelection(std::move(selectedRows));
    HistoryReopenPlan plan = historyReopenStart(selectedRows.size());
    for (size_t row : selectedRows) {
        if (row >= entries.size())
            continue;
        const HistoryEntry& entry = entries[row];
        if (entry.url.empty())
            continue;
        // A single visit goes through the address field as typed.
        bool single = plan.mode == HistoryReopenMode::CurrentTab;
        plan.visits.push_back(
            { entry.url, single || entry.title.empty() ? entry.url : entry.title });
    }
    if (plan.mode == HistoryReopenMode::CurrentTab && plan.visits.empty())
        return {};
    return plan;
}

enum class HistoryActionKind { Ignore, Refuse, Confirm };

struct HistoryActionDecision {
    HistoryActionKind kind = HistoryActionKind::Ignore;
    std::string refusal; // the alert text when refused
    Confirmation confirmation; // when kind is Confirm
};

// "Clear History": refused while read-only, otherwise confirmed against the file's path.
HistoryActionDecision clearHistoryDecision(bool readOnly, const std::filesystem::path& file);

// "Delete Selected": nothing without a selection, refused while read-only, otherwise confirmed.
HistoryActionDecision deleteHistoryDecision(bool readOnly, size_t selectedCount);

} // namespace qv

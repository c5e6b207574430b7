// The suggestion service: the index of visited addresses and bookmarks behind the address
// field's list, kept in step with the history and the bookmarks, and the rows for typed text.
#pragma once

#include "app/web_views.h"
#include "suggestions/suggestion_index.h"

#include <gdkmm/texture.h>
#include <sigc++/sigc++.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct Services;

// A row as the list shows it.
struct SuggestionRow {
    Suggestion suggestion;
    // "Switch to Tab", naming the profile when it is not the current one; the address; or
    // the search engine's name.
    std::string detail;
    Glib::RefPtr<Gdk::Texture> icon;
};

class SuggestionService {
public:
    explicit SuggestionService(const Services& services);
    ~SuggestionService();
    SuggestionService(const SuggestionService&) = delete;
    SuggestionService& operator=(const SuggestionService&) = delete;

    // Follows the history and the tabs' icons; the history's visits are indexed on the thread
    // that reads the history, so call this before the history is read.
    void start();
    // The bookmarks as they now are; the index takes their addresses and titles. Called
    // whenever the bookmarks change.
    void setBookmarks(const std::vector<SuggestionBookmark>& bookmarks);

    // The rows for text typed in the selected tab, the search row last.
    std::vector<SuggestionRow> rowsFor(const std::string& typed);
    // The rest of a visited host the typed text begins, when inline completion is on.
    std::optional<std::string> inlineCompletionFor(const std::string& typed);
    bool inlineCompletionEnabled() const;
    // Removes every visit of the address from the history.
    void removeFromHistory(const std::string& url);
    // Opens the row in the selected tab, or selects its tab.
    void openRow(const Suggestion& suggestion);

    // The index once the history's visits are in it.
    bool ready() const { return m_ready; }
    const SuggestionIndex& index() const { return m_index; }

private:
    void adopt(SuggestionIndex index);
    // Runs the change now, or after the history's visits have arrived.
    void change(std::function<void(SuggestionIndex&)> edit);
    void rememberTabIcons();

    const Services& m_services;
    SuggestionIndex m_index;
    bool m_ready = false;
    std::vector<std::function<void(SuggestionIndex&)>> m_pending;
    // Icons of hosts seen in tabs, for rows of other pages of those hosts.
    std::map<std::string, Glib::RefPtr<Gdk::Texture>> m_hostIcons;
    std::vector<sigc::connection> m_connections;
    Lifetime m_lifetime;
};

} // namespace qv

// Keeping the suggestion index in step with the history, bookmarks and tabs, and the rows the
// address field's list shows.
#include "suggestions/suggestion_service.h"

#include "app/services.h"
#include "app/shell.h"
#include "bookmarks/bookmark_service.h"
#include "history/history_service.h"
#include "navigation/navigation_service.h"
#include "profiles/profile_service.h"
#include "tabs/favicon_rules.h"
#include "tabs/tab_list.h"
#include "tabs/tab_service.h"

#include <chrono>

namespace qv {

namespace {

    // Host icons remembered from tabs, at most.
    constexpr size_t kMaxHostIcons = 500;
    // Changes that come before the history's visits are kept for them, at most.
    constexpr size_t kMaxPendingChanges = 10000;

    std::int64_t secondsNow()
    {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }

    std::string tabAddress(const Tab& tab)
    {
        if (WebKitWebView* view = tab.webView()) {
            std::string uri = webViewURI(view);
            if (!uri.empty())
                return uri;
        }
        return tab.url();
    }

} // namespace

SuggestionService::SuggestionService(const Services& services)
    : m_services(services)
{
}

SuggestionService::~SuggestionService()
{
    m_lifetime.end();
    for (sigc::connection& connection : m_connections)
        connection.disconnect();
}

void SuggestionService::start()
{
    // The visits the history read are indexed on its reading thread, and the index handed to
    // the main loop before the history itself is.
    m_services.history->setLoadedVisitsReader([alive = m_lifetime.token(), service = this](const HistoryLoad& loaded) {
        auto index = std::make_shared<SuggestionIndex>();
        HistoryStore::forEachVisit(loaded, [&](std::string_view url, std::string_view title, std::string_view time) {
            index->addVisit(url, title, secondsFromHistoryTime(time).value_or(0));
        });
        index->finishLoading();
        runOnMainLoop(alive, [service, index] { service->adopt(std::move(*index)); });
    });
    m_connections.push_back(m_services.history->signalVisitAdded().connect([this] {
        const HistoryEntries& entries = m_services.history->historyEntries();
        if (entries.empty())
            return;
        HistoryEntry visit = entries.front();
        std::int64_t when = secondsFromHistoryTime(visit.time).value_or(secondsNow());
        change([url = std::move(visit.url), title = std::move(visit.title), when](SuggestionIndex& index) {
            index.addVisit(url, title, when);
        });
    }));
    m_connections.push_back(m_services.history->signalVisitsRemoved().connect([this](const std::vector<std::string>& urls) {
        change([urls](SuggestionIndex& index) {
            for (const std::string& url : urls)
                index.removeVisit(url);
        });
    }));
    m_connections.push_back(m_services.history->signalCleared().connect([this] { change([](SuggestionIndex& index) { index.clearVisits(); }); }));
    BookmarkService& bookmarks = *m_services.bookmarks;
    m_connections.push_back(bookmarks.signalChanged().connect([this, &bookmarks] {
        std::vector<SuggestionBookmark> kept;
        kept.reserve(bookmarks.bookmarks().size());
        for (const Bookmark& bookmark : bookmarks.bookmarks())
            kept.push_back({ bookmark.url, bookmark.title });
        setBookmarks(kept);
    }));
}

void SuggestionService::adopt(SuggestionIndex index)
{
    // Bookmarks set before now are kept: they came through change() too.
    m_index = std::move(index);
    m_ready = true;
    std::vector<std::function<void(SuggestionIndex&)>> pending;
    pending.swap(m_pending);
    for (auto& edit : pending)
        edit(m_index);
}

void SuggestionService::change(std::function<void(SuggestionIndex&)> edit)
{
    if (m_ready) {
        edit(m_index);
        return;
    }
    if (m_pending.size() < kMaxPendingChanges)
        m_pending.push_back(std::move(edit));
}

void SuggestionService::setBookmarks(const std::vector<SuggestionBookmark>& bookmarks)
{
    change([bookmarks](SuggestionIndex& index) { index.setBookmarks(bookmarks); });
}

void SuggestionService::rememberTabIcons()
{
    for (const Tab& tab : m_services.tabs->tabList()) {
        if (!tab.favicon())
            continue;
        if (auto host = faviconPageHost(tabAddress(tab))) {
            if (m_hostIcons.size() >= kMaxHostIcons && !m_hostIcons.count(*host))
                m_hostIcons.erase(m_hostIcons.begin());
            m_hostIcons[*host] = tab.favicon();
        }
    }
}

std::vector<SuggestionRow> SuggestionService::rowsFor(const std::string& typed)
{
    const TabList& tabs = m_services.tabs->tabList();
    ProfileService& profiles = *m_services.profiles;
    SuggestionRequest request;
    request.typed = typed;
    request.now = secondsNow();
    request.currentProfile = profiles.currentProfile();
    request.onlyOwnTabs = profiles.isPrivateProfile(request.currentProfile);
    const Tab* selected = tabs.selected();
    if (selected)
        request.selectedTab = selected->id();
    request.tabs.reserve(tabs.size());
    for (const Tab& tab : tabs) {
        ProfileID profile = tab.profileID().empty() ? ProfileID(kDefaultProfileID) : tab.profileID();
        // A private profile's tabs are offered to nobody else.
        if (profile != request.currentProfile && profiles.isPrivateProfile(profile))
            continue;
        request.tabs.push_back({ tab.id(), profile, tabAddress(tab), tab.title() });
    }
    rememberTabIcons();

    std::vector<SuggestionRow> rows;
    for (Suggestion& suggestion : m_index.suggest(request)) {
        SuggestionRow row;
        switch (suggestion.kind) {
        case SuggestionKind::SwitchToTab: {
            row.detail = "Switch to Tab";
            if (suggestion.profileID != request.currentProfile) {
                if (const BrowserProfile* profile = profiles.profileForID(suggestion.profileID))
                    row.detail += " \u00b7 " + profile->name;
            }
            if (const Tab* tab = tabs.tabWithID(suggestion.tabID))
                row.icon = tab->favicon();
            break;
        }
        case SuggestionKind::Search: {
            suggestion.url = profiles.searchURLForCurrentProfile(typed);
            const BrowserProfile* profile = profiles.profileForID(request.currentProfile);
            row.detail = "Search with " + (profile ? profile->searchEngine : std::string(kDefaultSearchEngine));
            break;
        }
        case SuggestionKind::Bookmark:
        case SuggestionKind::History:
            row.detail = suggestion.url;
            break;
        }
        if (!row.icon && suggestion.kind != SuggestionKind::Search) {
            if (auto host = faviconPageHost(suggestion.url)) {
                if (auto found = m_hostIcons.find(*host); found != m_hostIcons.end())
                    row.icon = found->second;
            }
        }
        row.suggestion = std::move(suggestion);
        rows.push_back(std::move(row));
    }
    return rows;
}

bool SuggestionService::inlineCompletionEnabled() const
{
    return m_services.shell->defaults().inlineCompletionEnabled();
}

std::optional<std::string> SuggestionService::inlineCompletionFor(const std::string& typed)
{
    // The history is not a private profile's to reach.
    ProfileService& profiles = *m_services.profiles;
    if (!inlineCompletionEnabled() || profiles.isPrivateProfile(profiles.currentProfile()))
        return std::nullopt;
    return m_index.inlineCompletion(typed, secondsNow());
}

void SuggestionService::removeFromHistory(const std::string& url)
{
    m_services.history->deleteVisitsOf(url);
}

void SuggestionService::openRow(const Suggestion& suggestion)
{
    TabService& tabs = *m_services.tabs;
    if (suggestion.kind == SuggestionKind::SwitchToTab) {
        const TabList& list = tabs.tabList();
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].id() == suggestion.tabID) {
                tabs.selectBrowserTabAtIndex(i);
                return;
            }
        }
        // The tab closed meanwhile: its address opens here instead.
    }
    m_services.navigation->setAddressFieldText(suggestion.url);
    m_services.navigation->loadResolvedAddress(suggestion.url);
}

} // namespace qv

// Switching tabs from the keyboard, reopening closed tabs and opening links behind the page.
#include "app/browser_controller.h"

#include "app/web_views.h"
#include "tabs/tab_model.h"

namespace qv {

void BrowserController::selectTabByShortcut(TabShortcut shortcut, size_t number)
{
    std::vector<std::string> profiles;
    profiles.reserve(m_tabs.size());
    for (const Tab& tab : m_tabs)
        profiles.push_back(tab.profileID().empty() ? kDefaultProfileID : tab.profileID());
    auto index
        = tabIndexForShortcut(profiles, m_profiles->currentProfile(), indexOfSelectedTab(), shortcut, number);
    if (index)
        selectBrowserTabAtIndex(*index);
}

void BrowserController::reopenClosedTab()
{
    while (auto closed = m_closedTabs.pop()) {
        // A deleted profile took its website data with it; its tabs do not come back.
        if (closed->profileID != kDefaultProfileID && !m_profiles->profileForID(closed->profileID))
            continue;
        if (closed->profileID != m_profiles->currentProfile()) {
            m_profiles->setCurrentProfile(closed->profileID, ProfileService::Announce::Yes);
        }
        createBrowserTabWithURL(closed->url);
        return;
    }
}

TabID BrowserController::openBackgroundTab(const std::string& url)
{
    GObjectPtr<WebKitWebView> view = newBrowserWebView();
    TabID id = m_tabs.append(newBrowserTabWithView(view, url)).id();
    if (!url.empty() && g_uri_is_valid(url.c_str(), G_URI_FLAGS_PARSE_RELAXED, nullptr))
        webkit_web_view_load_uri(view.get(), url.c_str());
    m_extensions->emitExtensionEvent("tabs.created", { { "tabId", id }, { "url", url } });
    return id;
}

} // namespace qv

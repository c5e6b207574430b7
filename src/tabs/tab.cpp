// A tab's own state; every change it shows is announced through its list.
#include "tabs/tab.h"

#include "tabs/tab_list.h"

namespace qv {

Tab::Tab(TabID id, ProfileID profileID)
    : m_id(std::move(id))
    , m_profileID(std::move(profileID))
{
}

Tab::~Tab() = default;

void Tab::changed()
{
    if (m_list)
        m_list->changed();
}

void Tab::setWebView(GObjectPtr<WebKitWebView> view)
{
    WebKitWebView* old = m_webView.get();
    m_webView = std::move(view);
    m_loadState = {};
    if (m_list)
        m_list->viewChanged(*this, old);
}

GObjectPtr<WebKitWebView> Tab::takeWebView()
{
    GObjectPtr<WebKitWebView> view = std::move(m_webView);
    m_loadState = {};
    if (m_list)
        m_list->viewChanged(*this, view.get());
    return view;
}

void Tab::setURL(std::string url)
{
    if (url == m_url)
        return;
    m_url = std::move(url);
    changed();
}

void Tab::setTitle(std::string title)
{
    if (title == m_title)
        return;
    m_title = std::move(title);
    changed();
}

void Tab::setShownPage(std::string title, std::string address)
{
    if (title == m_title && address == m_pageAddress)
        return;
    m_title = std::move(title);
    m_pageAddress = std::move(address);
    changed();
}

void Tab::setLazy(bool lazy)
{
    if (lazy == m_lazy)
        return;
    m_lazy = lazy;
    if (!lazy)
        m_unloadedForMemory = false;
    changed();
}

void Tab::setUnloadedForMemory()
{
    if (m_unloadedForMemory)
        return;
    m_unloadedForMemory = true;
    changed();
}

void Tab::setFavicon(Glib::RefPtr<Gdk::Texture> favicon, std::string host)
{
    m_faviconHost = std::move(host);
    if (favicon == m_favicon)
        return;
    m_favicon = std::move(favicon);
    changed();
}

void Tab::dropFaviconUnlessOnHost(const std::string& host)
{
    if (!m_favicon || host == m_faviconHost)
        return;
    m_favicon.reset();
    m_faviconHost.clear();
    changed();
}

} // namespace qv

// The tab list and its look-ups, kept in step with every insert, removal, move and new view.
#include "tabs/tab_list.h"

namespace qv {

TabList::TabList() = default;

TabList::~TabList()
{
    // The tabs go without announcing it: nobody is left to show them.
    m_signalChanged.clear();
    clear();
}

Tab* TabList::tabWithID(const TabID& id)
{
    auto found = m_byID.find(id);
    return found == m_byID.end() ? nullptr : found->second;
}

const Tab* TabList::tabWithID(const TabID& id) const
{
    return const_cast<TabList*>(this)->tabWithID(id);
}

Tab* TabList::tabWithView(WebKitWebView* view)
{
    if (!view)
        return nullptr;
    auto found = m_byView.find(view);
    return found == m_byView.end() ? nullptr : found->second;
}

const Tab* TabList::tabWithView(WebKitWebView* view) const
{
    return const_cast<TabList*>(this)->tabWithView(view);
}

std::optional<size_t> TabList::indexOf(const Tab& tab) const
{
    if (tab.m_list != this)
        return std::nullopt;
    return tab.m_index;
}

std::optional<size_t> TabList::selectedIndex() const
{
    if (!m_selected)
        return std::nullopt;
    return m_selected->m_index;
}

Tab& TabList::append(std::unique_ptr<Tab> tab)
{
    Tab& added = *tab;
    added.m_list = this;
    added.m_index = m_tabs.size();
    // Like a search in strip order, a look-up finds the first tab under an ID.
    m_byID.try_emplace(added.id(), &added);
    if (added.webView())
        m_byView[added.webView()] = &added;
    m_tabs.push_back(std::move(tab));
    changed();
    return added;
}

void TabList::remove(size_t index)
{
    if (index >= m_tabs.size())
        return;
    std::unique_ptr<Tab> removed = std::move(m_tabs[index]);
    m_tabs.erase(m_tabs.begin() + static_cast<std::ptrdiff_t>(index));
    if (auto found = m_byID.find(removed->id());
        found != m_byID.end() && found->second == removed.get()) {
        m_byID.erase(found);
        for (auto& tab : m_tabs) {
            if (tab->id() == removed->id()) {
                m_byID.emplace(tab->id(), tab.get());
                break;
            }
        }
    }
    if (removed->webView())
        m_byView.erase(removed->webView());
    if (m_selected == removed.get())
        m_selected = nullptr;
    removed->m_list = nullptr;
    renumberFrom(index);
    changed();
}

void TabList::clear()
{
    if (m_tabs.empty())
        return;
    for (auto& tab : m_tabs)
        tab->m_list = nullptr;
    m_tabs.clear();
    m_byID.clear();
    m_byView.clear();
    m_selected = nullptr;
    changed();
}

void TabList::reorder(const std::vector<size_t>& order)
{
    if (order.size() != m_tabs.size())
        return;
    Storage reordered;
    reordered.reserve(m_tabs.size());
    for (size_t index : order)
        reordered.push_back(std::move(m_tabs[index]));
    m_tabs = std::move(reordered);
    renumberFrom(0);
    changed();
}

void TabList::select(Tab* tab)
{
    if (tab == m_selected || (tab && tab->m_list != this))
        return;
    m_selected = tab;
    changed();
}

void TabList::changed()
{
    m_pending = true;
    announce();
}

void TabList::announce()
{
    if (m_batchDepth > 0 || !m_pending || !m_selected)
        return;
    m_pending = false;
    m_signalChanged.emit();
}

void TabList::viewChanged(Tab& tab, WebKitWebView* old)
{
    if (old)
        m_byView.erase(old);
    if (tab.webView())
        m_byView[tab.webView()] = &tab;
    changed();
}

void TabList::renumberFrom(size_t index)
{
    for (size_t i = index; i < m_tabs.size(); ++i)
        m_tabs[i]->m_index = i;
}

} // namespace qv

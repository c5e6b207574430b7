// The open tabs in strip order, the selected one, and the one signal telling that any of it
// changed: the order, the selection, or what a tab shows.
#pragma once

#include "tabs/tab.h"

#include <sigc++/signal.h>

#include <cstddef>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qv {

class TabList {
    using Storage = std::vector<std::unique_ptr<Tab>>;

public:
    // Walks the tabs themselves rather than their owners.
    template <class Base, class T>
    class Iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = Tab;
        using difference_type = std::ptrdiff_t;
        using pointer = T*;
        using reference = T&;
        Iterator() = default;
        explicit Iterator(Base at)
            : m_at(at)
        {
        }
        T& operator*() const { return **m_at; }
        T* operator->() const { return m_at->get(); }
        Iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        Iterator operator++(int) { return Iterator(m_at++); }
        Iterator& operator--()
        {
            --m_at;
            return *this;
        }
        Iterator operator+(difference_type n) const { return Iterator(m_at + n); }
        difference_type operator-(const Iterator& other) const { return m_at - other.m_at; }
        bool operator==(const Iterator& other) const { return m_at == other.m_at; }

    private:
        Base m_at {};
    };
    using iterator = Iterator<Storage::iterator, Tab>;
    using const_iterator = Iterator<Storage::const_iterator, const Tab>;

    TabList();
    ~TabList();
    TabList(const TabList&) = delete;
    TabList& operator=(const TabList&) = delete;

    size_t size() const { return m_tabs.size(); }
    bool empty() const { return m_tabs.empty(); }
    Tab& operator[](size_t index) { return *m_tabs[index]; }
    const Tab& operator[](size_t index) const { return *m_tabs[index]; }
    const Tab& at(size_t index) const { return *m_tabs.at(index); }
    const Tab& back() const { return *m_tabs.back(); }
    iterator begin() { return iterator(m_tabs.begin()); }
    iterator end() { return iterator(m_tabs.end()); }
    const_iterator begin() const { return const_iterator(m_tabs.begin()); }
    const_iterator end() const { return const_iterator(m_tabs.end()); }

    Tab* tabWithID(const TabID& id);
    const Tab* tabWithID(const TabID& id) const;
    Tab* tabWithView(WebKitWebView* view);
    const Tab* tabWithView(WebKitWebView* view) const;
    // The tab's place in the list; nothing for a tab of another list.
    std::optional<size_t> indexOf(const Tab& tab) const;
    Tab* selected() const { return m_selected; }
    std::optional<size_t> selectedIndex() const;

    Tab& append(std::unique_ptr<Tab> tab);
    // Closing the selected tab leaves no selection until the next one is selected.
    void remove(size_t index);
    void clear();
    // `order` holds every index once: the tab at order[i] goes to place i.
    void reorder(const std::vector<size_t>& order);
    void select(Tab* tab);

    // Emitted after changes, once a tab is selected: between closing the selected tab and
    // selecting another the list is not complete, and the change waits for that selection.
    sigc::signal<void()>& signalChanged() const { return m_signalChanged; }

    // Changes made while one lives are announced once, when the outermost one ends.
    class Batch {
    public:
        explicit Batch(TabList& list)
            : m_list(list)
        {
            ++m_list.m_batchDepth;
        }
        ~Batch()
        {
            --m_list.m_batchDepth;
            m_list.announce();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        TabList& m_list;
    };

private:
    friend class Tab;
    void changed();
    void announce();
    void viewChanged(Tab& tab, WebKitWebView* old);
    void renumberFrom(size_t index);

    Storage m_tabs;
    std::unordered_map<TabID, Tab*> m_byID;
    std::unordered_map<WebKitWebView*, Tab*> m_byView; // keys do not own
    Tab* m_selected = nullptr;
    int m_batchDepth = 0;
    bool m_pending = false;
    mutable sigc::signal<void()> m_signalChanged;
};

} // namespace qv

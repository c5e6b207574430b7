// The position-only list model behind the history and activity tables.
#include "app/row_list_model.h"

#include <algorithm>

namespace {

struct QvRowList {
    GObject parent;
    guint count;
};

struct QvRowListClass {
    GObjectClass parent;
};

GType qv_row_list_get_type();

void qvRowListModelInit(GListModelInterface* iface);

G_DEFINE_TYPE_WITH_CODE(QvRowList, qv_row_list, G_TYPE_OBJECT,
    G_IMPLEMENT_INTERFACE(G_TYPE_LIST_MODEL, qvRowListModelInit))

void qv_row_list_class_init(QvRowListClass*) { }
void qv_row_list_init(QvRowList* self) { self->count = 0; }

QvRowList* rowList(gpointer model) { return reinterpret_cast<QvRowList*>(model); }

GType rowItemType(GListModel*) { return G_TYPE_OBJECT; }
guint rowCount(GListModel* model) { return rowList(model)->count; }

gpointer rowItem(GListModel* model, guint position)
{
    if (position >= rowList(model)->count)
        return nullptr;
    // A fresh, empty object: cells go by their position, not by the item.
    return g_object_new(G_TYPE_OBJECT, nullptr);
}

void qvRowListModelInit(GListModelInterface* iface)
{
    iface->get_item_type = rowItemType;
    iface->get_n_items = rowCount;
    iface->get_item = rowItem;
}

} // namespace

namespace qv {

RowListModel::RowListModel()
    : m_model(G_LIST_MODEL(g_object_new(qv_row_list_get_type(), nullptr)))
{
    // The selection model takes a reference of its own; ours goes in the destructor.
    m_selection = Glib::wrap(gtk_multi_selection_new(G_LIST_MODEL(g_object_ref(m_model))));
}

RowListModel::~RowListModel() { g_object_unref(m_model); }

unsigned RowListModel::size() const { return rowList(m_model)->count; }

void RowListModel::bindCells(const Glib::RefPtr<Gtk::SignalListItemFactory>& factory,
    std::function<void(Gtk::ListItem&)> bind)
{
    // Shared with the factory's handlers: cells are unbound when the table goes, which may be
    // after this model.
    auto cells = std::make_shared<Binding>();
    cells->bind = std::move(bind);
    factory->signal_bind().connect([cells](const Glib::RefPtr<Gtk::ListItem>& item) {
        cells->bound.insert(item.get());
        cells->bind(*item);
    });
    factory->signal_unbind().connect(
        [cells](const Glib::RefPtr<Gtk::ListItem>& item) { cells->bound.erase(item.get()); });
    m_bindings.push_back(std::move(cells));
}

void RowListModel::reload(unsigned count)
{
    // Replacing every row would make every cell on screen anew; a long list would also have
    // its whole selection and row tree rebuilt.
    unsigned old = size();
    rowList(m_model)->count = count;
    if (count > old)
        g_list_model_items_changed(m_model, old, 0, count - old);
    else if (count < old)
        g_list_model_items_changed(m_model, count, old - count, 0);
    for (const auto& binding : m_bindings)
        for (Gtk::ListItem* cell : binding->bound)
            binding->bind(*cell);
}

void RowListModel::insertAtFront(unsigned count)
{
    if (count == 0)
        return;
    rowList(m_model)->count += count;
    g_list_model_items_changed(m_model, 0, 0, count);
}

std::vector<size_t> RowListModel::selectedRows() const
{
    std::vector<size_t> rows;
    auto bits = m_selection->get_selection();
    guint64 n = bits->get_size();
    guint count = size();
    rows.reserve(static_cast<size_t>(std::min<guint64>(n, count)));
    for (guint64 i = 0; i < n; ++i) {
        guint row = bits->get_nth(static_cast<guint>(i));
        if (row < count)
            rows.push_back(row);
    }
    return rows;
}

void RowListModel::selectRows(const std::vector<size_t>& rows)
{
    auto wanted = Gtk::Bitset::create();
    for (size_t row : rows)
        if (row < size())
            wanted->add(static_cast<guint>(row));
    auto mask = Gtk::Bitset::create();
    mask->add_range(0, size());
    m_selection->set_selection(wanted, mask);
}

} // namespace qv

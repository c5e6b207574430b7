// The profiles window's content blocking section.
#include "contentblocking/content_blocking_section.h"

#include "app/view_helpers.h"
#include "contentblocking/content_blocking_service.h"
#include "platform/file_panels.h"

namespace qv {

ContentBlockingSection::ContentBlockingSection(ContentBlockingService& blocking)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8)
    , m_blocking(blocking)
{
    set_name("content-blocking-section");
    auto* heading = Gtk::make_managed<Gtk::Label>("Content Blocking");
    heading->set_xalign(0);
    heading->add_css_class("qv-profiles-section");
    append(*heading);
    append(*secondaryLabel("Filter lists (the common filter syntax) or rule lists in WebKit's "
                           "content blocker format. Rules that cannot be converted exactly are "
                           "skipped."));
    m_rows = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
    append(*m_rows);
    auto* add = titledSymbolButton("Add List\u2026", "list-add-symbolic", "Add a content blocking list");
    add->set_name("add-content-blocker");
    add->set_halign(Gtk::Align::START);
    add->signal_clicked().connect([this] { chooseListFile(); });
    append(*add);
    m_status = secondaryLabel("");
    append(*m_status);
    m_listsChanged = m_blocking.signalListsChanged().connect([this] { rebuild(); });
    rebuild();
}

ContentBlockingSection::~ContentBlockingSection()
{
    *m_alive = false;
    m_listsChanged.disconnect();
}

void ContentBlockingSection::showProfile(const std::optional<ProfileID>& profile)
{
    m_profile = profile;
    m_status->set_text("");
    rebuild();
}

void ContentBlockingSection::rebuild()
{
    m_rebuilding = true;
    while (Gtk::Widget* child = m_rows->get_first_child())
        m_rows->remove(*child);
    m_checks.clear();
    if (m_blocking.lists().empty())
        m_rows->append(*secondaryLabel("No lists added."));
    for (const ContentBlockerListInfo& list : m_blocking.lists()) {
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        auto* check = Gtk::make_managed<Gtk::CheckButton>();
        check->set_tooltip_text("Use in this profile");
        setAccessibleLabel(*check, "Use " + list.name + " in this profile");
        check->set_active(m_profile && m_blocking.listUsedInProfile(*m_profile, list.identifier));
        check->set_sensitive(m_profile.has_value() && m_blocking.listReady(list.identifier));
        std::string identifier = list.identifier;
        check->signal_toggled().connect([this, check, identifier] {
            if (!m_rebuilding && m_profile)
                m_blocking.setListUsedInProfile(*m_profile, identifier, check->get_active());
        });
        row->append(*check);
        auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
        texts->set_hexpand(true);
        auto* name = Gtk::make_managed<Gtk::Label>(list.name);
        name->set_xalign(0);
        name->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        texts->append(*name);
        std::string counts = std::to_string(list.ruleCount) + " rules, "
            + std::to_string(list.skippedCount) + " skipped";
        if (!m_blocking.listReady(list.identifier))
            counts += " \u2014 compiling\u2026";
        texts->append(*secondaryLabel(counts));
        row->append(*texts);
        auto* remove = symbolButton("user-trash-symbolic", "Remove " + list.name, 16);
        remove->add_css_class("flat");
        remove->signal_clicked().connect([this, identifier] { m_blocking.removeList(identifier); });
        row->append(*remove);
        m_rows->append(*row);
        m_checks.emplace_back(identifier, check);
    }
    m_rebuilding = false;
}

void ContentBlockingSection::chooseListFile()
{
    FilePanelSpec panel;
    panel.title = "Add Content Blocking List";
    panel.acceptLabel = "Add";
    auto* window = dynamic_cast<Gtk::Window*>(get_root());
    runFilePanel(window ? window->gobj() : nullptr, panel,
        [this, alive = m_alive](std::optional<std::filesystem::path> chosen) {
            if (*alive && chosen)
                addListFile(*chosen);
        });
}

void ContentBlockingSection::addListFile(const std::filesystem::path& file)
{
    m_status->set_text("Adding " + file.filename().string() + "\u2026");
    m_blocking.addListFromFile(file, [this, alive = m_alive](Result<ContentBlockerListInfo> added) {
        if (!*alive)
            return;
        if (!added) {
            m_status->set_text(added.error());
            return;
        }
        m_status->set_text("Added " + added->name + ": " + std::to_string(added->ruleCount)
            + " rules, " + std::to_string(added->skippedCount) + " skipped.");
        if (m_profile)
            m_blocking.setListUsedInProfile(*m_profile, added->identifier, true);
    });
}

Gtk::CheckButton* ContentBlockingSection::useCheck(const std::string& identifier) const
{
    for (const auto& [id, check] : m_checks) {
        if (id == identifier)
            return check;
    }
    return nullptr;
}

} // namespace qv

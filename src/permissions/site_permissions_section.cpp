// The profiles window's list of remembered site permissions.
#include "permissions/site_permissions_section.h"

#include "app/view_helpers.h"
#include "permissions/permission_service.h"

namespace qv {

SitePermissionsSection::SitePermissionsSection(PermissionService& permissions)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 10)
    , m_permissions(permissions)
{
    set_margin_top(8);
    auto* title = Gtk::make_managed<Gtk::Label>("Site Permissions");
    title->set_xalign(0);
    title->add_css_class("qv-profiles-section");
    append(*title);
    auto* note = Gtk::make_managed<Gtk::Label>(
        "Answers this profile remembers for websites. Revoke one and the site asks again.");
    note->set_xalign(0);
    note->set_wrap(true);
    note->add_css_class("dim-label");
    append(*note);

    m_list.set_selection_mode(Gtk::SelectionMode::NONE);
    m_list.add_css_class("boxed-list");
    append(m_list);
    m_empty.set_text("No remembered answers");
    m_empty.set_xalign(0);
    m_empty.add_css_class("dim-label");
    append(m_empty);

    m_permissions.signalRememberedChanged().connect(sigc::mem_fun(*this, &SitePermissionsSection::reload));
    reload();
}

void SitePermissionsSection::showProfile(const std::optional<std::string>& profileID)
{
    m_profileID = profileID;
    reload();
}

Gtk::Button* SitePermissionsSection::revokeButton(size_t row) const
{
    return row < m_revokeButtons.size() ? m_revokeButtons[row] : nullptr;
}

void SitePermissionsSection::reload()
{
    while (Gtk::Widget* row = m_list.get_first_child())
        m_list.remove(*row);
    m_revokeButtons.clear();
    m_listed = m_profileID ? m_permissions.rememberedPermissions(*m_profileID)
                           : std::vector<RememberedPermission>();
    for (const RememberedPermission& entry : m_listed) {
        auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
        row->set_margin(6);
        auto* origin = Gtk::make_managed<Gtk::Label>(entry.origin);
        origin->set_xalign(0);
        origin->set_hexpand(true);
        origin->set_ellipsize(Pango::EllipsizeMode::MIDDLE);
        origin->set_tooltip_text(entry.origin);
        row->append(*origin);
        auto* kind = Gtk::make_managed<Gtk::Label>(permissionKindTitle(entry.kind));
        kind->set_width_chars(14);
        kind->set_xalign(0);
        row->append(*kind);
        bool allowed = entry.decision == PermissionDecision::Allow;
        auto* decision = Gtk::make_managed<Gtk::Label>(allowed ? "Allowed" : "Denied");
        decision->set_width_chars(8);
        decision->set_xalign(0);
        decision->add_css_class(allowed ? "success" : "error");
        row->append(*decision);
        auto* revoke = Gtk::make_managed<Gtk::Button>("Revoke");
        setAccessibleLabel(*revoke,
            "Revoke " + permissionKindTitle(entry.kind) + " for " + entry.origin);
        std::string profileID = *m_profileID;
        RememberedPermission revoked = entry;
        // Revoking rebuilds the list, this button with it: the work runs after the click.
        revoke->signal_clicked().connect([this, profileID, revoked] {
            Glib::signal_idle().connect_once(sigc::track_obj(
                [this, profileID, revoked] {
                    m_permissions.revokePermission(profileID, revoked.origin, revoked.kind);
                },
                *this));
        });
        row->append(*revoke);
        m_list.append(*row);
        m_revokeButtons.push_back(revoke);
    }
    m_list.set_visible(!m_listed.empty());
    m_empty.set_visible(m_listed.empty());
}

} // namespace qv

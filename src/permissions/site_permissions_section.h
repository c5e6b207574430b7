// The "Site Permissions" section of the profiles window: the selected profile's remembered
// answers, each with a button that takes it back.
#pragma once

#include "permissions/permission_store.h"

#include <gtkmm.h>

#include <optional>
#include <string>
#include <vector>

namespace qv {

class PermissionService;

class SitePermissionsSection : public Gtk::Box {
public:
    explicit SitePermissionsSection(PermissionService& permissions);

    // Lists the profile's answers; nothing listed without a profile.
    void showProfile(const std::optional<std::string>& profileID);

    // For tests: the rows in order and their buttons.
    const std::vector<RememberedPermission>& listedPermissions() const { return m_listed; }
    Gtk::Button* revokeButton(size_t row) const;
    Gtk::ListBox& list() { return m_list; }

private:
    void reload();

    PermissionService& m_permissions;
    std::optional<std::string> m_profileID;
    std::vector<RememberedPermission> m_listed;
    std::vector<Gtk::Button*> m_revokeButtons;
    Gtk::ListBox m_list;
    Gtk::Label m_empty;
};

} // namespace qv

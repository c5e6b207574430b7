// The profiles window's HTTPS-only section: a switch that applies to the selected profile at
// once.
#pragma once

#include "profiles/profile_model.h"

#include <gtkmm.h>

#include <optional>

namespace qv {

class ProfileService;

class HttpsOnlySection : public Gtk::Box {
public:
    explicit HttpsOnlySection(ProfileService& profiles);

    // The profile the switch speaks of, or none (the switch is then insensitive).
    void showProfile(const std::optional<ProfileID>& profileID);
    Gtk::Switch& httpsOnlySwitch() { return m_switch; }

private:
    ProfileService& m_profiles;
    std::optional<ProfileID> m_profileID;
    Gtk::Switch m_switch;
    bool m_filling = false;
};

} // namespace qv

// The profiles window's HTTPS-only section.
#include "navigation/https_only_section.h"

#include "app/view_helpers.h"
#include "profiles/profile_service.h"

namespace qv {

HttpsOnlySection::HttpsOnlySection(ProfileService& profiles)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 8)
    , m_profiles(profiles)
{
    add_css_class("qv-https-only-section");
    set_margin_top(8);
    auto* title = Gtk::make_managed<Gtk::Label>("HTTPS-Only");
    title->set_xalign(0);
    title->add_css_class("qv-profiles-section");
    append(*title);

    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
    auto* label = Gtk::make_managed<Gtk::Label>("Try every http address over https first");
    label->set_xalign(0);
    label->set_hexpand(true);
    row->append(*label);
    m_switch.set_valign(Gtk::Align::CENTER);
    m_switch.set_name("https-only");
    setAccessibleLabel(m_switch, "HTTPS-Only");
    m_switch.property_active().signal_changed().connect([this] {
        if (!m_filling && m_profileID)
            m_profiles.setHttpsOnly(*m_profileID, m_switch.get_active());
    });
    row->append(m_switch);
    append(*row);
    append(*secondaryLabel("When the secure address cannot be loaded, a page offers the http "
                           "site; choosing it lets that host load over http until the browser "
                           "quits."));
    showProfile(std::nullopt);
}

void HttpsOnlySection::showProfile(const std::optional<ProfileID>& profileID)
{
    const BrowserProfile* profile = profileID ? m_profiles.profileForID(*profileID) : nullptr;
    m_profileID = profile ? std::optional<ProfileID>(profile->id) : std::nullopt;
    m_filling = true;
    m_switch.set_active(profile && profile->httpsOnly);
    m_filling = false;
    m_switch.set_sensitive(profile != nullptr);
}

} // namespace qv

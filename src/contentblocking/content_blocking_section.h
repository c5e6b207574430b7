// The "Content Blocking" section of the profiles window: the lists, which ones the selected
// profile uses, and adding a list from a file.
#pragma once

#include "profiles/profile_model.h"

#include <gtkmm.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class ContentBlockingService;

class ContentBlockingSection : public Gtk::Box {
public:
    explicit ContentBlockingSection(ContentBlockingService& blocking);
    ~ContentBlockingSection() override;

    // The profile whose use of the lists the checks show and change.
    void showProfile(const std::optional<ProfileID>& profile);
    // Chooses a file in a panel, then adds it.
    void chooseListFile();
    void addListFile(const std::filesystem::path& file);

    // For tests: the "use in this profile" check of a list, and the status line.
    Gtk::CheckButton* useCheck(const std::string& identifier) const;
    Gtk::Label* statusLabel() const { return m_status; }

private:
    void rebuild();

    ContentBlockingService& m_blocking;
    std::optional<ProfileID> m_profile;
    Gtk::Box* m_rows = nullptr;
    Gtk::Label* m_status = nullptr;
    std::vector<std::pair<std::string, Gtk::CheckButton*>> m_checks;
    bool m_rebuilding = false;
    sigc::connection m_listsChanged;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace qv

// The profiles window: creating, renaming, a custom User-Agent, using and deleting a profile.
#include "support/browser_fixture.h"

#include "platform/storage_locations.h"
#include "profiles/profiles_window.h"

namespace qv::test {

using ProfilesWindowTest = BrowserTest;

TEST_F(ProfilesWindowTest, AProfileIsCreatedRenamedGivenAUserAgentUsedAndDeleted)
{
    m_server->page("/ua.html", "UA");
    controller().showProfiles();
    ProfilesWindow* window = controller().profilesWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->selectedProfileID(), "default");
    EXPECT_EQ(window->profileNameField()->get_text(), "Default");

    window->createProfile();
    ASSERT_EQ(controller().profiles().profiles().size(), 2u);
    ProfileID id = controller().profiles().profiles()[1].id;
    EXPECT_EQ(window->selectedProfileID(), id);
    EXPECT_EQ(window->profileNameField()->get_text(), "New Profile");
    EXPECT_EQ(controller().profiles().currentProfile(), "default"); // not made current

    window->profileNameField()->set_text("  Work \n");
    window->renameProfile();
    EXPECT_EQ(controller().profiles().profileForID(id)->name, "Work");

    // "Other…" empties and enables the field; the typed string is stored on save.
    window->profileUserAgentChoice()->set_selected(4);
    EXPECT_TRUE(window->profileUserAgentField()->get_sensitive());
    EXPECT_EQ(window->profileUserAgentField()->get_text(), "");
    window->profileUserAgentField()->set_text("QuivelTest/1.0");
    window->profileSearchEngineChoice()->set_selected(2);
    window->saveProfileSettings();
    EXPECT_EQ(controller().profiles().profileForID(id)->userAgent, "QuivelTest/1.0");
    EXPECT_EQ(controller().profiles().profileForID(id)->searchEngine, "DuckDuckGo");

    window->selectCurrentProfile();
    EXPECT_EQ(controller().profiles().currentProfile(), id);
    ASSERT_EQ(controller().tabs().browserTabs().size(), 2u);
    EXPECT_EQ(controller().tabs().browserTabs()[1].profileID(), id);
    controller().navigation().loadResolvedAddress(m_server->url("/ua.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/ua.html")));
    EXPECT_EQ(evaluate(selectedView(), "navigator.userAgent"), "\"QuivelTest/1.0\"");
    std::filesystem::path data = profileDataDirectory(*persistentStoreIdentifier(id));
    EXPECT_TRUE(std::filesystem::exists(data));

    // The built-in profile is refused; the other goes with its tabs and data folder.
    window->reloadProfiles(ProfileID("default"));
    window->deleteProfile();
    EXPECT_EQ(window->profileStatusLabel()->get_text(), "The Default profile cannot be deleted.");
    window->reloadProfiles(id);
    m_alertAnswer = 0;
    window->deleteProfile();
    ASSERT_FALSE(m_alerts.empty());
    EXPECT_EQ(m_alerts.back().messageText, "Delete Work?");
    EXPECT_EQ(controller().profiles().profiles().size(), 1u);
    EXPECT_EQ(controller().profiles().currentProfile(), "default");
    for (const auto& tab : controller().tabs().browserTabs())
        EXPECT_NE(tab.profileID(), id);
    EXPECT_EQ(window->selectedProfileID(), "default");
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(data); }));
}

} // namespace qv::test

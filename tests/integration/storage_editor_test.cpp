// The website storage editor: reading a tab's localStorage, saving with the rename conflict,
// and exporting key files and importing them back, "__proto__" included.
#include "support/browser_fixture.h"

#include "platform/file_panels.h"
#include "profiles/profiles_window.h"

namespace qv::test {

namespace fs = std::filesystem;

class StorageEditorTest : public BrowserTest {
protected:
    void TearDown() override
    {
        setFilePanelResponder(nullptr);
        BrowserTest::TearDown();
    }
    // Reads the website again and waits for the answer.
    bool read(ProfilesWindow& window, const std::string& origin)
    {
        unsigned before = window.storageReadsFinished();
        if (!window.chooseStorageWebsite(origin))
            return false;
        return waitUntil([&] { return window.storageReadsFinished() > before; });
    }
    std::vector<std::string> keys(ProfilesWindow& window)
    {
        std::vector<std::string> result;
        for (const auto& entry : window.profileStorageEntries())
            result.push_back(entry.key);
        return result;
    }
};

TEST_F(StorageEditorTest, StorageIsEditedExportedAndImportedBack)
{
    m_server->page("/store.html", "Store");
    controller().navigation().loadResolvedAddress(m_server->url("/store.html"));
    ASSERT_TRUE(waitForLoad(selectedView(), m_server->url("/store.html")));
    evaluate(selectedView(),
        "localStorage.setItem('__proto__', 'p'); localStorage.setItem('b', "
        "'two'); localStorage.setItem('a/ b', 'one'); true");
    std::string origin = m_server->url("/");
    origin.pop_back();

    controller().showProfiles();
    ProfilesWindow& window = *controller().profilesWindow();
    ASSERT_TRUE(read(window, origin));
    EXPECT_EQ(keys(window), (std::vector<std::string> { "__proto__", "a/ b", "b" }));

    // A new key is saved and verified; renaming it onto "b" is refused.
    window.newProfileStorageKey();
    window.profileStorageKeyField()->set_text("c");
    window.profileStorageValueEditor()->get_buffer()->set_text("three");
    unsigned before = window.storageReadsFinished();
    window.saveSelectedProfileStorage();
    ASSERT_TRUE(waitUntil([&] { return window.storageReadsFinished() > before; }));
    EXPECT_EQ(evaluate(selectedView(), "localStorage.getItem('c')"), "\"three\"");
    EXPECT_EQ(window.profileStorageEditingKey(), "c");
    window.profileStorageKeyField()->set_text("b");
    window.saveSelectedProfileStorage();
    ASSERT_TRUE(waitUntil([&] {
        return window.profileStorageStatus()->get_text().find("already exists")
            != Glib::ustring::npos;
    }));
    EXPECT_EQ(evaluate(selectedView(), "localStorage.getItem('b')"), "\"two\"");

    // Export every key into a chosen folder.
    fs::path chosen = testHome() / "exported";
    fs::create_directories(chosen);
    setFilePanelResponder(
        [&](const FilePanelSpec&) { return std::optional<std::optional<fs::path>>(chosen); });
    window.selectStorageRows({ 0, 1, 2, 3 });
    EXPECT_TRUE(window.profileStorageExportButton()->get_sensitive());
    window.exportSelectedProfileStorage();
    ASSERT_TRUE(waitUntil([&] {
        return window.profileStorageStatus()->get_text().find("Exported 4") != Glib::ustring::npos;
    }));

    // Delete them all, then import the exported folder back.
    m_alertAnswer = 0;
    before = window.storageReadsFinished();
    window.deleteSelectedProfileStorage();
    ASSERT_TRUE(waitUntil([&] { return window.storageReadsFinished() > before; }));
    EXPECT_TRUE(window.profileStorageEntries().empty());
    before = window.storageReadsFinished();
    window.importProfileStorageURLs({ chosen });
    ASSERT_TRUE(waitUntil([&] { return window.storageReadsFinished() > before; }));
    EXPECT_EQ(keys(window), (std::vector<std::string> { "__proto__", "a/ b", "b", "c" }));
    EXPECT_EQ(evaluate(selectedView(), "localStorage.getItem('__proto__')"), "\"p\"");
    EXPECT_EQ(evaluate(selectedView(), "localStorage.getItem('a/ b')"), "\"one\"");
}

} // namespace qv::test

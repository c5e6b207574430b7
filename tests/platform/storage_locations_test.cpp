// Storage locations follow the XDG variables and the working-directory rule.
#include "platform/log.h"
#include "platform/storage_locations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

class StorageLocationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quivel-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        fs::create_directories(m_root / "work");
        m_oldCwd = fs::current_path();
        fs::current_path(m_root / "work");
        setenv("HOME", (m_root / "home").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
    }
    void TearDown() override
    {
        fs::current_path(m_oldCwd);
        fs::remove_all(m_root);
    }
    fs::path m_root, m_oldCwd;
};

TEST_F(StorageLocationsTest, DataAndDefaultsFollowXdgVariables)
{
    EXPECT_EQ(dataDirectory(), m_root / "data" / "QuivelBrowser");
    EXPECT_EQ(defaultsFileURL(), m_root / "config" / "QuivelBrowser" / "defaults.json");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(dataDirectory(), m_root / "home" / ".local/share" / "QuivelBrowser");
    setenv("XDG_DATA_HOME", "relative/path", 1); // not absolute: ignored
    EXPECT_EQ(dataDirectory(), m_root / "home" / ".local/share" / "QuivelBrowser");
}

TEST_F(StorageLocationsTest, HistoryInDataDirectoryCreatesItOnlyThen)
{
    EXPECT_EQ(historyURL(), m_root / "data" / "QuivelBrowser" / "history.json");
    EXPECT_TRUE(fs::is_directory(m_root / "data" / "QuivelBrowser"));

    fs::remove_all(m_root / "data");
    std::ofstream(m_root / "work" / "CMakeLists.txt") << "";
    EXPECT_EQ(historyURL(), fs::current_path() / "history.json");
    EXPECT_FALSE(fs::exists(m_root / "data" / "QuivelBrowser"));
}

TEST_F(StorageLocationsTest, ExtensionStoreIsAlwaysInTheDataDirectory)
{
    std::ofstream(m_root / "work" / "CMakeLists.txt") << "";
    EXPECT_EQ(extensionStoreURL(), m_root / "data" / "QuivelBrowser" / "Extensions");
    EXPECT_TRUE(fs::is_directory(m_root / "data" / "QuivelBrowser" / "Extensions"));
    // A file in the way: the address is still returned.
    fs::remove_all(m_root / "data");
    std::ofstream(m_root / "data") << "";
    EXPECT_EQ(extensionStoreURL(), m_root / "data" / "QuivelBrowser" / "Extensions");
}

TEST_F(StorageLocationsTest, ResourcesAreFoundInBuildAndInstalledLayouts)
{
    auto makeResources = [](const fs::path& dir) {
        fs::create_directories(dir);
        std::ofstream(dir / "qv.js") << "";
    };
    // A build tree: next to the executable, or above a test binary's folder.
    makeResources(m_root / "build" / "resources");
    EXPECT_EQ(resourcesDirectoryForExecutable(m_root / "build" / "quivel-browser"),
        m_root / "build" / "resources");
    EXPECT_EQ(resourcesDirectoryForExecutable(m_root / "build" / "tests" / "integration_tests"),
        m_root / "build" / "resources");
    // An installed prefix: bin/ beside share/quivel-browser/resources.
    makeResources(m_root / "prefix" / "share" / "quivel-browser" / "resources");
    EXPECT_EQ(resourcesDirectoryForExecutable(m_root / "prefix" / "bin" / "quivel-browser"),
        m_root / "prefix" / "share" / "quivel-browser" / "resources");
    // A folder without the bridge script does not count.
    fs::create_directories(m_root / "other" / "bin");
    fs::create_directories(m_root / "other" / "share" / "quivel-browser" / "resources");
    EXPECT_EQ(
        resourcesDirectoryForExecutable(m_root / "other" / "bin" / "quivel-browser"), std::nullopt);
}

TEST_F(StorageLocationsTest, RuntimeFolderIsMadePrivateAndNeverTakenThroughALink)
{
    std::string stable = "quivel-runtime-" + std::to_string(geteuid());
    fs::create_directories(m_root / "elsewhere");
    fs::create_directory_symlink(m_root / "elsewhere", m_root / stable);

    unsetenv("XDG_RUNTIME_DIR");
    ensureUserRuntimeDirectory(m_root);
    fs::path chosen = getenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(chosen.parent_path(), m_root);
    EXPECT_NE(chosen, m_root / stable);
    EXPECT_FALSE(fs::is_symlink(chosen));
    EXPECT_EQ(fs::status(chosen).permissions() & fs::perms::all, fs::perms::owner_all);

    fs::remove(m_root / stable);
    setenv("XDG_RUNTIME_DIR", (m_root / "missing").c_str(), 1);
    ensureUserRuntimeDirectory(m_root);
    EXPECT_EQ(fs::path(getenv("XDG_RUNTIME_DIR")), m_root / stable);

    // A usable folder that is set stays as it is.
    ensureUserRuntimeDirectory(m_root / "elsewhere");
    EXPECT_EQ(fs::path(getenv("XDG_RUNTIME_DIR")), m_root / stable);
}

TEST(Log, ObserverSeesTheExactMessage)
{
    std::string seen;
    setLogObserver([&](std::string_view m) { seen = m; });
    logLine("Duplicate Quivel Extension ID ignored: x");
    setLogObserver(nullptr);
    EXPECT_EQ(seen, "Duplicate Quivel Extension ID ignored: x");
}

} // namespace qv

// The installers' names, limits, generated manifests and folder replacement.
#include "extensions/extension_installation_rules.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv {

namespace fs = std::filesystem;
using test::TempDir;

namespace {

void writeFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(ExtensionInstallation, ArchiveNameGivesIDAndName)
{
    std::string base = archiveBaseName("/tmp/ Weather Tools .zip");
    EXPECT_EQ(base, "Weather Tools");
    EXPECT_EQ(archiveExtensionID(base), "weather-tools");
    EXPECT_EQ(archiveExtensionName(base), "Weather Tools");

    EXPECT_EQ(archiveExtensionID(archiveBaseName("/tmp/ .zip")), "extension");
    EXPECT_EQ(archiveExtensionName(archiveBaseName("/tmp/ .zip")), "Extension");
    EXPECT_EQ(archiveExtensionID("__My..Tool!!__"), "my..tool");
    // Nothing survives: the caller takes a new UUID.
    EXPECT_EQ(archiveExtensionID("\u2603\u2603"), "");
}

TEST(ExtensionInstallation, ArchiveMustBeZipOfAtMost100MiB)
{
    EXPECT_TRUE(isAcceptableExtensionArchive("a.zip", 0));
    EXPECT_TRUE(isAcceptableExtensionArchive("a.ZIP", 104857600));
    EXPECT_FALSE(isAcceptableExtensionArchive("a.zip", 104857601));
    EXPECT_FALSE(isAcceptableExtensionArchive("a.tar", 10));
    EXPECT_FALSE(isAcceptableExtensionArchive("zip", 10));

    std::vector<fs::path> dropped { "a.zip", "b.txt", "folder", "C.Zip", "zip" };
    EXPECT_EQ(zipArchivesAmong(dropped), (std::vector<fs::path> { "a.zip", "C.Zip" }));
}

TEST(ExtensionInstallation, GeneratedManifestsGrantTheirSets)
{
    Json archive = archiveExtensionManifest("tools", "Tools", "web/index.html");
    EXPECT_EQ(archive["id"], "tools");
    EXPECT_EQ(archive["name"], "Tools");
    EXPECT_EQ(archive["entry"], "web/index.html");
    EXPECT_EQ(archive["permissions"],
        Json({ "tabs", "page", "scripting", "browser", "spoofing", "storage", "network",
            "downloads", "events", "ui" }));
    EXPECT_FALSE(archive.contains("type"));

    Json site = websiteExtensionManifest("url-1", "https://news.test:8443/today?x=1");
    EXPECT_EQ(site["name"], "news.test");
    EXPECT_EQ(site["type"], "url");
    EXPECT_EQ(site["url"], "https://news.test:8443/today?x=1");
    EXPECT_EQ(site["permissions"].size(), 12u);
    EXPECT_EQ(std::count(site["permissions"].begin(), site["permissions"].end(), "ui"), 0);
    EXPECT_EQ(std::count(site["permissions"].begin(), site["permissions"].end(), "source"), 1);

    // Both manifests pass the loader's own rules.
    auto archivePlan = planManifest(archive, "tools");
    ASSERT_TRUE(archivePlan) << archivePlan.error();
    EXPECT_EQ(archivePlan->permissions.size(), 10u);
    auto sitePlan = planManifest(site, "url-1");
    ASSERT_TRUE(sitePlan) << sitePlan.error();
    EXPECT_TRUE(sitePlan->website);
}

TEST(ExtensionInstallation, WebsiteAddressMustBeHttpWithHost)
{
    auto typed = websiteExtensionAddress("  http://127.0.0.1:8080/app \n");
    ASSERT_TRUE(typed);
    EXPECT_EQ(*typed, "http://127.0.0.1:8080/app");
    // Without a scheme the address normaliser supplies https.
    auto bare = websiteExtensionAddress("example.com");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->rfind("https://", 0), 0u);

    for (const char* bad : { "", "   ", "ftp://files.test/", "javascript:alert(1)",
             "file:///etc/passwd", "http://" }) {
        auto refused = websiteExtensionAddress(bad);
        ASSERT_FALSE(refused) << bad;
        EXPECT_EQ(refused.error(), "Enter a valid website address using HTTP or HTTPS.");
    }
}

TEST(ExtensionInstallation, IndexSearchTakesFirstVisibleAndStopsAtLinks)
{
    TempDir dir;
    writeFile(dir / "b/INDEX.HTML", "b");
    writeFile(dir / "a/deep/index.html", "a");
    writeFile(dir / ".hidden/index.html", "hidden");
    auto found = findArchiveIndex(dir.path());
    ASSERT_TRUE(found);
    EXPECT_EQ(*archiveEntryPath(dir.path(), *found), "a/deep/index.html");

    // A symbolic link anywhere in the walk means the archive is not taken.
    fs::create_symlink("/etc", dir / "c-link");
    EXPECT_FALSE(findArchiveIndex(dir.path()));

    TempDir none;
    writeFile(none / "page.html", "x");
    EXPECT_FALSE(findArchiveIndex(none.path()));

    // The entry must lie strictly inside the folder.
    EXPECT_FALSE(archiveEntryPath(dir / "a", dir / "b/INDEX.HTML"));
    EXPECT_FALSE(archiveEntryPath(dir.path(), dir.path()));
    EXPECT_EQ(*archiveEntryPath(dir / "a/../a", dir / "a/./deep/index.html"), "deep/index.html");
}

TEST(ExtensionInstallation, IndexSearchRefusesTooManyFiles)
{
    TempDir dir;
    writeFile(dir / "index.html", "i");
    for (int i = 0; i < 5000; ++i)
        std::ofstream(dir / ("f" + std::to_string(i)));
    EXPECT_FALSE(findArchiveIndex(dir.path())); // 5001 files
    fs::remove(dir / "f0");
    EXPECT_TRUE(findArchiveIndex(dir.path()));
}

TEST(ExtensionInstallation, InstallFolderIsTheInstalledOneOrAFreeName)
{
    struct Case {
        const char* what;
        std::optional<std::string> installed;
        std::set<std::string> items;
        std::string folder;
    };
    const std::vector<Case> cases {
        { "empty store", std::nullopt, {}, "my-tool" },
        { "update under another name", "My Tool", { "My Tool", "other" }, "My Tool" },
        { "update in its own folder", "my-tool", { "my-tool" }, "my-tool" },
        { "installed folder gone from disk", "My Tool", {}, "My Tool" },
        { "ID folder of another extension", std::nullopt, { "my-tool" }, "my-tool-2" },
        { "update wins over an ID folder of another", "My Tool", { "My Tool", "my-tool" },
            "My Tool" },
        { "suffixes taken too", std::nullopt, { "my-tool", "my-tool-2", "my-tool-3" },
            "my-tool-4" },
        { "hidden backups do not", std::nullopt, { ".my-tool.update-1" }, "my-tool" },
        { "no folder name in the record", "", { "my-tool" }, "my-tool-2" },
        { "a record folder that is no name", "..", { "my-tool" }, "my-tool-2" },
        { "a record folder that is a path", "a/b", {}, "my-tool" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(extensionInstallFolderName("my-tool", c.installed, c.items), c.folder) << c.what;
}

TEST(ExtensionInstallation, ReplacingAFolderKeepsABackupUntilTheCopyWorked)
{
    TempDir dir;
    writeFile(dir / "new/index.html", "new");
    writeFile(dir / "store/tools/index.html", "old");
    const fs::path destination = dir / "store/tools";
    const fs::path backup = dir / "store" / extensionUpdateBackupName("tools", "U1");
    EXPECT_EQ(backup.filename(), ".tools.update-U1");

    // A copy that fails half way: what reached the destination goes, the old version returns.
    auto failing = [](const fs::path& from, const fs::path& to) {
        fs::create_directories(to);
        std::ofstream(to / "partial") << "x";
        (void)from;
        return std::make_error_code(std::errc::no_space_on_device);
    };
    auto failed = replaceExtensionFolder(dir / "new", destination, backup, failing);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().rfind("Could not install Extension: ", 0), 0u);
    EXPECT_EQ(readFile(destination / "index.html"), "old");
    EXPECT_FALSE(fs::exists(destination / "partial"));
    EXPECT_FALSE(fs::exists(backup));

    auto replaced = replaceExtensionFolder(dir / "new", destination, backup);
    ASSERT_TRUE(replaced) << replaced.error();
    EXPECT_EQ(readFile(destination / "index.html"), "new");
    EXPECT_FALSE(fs::exists(backup));

    // A fresh install has nothing to back up.
    auto fresh = replaceExtensionFolder(dir / "new", dir / "store/other", dir / "store/.b");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fs::exists(dir / "store/other/index.html"));
}

} // namespace qv

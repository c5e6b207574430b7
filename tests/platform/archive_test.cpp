// ZIP unpacking refuses escaping entries and links and stops at the limits; packing keeps the
// folder as the one top-level item.
#include "platform/archive.h"

#include "extensions/extension_installation_rules.h"

#include "../core/temp_dir.h"
#include "zip_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace qv {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeZip;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> listTree(const fs::path& root)
{
    std::set<std::string> items;
    for (auto& item : fs::recursive_directory_iterator(root))
        items.insert(item.path().lexically_relative(root).generic_string());
    return items;
}

} // namespace

TEST(ZipArchive, ExtractsFilesAndFolders)
{
    TempDir dir;
    writeZip(dir / "a.zip",
        { { "site/", "", AE_IFDIR }, { "site/index.html", "<p>hi</p>" },
            { "site/js/app.js", std::string(200000, 'x') }, { "./top.txt", "t" } });
    fs::create_directories(dir / "out");
    auto result = extractZipArchive(dir / "a.zip", dir / "out");
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(*result, ZipExtractOutcome::Extracted);
    EXPECT_EQ(readFile(dir / "out/site/index.html"), "<p>hi</p>");
    EXPECT_EQ(fs::file_size(dir / "out/site/js/app.js"), 200000u);
    EXPECT_EQ(readFile(dir / "out/top.txt"), "t");
}

TEST(ZipArchive, RefusesEntriesOutsideTheFolder)
{
    for (const char* name : { "../evil.txt", "a/../../evil.txt", "/tmp/evil.txt" }) {
        TempDir dir;
        writeZip(dir / "a.zip", { { "ok.txt", "ok" }, { name, "evil" } });
        fs::create_directories(dir / "out");
        auto result = extractZipArchive(dir / "a.zip", dir / "out");
        ASSERT_FALSE(result) << name;
        EXPECT_NE(result.error().find("outside"), std::string::npos) << result.error();
        EXPECT_FALSE(fs::exists(dir / "evil.txt")) << name;
    }
}

TEST(ZipArchive, LinksAreNeverWritten)
{
    TempDir dir;
    writeZip(dir / "a.zip",
        { { "index.html", "i" }, { "passwd", "", AE_IFLNK, "/etc/passwd" },
            { "after.txt", "a" } });
    fs::create_directories(dir / "out");
    auto result = extractZipArchive(dir / "a.zip", dir / "out");
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(*result, ZipExtractOutcome::HoldsLink);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out/passwd")));
}

TEST(ZipArchive, StopsAtTheLimitsWhileWriting)
{
    TempDir dir;
    writeZip(dir / "many.zip", { { "1", "a" }, { "2", "b" }, { "3", "c" } });
    fs::create_directories(dir / "out1");
    auto files = extractZipArchive(dir / "many.zip", dir / "out1", { 2, UINT64_MAX });
    ASSERT_TRUE(files);
    EXPECT_EQ(*files, ZipExtractOutcome::OverLimits);
    EXPECT_FALSE(fs::exists(dir / "out1/3"));

    // A small archive that expands far beyond its size stops at the byte limit.
    writeZip(dir / "bomb.zip", { { "big", std::string(5 * 1024 * 1024, '\0') } });
    EXPECT_LT(fs::file_size(dir / "bomb.zip"), 100000u);
    fs::create_directories(dir / "out2");
    auto bytes = extractZipArchive(dir / "bomb.zip", dir / "out2", { 10, 1024 * 1024 });
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, ZipExtractOutcome::OverLimits);
    EXPECT_LE(fs::file_size(dir / "out2/big"), 1024u * 1024u);

    auto exact = extractZipArchive(dir / "many.zip", dir / "out1", { 3, 3 });
    ASSERT_TRUE(exact);
    EXPECT_EQ(*exact, ZipExtractOutcome::Extracted);
}

TEST(ZipArchive, FoldersCountTowardsTheEntryLimit)
{
    const ZipExtractLimits limits { kMaxExtensionArchiveFiles, kMaxExtensionArchiveUnpackedBytes };
    auto createdItems = [](const fs::path& root) {
        std::uint64_t count = 0;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it)
            ++count;
        return count;
    };

    TempDir dir;
    std::vector<test::ZipEntry> folders;
    for (int i = 0; i < 20000; ++i)
        folders.emplace_back("empty" + std::to_string(i) + "/", "", AE_IFDIR);
    folders.emplace_back("index.html", "<p>hi</p>");
    ASSERT_TRUE(writeZip(dir / "folders.zip", folders));
    fs::create_directories(dir / "out1");
    auto explicitFolders = extractZipArchive(dir / "folders.zip", dir / "out1", limits);
    ASSERT_TRUE(explicitFolders) << explicitFolders.error();
    EXPECT_EQ(*explicitFolders, ZipExtractOutcome::OverLimits);
    EXPECT_LE(createdItems(dir / "out1"), kMaxExtensionArchiveFiles);
    EXPECT_FALSE(fs::exists(dir / "out1/index.html"));

    // Folders named only by the paths of files inside them count as well.
    std::vector<test::ZipEntry> nested;
    for (int i = 0; i < 3000; ++i)
        nested.emplace_back("d" + std::to_string(i) + "/f", "x");
    ASSERT_TRUE(writeZip(dir / "nested.zip", nested));
    fs::create_directories(dir / "out2");
    auto impliedFolders = extractZipArchive(dir / "nested.zip", dir / "out2", limits);
    ASSERT_TRUE(impliedFolders) << impliedFolders.error();
    EXPECT_EQ(*impliedFolders, ZipExtractOutcome::OverLimits);
    EXPECT_LE(createdItems(dir / "out2"), kMaxExtensionArchiveFiles);
}

TEST(ZipArchive, GarbageIsInvalid)
{
    TempDir dir;
    std::ofstream(dir / "bad.zip") << "this is not a zip archive at all";
    fs::create_directories(dir / "out");
    auto result = extractZipArchive(dir / "bad.zip", dir / "out");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "archive is invalid");
    EXPECT_FALSE(extractZipArchive(dir / "missing.zip", dir / "out"));
}

TEST(ZipArchive, PacksTheFolderUnderItsOwnName)
{
    TempDir dir;
    fs::create_directories(dir / "tools/css");
    std::ofstream(dir / "tools/index.html") << "<h1>Tools</h1>";
    std::ofstream(dir / "tools/css/site.css") << "body{}";
    fs::create_symlink("/etc/passwd", dir / "tools/link");

    auto written = writeZipArchiveOfFolder(dir / "tools", dir / "out.zip");
    ASSERT_TRUE(written) << written.error();
    EXPECT_FALSE(fs::exists(dir / "out.zip.partial"));

    fs::create_directories(dir / "back");
    auto unpacked = extractZipArchive(dir / "out.zip", dir / "back");
    ASSERT_TRUE(unpacked) << unpacked.error();
    EXPECT_EQ(*unpacked, ZipExtractOutcome::Extracted);
    EXPECT_EQ(listTree(dir / "back"),
        (std::set<std::string> { "tools", "tools/css", "tools/css/site.css", "tools/index.html" }));
    EXPECT_EQ(readFile(dir / "back/tools/index.html"), "<h1>Tools</h1>");

    EXPECT_FALSE(writeZipArchiveOfFolder(dir / "missing", dir / "x.zip"));
    EXPECT_FALSE(writeZipArchiveOfFolder(dir / "tools", dir / "no/such/folder/x.zip"));
    EXPECT_FALSE(fs::exists(dir / "x.zip"));
}

} // namespace qv

// Download file names, reservations while downloads run, and replacing a saved file.
#include "base/atomic_file.h"
#include "downloads/download_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <vector>

namespace qv {

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path) { return readWholeFile(path).contents; }

void writeText(const fs::path& path, const std::string& text)
{
    ASSERT_TRUE(writeFileAtomically(path, text).ok());
}

} // namespace

struct UniqueNameCase {
    const char* suggested;
    std::vector<const char*> present; // already in the folder
    const char* expected;
};

class DownloadUniqueName : public ::testing::TestWithParam<UniqueNameCase> { };

TEST_P(DownloadUniqueName, IsTheFirstFreeCandidateInsideTheFolder)
{
    test::TempDir dir;
    fs::path folder = dir / "Downloads";
    fs::create_directory(folder);
    for (const char* name : GetParam().present)
        writeText(folder / name, "old");
    DownloadNameReservations reservations;
    auto file = createUniqueDownloadFile(folder, GetParam().suggested, reservations);
    ASSERT_TRUE(file.ok()) << file.error();
    EXPECT_EQ(file.value().path(), folder / GetParam().expected);
    EXPECT_EQ(file.value().path().parent_path(), folder);
    EXPECT_EQ(fs::file_size(file.value().path()), 0u);
    for (const char* name : GetParam().present)
        EXPECT_EQ(readText(folder / name), "old");
}

INSTANTIATE_TEST_SUITE_P(Names, DownloadUniqueName,
    ::testing::Values(UniqueNameCase { "a.txt", {}, "a.txt" },
        UniqueNameCase { "a.txt", { "a.txt" }, "a (1).txt" },
        UniqueNameCase { "a.txt", { "a.txt", "a (1).txt" }, "a (2).txt" },
        UniqueNameCase { "README", { "README" }, "README (1)" },
        UniqueNameCase { "archive.tar.gz", { "archive.tar.gz" }, "archive.tar (1).gz" },
        UniqueNameCase { "../../x", {}, "x" }, UniqueNameCase { "dir/sub/", {}, "sub" },
        UniqueNameCase { "", {}, "download" }, UniqueNameCase { ".", {}, "download" },
        UniqueNameCase { "..", {}, "download" }, UniqueNameCase { "/", {}, "download" },
        UniqueNameCase { ".profile", { ".profile" }, ".profile (1)" },
        UniqueNameCase { "notes.", { "notes." }, "notes. (1)" }));

TEST(DownloadUniqueName, AFolderOrDanglingLinkTakesTheName)
{
    test::TempDir dir;
    fs::create_directory(dir / "a.txt");
    fs::create_symlink(dir / "nowhere", dir / "a (1).txt");
    DownloadNameReservations reservations;
    auto file = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file.value().path().filename(), "a (2).txt");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST(DownloadUniqueName, AVeryLongNameIsShortenedKeepingItsExtension)
{
    test::TempDir dir;
    DownloadNameReservations reservations;
    std::string suggested(400, 'n');
    suggested += ".pdf";
    auto file = createUniqueDownloadFile(dir.path(), suggested, reservations);
    ASSERT_TRUE(file.ok()) << file.error();
    std::string name = file.value().path().filename().string();
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 4), ".pdf");
}

TEST(DownloadNameReservations, DownloadsStartedTogetherNeverShareAFile)
{
    test::TempDir dir;
    DownloadNameReservations reservations;
    auto first = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
    // The first download's file is removed before it writes: the name is still its own.
    fs::remove(first.value().path());
    auto second = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first.value().path().filename(), "a.txt");
    EXPECT_EQ(second.value().path().filename(), "a (1).txt");
    EXPECT_EQ(reservations.count(), 2u);
}

TEST(DownloadNameReservations, ANameIsFreeAgainOnceItsDownloadLetsGo)
{
    test::TempDir dir;
    DownloadNameReservations reservations;
    fs::path path;
    {
        auto file = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
        path = file.value().path();
        EXPECT_TRUE(reservations.isReserved(path));
        std::optional<ReservedDownloadFile> moved(std::move(file.value()));
        EXPECT_TRUE(reservations.isReserved(path));
        moved->removeIfUnused();
    }
    EXPECT_FALSE(reservations.isReserved(path));
    EXPECT_FALSE(fs::exists(path));
    auto again = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
    EXPECT_EQ(again.value().path(), path);
}

TEST(DownloadNameReservations, RemoveIfUnusedLeavesAWrittenFile)
{
    test::TempDir dir;
    DownloadNameReservations reservations;
    auto file = createUniqueDownloadFile(dir.path(), "a.txt", reservations);
    writeText(file.value().path(), "downloaded");
    file.value().removeIfUnused();
    EXPECT_EQ(readText(dir / "a.txt"), "downloaded");
}

TEST(FileReplacement, ReplacesTheOldFileOnlyWhenCommitted)
{
    test::TempDir dir;
    auto destination = dir / "saved.bin";
    writeText(destination, "old");
    {
        auto replacement = FileReplacement::begin(destination);
        ASSERT_TRUE(replacement.ok());
        ASSERT_TRUE(replacement.value().append("new ").ok());
        EXPECT_EQ(readText(destination), "old");
        EXPECT_EQ(replacement.value().temporaryPath().parent_path(), dir.path());
        ASSERT_TRUE(replacement.value().append("body").ok());
        auto size = replacement.value().commit();
        ASSERT_TRUE(size.ok());
        EXPECT_EQ(size.value(), 8u);
    }
    EXPECT_EQ(readText(destination), "new body");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(FileReplacement, AnAbandonedReplacementLeavesTheOldFileAndNoTemporary)
{
    test::TempDir dir;
    auto destination = dir / "saved.bin";
    writeText(destination, "old");
    {
        auto replacement = FileReplacement::begin(destination);
        ASSERT_TRUE(replacement.value().append("partial").ok());
    }
    EXPECT_EQ(readText(destination), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(FileReplacement, ADestinationThatCannotBeReplacedStaysIntact)
{
    test::TempDir dir;
    // Empty and non-empty folders: rename(2) would replace the empty one.
    fs::create_directory(dir / "empty");
    fs::create_directory(dir / "full");
    writeText(dir / "full" / "keep.txt", "keep");
    writeText(dir / "source", "body");
    for (const char* name : { "empty", "full" }) {
        auto saved = replaceFileWithCopy(dir / "source", dir / name);
        EXPECT_FALSE(saved.ok()) << name;
        EXPECT_TRUE(fs::is_directory(dir / name));
    }
    EXPECT_EQ(readText(dir / "full" / "keep.txt"), "keep");
    EXPECT_FALSE(replaceFileWithCopy(dir / "source", dir / "missing" / "x").ok());

    writeText(dir / "old.txt", "old");
    auto unreadableSource = replaceFileWithCopy(dir / "no-such-source", dir / "old.txt");
    EXPECT_FALSE(unreadableSource.ok());
    EXPECT_EQ(readText(dir / "old.txt"), "old");
    // Only the files made above: no temporary file is left.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}

TEST(FileReplacement, ALinkAtTheDestinationIsReplacedWithoutTouchingItsTarget)
{
    test::TempDir dir;
    writeText(dir / "target.txt", "target");
    fs::create_symlink(dir / "target.txt", dir / "link.txt");
    writeText(dir / "source", "body");
    ASSERT_TRUE(replaceFileWithCopy(dir / "source", dir / "link.txt").ok());
    EXPECT_FALSE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(readText(dir / "link.txt"), "body");
    EXPECT_EQ(readText(dir / "target.txt"), "target");
}

TEST(FileReplacement, AReplacedProgramsRunBitIsNotKept)
{
    test::TempDir dir;
    writeText(dir / "source", "#!/bin/sh\necho replaced\n");
    for (mode_t old : { 0755, 04755, 0777, 0700, 0600 }) {
        auto destination = dir / "tool";
        writeText(destination, "old");
        ASSERT_EQ(chmod(destination.c_str(), old), 0);
        struct stat before;
        ASSERT_EQ(stat(destination.c_str(), &before), 0);
        ASSERT_TRUE(replaceFileWithCopy(dir / "source", destination).ok());
        struct stat after;
        ASSERT_EQ(stat(destination.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, 0644u) << std::oct << old;
        // A new file took the name; the old one was not rewritten in place.
        EXPECT_NE(after.st_ino, before.st_ino);
    }
}

} // namespace qv

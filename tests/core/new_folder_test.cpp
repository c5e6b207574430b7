// A new folder held open: a name of its own, and nothing written through links or over others.
#include "base/new_folder.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qv {

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(NewFolder, TakesAFreeNameAndNeverAnExistingItem)
{
    test::TempDir dir;
    test::TempDir outside;
    fs::create_directory(dir / "site");
    std::ofstream(dir / "site-2") << "a file";
    fs::create_directory_symlink(outside.path(), dir / "site-3");
    Result<NewFolder> made = NewFolder::createInside(dir.path(), "site");
    ASSERT_TRUE(made) << made.error();
    EXPECT_EQ(made->path(), dir / "site-4");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir / "site-4")));
    EXPECT_TRUE(fs::is_empty(dir / "site"));
    EXPECT_TRUE(fs::is_empty(outside.path()));

    for (const char* bad : { "", ".", "..", "a/b" })
        EXPECT_FALSE(NewFolder::createInside(dir.path(), bad)) << bad;
    EXPECT_FALSE(NewFolder::createInside(dir / "missing", "site"));
}

TEST(NewFolder, WritesNothingThroughALinkOrOverAFileItDidNotMake)
{
    test::TempDir dir;
    test::TempDir outside;
    std::ofstream(outside / "target") << "outside";
    Result<NewFolder> made = NewFolder::createInside(dir.path(), "copy");
    ASSERT_TRUE(made);
    NewFolder& folder = made.value();
    const fs::path copy = folder.path();
    // Items that appear inside after the folder was made, as another process could place them.
    fs::create_directory_symlink(outside.path(), copy / "out");
    fs::create_symlink(outside / "target", copy / "file-link");
    fs::create_symlink(outside / "new", copy / "dangling");
    std::ofstream(copy / "theirs") << "theirs";
    fs::create_directory(copy / "folder");

    EXPECT_FALSE(folder.writeFile({ "out", "x" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "file-link" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "dangling" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "theirs" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "folder" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "..", "escape" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({ "a/b" }, "pwned"));
    EXPECT_FALSE(folder.writeFile({}, "pwned"));
    EXPECT_EQ(readFile(outside / "target"), "outside");
    EXPECT_FALSE(fs::exists(outside / "new"));
    EXPECT_FALSE(fs::exists(outside / "x"));
    EXPECT_FALSE(fs::exists(dir / "escape"));
    EXPECT_EQ(readFile(copy / "theirs"), "theirs");

    // Its own files it may write again.
    ASSERT_TRUE(folder.writeFile({ "folder", "deep", "a.css" }, "first version"));
    ASSERT_TRUE(folder.writeFile({ "folder", "deep", "a.css" }, "second"));
    EXPECT_EQ(readFile(copy / "folder" / "deep" / "a.css"), "second");
}

} // namespace qv

// Atomic whole-file writes: temporaries left by a killed writer are removed, live ones kept.
#include "base/atomic_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;
using test::TempDir;

TEST(AtomicFile, TemporaryNamesBelongToOneFile)
{
    struct Case {
        const char* item;
        bool temporary;
    };
    const std::vector<Case> cases {
        { ".tab.json.aB3xYz.tmp", true },
        { ".tab.json.aB3xY.tmp", false }, // five random characters
        { ".tab.json.aB3xYzz.tmp", false },
        { ".tab.json.aB-xYz.tmp", false },
        { ".tab.json.backup", false },
        { ".tab.json.aB3xYz", false }, // no suffix
        { "tab.json.aB3xYz.tmp", false }, // not hidden
        { ".history.json.aB3xYz.tmp", false }, // another file's
        { ".tab.jsonXaB3xYz.tmp", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(isAtomicWriteTemporaryName(c.item, "tab.json"), c.temporary) << c.item;
}

TEST(AtomicFile, FirstWriteRemovesUnheldTemporariesOfThatFileOnly)
{
    TempDir dir;
    auto make = [&](const std::string& name) { std::ofstream(dir / name) << "partial"; };
    make(".tab.json.AAAAAA.tmp"); // left by a killed writer
    make(".tab.json.BBBBBB.tmp"); // a writer still at work, holding its lock
    make(".tab.json.backup");
    make(".other.json.CCCCCC.tmp");
    int held = open((dir / ".tab.json.BBBBBB.tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    ASSERT_TRUE(writeFileAtomically(dir / "tab.json", "[]\n"));
    EXPECT_EQ(readWholeFile(dir / "tab.json").contents, "[]\n");
    EXPECT_FALSE(fs::exists(dir / ".tab.json.AAAAAA.tmp"));
    EXPECT_TRUE(fs::exists(dir / ".tab.json.BBBBBB.tmp"));
    EXPECT_TRUE(fs::exists(dir / ".tab.json.backup"));
    EXPECT_TRUE(fs::exists(dir / ".other.json.CCCCCC.tmp"));
    // Once its writer is gone it is stale too.
    close(held);
    EXPECT_EQ(removeStaleAtomicWriteTemporaries(dir / "tab.json"), 1u);

    // Each write leaves only the file behind.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writeFileAtomically(dir / "tab.json", std::to_string(i)));
    size_t items = 0;
    for (const auto& item : fs::directory_iterator(dir.path()))
        items += isAtomicWriteTemporaryName(item.path().filename().string(), "tab.json") ? 1 : 0;
    EXPECT_EQ(items, 0u);
}

TEST(AtomicFile, PlainWritesReplaceTheContentsAndRefuseALinkInTheirPlace)
{
    TempDir dir;
    ASSERT_TRUE(writeWholeFile(dir / "a.css", "longer contents"));
    ASSERT_TRUE(writeWholeFile(dir / "a.css", "short"));
    EXPECT_EQ(readWholeFile(dir / "a.css").contents, "short");

    fs::create_symlink(dir / "a.css", dir / "link.css");
    auto refused = writeWholeFile(dir / "link.css", "through the link");
    EXPECT_FALSE(refused);
    EXPECT_EQ(readWholeFile(dir / "a.css").contents, "short");
    EXPECT_FALSE(writeWholeFile(dir / "missing" / "b.css", "x"));
}

} // namespace qv

// Atomic whole-file writes: temporaries left by a killed writer are removed, live ones kept.
#include "base/atomic_file.h"

#include "bounded_time.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

TEST(AtomicFile, ReaderTakesOnlyRegularFilesWithinTheirLimitAndNeverWaits)
{
    TempDir dir;
    std::ofstream(dir / "ten") << "0123456789";
    std::ofstream(dir / "eleven") << "0123456789A";
    fs::create_symlink("/dev/zero", dir / "zero-link");
    fs::create_symlink(dir / "ten", dir / "ten-link");
    fs::create_symlink(dir / "nothing", dir / "dangling-link");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");

    struct Case {
        const char* name;
        FileLinks links;
        ReadStatus status;
        ReadRefusal refusal;
        std::string error;
    };
    const std::vector<Case> cases {
        { "ten", FileLinks::Refuse, ReadStatus::Ok, ReadRefusal::None, "" },
        { "eleven", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::TooLarge,
            "Is larger than 10 bytes" },
        { "zero-link", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::Link,
            "Is a symbolic link" },
        { "zero-link", FileLinks::Follow, ReadStatus::Failed, ReadRefusal::NotRegular,
            "Is not a regular file" },
        { "ten-link", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::Link,
            "Is a symbolic link" },
        { "ten-link", FileLinks::Follow, ReadStatus::Ok, ReadRefusal::None, "" },
        { "dangling-link", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::Link,
            "Is a symbolic link" },
        { "dangling-link", FileLinks::Follow, ReadStatus::Missing, ReadRefusal::None, "" },
        { "pipe", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::NotRegular,
            "Is not a regular file" },
        { "folder", FileLinks::Refuse, ReadStatus::Failed, ReadRefusal::NotRegular,
            "Is a directory" },
        { "missing", FileLinks::Refuse, ReadStatus::Missing, ReadRefusal::None, "" },
    };
    for (const Case& c : cases) {
        bool follow = c.links == FileLinks::Follow;
        SCOPED_TRACE(std::string(c.name) + (follow ? " (links followed)" : ""));
        FileRead read = test::withinSeconds(
            10, [&] { return readWholeFile(dir / c.name, 10, c.links); });
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.refusal, c.refusal);
        EXPECT_EQ(read.error, c.error);
        EXPECT_EQ(read.contents, c.status == ReadStatus::Ok ? "0123456789" : "");
    }
    // A device named directly is refused like one behind a link, and so is one opened whole.
    EXPECT_EQ(readWholeFile("/dev/zero", 10).refusal, ReadRefusal::NotRegular);
    OpenedFile opened;
    EXPECT_EQ(openRegularFile(dir / "pipe", FileLinks::Follow, opened).refusal,
        ReadRefusal::NotRegular);
    EXPECT_EQ(opened.fd(), -1);
}

} // namespace qv

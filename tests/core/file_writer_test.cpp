// The background file writer: coalescing bursts, flushing, writing at destruction, refusals,
// contents made on its thread.
#include "base/file_writer.h"

#include "base/atomic_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qv::test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Counts the writes through the done hook.
FileWriteHooks counting(std::atomic<int>& writes)
{
    FileWriteHooks hooks;
    hooks.done = [&writes](const FileWriteReport& report) {
        if (report.kind == FileWriteReport::Kind::Written)
            ++writes;
    };
    return hooks;
}

bool onlyTheFileIn(const fs::path& folder)
{
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator()) == 1;
}

} // namespace

TEST(FileWriter, BurstOfSubmissionsIsCoalescedIntoFewWritesOfTheLast)
{
    TempDir dir;
    const fs::path file = dir / "data.json";
    std::atomic<int> writes { 0 };
    FileWriter writer;
    for (int i = 0; i < 1000; ++i)
        writer.submit(file, "version " + std::to_string(i), counting(writes));
    writer.flush();
    EXPECT_EQ(readWholeFile(file).contents, "version 999");
    EXPECT_GE(writes.load(), 1);
    EXPECT_LE(writes.load(), 5);
    EXPECT_TRUE(onlyTheFileIn(dir.path()));
}

TEST(FileWriter, FlushWritesWhatIsPendingAtOnce)
{
    TempDir dir;
    FileWriter writer(1h);
    writer.submit(dir / "a.json", "first");
    writer.submit(dir / "b.json", "other");
    writer.submit(dir / "a.json", "last");
    EXPECT_FALSE(fs::exists(dir / "a.json"));
    writer.flush();
    EXPECT_EQ(readWholeFile(dir / "a.json").contents, "last");
    EXPECT_EQ(readWholeFile(dir / "b.json").contents, "other");
}

TEST(FileWriter, DestructionWritesTheLastState)
{
    TempDir dir;
    {
        FileWriter writer(1h);
        writer.submit(dir / "a.json", "first");
        writer.submit(dir / "a.json", "last");
    }
    EXPECT_EQ(readWholeFile(dir / "a.json").contents, "last");
    EXPECT_TRUE(onlyTheFileIn(dir.path()));
}

TEST(FileWriter, SteadyStreamDoesNotPutTheWriteOff)
{
    // A submission every few milliseconds for far longer than the delay: the first write
    // comes while the stream still runs.
    TempDir dir;
    std::atomic<int> writes { 0 };
    FileWriter writer(50ms);
    const auto end = std::chrono::steady_clock::now() + 3s;
    int sent = 0;
    while (writes.load() == 0 && std::chrono::steady_clock::now() < end) {
        writer.submit(dir / "a.json", std::to_string(sent++), counting(writes));
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_GE(writes.load(), 1);
}

TEST(FileWriter, RefusedWriteLeavesTheFileAndIsReported)
{
    TempDir dir;
    const fs::path file = dir / "a.json";
    ASSERT_TRUE(writeFileAtomically(file, "keep me"));
    std::optional<FileWriteReport> seen;
    FileWriter writer;
    FileWriteHooks hooks;
    hooks.check = [](const fs::path&) { return std::optional<std::string>("damaged"); };
    hooks.done = [&seen](const FileWriteReport& report) { seen = report; };
    writer.submit(file, "new", hooks);
    writer.flush();
    EXPECT_EQ(readWholeFile(file).contents, "keep me");
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->kind, FileWriteReport::Kind::Refused);
    EXPECT_EQ(seen->message, "damaged");
}

TEST(FileWriter, FailedWriteIsReportedWithItsMessage)
{
    TempDir dir;
    std::optional<FileWriteReport> seen;
    FileWriter writer;
    FileWriteHooks hooks;
    hooks.done = [&seen](const FileWriteReport& report) { seen = report; };
    writer.submit(dir / "missing" / "a.json", "x", hooks);
    writer.flush();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->kind, FileWriteReport::Kind::Failed);
    EXPECT_NE(seen->message.find("Could not write "), std::string::npos) << seen->message;
}

TEST(FileWriter, MadeContentsAreMadeOnItsThreadAndAShorterDelayBringsThemForward)
{
    TempDir dir;
    const fs::path file = dir / "a.json";
    FileWriter writer;
    std::atomic<bool> madeElsewhere { false };
    std::optional<FileWriteReport> seen;
    FileWriteHooks hooks;
    hooks.done = [&seen](const FileWriteReport& report) { seen = report; };
    auto submitter = std::this_thread::get_id();
    // Due in an hour, then brought forward by a submission due at the writer's own delay.
    writer.submitMade(file, [] { return Result<std::string>("first"); }, {}, std::chrono::hours(1));
    writer.submitMade(file, [&, submitter]() -> Result<std::string> {
        madeElsewhere = std::this_thread::get_id() != submitter;
        return std::string("second");
    }, hooks);
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!fs::exists(file) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(readWholeFile(file).contents, "second");
    EXPECT_TRUE(madeElsewhere);

    // Contents that cannot be made fail the write with their message and leave the file.
    writer.submitMade(file, [] { return Result<std::string>::failure("no snapshot"); }, hooks);
    writer.flush();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->kind, FileWriteReport::Kind::Failed);
    EXPECT_EQ(seen->message, "no snapshot");
    EXPECT_EQ(readWholeFile(file).contents, "second");
}

} // namespace qv::test

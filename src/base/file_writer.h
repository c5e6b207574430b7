// One background writer for the data files: the owner hands it a file's new contents and goes on.
#pragma once

#include "base/result.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qv {

// How a submission ended on the writer's thread.
struct FileWriteReport {
    enum class Kind { Written, Failed, Refused };
    Kind kind = Kind::Written;
    // Failed: writeFileAtomically's message. Refused: the check's reason.
    std::string message;
};

// Both run on the writer's thread, never on the submitting one.
struct FileWriteHooks {
    // Runs just before a write; a reason refuses it, and the file is left as it is.
    std::function<std::optional<std::string>(const std::filesystem::path&)> check;
    // Runs after every write, failure or refusal.
    std::function<void(const FileWriteReport&)> done;
};

// Contents made on the writer's thread just before the write, for a file too large to build on
// the submitting one; a failure fails the write with its message.
using FileContentsMaker = std::function<Result<std::string>()>;

// Writes files on a thread of its own with writeFileAtomically (a locked temporary beside the
// file, fsync, rename; stale temporaries swept), so a kill leaves the whole old or the whole new
// file. Submissions of one file within kDefaultDelay of the first unwritten one are coalesced
// into one write of the latest contents, with the latest hooks; a submission reaches the disk
// within its delay plus the time of the write in progress, and a submission with a shorter delay
// brings a pending write forward. flush() and the destructor write everything still pending.
class FileWriter {
public:
    static constexpr std::chrono::milliseconds kDefaultDelay { 100 };

    explicit FileWriter(std::chrono::milliseconds delay = kDefaultDelay);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void submit(const std::filesystem::path& path, std::string contents, FileWriteHooks hooks = {});
    // The same with contents made on the writer's thread, due after delay (the writer's own
    // delay when none is given).
    void submitMade(const std::filesystem::path& path, FileContentsMaker make,
        FileWriteHooks hooks = {}, std::optional<std::chrono::milliseconds> delay = {});

    std::chrono::milliseconds delay() const { return m_delay; }

    // Writes everything submitted so far and returns once it is on disk (or has failed). For
    // quitting and for tests: the UI thread never waits for the writer otherwise.
    void flush();

private:
    struct Pending {
        std::string contents;
        FileContentsMaker make;
        FileWriteHooks hooks;
        std::chrono::steady_clock::time_point due;
    };

    void run();
    void queue(const std::filesystem::path& path, std::string contents, FileContentsMaker make,
        FileWriteHooks hooks, std::chrono::milliseconds delay);

    const std::chrono::milliseconds m_delay;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::map<std::filesystem::path, Pending> m_pending;
    size_t m_flushRequests = 0;
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace qv

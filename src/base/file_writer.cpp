// The background writer: coalescing, the writer thread, flushing.
#include "base/file_writer.h"

#include "base/atomic_file.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace fs = std::filesystem;

namespace {

// A hook that throws must not end the process from a thread nobody watches.
FileWriteReport writeOne(const fs::path& path, std::string contents,
    const FileContentsMaker& make, const FileWriteHooks& hooks)
{
    FileWriteReport report;
    try {
        if (hooks.check) {
            if (auto refusal = hooks.check(path)) {
                report.kind = FileWriteReport::Kind::Refused;
                report.message = std::move(*refusal);
                return report;
            }
        }
    } catch (...) {
        report.kind = FileWriteReport::Kind::Refused;
        report.message = "the file could not be checked";
        return report;
    }
    if (make) {
        try {
            Result<std::string> made = make();
            if (!made) {
                report.kind = FileWriteReport::Kind::Failed;
                report.message = made.error();
                return report;
            }
            contents = std::move(made.value());
        } catch (...) {
            report.kind = FileWriteReport::Kind::Failed;
            report.message = "the contents could not be made";
            return report;
        }
    }
    if (auto written = writeFileAtomically(path, contents); !written) {
        report.kind = FileWriteReport::Kind::Failed;
        report.message = written.error();
    }
    return report;
}

} // namespace

FileWriter::FileWriter(std::chrono::milliseconds delay)
    : m_delay(delay)
{
    m_thread = std::thread([this] { run(); });
}

FileWriter::~FileWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    // The thread writes everything still pending before it ends.
    m_thread.join();
}

void FileWriter::submit(const fs::path& path, std::string contents, FileWriteHooks hooks)
{
    queue(path, std::move(contents), {}, std::move(hooks), m_delay);
}

void FileWriter::submitMade(const fs::path& path, FileContentsMaker make, FileWriteHooks hooks,
    std::optional<std::chrono::milliseconds> delay)
{
    queue(path, {}, std::move(make), std::move(hooks), delay.value_or(m_delay));
}

void FileWriter::queue(const fs::path& path, std::string contents, FileContentsMaker make,
    FileWriteHooks hooks, std::chrono::milliseconds delay)
{
    FileContentsMaker replaced;
    FileWriteHooks replacedHooks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto [it, first] = m_pending.try_emplace(path);
        // The first unwritten submission sets the moment and later ones only replace the
        // contents, so a steady stream cannot put the write off for ever; a shorter delay
        // only brings it forward.
        auto due = std::chrono::steady_clock::now() + delay;
        it->second.due = first ? due : std::min(it->second.due, due);
        it->second.contents = std::move(contents);
        replaced = std::exchange(it->second.make, std::move(make));
        replacedHooks = std::exchange(it->second.hooks, std::move(hooks));
    }
    // What the replaced submission held goes outside the lock.
    m_wake.notify_one();
}

void FileWriter::flush()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_flushRequests;
    m_wake.notify_one();
    m_idle.wait(lock, [this] { return m_pending.empty() && !m_writing; });
    --m_flushRequests;
}

void FileWriter::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_pending.empty()) {
            if (m_stopping)
                return;
            m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
            continue;
        }
        auto next = std::min_element(m_pending.begin(), m_pending.end(),
            [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
        bool urgent = m_stopping || m_flushRequests > 0;
        if (!urgent && next->second.due > std::chrono::steady_clock::now()) {
            m_wake.wait_until(lock, next->second.due);
            continue;
        }
        auto item = m_pending.extract(next);
        m_writing = true;
        lock.unlock();
        FileWriteReport report = writeOne(item.key(), std::move(item.mapped().contents),
            item.mapped().make, item.mapped().hooks);
        try {
            if (item.mapped().hooks.done)
                item.mapped().hooks.done(report);
        } catch (...) {
        }
        // The hooks may hold their owner's state; they go before the lock is taken again.
        item = decltype(item) {};
        lock.lock();
        m_writing = false;
        if (m_pending.empty())
            m_idle.notify_all();
    }
}

} // namespace qv

// The downloads list reader on any bytes, then a recorded download and a re-read of what it wrote.
#include "base/file_writer.h"
#include "downloads/download_store.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::freshScratchFolder("downloads");
    const auto file = folder / "downloads.json";
    fuzz::writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
    const auto saved = folder / "saved.bin";
    fuzz::writeBytes(saved, "x");

    FileWriter writer;
    DownloadStore store(file, writer);
    (void)store.load();
    for (size_t row = 0; row < store.entries().size() && row < 8; ++row)
        (void)store.revealablePath(static_cast<long>(row), folder);

    const auto moment = DownloadClock::time_point(std::chrono::seconds(1767225600));
    auto recording = store.recordCompletedDownload(saved, "https://a.test/f", moment);
    writer.flush();
    if (!recording.recorded || recording.writeProblem || !store.takeWriteFailures().empty())
        return 0;

    // Whatever the store wrote, it must read back itself, newest record first.
    DownloadStore again(file, writer);
    fuzz::require(!again.load(), "the store reads what it wrote");
    fuzz::require(!again.entries().empty() && again.recordAt(0).path == saved.string(),
        "the recorded download comes first");
    return 0;
}

// Choosing the cairo renderer on machines that can only rasterise GL in software.
#include "platform/renderer_choice.h"

#include <cstdlib>
#include <malloc.h>
#include <filesystem>
#include <string>

namespace qv {

bool machineHasGpuDevice()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("renderD") || name.starts_with("card"))
            return true;
    }
    return false;
}

namespace {

// A window of 2560 by 1440 pixels takes 14 MiB a frame. More would keep memory for nothing on
// most screens.
constexpr int kFrameBufferBytes = 16 << 20;

void keepFrameBuffers()
{
    // Buffers below the threshold come from the heap instead of fresh mappings, and up to the
    // same amount of free memory stays at the heap's top instead of going back every frame.
    mallopt(M_MMAP_THRESHOLD, kFrameBufferBytes);
    mallopt(M_TRIM_THRESHOLD, kFrameBufferBytes);
}

} // namespace

void chooseRendererForMachine()
{
    keepFrameBuffers();
    const char* chosen = std::getenv("GSK_RENDERER");
    if (chosen && *chosen)
        return;
    if (!machineHasGpuDevice())
        setenv("GSK_RENDERER", "cairo", 0);
}

} // namespace qv

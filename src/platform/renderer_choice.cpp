// Choosing the cairo renderer on machines that can only rasterise GL in software.
#include "platform/renderer_choice.h"

#include <cstdlib>
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

void chooseRendererForMachine()
{
    const char* chosen = std::getenv("GSK_RENDERER");
    if (chosen && *chosen)
        return;
    if (!machineHasGpuDevice())
        setenv("GSK_RENDERER", "cairo", 0);
}

} // namespace qv

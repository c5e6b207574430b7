// The icon checks on any bytes: the script's result and the image header a server hands us.
#include "fuzz_support.h"
#include "tabs/favicon_rules.h"

#include <cstddef>
#include <cstdint>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    auto header = checkedFaviconHeader(bytes);
    if (header && header->format != FaviconFormat::Svg) {
        fuzz::require(header->width >= 1 && header->width <= kMaxFaviconSide
                && header->height >= 1 && header->height <= kMaxFaviconSide,
            "an accepted header declares a size within the limits");
        auto [width, height] = faviconDisplaySize(
            static_cast<int>(header->width), static_cast<int>(header->height));
        fuzz::require(width >= 1 && height >= 1 && width <= kFaviconDisplaySide
                && height <= kFaviconDisplaySide,
            "the display size fits the icon's box");
    }

    auto source = faviconSourceFor(bytes);
    if (source.kind == FaviconSource::Kind::Inline)
        (void)checkedFaviconHeader(source.bytes);
    return 0;
}

// Typed address-field text: normalising, parsing back and the whole submission decision.
#include "fuzz_support.h"
#include "base/text_util.h"
#include "base/url.h"
#include "navigation/address_resolution.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto parts = parseURL(text))
        fuzz::require(parts->absoluteString() == text, "parseURL gives back the text it read");

    if (auto address = normalizedAddress(text)) {
        auto parts = parseURL(*address);
        fuzz::require(parts.has_value(), "a normalized address parses");
        // A typed scheme keeps its case.
        const std::string scheme = toLowerAscii(parts->scheme);
        fuzz::require(scheme == "http" || scheme == "https", "a normalized address is http or https");
        fuzz::require(!parts->host.empty(), "a normalized address has a host");
    }

    // What exists on disk is derived from the path itself, so every kind gets reached.
    RequestContext context;
    context.homeDirectory = "/home/fuzz";
    context.pathKind
        = [](const std::string& path) { return static_cast<PathKind>(path.size() % 3); };
    context.origin = size % 2 ? SubmitOrigin::User : SubmitOrigin::Extension;
    RequestDecision decision = decideRequest(text, context);
    if (context.origin == SubmitOrigin::Extension)
        fuzz::require(decision.kind != RequestKind::OpenFile, "an extension never opens a file");
    if (decision.kind == RequestKind::Probe) {
        for (const std::string& candidate : decision.candidates)
            fuzz::require(parseURL(candidate).has_value(), "every candidate parses");
    }
    (void)searchURLForProfile(decision.input, nullptr);
    return 0;
}

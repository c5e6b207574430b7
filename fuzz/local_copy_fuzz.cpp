// The local copy's mapping and link rewriter on any page, listed addresses and file text.
#include "fuzz_support.h"
#include "base/new_folder.h"
#include "base/text_util.h"
#include "base/url.h"
#include "devtools/local_copy_rules.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace qv;

namespace {

// Input: the page address, a line each for the listed addresses, an empty line, the text.
struct Input {
    std::string page;
    std::vector<SourceResource> resources;
    std::string text;
};

Input split(std::string_view data)
{
    static const char* kKinds[] = { "html", "css", "js", "text", "image" };
    Input input;
    std::size_t at = 0;
    bool first = true;
    while (at < data.size()) {
        std::size_t end = data.find('\n', at);
        if (end == std::string_view::npos)
            end = data.size();
        std::string_view line = data.substr(at, end - at);
        at = end + 1;
        if (first) {
            input.page = std::string(line);
            first = false;
            continue;
        }
        if (line.empty())
            break;
        input.resources.push_back({ std::string(line), kKinds[input.resources.size() % 5] });
    }
    if (at < data.size())
        input.text = std::string(data.substr(at));
    return input;
}

// The names of a link followed from the folder of `from`, or nothing when it climbs out.
bool staysInside(const std::vector<std::string>& from, const std::string& link)
{
    std::vector<std::string> folder(from.begin(), from.end() - (from.empty() ? 0 : 1));
    std::size_t start = 0;
    for (std::size_t i = 0; i <= link.size(); ++i) {
        if (i < link.size() && link[i] != '/')
            continue;
        std::string name = *percentDecode(link.substr(start, i - start), MalformedEscapes::Keep);
        start = i + 1;
        if (name == "..") {
            if (folder.empty())
                return false;
            folder.pop_back();
        } else if (name != "." && !name.empty()) {
            if (name.find('/') != std::string::npos)
                return false;
            folder.push_back(name);
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 16384)
        return 0;
    Input input = split(std::string_view(reinterpret_cast<const char*>(data), size));

    std::optional<std::vector<std::string>> pageNames = localCopyComponents(input.page, input.page);
    for (const SourceResource& resource : input.resources) {
        auto names = localCopyComponents(resource.url, input.page);
        if (!names)
            continue;
        fuzz::require(!names->empty(), "an address maps to at least one name");
        for (const std::string& name : *names) {
            fuzz::require(isPlainFileName(name), "every name is one plain file name");
            fuzz::require(name[0] != '.', "no name is hidden");
            fuzz::require(name.size() <= kMaxLocalCopyNameBytes, "no name is too long");
        }
        if (pageNames) {
            std::string link = relativeLocalLink(*pageNames, *names);
            fuzz::require(staysInside(*pageNames, link), "a link never leaves the copy");
        }
    }
    fuzz::require(isPlainFileName(localCopyFolderName(input.page)), "the folder name is plain");

    LocalCopyLinkRewriter rewriter(input.resources, input.page);
    const std::string& file = input.resources.empty() ? input.page : input.resources[0].url;
    for (const char* kind : { "html", "css", "js" }) {
        std::string once = rewriter.rewrite(input.text, file, kind);
        fuzz::require(once == rewriter.rewrite(input.text, file, kind), "rewriting is stable");
    }
    return 0;
}

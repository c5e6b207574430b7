// Cost of rewriting the links of a large page against a full resource list, with and without
// scanning its references first.
#include "devtools/local_copy_references.h"
#include "devtools/local_copy_rules.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace {

using qv::SourceResource;

const std::string kPage = "https://www.example.test/blog/2024/post.html";

std::vector<SourceResource> resourceList()
{
    std::vector<SourceResource> resources { { kPage, "html" },
        { "https://www.example.test/", "html" } };
    for (int i = 0; resources.size() < qv::kMaxLocalCopyResources; ++i) {
        std::string n = std::to_string(i);
        if (i % 3 == 0)
            resources.push_back(
                { "https://www.example.test/assets/css/part-" + n + ".css?v=" + n, "css" });
        else if (i % 3 == 1)
            resources.push_back({ "https://www.example.test/img/photo-" + n + ".jpg", "image" });
        else
            resources.push_back({ "https://cdn.example.test/lib/module-" + n + ".js", "js" });
    }
    return resources;
}

// About `bytes` of markup: links to listed files, near misses and plain text between them.
std::string largePage(const std::vector<SourceResource>& resources, std::size_t bytes)
{
    std::string page = "<!doctype html><html><head>";
    for (std::size_t i = 0; page.size() < bytes; ++i) {
        const SourceResource& r = resources[i % resources.size()];
        page += "<p>Paragraph " + std::to_string(i)
            + " with ordinary words, a = b, (and) some, commas.</p>";
        page += "<a href=\"" + r.url + "\">listed</a>";
        page += "<img src=\"/img/photo-" + std::to_string(i % 300) + ".jpg\" srcset=\"/img/photo-"
            + std::to_string(i % 300) + ".jpg 1x, /img/other.jpg 2x\">";
        page += "<a href=\"/about-" + std::to_string(i) + "\">near miss</a>";
    }
    return page + "</body></html>";
}

void BM_RewriteLargePage(benchmark::State& state)
{
    auto resources = resourceList();
    std::string page = largePage(resources, static_cast<std::size_t>(state.range(0)));
    qv::LocalCopyLinkRewriter rewriter(resources, kPage);
    for (auto _ : state) {
        std::string out = rewriter.rewrite(page, kPage, "html");
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_RewriteLargePage)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// The same page with its attributes and srcset candidates scanned, resolved and linked first.
void BM_RewriteReferencesLargePage(benchmark::State& state)
{
    auto resources = resourceList();
    std::string page = largePage(resources, static_cast<std::size_t>(state.range(0)));
    qv::LocalCopyLinkRewriter rewriter(resources, kPage);
    std::map<std::string, std::vector<std::string>> copied;
    for (const SourceResource& resource : resources)
        copied.emplace(resource.url, *qv::localCopyComponents(resource.url, kPage));
    const std::vector<std::string> from = copied.at(kPage);
    for (auto _ : state) {
        std::string out
            = qv::rewriteLocalCopyReferences(page, "html", kPage, from, copied, rewriter, kPage);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_RewriteReferencesLargePage)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

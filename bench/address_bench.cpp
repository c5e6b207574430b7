// Cost of normalising typed text and of deciding a whole submission.
#include "navigation/address_resolution.h"

#include <benchmark/benchmark.h>

namespace {

const char* const kTyped[] = { "site.test", "  Sub.Site.TEST/a/b?c=d#e  ", "localhost:5173/app",
    "[::1]:8080", "https://www.example.test/path", "news", "two words", "user@site.test" };

void BM_NormalizedAddress(benchmark::State& state)
{
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv::normalizedAddress(kTyped[i++ % std::size(kTyped)]));
    }
}

void BM_AddressCandidates(benchmark::State& state)
{
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv::addressCandidates(kTyped[i++ % std::size(kTyped)]));
    }
}

void BM_DecideRequestBareWord(benchmark::State& state)
{
    qv::RequestContext context;
    context.homeDirectory = "/home/user";
    context.pathKind = [](const std::string&) { return qv::PathKind::None; };
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv::decideRequest("news", context));
    }
}

void BM_SearchURL(benchmark::State& state)
{
    qv::BrowserProfile profile = qv::builtInProfile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(qv::searchURLForProfile("c++ templates & 1+1=2", &profile));
    }
}

BENCHMARK(BM_NormalizedAddress);
BENCHMARK(BM_AddressCandidates);
BENCHMARK(BM_DecideRequestBareWord);
BENCHMARK(BM_SearchURL);

} // namespace

BENCHMARK_MAIN();

// Reading a header folded into many continuation lines: the time per line
// must stay flat as the fold grows (a fold of 100,000 lines is a 2.5 MB head
// that a server may send).
//
//   bench_header_unfold

#include <benchmark/benchmark.h>

#include <string>

#include "http/header_list.h"

namespace {

void BM_UnfoldValue(benchmark::State& state) {
  ah::TIdHeaderList headers;
  headers.Add("Server: first");
  for (int64_t i = 0; i < state.range(0); ++i) headers.Add(" continued-server-text");
  headers.Add("Content-Length: 2");
  for (auto _ : state) benchmark::DoNotOptimize(headers.HeaderValue("Server"));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_UnfoldValue)->RangeMultiplier(10)->Range(100, 100000)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();

// The cookie jar under a hostile server: storing 32,000 Set-Cookie lines,
// then what every later request pays to build its Cookie header.
//
//   bench_cookie_jar [--benchmark_filter=...]
//
// Store/*: one jar per iteration takes all lines, from one site or spread
// over 64 sites. Header/*: a jar filled that way once, then one Cookie
// header per iteration for a request to one of the sites.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "http/cookie_jar.h"
#include "http/uri.h"

namespace {

constexpr int kLines = 32000;

struct Line {
  std::string text;
  std::string host;
};

// sites = 1: every line from www.site0.test; more: round robin over
// www.site<k>.test.
std::vector<Line> SetCookieLines(int sites) {
  std::vector<Line> lines;
  lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    lines.push_back({"c" + std::to_string(i) + "=value" + std::to_string(i) +
                         "; path=/; max-age=3600",
                     "www.site" + std::to_string(i % sites) + ".test"});
  }
  return lines;
}

void Store(ah::TIdCookieManager& jar, const std::vector<Line>& lines) {
  for (const Line& line : lines) jar.TakeSetCookie(line.text, line.host);
}

void BM_Store(benchmark::State& state) {
  const std::vector<Line> lines = SetCookieLines(int(state.range(0)));
  for (auto _ : state) {
    auto jar = std::make_unique<ah::TIdCookieManager>(nullptr);
    Store(*jar, lines);
    benchmark::DoNotOptimize(jar->CookieCollection().Count());
    state.PauseTiming();
    jar.reset();
    state.ResumeTiming();
  }
  state.counters["lines"] = kLines;
}
BENCHMARK(BM_Store)->Name("Store/sites")->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_Header(benchmark::State& state) {
  ah::TIdCookieManager jar(nullptr);
  Store(jar, SetCookieLines(int(state.range(0))));
  const ah::TIdURI uri("http://www.site0.test/album/");
  size_t cookies = 0;
  for (auto _ : state) {
    std::string header = jar.BuildCookieHeader(uri, false);
    cookies = header.empty() ? 0 : 1;
    for (char c : header) cookies += c == ';';
    benchmark::DoNotOptimize(header);
  }
  state.counters["sent"] = double(cookies);
  state.counters["stored"] = jar.CookieCollection().Count();
}
BENCHMARK(BM_Header)->Name("Header/sites")->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

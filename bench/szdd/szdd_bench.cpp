// Google Benchmark of the SZDD codec: compression and expansion speed, and
// the compressed size against the cost model's optimum, on real PE files
// and on long runs.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "szdd/szdd.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kWine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

const Bytes& corpus(const std::string& name) {
  static std::map<std::string, Bytes> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Bytes b;
  if (name == "runs-1MB") {
    // Long runs and repeats, the greedy parser's worst case.
    for (int i = 0; b.size() < (1u << 20); ++i) {
      b.insert(b.end(), static_cast<std::size_t>(20 + i % 300), static_cast<std::uint8_t>(i % 3));
      const std::string t = "entry " + std::to_string(i % 97) + ";";
      b.insert(b.end(), t.begin(), t.end());
    }
  } else {
    std::ifstream f(std::string(kWine) + name, std::ios::binary);
    b.assign(std::istreambuf_iterator<char>(f), {});
  }
  return cache.emplace(name, std::move(b)).first->second;
}

void Compress(benchmark::State& state, const std::string& name) {
  const Bytes& in = corpus(name);
  if (in.empty()) return state.SkipWithError(("missing " + name).c_str());
  szdd::CompressStats st;
  for (auto _ : state) benchmark::DoNotOptimize(szdd::compress(in, {}, &st));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
  state.counters["in"] = static_cast<double>(in.size());
  state.counters["out"] = static_cast<double>(st.output_bytes);
  state.counters["optimum"] = static_cast<double>(st.optimum_bytes);
  state.counters["out-opt"] = static_cast<double>(st.output_bytes) - static_cast<double>(st.optimum_bytes);
}

void Expand(benchmark::State& state, const std::string& name) {
  const Bytes& in = corpus(name);
  if (in.empty()) return state.SkipWithError(("missing " + name).c_str());
  const Bytes packed = szdd::compress(in);
  for (auto _ : state) benchmark::DoNotOptimize(szdd::expand(packed));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void LongestMatches(benchmark::State& state, const std::string& name) {
  const Bytes& in = corpus(name);
  if (in.empty()) return state.SkipWithError(("missing " + name).c_str());
  for (auto _ : state) benchmark::DoNotOptimize(szdd::longest_matches(in));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

const int kRegistered = [] {
  for (const std::string name : {"oledb32.dll", "comdlg32.dll", "runs-1MB"}) {
    benchmark::RegisterBenchmark(("Compress/" + name).c_str(), Compress, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Expand/" + name).c_str(), Expand, name)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("MatchFinder/oledb32.dll", LongestMatches, std::string("oledb32.dll"))
      ->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();

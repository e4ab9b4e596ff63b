// Side-by-side timing of a kernel operation and a plain reference on the same inputs. Each
// iteration times one batch of each, the order alternating, so that load from other programs
// falls on both alike; the benchmark's own time is the kernel's, and counters give both
// per-call times and their ratio (kernel / reference: below 1 the kernel is faster).
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

namespace bench {

template <class Ours, class Ref>
void Compare(benchmark::State& state, int batch, Ours&& ours, Ref&& ref, long long itemsPerCall = 1) {
  using Clock = std::chrono::steady_clock;
  double tOurs = 0.0, tRef = 0.0;
  long long iterations = 0;
  for (auto _ : state) {
    auto timeOf = [batch](auto& op) {
      const auto start = Clock::now();
      for (int k = 0; k < batch; ++k) op();
      return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double a, b;
    if (iterations & 1) {
      b = timeOf(ref);
      a = timeOf(ours);
    } else {
      a = timeOf(ours);
      b = timeOf(ref);
    }
    tOurs += a;
    tRef += b;
    ++iterations;
    state.SetIterationTime(a);
  }
  const double calls = static_cast<double>(iterations) * batch;
  state.counters["ours_ns"] = 1e9 * tOurs / calls;
  state.counters["ref_ns"] = 1e9 * tRef / calls;
  state.counters["ratio"] = tRef > 0.0 ? tOurs / tRef : 0.0;
  state.SetItemsProcessed(static_cast<long long>(calls) * itemsPerCall);
}

// For a benchmark that times each side itself (an input to make afresh before every run): the
// total seconds of each over `runs` runs as per-run milliseconds and their ratio.
inline void ReportTimes(benchmark::State& state, double ours, double ref, int runs) {
  state.counters["ours_ms"] = 1e3 * ours / runs;
  state.counters["ref_ms"] = 1e3 * ref / runs;
  state.counters["ratio"] = ref > 0.0 ? ours / ref : 0.0;
}

}  // namespace bench

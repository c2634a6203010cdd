// Micro-benchmarks of the model's per-byte steps on a model trained with the
// bundled sample text: mixing, the symbol search, the winner flag, the whole
// byte (mix, search, flag, update), and the frequency loops in each
// instruction set.  Figures are for comparing builds and changes on one
// machine; the whole-process figures come from speed_compare.sh.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "byte_model.h"
#include "frequency_kernels.h"
#include "mixer.h"
#include "model.h"

namespace tav {
namespace {

std::string load_sample() {
  std::ifstream in(TAV_SAMPLE_PATH, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A model that has seen the first `warm` bytes of the sample at `order`.
struct TrainedModel {
  std::string text = load_sample();
  Model m;
  uint32_t position = 0;

  TrainedModel(uint32_t order, uint32_t warm) {
    set_numeric_mode();
    init_model(m, order + 1, 256, reinterpret_cast<const uint8_t*>(text.data()),
               static_cast<uint32_t>(text.size()));
    warm = std::min<uint32_t>(warm, static_cast<uint32_t>(text.size()) - 1);
    while (position < warm) step();
  }
  void step() {
    const uint8_t s = static_cast<uint8_t>(text[position]);
    predict(m, position);
    learn(m, s, position);
    ++position;
  }
};

void BM_Mix(benchmark::State& state) {
  TrainedModel t(static_cast<uint32_t>(state.range(0)), 200000);
  for (auto _ : state) {
    mix(t.m, t.position);
    benchmark::DoNotOptimize(t.m.symbol_mass);
  }
  state.counters["levels"] = t.m.level_count;
}
BENCHMARK(BM_Mix)->Arg(2)->Arg(6)->Arg(16);

void BM_FindSymbol(benchmark::State& state) {
  TrainedModel t(6, 200000);
  mix(t.m, t.position);
  std::mt19937 rng(1);
  std::vector<uint32_t> targets(1024);
  for (uint32_t& v : targets) v = rng() % 9000000;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(find_symbol(t.m, targets[i++ & 1023]));
}
BENCHMARK(BM_FindSymbol);

void BM_SymbolInterval(benchmark::State& state) {
  TrainedModel t(6, 200000);
  mix(t.m, t.position);
  uint32_t s = 0;
  for (auto _ : state) benchmark::DoNotOptimize(symbol_interval(t.m, (s += 37) & 255));
}
BENCHMARK(BM_SymbolInterval);

// Whole bytes, as both coders run them (without the range coder): the
// model's speed in bytes per second at each order, on text it keeps learning.
void BM_CodeBytes(benchmark::State& state) {
  const uint32_t order = static_cast<uint32_t>(state.range(0));
  std::unique_ptr<TrainedModel> t;
  uint64_t bytes = 0;
  for (auto _ : state) {
    if (!t || t->position + 1 >= t->text.size()) {
      state.PauseTiming();
      t = std::make_unique<TrainedModel>(order, 0);
      state.ResumeTiming();
    }
    t->step();
    ++bytes;
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CodeBytes)->Arg(2)->Arg(6)->Arg(16);

// Runs the benchmark on the instruction set its first argument names, labelled
// with it; false, with the run marked skipped, where this machine lacks it.
bool select_kernel_set(benchmark::State& state) {
  const KernelSet k = static_cast<KernelSet>(state.range(0));
  if (!use_kernel_set(k)) {
    state.SkipWithError("instruction set not supported here");
    return false;
  }
  set_numeric_mode();
  state.SetLabel(kernel_set_name(k));
  return true;
}

void BM_Decay(benchmark::State& state) {
  if (!select_kernel_set(state)) return;
  const uint32_t n = static_cast<uint32_t>(state.range(1));
  std::vector<float> f(n, 0.004f);
  for (auto _ : state) {
    decay_frequencies(reinterpret_cast<uint8_t*>(f.data()), n, 0.9921875, 1e-5);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
  use_kernel_set(best_kernel_set());
}
BENCHMARK(BM_Decay)->ArgsProduct({{0, 1, 2}, {4, 100}});

// One level's masses over 100 entries: the store of the first level mixed,
// and the addition of every later one.
using MassStep = void (*)(float*, const uint8_t*, const uint8_t*, uint32_t, double);
template <MassStep step>
void BM_MassStep(benchmark::State& state) {
  if (!select_kernel_set(state)) return;
  std::vector<float> f(100, 0.01f), mass(256, 1.0f);
  std::vector<uint8_t> sym(100);
  for (int i = 0; i < 100; ++i) sym[i] = static_cast<uint8_t>(i * 2);
  for (auto _ : state) {
    step(mass.data(), reinterpret_cast<uint8_t*>(f.data()), sym.data(), 100, 1e-3);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100);
  use_kernel_set(best_kernel_set());
}
BENCHMARK_TEMPLATE(BM_MassStep, store_scaled_masses)->DenseRange(0, 2);
BENCHMARK_TEMPLATE(BM_MassStep, add_scaled_masses)->DenseRange(0, 2);

}  // namespace
}  // namespace tav

BENCHMARK_MAIN();

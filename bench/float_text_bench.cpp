// Cost of one float-to-text and one text-to-float conversion.
#include <benchmark/benchmark.h>

#include <array>
#include <string_view>

#include "app/float_text.h"

namespace {

constexpr std::array<double, 6> kValues = {static_cast<double>(0.549f), 12.5, -20.0, 1e20, 1.5e-5,
                                           3.40282346638529e38};

void BM_FormatFloat(benchmark::State& state) {
  char buffer[app::kFloatTextCapacity];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(app::FormatFloat(kValues[i++ % kValues.size()], '.', buffer));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatFloat);

void BM_FloatToText(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(app::FloatToText(kValues[i++ % kValues.size()], '.'));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FloatToText);

void BM_TextToFloat(benchmark::State& state) {
  constexpr std::array<std::string_view, 6> kTexts = {"12.5", "-2.5E-1", "0.549000024795532",
                                                      "1e20", "-20",     "3.40282346638529E38"};
  const char separator = static_cast<char>(state.range(0));
  std::array<std::string, kTexts.size()> texts;
  for (std::size_t j = 0; j < kTexts.size(); ++j) {
    texts[j] = kTexts[j];
    for (char& c : texts[j])
      c = c == '.' ? separator : c;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(app::TextToFloat(texts[i++ % texts.size()], separator));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextToFloat)->Arg('.')->Arg(',');

}  // namespace

BENCHMARK_MAIN();

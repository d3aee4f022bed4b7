// Time of one DecodeProductKey call.
#include "Module1.h"

#include <benchmark/benchmark.h>

static void BM_DecodeProductKey(benchmark::State& state)
{
    Module1::KeyBytes bytes = {0xEC, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xA8, 0xD2,
                               0x7B, 0x6E, 0x89, 0x81, 0x4F, 0x6D, 0x09};
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes);
        Module1::ProductKeyText text = Module1::DecodeProductKey(bytes);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_DecodeProductKey);

BENCHMARK_MAIN();

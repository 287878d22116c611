// SPDX-License-Identifier: ISC
// ns a sample for tone and pass-through blocks: the module's run (loaded with
// dlopen, reached through lv2_descriptor) beside the plain scalar loop with
// std::sin and beside memcpy, block sizes 1 to 8192. scripts/bench_report.py
// turns the JSON output into ratios.
#include "support/lv2_module.h"
#include "support/reference.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr double RATE = 48000.0;
constexpr uint32_t MAX_BLOCK = 8192;

const LV2_Descriptor* module_descriptor()
{
    static const zendrik_test::Lv2Module module;
    return module.descriptor();
}

struct Buffers {
    std::vector<float> in = std::vector<float>(MAX_BLOCK, 0.25f);
    std::vector<float> out = std::vector<float>(MAX_BLOCK);
};

void set_rate(benchmark::State& state, uint32_t n)
{
    state.counters["ns_per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * n * 1e-9,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void module_block(benchmark::State& state, float enable)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    const LV2_Descriptor* d = module_descriptor();
    Buffers b;
    float frequency = 1000.0f, level = 0.5f;
    LV2_Handle h = d->instantiate(d, RATE, "", nullptr);
    d->connect_port(h, PORT_FREQUENCY, &frequency);
    d->connect_port(h, PORT_LEVEL, &level);
    d->connect_port(h, PORT_ENABLE, &enable);
    d->connect_port(h, PORT_INPUT, b.in.data());
    d->connect_port(h, PORT_OUTPUT, b.out.data());
    for (auto _ : state) {
        d->run(h, n);
        benchmark::DoNotOptimize(b.out.data());
        benchmark::ClobberMemory();
    }
    d->cleanup(h);
    set_rate(state, n);
}

void BM_tone_module(benchmark::State& state)
{
    module_block(state, 1.0f);
}
void BM_pass_module(benchmark::State& state)
{
    module_block(state, 0.0f);
}

// The tone as one scalar loop, std::sin a sample: the reference itself.
void BM_tone_scalar(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Buffers b;
    const double level = 0.5;
    const double increment = zendrik_test::tone_increment(1000.0, RATE);
    double phase = 0.0;
    for (auto _ : state) {
        phase = zendrik_test::reference_tone(b.out.data(), n, phase, increment, level);
        benchmark::DoNotOptimize(phase);
        benchmark::ClobberMemory();
    }
    set_rate(state, n);
}

void BM_pass_memcpy(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Buffers b;
    for (auto _ : state) {
        std::memcpy(b.out.data(), b.in.data(), n * sizeof(float));
        benchmark::DoNotOptimize(b.out.data());
        benchmark::ClobberMemory();
    }
    set_rate(state, n);
}

void sizes(benchmark::internal::Benchmark* bm)
{
    for (int n : {1, 16, 64, 256, 512, 1024, 8192}) {
        bm->Arg(n);
    }
}

BENCHMARK(BM_tone_module)->Apply(sizes);
BENCHMARK(BM_tone_scalar)->Apply(sizes);
BENCHMARK(BM_pass_module)->Apply(sizes);
BENCHMARK(BM_pass_memcpy)->Apply(sizes);

} // namespace

BENCHMARK_MAIN();

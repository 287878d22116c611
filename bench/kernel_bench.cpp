// ns a sample for tone and pass-through blocks: the module's run (loaded with
// dlopen, reached through lv2_descriptor) beside the plain scalar loop with
// std::sin and beside memcpy, block sizes 1 to 8192. scripts/bench_report.py
// turns the JSON output into ratios.
#include "zendrik.h"

#include <benchmark/benchmark.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double RATE = 48000.0;
constexpr uint32_t MAX_BLOCK = 8192;

const LV2_Descriptor* module_descriptor()
{
    static const LV2_Descriptor* d = [] {
        void* lib = dlopen(ZENDRIK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            std::fprintf(stderr, "dlopen: %s\n", dlerror());
            std::exit(1);
        }
        auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib, "lv2_descriptor"));
        return entry ? entry(0) : nullptr;
    }();
    return d;
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

void BM_tone_module(benchmark::State& state) { module_block(state, 1.0f); }
void BM_pass_module(benchmark::State& state) { module_block(state, 0.0f); }

// The tone as one scalar loop: std::sin a sample.
void BM_tone_scalar(benchmark::State& state)
{
    const auto n = static_cast<uint32_t>(state.range(0));
    Buffers b;
    const double level = 0.5;
    const double increment = (1000.0 * TWO_PI) / RATE;
    double phase = 0.0;
    for (auto _ : state) {
        float* out = b.out.data();
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = static_cast<float>(std::sin(phase) * level);
            phase += increment;
            if (phase >= TWO_PI) {
                phase -= TWO_PI;
            }
        }
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

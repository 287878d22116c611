// SPDX-License-Identifier: ISC
// The zendrik plugin: instance lifecycle, block processing and the
// descriptor. Plain functions with internal linkage; only lv2_descriptor is
// exported. The tone's inner loops live in tone_*.cpp.
#include "zendrik.h"
#include "tone.h"

#include <lv2/core/lv2.h>

#include <cstdlib>
#include <cstring>

#if ZENDRIK_HAVE_LIBMVEC
#include <sys/platform/x86.h>
#endif

namespace {

using zendrik::TWO_PI;

constexpr float ENABLE_THRESHOLD = 0.5f;

LV2_Handle instantiate(const LV2_Descriptor*, double sample_rate, const char*, const LV2_Feature* const*)
{
    // Zero-filled, so every port address starts out null.
    auto* self = static_cast<PluginInstance*>(std::calloc(1, sizeof(PluginInstance)));
    if (!self) {
        return nullptr;
    }
    self->sample_rate = sample_rate;
    self->phase = 0.0;
    return self;
}

void connect_port(LV2_Handle instance, uint32_t port, void* data)
{
    auto* self = static_cast<PluginInstance*>(instance);
    switch (port) {
    case PORT_FREQUENCY: self->frequency = static_cast<const float*>(data); break;
    case PORT_LEVEL: self->level = static_cast<const float*>(data); break;
    case PORT_ENABLE: self->enable = static_cast<const float*>(data); break;
    case PORT_INPUT: self->input = static_cast<const float*>(data); break;
    case PORT_OUTPUT: self->output = static_cast<float*>(data); break;
    default: break; // unknown ports are ignored
    }
}

// Writes n tone samples and returns the advanced phase, with the widest
// vector sine that the CPU and the system allow. glibc found out what the CPU
// offers when it started the process; asking it is a plain function call,
// with no cpuid and nothing cached here.
double tone(float* out, uint32_t n, double phase, double increment, double level)
{
#if ZENDRIK_HAVE_LIBMVEC
    if (CPU_FEATURE_ACTIVE(AVX512F)) {
        return zendrik::tone_avx512(out, n, phase, increment, level);
    }
    if (CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(FMA)) {
        return zendrik::tone_avx2(out, n, phase, increment, level);
    }
    return zendrik::tone_sse2(out, n, phase, increment, level);
#else
    return zendrik::tone_scalar(out, n, phase, increment, level);
#endif
}

void run(LV2_Handle instance, uint32_t n_samples)
{
    auto* self = static_cast<PluginInstance*>(instance);
    if (n_samples == 0) {
        return; // touches no port and keeps the phase
    }

    // NaN compares false, so a NaN switch passes the input through.
    if (!(*self->enable > ENABLE_THRESHOLD)) {
        // memmove: the host may hand us one buffer for both ports, and the
        // copy is then a no-op we can skip outright.
        if (self->output != self->input) {
            std::memmove(self->output, self->input, n_samples * sizeof(float));
        }
        self->phase = 0.0;
        return;
    }

    const double level = *self->level;
    const double increment = (static_cast<double>(*self->frequency) * TWO_PI) / self->sample_rate;
    self->phase = tone(self->output, n_samples, self->phase, increment, level);
}

void cleanup(LV2_Handle instance)
{
    std::free(instance);
}

const LV2_Descriptor descriptor = {
    ZENDRIK_URI, instantiate, connect_port, nullptr, run, nullptr, cleanup, nullptr,
};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}

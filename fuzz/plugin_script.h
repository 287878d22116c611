// SPDX-License-Identifier: ISC
// The fuzzer's script of host calls, read a byte at a time, and the control
// values and sample rates its short codes stand for: every edge a host can
// send (signed zeros, the switch's threshold and its neighbours, NaNs,
// infinities, denormals, huge values).
#ifndef ZENDRIK_FUZZ_PLUGIN_SCRIPT_H
#define ZENDRIK_FUZZ_PLUGIN_SCRIPT_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace plugin_fuzz {

struct Script {
    const uint8_t* p;
    size_t left;
    bool ok = true;

    uint8_t byte()
    {
        if (left == 0) {
            ok = false;
            return 0;
        }
        --left;
        return *p++;
    }
    template <class T>
    T raw()
    {
        T v{};
        if (left < sizeof v) {
            ok = false;
            left = 0;
            return v;
        }
        std::memcpy(&v, p, sizeof v);
        p += sizeof v;
        left -= sizeof v;
        return v;
    }
};

inline float from_bits(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline const float CONTROL_VALUES[32] = {
    0.0f,
    -0.0f,
    0.5f,
    std::nextafter(0.5f, 1.0f),
    std::nextafter(0.5f, 0.0f),
    1.0f,
    -1.0f,
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    from_bits(0x7fa00001u),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::denorm_min(),
    1e-40f,
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    1e30f,
    -1e30f,
    20.0f,
    20000.0f,
    1000.0f,
    440.0f,
    48000.0f,
    24000.0f,
    96000.0f,
    -440.0f,
    1e-7f,
    0.7f,
    2.0f,
    1e10f,
    12345.678f,
};

inline const double RATES[16] = {
    44100.0,
    48000.0,
    96000.0,
    192000.0,
    8000.0,
    22050.0,
    1.0,
    0.0,
    -48000.0,
    1e-300,
    1e300,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::denorm_min(),
    384000.0,
};

} // namespace plugin_fuzz

#endif

// SPDX-License-Identifier: ISC
#include "tone.h"

#include <cmath>

namespace zendrik {

double tone_scalar(float* out, uint32_t n, double phase, double increment, double level)
{
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<float>(std::sin(phase) * level);
        phase += increment;
        if (phase >= TWO_PI) {
            phase -= TWO_PI;
        }
    }
    return phase;
}

} // namespace zendrik

// SPDX-License-Identifier: ISC
// zendrik: a mono LV2 effect that passes its input through while its switch
// is off and replaces it with a sine tone while the switch is on.
//
// This header is the layout of one plugin instance. Hosts never see it; the
// module's own sources and its tests do.
#ifndef ZENDRIK_H
#define ZENDRIK_H

#include <cstdint>

// ZENDRIK_URI, the plugin URI, comes from the build (CMakeLists.txt).

// Port numbers, fixed by the bundle metadata.
enum PortIndex : uint32_t {
    PORT_FREQUENCY = 0, // control in: tone frequency in hertz
    PORT_LEVEL = 1,     // control in: linear factor on the unit sine
    PORT_ENABLE = 2,    // control in: tone while the value is above 0.5
    PORT_INPUT = 3,     // audio in
    PORT_OUTPUT = 4,    // audio out
};

struct PluginInstance {
    const float* frequency;
    const float* level;
    const float* enable;
    const float* input;
    float* output;
    double sample_rate; // exactly as passed to instantiate
    double phase;       // radians; the only field that run writes
};

#endif

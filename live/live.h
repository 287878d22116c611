// SPDX-License-Identifier: ISC
// zendrik live: a profanity delay. The input airs `delay` seconds late; the
// words of a list, found in the input by zendrik-mask's recogniser on a
// thread of its own, and whatever the operator marks, are bleeped when they
// air.
//
// Port numbers, fixed by the bundle metadata (live.ttl).
#ifndef ZENDRIK_LIVE_H
#define ZENDRIK_LIVE_H

#include <cstdint>

// ZENDRIK_LIVE_URI comes from the build (CMakeLists.txt).

enum LivePort : uint32_t {
    LIVE_INPUT = 0,       // audio in
    LIVE_OUTPUT = 1,      // audio out: the input, `delay` seconds late, bleeped
    LIVE_DELAY = 2,       // control in: seconds, 1 to 10
    LIVE_AUTO = 3,        // control in: bleep the listed words found, above 0.5
    LIVE_SENSITIVITY = 4, // control in: the recogniser's, 0 strict to 1 eager
    LIVE_FREQUENCY = 5,   // control in: tone frequency in hertz
    LIVE_LEVEL = 6,       // control in: linear factor on the unit sine, 0 mutes
    LIVE_PAD = 7,         // control in: seconds bleeped before and after each find
    LIVE_BLEEP = 8,       // control in: what comes in while above 0.5 is bleeped
    LIVE_DUMP = 9,        // control in: rising above 0.5 bleeps all not yet aired
    LIVE_LAG = 10,        // control out: seconds the recogniser is behind the input
    LIVE_BLEEPED = 11,    // control out: listed words bleeped so far
    LIVE_OVERRUN = 12,    // control out: 1 while the recogniser cannot keep up
    LIVE_FREEWHEEL = 13,  // control in (lv2:freeWheeling): wait for the recogniser
    LIVE_CONTROL = 14,    // atom in: patch:Set and patch:Get of the word list
    LIVE_NOTIFY = 15,     // atom out: patch:Set, the word list in effect
};

constexpr double LIVE_MIN_DELAY = 1.0;
constexpr double LIVE_MAX_DELAY = 10.0;
constexpr double LIVE_MAX_PAD = 0.5;

#endif

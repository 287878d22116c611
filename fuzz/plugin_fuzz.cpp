// SPDX-License-Identifier: ISC
// libFuzzer target: the fuzzer's input is a script of host calls on up to
// four instances of the module, loaded with dlopen and reached through
// lv2_descriptor like any host does. After every call the instance records,
// the outputs and the phases are compared with a model of the plugin: the
// reference tone (tests/support/reference.h), written from its definition.
//
// Buffers are allocated for each block at exactly its size, and ports that a
// block must not touch point at freed memory, so AddressSanitizer stops any
// access outside what the block may use.
//
// Script: a sequence of operations, each an opcode byte and its arguments;
// a script that runs out of bytes ends at the last complete operation.
//   0 instantiate  slot, rate (byte < 16: from a table, else 8 raw bytes)
//   1 connect      slot, port (byte < 250: 0-5, else 4 raw bytes), target
//   2 set control  cell, value (byte < 32: from a table, else 4 raw bytes)
//   3 run          slot, size (2 bytes, 0-8192), flags
//   4 cleanup      slot
//   5 burst        slot, count, size, flags: several short blocks
//   6 empty block  slot: every port at freed memory, then reconnected
//   7 all          size (1 byte, times 32), flags: every instance, one input
#include "plugin_script.h"
#include "support/lv2_module.h"
#include "support/reference.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using namespace plugin_fuzz;

constexpr int SLOTS = 4;
constexpr int CELLS = 8;
constexpr uint32_t MAX_BLOCK = 8192;

const LV2_Descriptor* descriptor = nullptr;

[[noreturn]] void mismatch(const char* what, int slot, long detail)
{
    std::fprintf(stderr, "zendrik fuzz: %s (instance %d, %ld)\n", what, slot, detail);
    std::abort();
}

void check(bool ok, const char* what, int slot, long detail = 0)
{
    if (!ok) {
        mismatch(what, slot, detail);
    }
}

// Memory that was the host's and is no longer: a block that reads or writes
// through it trips AddressSanitizer.
void* freed_memory()
{
    void* p = std::malloc(sizeof(float));
    std::free(p);
    return p;
}

// The host's control values; ports of several instances may share them.
float cells[CELLS];

// One instance as the host sees it, with the model of its record.
struct Slot {
    LV2_Handle handle = nullptr;
    double rate = 0.0;
    double phase = 0.0;
    void* port[5] = {};

    const PluginInstance& record() const { return *static_cast<const PluginInstance*>(handle); }

    void check_record(int s) const
    {
        const PluginInstance& r = record();
        check(r.frequency == port[PORT_FREQUENCY] && r.level == port[PORT_LEVEL] && r.enable == port[PORT_ENABLE]
                  && r.input == port[PORT_INPUT] && r.output == port[PORT_OUTPUT],
              "port addresses differ from the connections made", s);
        check(zendrik_test::bits(r.sample_rate) == zendrik_test::bits(rate), "sample rate changed", s);
        check(zendrik_test::same_phase(r.phase, phase), "phase differs from the recurrence", s);
    }
    void connect(uint32_t p, void* data)
    {
        descriptor->connect_port(handle, p, data);
        if (p < 5) {
            port[p] = data;
        }
    }
};

Slot slots[SLOTS];

void instantiate(int s, double rate)
{
    Slot& slot = slots[s];
    if (slot.handle) {
        descriptor->cleanup(slot.handle);
    }
    slot = Slot{};
    slot.handle = descriptor->instantiate(descriptor, rate, "/nonexistent/", nullptr);
    check(slot.handle != nullptr, "instantiate failed", s);
    slot.rate = rate;
    slot.check_record(s);
}

void fill_input(float* in, uint32_t n, uint32_t seed)
{
    static const uint32_t odd[]
        = {0x7fc00000u, 0xffc00001u, 0x7fa00123u, 0x80000000u, 0x00000001u, 0x7f800000u, 0xff800000u, 0x007fffffu};
    uint32_t x = seed * 2654435761u + 1u;
    for (uint32_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const uint32_t bits = (x & 0xf) == 0 ? odd[(x >> 4) & 7] : x;
        std::memcpy(&in[i], &bits, sizeof bits);
    }
}

// One block on one instance. `in` is the input the host offers (may be
// shared with other instances); flags pick how the ports are wired.
void run_block(int s, uint32_t n, uint8_t flags, const float* shared_in)
{
    Slot& slot = slots[s];
    if (!slot.handle) {
        return;
    }
    const auto* enable = static_cast<const float*>(slot.port[PORT_ENABLE]);
    const auto* frequency = static_cast<const float*>(slot.port[PORT_FREQUENCY]);
    const auto* level = static_cast<const float*>(slot.port[PORT_LEVEL]);
    // The host's duty: every port the block reads is connected.
    if (n > 0 && !enable) {
        return;
    }
    const bool tone = n > 0 && *enable > 0.5f;
    if (tone && (!frequency || !level)) {
        return;
    }

    auto* out = static_cast<float*>(std::malloc(n * sizeof(float)));
    float* own_in = nullptr;
    const float* in = nullptr;
    const uint32_t wiring = flags & 3u;
    if (tone && wiring == 2) {
        in = nullptr; // input unconnected
    } else if (tone && wiring == 3) {
        in = static_cast<const float*>(freed_memory());
    } else if (wiring == 1) {
        in = out; // in place
        fill_input(out, n, flags);
    } else if (shared_in) {
        in = shared_in;
    } else {
        own_in = static_cast<float*>(std::malloc(n * sizeof(float)));
        fill_input(own_in, n, flags);
        in = own_in;
    }

    float* expected = static_cast<float*>(std::malloc(n * sizeof(float)));
    if (tone) {
        const double increment = zendrik_test::tone_increment(*frequency, slot.rate);
        slot.phase = zendrik_test::reference_tone(expected, n, slot.phase, increment, *level);
    } else if (n > 0) {
        std::memcpy(expected, in, n * sizeof(float));
        slot.phase = 0.0;
    }

    // A pass-through block reads only the switch and the input: the tone's
    // controls may point anywhere meanwhile.
    const bool hide_controls = !tone && (flags & 4u);
    if (hide_controls) {
        descriptor->connect_port(slot.handle, PORT_FREQUENCY, freed_memory());
        descriptor->connect_port(slot.handle, PORT_LEVEL, freed_memory());
    }
    slot.connect(PORT_INPUT, const_cast<float*>(in));
    slot.connect(PORT_OUTPUT, out);
    descriptor->run(slot.handle, n);
    if (hide_controls) {
        descriptor->connect_port(slot.handle, PORT_FREQUENCY, slot.port[PORT_FREQUENCY]);
        descriptor->connect_port(slot.handle, PORT_LEVEL, slot.port[PORT_LEVEL]);
    }

    if (tone) {
        for (uint32_t i = 0; i < n; ++i) {
            check(zendrik_test::ulp_distance(out[i], expected[i]) <= 1, "tone sample more than one float step off", s,
                  i);
        }
    } else if (n > 0) {
        check(std::memcmp(out, expected, n * sizeof(float)) == 0, "pass-through is not an exact copy", s);
    }
    slot.check_record(s);

    std::free(expected);
    std::free(own_in);
    std::free(out);
    // The record keeps the addresses of the freed buffers, as it may: the
    // next block connects new ones first.
}

void empty_block(int s)
{
    Slot& slot = slots[s];
    if (!slot.handle) {
        return;
    }
    void* saved[5];
    std::memcpy(saved, slot.port, sizeof saved);
    for (uint32_t p = 0; p < 5; ++p) {
        slot.connect(p, freed_memory());
    }
    descriptor->run(slot.handle, 0);
    slot.check_record(s);
    for (uint32_t p = 0; p < 5; ++p) {
        slot.connect(p, saved[p]);
    }
    slot.check_record(s);
}

void reset()
{
    for (int s = 0; s < SLOTS; ++s) {
        if (slots[s].handle) {
            descriptor->cleanup(slots[s].handle);
        }
        slots[s] = Slot{};
    }
    for (int k = 0; k < CELLS; ++k) {
        cells[k] = k == 0 ? 1000.0f : k == 1 ? 0.5f : k == 2 ? 1.0f : 0.0f;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // ZENDRIK_FUZZ_MODULE points the target at another build of the module.
    const char* path = std::getenv("ZENDRIK_FUZZ_MODULE");
    static zendrik_test::Lv2Module module(path ? path : ZENDRIK_MODULE_PATH);
    descriptor = module.descriptor();
    return descriptor ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    reset();
    Script script{data, size};
    while (script.ok && script.left > 0) {
        const uint8_t op = script.byte() % 8;
        switch (op) {
        case 0: {
            const int s = script.byte() % SLOTS;
            const uint8_t pick = script.byte();
            const double rate = pick < 16 ? RATES[pick] : script.raw<double>();
            if (script.ok) {
                instantiate(s, rate);
            }
            break;
        }
        case 1: {
            const int s = script.byte() % SLOTS;
            const uint8_t pick = script.byte();
            const uint32_t port = pick < 250 ? pick % 6u : script.raw<uint32_t>();
            const uint8_t target = script.byte() % 10;
            if (!script.ok || !slots[s].handle) {
                break;
            }
            void* address = target < CELLS ? &cells[target] : nullptr;
            if (target == 9 && port >= 5) {
                address = reinterpret_cast<void*>(uintptr_t{0xdead0000}); // must never be used
            }
            slots[s].connect(port, address);
            slots[s].check_record(s);
            break;
        }
        case 2: {
            const int k = script.byte() % CELLS;
            const uint8_t pick = script.byte();
            const float value = pick < 32 ? CONTROL_VALUES[pick] : from_bits(script.raw<uint32_t>());
            if (script.ok) {
                cells[k] = value;
            }
            break;
        }
        case 3: {
            const int s = script.byte() % SLOTS;
            const uint32_t n = script.raw<uint16_t>() % (MAX_BLOCK + 1);
            const uint8_t flags = script.byte();
            if (script.ok) {
                run_block(s, n, flags, nullptr);
            }
            break;
        }
        case 4: {
            const int s = script.byte() % SLOTS;
            if (script.ok && slots[s].handle) {
                descriptor->cleanup(slots[s].handle);
                slots[s] = Slot{};
            }
            break;
        }
        case 5: {
            const int s = script.byte() % SLOTS;
            const int count = script.byte() % 32 + 1;
            const uint32_t n = script.byte() % 64;
            const uint8_t flags = script.byte();
            for (int i = 0; script.ok && i < count; ++i) {
                run_block(s, n, static_cast<uint8_t>(flags + i), nullptr);
            }
            break;
        }
        case 6: {
            const int s = script.byte() % SLOTS;
            if (script.ok) {
                empty_block(s);
            }
            break;
        }
        case 7: {
            const uint32_t n = script.byte() * 32u;
            const uint8_t flags = script.byte();
            if (!script.ok) {
                break;
            }
            auto* in = static_cast<float*>(std::malloc(n * sizeof(float)));
            fill_input(in, n, flags);
            for (int s = 0; s < SLOTS; ++s) {
                run_block(s, n, static_cast<uint8_t>(flags & ~1u), in); // never in place on the shared input
            }
            std::free(in);
            break;
        }
        }
    }
    reset();
    return 0;
}

// SPDX-License-Identifier: ISC
// run must never allocate: the allocator functions are interposed in this
// binary (the dlopened module binds to them) and armed around run.
#include "support/alloc_counter.h"
#include "support/lv2_module.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<bool> armed{false};
std::atomic<int> calls{0};
} // namespace

void zendrik_test::note_allocation()
{
    if (armed.load(std::memory_order_relaxed)) {
        calls.fetch_add(1, std::memory_order_relaxed);
    }
}

TEST(RealTime, RunAllocatesNothingInEitherMode)
{
    using zendrik_test::Instance;
    zendrik_test::Lv2Module module;

    // The interposition reaches into the module: its instantiate makes
    // exactly one allocation, and the free in cleanup is seen too.
    const LV2_Descriptor* d = module.descriptor();
    armed = true;
    LV2_Handle probe = d->instantiate(d, 48000.0, "", nullptr);
    armed = false;
    ASSERT_EQ(calls.load(), 1) << "allocator interposition is not in effect";
    armed = true;
    d->cleanup(probe);
    armed = false;
    ASSERT_EQ(calls.load(), 2);
    calls = 0;

    auto* inst = new Instance(d, 48000.0);

    std::vector<float> in(8192, 0.25f), out(8192);
    const uint32_t sizes[] = {0, 1, 7, 64, 512, 4096, 8192};
    armed = true;
    for (float enable : {1.0f, 0.0f, 1.0f}) {
        inst->enable = enable;
        for (uint32_t n : sizes) {
            inst->process(in.data(), out.data(), n);
            inst->process(in.data(), in.data(), n);
        }
    }
    armed = false;
    EXPECT_EQ(calls.load(), 0) << "run called the allocator";
    delete inst;
}

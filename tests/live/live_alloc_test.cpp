// SPDX-License-Identifier: ISC
// zendrik live's run() never allocates: the allocator is interposed in this
// binary and counts the calls of the thread that runs the blocks only, for
// the recogniser's thread allocates as it likes.
#include "live_realtime.h"
#include "support/alloc_counter.h"

#include <gtest/gtest.h>

namespace {
thread_local bool armed = false;
thread_local int calls = 0;
} // namespace

void zendrik_test::note_allocation()
{
    calls += armed ? 1 : 0;
}

TEST(LiveRealTime, RunAllocatesNothingLiveOrFreewheeling)
{
    // The interposition is in effect for the module's own calls.
    armed = true;
    auto* workload = new zendrik_test::LiveWorkload;
    armed = false;
    ASSERT_GT(calls, 0) << "allocator interposition is not in effect";
    calls = 0;

    armed = true;
    const unsigned blocks = workload->run(false) + workload->run(true);
    armed = false;
    EXPECT_EQ(calls, 0) << "run called the allocator in " << blocks << " blocks";
    EXPECT_GT(workload->host.control("bleeped"), 0.0f) << "the recogniser's finds never reached run";
    delete workload;
}

// SPDX-License-Identifier: ISC
// zendrik live's run() never allocates: the allocator is interposed in this
// binary and counts the calls of the thread that runs the blocks only, for
// the recogniser's thread allocates as it likes.
#include "live_realtime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
thread_local bool armed = false;
thread_local int calls = 0;

void note_call()
{
    calls += armed ? 1 : 0;
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    note_call();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size)
{
    note_call();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n)
{
    note_call();
    return __libc_realloc(p, n);
}
void free(void* p)
{
    note_call();
    __libc_free(p);
}
void* memalign(size_t alignment, size_t n)
{
    note_call();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n)
{
    note_call();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n)
{
    note_call();
    *out = __libc_memalign(alignment, n);
    return *out ? 0 : ENOMEM;
}
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

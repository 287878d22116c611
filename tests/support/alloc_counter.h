// SPDX-License-Identifier: ISC
// The allocator interposed in a test's binary (linked with ENABLE_EXPORTS, so
// that a module it loads binds to it too): each call is reported to
// zendrik_test::note_allocation, which the test defines, then handed to
// glibc's own. Included by one source file of the binary.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace zendrik_test {
void note_allocation();
} // namespace zendrik_test

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n)
{
    zendrik_test::note_allocation();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size)
{
    zendrik_test::note_allocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n)
{
    zendrik_test::note_allocation();
    return __libc_realloc(p, n);
}
void free(void* p)
{
    zendrik_test::note_allocation();
    __libc_free(p);
}
void* memalign(size_t alignment, size_t n)
{
    zendrik_test::note_allocation();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n)
{
    zendrik_test::note_allocation();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n)
{
    zendrik_test::note_allocation();
    *out = __libc_memalign(alignment, n);
    return *out ? 0 : ENOMEM;
}
}

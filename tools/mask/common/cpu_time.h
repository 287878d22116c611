// SPDX-License-Identifier: ISC
// CPU time by thread, and the time of helper threads credited to the thread
// that started them: a batch masks files side by side and tells what each
// cost, the threads that searched it for words included.
#ifndef ZENDRIK_MASK_CPU_TIME_H
#define ZENDRIK_MASK_CPU_TIME_H

#include <atomic>
#include <cstdint>

namespace zendrik_mask {

// The calling thread's CPU time so far, in seconds.
double thread_cpu_seconds();

// Nanoseconds of CPU that helper threads add when they end.
using CpuAccount = std::atomic<int64_t>;

// The account of the calling thread's helpers: null for none, which the
// single-file command leaves it.
CpuAccount* helper_cpu_account();
void set_helper_cpu_account(CpuAccount* account);

// Called by a helper thread as it ends: its CPU time into `account`.
void credit_cpu(CpuAccount* account);

} // namespace zendrik_mask

#endif

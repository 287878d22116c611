// SPDX-License-Identifier: ISC
#include "cpu_time.h"

#include <ctime>

namespace zendrik_mask {

namespace {

thread_local CpuAccount* t_account = nullptr;

int64_t thread_cpu_nanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

double thread_cpu_seconds()
{
    return static_cast<double>(thread_cpu_nanoseconds()) * 1e-9;
}

CpuAccount* helper_cpu_account()
{
    return t_account;
}

void set_helper_cpu_account(CpuAccount* account)
{
    t_account = account;
}

void credit_cpu(CpuAccount* account)
{
    if (account) {
        account->fetch_add(thread_cpu_nanoseconds());
    }
}

} // namespace zendrik_mask

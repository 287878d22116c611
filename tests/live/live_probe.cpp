// SPDX-License-Identifier: ISC
// zendrik live's run() makes no system call. The blocks run on a thread of
// their own, beside the recogniser's, as an audio thread would:
//
//   live_probe seccomp [canary]
//     That thread enters seccomp strict mode first: any system call but
//     read, write and _exit kills the process. Prints "blocks N".
//   live_probe markers [canary]
//     The blocks bracketed by write(-1, "zendrik-run-begin"/"-end") for
//     strace to count the thread's calls between them.
//
// "canary" makes one getpid among the blocks, to show the check works.
#include "live_realtime.h"

#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr char BEGIN[] = "zendrik-run-begin";
constexpr char END[] = "zendrik-run-end";

} // namespace

int main(int argc, char** argv)
{
    const bool strict = argc > 1 && std::strcmp(argv[1], "seccomp") == 0;
    const bool markers = argc > 1 && std::strcmp(argv[1], "markers") == 0;
    const bool canary = argc > 2 && std::strcmp(argv[2], "canary") == 0;
    if (!strict && !markers) {
        std::fprintf(stderr, "usage: %s seccomp|markers [canary]\n", argv[0]);
        return 2;
    }
    zendrik_test::LiveWorkload workload;
    unsigned blocks = 0;
    bool entered = true;
    bool finished = false;
    std::thread audio([&] {
        if (strict) {
            entered = prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) == 0;
            if (!entered) {
                return;
            }
        } else {
            (void)!write(-1, BEGIN, sizeof BEGIN - 1);
        }
        blocks = workload.run(false);
        if (canary) {
            syscall(SYS_getpid);
        }
        finished = true;
        if (strict) {
            char report[64];
            std::snprintf(report, sizeof report, "blocks %u\n", blocks);
            (void)!write(1, report, std::strlen(report));
            syscall(SYS_exit, 0); // the thread alone: exit_group is not allowed
        }
        (void)!write(-1, END, sizeof END - 1);
    });
    audio.join();
    if (!entered) {
        std::perror("prctl(PR_SET_SECCOMP)");
        return 3;
    }
    // Strict mode kills the thread that made the call, not the process: the
    // process ends as that thread did.
    if (!finished) {
        raise(SIGKILL);
    }
    if (markers) {
        std::printf("blocks %u\n", blocks);
    }
    return 0;
}

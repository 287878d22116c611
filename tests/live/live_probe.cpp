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
#include "support/probe.h"

#include <csignal>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    zendrik_test::ProbeMode mode;
    if (!zendrik_test::probe_mode(argc, argv, mode)) {
        return 2;
    }
    zendrik_test::LiveWorkload workload;
    unsigned blocks = 0;
    bool entered = true;
    bool finished = false;
    std::thread audio([&] {
        entered = zendrik_test::probe_begin(mode);
        if (!entered) {
            return;
        }
        blocks = workload.run(false);
        zendrik_test::probe_canary(mode);
        finished = true;
        zendrik_test::probe_end(mode, blocks); // in strict mode, the thread alone ends
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
    if (mode.markers) {
        std::printf("blocks %u\n", blocks);
    }
    return 0;
}

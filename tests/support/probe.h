// SPDX-License-Identifier: ISC
// What the system-call probes share (tests/plugin/syscall_test.sh drives
// them): the command line "seccomp|markers [canary]", entering seccomp strict
// mode or writing the markers strace looks for around the blocks, the
// canary's getpid and the report of the blocks run.
#pragma once

#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace zendrik_test {

struct ProbeMode {
    bool strict = false;  // seccomp: any call but read, write and _exit kills
    bool markers = false; // markers: write(-1, "zendrik-run-begin"/"-end")
    bool canary = false;  // one getpid among the blocks
};

// The mode the command line asks for; false, after the usage, if none.
inline bool probe_mode(int argc, char** argv, ProbeMode& mode)
{
    mode.strict = argc > 1 && std::strcmp(argv[1], "seccomp") == 0;
    mode.markers = argc > 1 && std::strcmp(argv[1], "markers") == 0;
    mode.canary = argc > 2 && std::strcmp(argv[2], "canary") == 0;
    if (!mode.strict && !mode.markers) {
        std::fprintf(stderr, "usage: %s seccomp|markers [canary]\n", argv[0]);
        return false;
    }
    return true;
}

// Before the blocks: false if strict mode could not be entered.
inline bool probe_begin(const ProbeMode& mode)
{
    if (mode.strict) {
        return prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) == 0;
    }
    constexpr char BEGIN[] = "zendrik-run-begin";
    (void)!write(-1, BEGIN, sizeof BEGIN - 1);
    return true;
}

inline void probe_canary(const ProbeMode& mode)
{
    if (mode.canary) {
        syscall(SYS_getpid);
    }
}

// After the blocks: in strict mode reports them and ends the calling thread
// (exit_group is not allowed there); else writes the end marker.
inline void probe_end(const ProbeMode& mode, unsigned blocks)
{
    if (mode.strict) {
        char report[64];
        std::snprintf(report, sizeof report, "blocks %u\n", blocks);
        (void)!write(1, report, std::strlen(report));
        syscall(SYS_exit, 0);
    }
    constexpr char END[] = "zendrik-run-end";
    (void)!write(-1, END, sizeof END - 1);
}

} // namespace zendrik_test

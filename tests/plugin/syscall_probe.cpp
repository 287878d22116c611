// SPDX-License-Identifier: ISC
// Runs blocks of the plugin with every set-up done beforehand, to show that
// run makes no system call at all.
//
//   syscall_probe seccomp [canary]
//     Enters seccomp strict mode after the set-up: from then on any system
//     call but read, write and _exit kills the process with SIGKILL. Prints
//     "blocks N" and exits 0 if every block ran.
//   syscall_probe markers [canary]
//     Brackets the blocks with write(-1, "zendrik-run-begin"/"-end") for a
//     tracer (strace) to count what lies between.
//
// "canary" makes one getpid between the blocks, so the caller can check that
// its detection works.
#include "support/lv2_module.h"
#include "support/probe.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

int main(int argc, char** argv)
{
    using zendrik_test::Instance;
    zendrik_test::ProbeMode mode;
    if (!zendrik_test::probe_mode(argc, argv, mode)) {
        return 2;
    }

    // Everything a host does before the audio thread starts: load, two
    // instances at different rates, buffers, first connections.
    zendrik_test::Lv2Module module;
    Instance a(module.descriptor(), 48000.0);
    Instance b(module.descriptor(), 44100.0);
    constexpr uint32_t MAX = 8192;
    std::vector<float> in(MAX, 0.25f), out(MAX), shared(MAX, -0.5f);
    const uint32_t sizes[] = {0, 1, 2, 3, 7, 15, 16, 17, 64, 255, 512, 1000, 4096, 8192};
    const float switches[] = {1.0f, 0.0f, 1.0f, 0.5f, std::numeric_limits<float>::quiet_NaN(), 1.0f};

    if (!zendrik_test::probe_begin(mode)) {
        std::perror("prctl(PR_SET_SECCOMP)");
        return 3;
    }

    // The audio thread's work: blocks in both modes, every size, separate
    // and in-place buffers, controls changed between blocks, ports moved.
    unsigned blocks = 0;
    for (int round = 0; round < 4; ++round) {
        for (float s : switches) {
            a.enable = s;
            b.enable = s > 0.5f ? 0.0f : 1.0f;
            a.frequency = 440.0f * static_cast<float>(round + 1);
            b.level = round == 3 ? std::numeric_limits<float>::infinity() : 0.5f;
            for (uint32_t n : sizes) {
                a.process(in.data(), out.data(), n);
                b.process(shared.data(), shared.data(), n);
                a.process(nullptr, out.data(), s > 0.5f ? n : 0);
                blocks += 3;
            }
        }
    }
    zendrik_test::probe_canary(mode);
    zendrik_test::probe_end(mode, blocks);
    std::printf("blocks %u\n", blocks);
    return 0;
}

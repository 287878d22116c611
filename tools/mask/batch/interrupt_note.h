// SPDX-License-Identifier: ISC
// What a batch says when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends it: how many
// files were finished, and that the same command goes on from there. The
// handlers installed before (those that remove temporary files) still run.
#ifndef ZENDRIK_MASK_INTERRUPT_NOTE_H
#define ZENDRIK_MASK_INTERRUPT_NOTE_H

#include <cstddef>

namespace zendrik_mask {

// One at a time, for the length of a batch run.
class InterruptNote {
public:
    // Written to `fd` (standard error or a copy of it), on a line of its own
    // after the progress line of a `terminal`.
    InterruptNote(std::size_t files, int fd, bool terminal);
    ~InterruptNote();
    InterruptNote(const InterruptNote&) = delete;
    InterruptNote& operator=(const InterruptNote&) = delete;

    // Files finished (done, skipped or failed) so far.
    void set_finished(std::size_t files);
};

} // namespace zendrik_mask

#endif

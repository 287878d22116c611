// SPDX-License-Identifier: ISC
// zendrik-mask's progress bar on stderr, for long files on a terminal.
#ifndef ZENDRIK_MASK_PROGRESS_H
#define ZENDRIK_MASK_PROGRESS_H

#include <chrono>
#include <cstdint>

namespace zendrik_mask {

class Progress {
public:
    // Draws nothing unless enabled and the total is known (positive).
    // `stage` names what is being done, when there is more than one pass.
    Progress(bool enabled, int64_t total, const char* stage = "")
        : enabled_(enabled && total > 0), total_(total), stage_(stage)
    {
    }
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(int64_t done);
    // Clears the bar, so that the next line starts clean.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool drawn_ = false;
    int64_t total_;
    const char* stage_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_ = start_;
};

} // namespace zendrik_mask

#endif

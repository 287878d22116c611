// SPDX-License-Identifier: ISC
#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace zendrik_mask {

void Progress::update(int64_t done)
{
    if (!enabled_) {
        return;
    }
    // Not for short runs, and not more often than the eye can follow.
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_ = now;
    drawn_ = true;
    const double f = std::min(1.0, static_cast<double>(done) / static_cast<double>(total_));
    const int width = 30;
    const int filled = static_cast<int>(f * width);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    // The time left, at the pace so far, once there is a pace to go by.
    char left[32] = "";
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (f >= 0.02 && f < 1.0 && elapsed >= 2.0) {
        const double seconds = elapsed * (1.0 - f) / f;
        if (seconds < 90) {
            std::snprintf(left, sizeof left, ", %d s left", static_cast<int>(seconds + 0.5));
        } else {
            std::snprintf(left, sizeof left, ", %d min left", static_cast<int>(seconds / 60 + 0.5));
        }
    }
    std::fprintf(stderr, "\rzendrik-mask: %s%s[%s] %3d%%%s   ", stage_, *stage_ ? " " : "", bar.c_str(),
                 static_cast<int>(f * 100), left);
    std::fflush(stderr);
}

void Progress::finish()
{
    if (drawn_) {
        std::fprintf(stderr, "\r%*s\r", 79, "");
        std::fflush(stderr);
        drawn_ = false;
    }
}

} // namespace zendrik_mask

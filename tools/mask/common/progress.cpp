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
    std::fprintf(stderr, "\rzendrik-mask: %s%s[%s] %3d%%", stage_, *stage_ ? " " : "", bar.c_str(),
                 static_cast<int>(f * 100));
    std::fflush(stderr);
}

void Progress::finish()
{
    if (drawn_) {
        std::fprintf(stderr, "\r%*s\r", 65, "");
        std::fflush(stderr);
        drawn_ = false;
    }
}

} // namespace zendrik_mask

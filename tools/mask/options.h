// SPDX-License-Identifier: ISC
// What zendrik-mask's command line asks for.
#ifndef ZENDRIK_MASK_OPTIONS_H
#define ZENDRIK_MASK_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

struct Options {
    std::string input;
    std::string output;
    std::vector<std::string> masks;       // "START-END"
    std::vector<std::string> label_files; // Audacity label files
    std::optional<float> frequency;
    std::optional<float> level;
    std::string preset;
    std::string format; // "[container][:encoding]"
    int bitrate = 0;    // MP3 output, kbps; 0 for the default
    int64_t block = 1024;
    bool quiet = false;
    bool force = false; // replace a write-protected output
};

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// One zendrik-mask run: read the input, run the plugin over it, write the
// output through a temporary file.
#ifndef ZENDRIK_MASK_JOB_H
#define ZENDRIK_MASK_JOB_H

#include "errors.h"

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
    int64_t block = 1024;
    bool quiet = false;
};

// Runs the job and returns the exit status; errors are printed.
int run_job(const Options& options);

// Prints the bundle's presets; returns the exit status.
int list_presets();

// The folder whose bundles are a last resort: the build tree's, when this
// program runs from the build tree; otherwise empty.
std::string fallback_lv2_dir();

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// The options of zendrik-mask that say how a file is masked, shared by the
// single-file command and `batch`.
#ifndef ZENDRIK_MASK_COMMAND_LINE_H
#define ZENDRIK_MASK_COMMAND_LINE_H

#include "options.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace zendrik_mask {

// What CLI11 fills in before it becomes Options.
struct ParsedOptions {
    float frequency = 0.0f;
    std::string level;
    double level_below = 6.0;
    CLI::Option* frequency_option = nullptr;
    CLI::Option* level_option = nullptr;
    CLI::Option* level_below_option = nullptr;
    std::vector<CLI::Option*> recogniser_options;
};

// --mask, --labels, the tone, --format, the words, and the like.
void add_mask_options(CLI::App& app, Options& options, ParsedOptions& parsed);

// After parsing. Throws the bad-input Error.
void finish_options(Options& options, const ParsedOptions& parsed);

// Whether the options name anything to mask.
bool has_masks(const Options& options);

// Parses, or returns the exit status of --help, --version or a bad option.
std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv);

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// zendrik-mask batch and zendrik-mask summary: their command lines, and each
// file of a batch handed to the single-file command's code.
#ifndef ZENDRIK_MASK_BATCH_COMMAND_H
#define ZENDRIK_MASK_BATCH_COMMAND_H

namespace zendrik_mask {

// argv[0] is the subcommand's name. Return the exit status.
int run_batch_command(int argc, char** argv);
int run_summary_command(int argc, char** argv);

} // namespace zendrik_mask

#endif

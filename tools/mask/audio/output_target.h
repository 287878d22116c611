// SPDX-License-Identifier: ISC
// Where zendrik-mask's output really goes: through symbolic links to the file
// they name, and never over a write-protected file unless asked.
#ifndef ZENDRIK_MASK_OUTPUT_TARGET_H
#define ZENDRIK_MASK_OUTPUT_TARGET_H

#include <string>

namespace zendrik_mask {

// The file `output` finally names, following a chain of symbolic links, the
// last of which may point at a file yet to be made: the output replaces that
// file and the links stay links. Throws write_failed when `output` is a
// write-protected file (no write permission for this user, or none for
// anyone) and `force` is false, or when the links go round in a loop.
std::string output_target(const std::string& output, bool force);

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// Where zendrik-mask's outputs really go: through symbolic links to the file
// they name, only ever over a regular file, and never over a write-protected
// one unless asked.
#ifndef ZENDRIK_MASK_OUTPUT_TARGET_H
#define ZENDRIK_MASK_OUTPUT_TARGET_H

#include <string>
#include <vector>

namespace zendrik_mask {

// The file `output` finally names, following a chain of symbolic links, the
// last of which may point at a file yet to be made: the output replaces that
// file and the links stay links. `name` is how messages call it ("output",
// "--report"). Throws the bad-input Error when that file exists and is not a
// regular file (a folder, a device, a FIFO, a socket), write_failed when it
// is write-protected (no write permission for this user, or none for anyone)
// and `force` is false, or when the links go round in a loop. Adds a warning
// when the file has other names (hard links), which keep the old content.
std::string output_target(const std::string& output, bool force, const std::string& name,
                          std::vector<std::string>& warnings);

// Whether two names are one file: the same inode when either exists, else
// the same place once the folders' links and dots are resolved. Give it
// output_target()'s results, whose last name is no link, for the files to
// be made.
bool same_file(const std::string& a, const std::string& b);

} // namespace zendrik_mask

#endif

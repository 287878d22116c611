// SPDX-License-Identifier: ISC
// Bytes written into a finished output in place, where a library rewrote
// what the input had: an ID3v1 tag, a version field.
#ifndef ZENDRIK_MASK_FILE_PATCH_H
#define ZENDRIK_MASK_FILE_PATCH_H

#include <cstdint>
#include <string>

namespace zendrik_mask {

// Writes `bytes` into the file `path` at `offset`. Throws write_failed.
void write_bytes_at(const std::string& path, uint64_t offset, const std::string& bytes);

// Appends `bytes` to the file `path`. Throws write_failed.
void append_bytes(const std::string& path, const std::string& bytes);

} // namespace zendrik_mask

#endif

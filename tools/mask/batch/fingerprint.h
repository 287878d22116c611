// SPDX-License-Identifier: ISC
// What tells a file or a set of options from another: 64-bit hashes, stable
// across machines and runs, so that shares and records agree wherever they
// are computed. Names and options take FNV-1a; file contents take XXH3, which
// keeps up with the disk where FNV-1a, a byte at a time, would not.
#ifndef ZENDRIK_MASK_FINGERPRINT_H
#define ZENDRIK_MASK_FINGERPRINT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace zendrik_mask {

constexpr uint64_t FNV_OFFSET = 14695981039346656037ull;

uint64_t fnv1a(std::string_view bytes, uint64_t hash = FNV_OFFSET);
std::string hex(uint64_t value);

// A file as the record knows it.
struct FileIdentity {
    int64_t size = -1;
    int64_t mtime_ns = 0;
    std::string content_hash; // hex
};

// Only size and modification time; throws the bad-input Error when the file
// cannot be examined.
FileIdentity examine(const std::string& path);
// The content's XXH3 hash; throws the bad-input Error when it cannot be read.
std::string content_hash(const std::string& path);

} // namespace zendrik_mask

#endif

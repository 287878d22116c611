// SPDX-License-Identifier: ISC
// A FLAC output's seek table, rebuilt with libFLAC at the input's seek
// points: the offsets of the input's frames mean nothing in the new file.
#ifndef ZENDRIK_MASK_FLAC_SEEK_TABLE_H
#define ZENDRIK_MASK_FLAC_SEEK_TABLE_H

#include <cstdint>
#include <string>
#include <vector>

namespace zendrik_mask {

// The sample numbers of the seek points of the FLAC file `path`; empty
// without a seek table or when it cannot be read.
std::vector<uint64_t> flac_seek_points(const std::string& path);

// Writes a seek table at `samples` into the FLAC file `path`, in place, in
// its padding, thinned to fit it; returns false when none fits. Throws
// write_failed.
bool write_flac_seek_table(const std::string& path, const std::vector<uint64_t>& samples);

} // namespace zendrik_mask

#endif

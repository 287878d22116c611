// SPDX-License-Identifier: ISC
// What the container readers behind read_pcm_layout share: the reading of
// header numbers, the common end of every reader, and the readers themselves,
// one file per container family.
#ifndef ZENDRIK_MASK_PCM_CONTAINERS_H
#define ZENDRIK_MASK_PCM_CONTAINERS_H

#include "pcm_layout.h"

#include <cstdint>
#include <string>

namespace zendrik_mask::pcm_containers {

// Not a file read here, or not uncompressed PCM; `reason` says why.
PcmLayout unknown(const std::string& reason);

// An unsigned number of `count` bytes in either byte order.
uint64_t number(const unsigned char* bytes, int count, bool big_endian);

// A chunk id as text, '?' for what is not printable ASCII.
std::string chunk_name(const unsigned char* id);

// The common end: `declared` bytes of samples from `samples.offset`, or up
// to the end of the file when `to_end`; whole frames only.
PcmLayout finish(SampleData samples, uint64_t declared, bool to_end, int64_t file_size);

// The first 16 bytes of a W64 file: its RIFF GUID.
extern const unsigned char W64_RIFF[16];

// Each reader takes the file from its start; the caller has read the magic.
PcmLayout read_riff(const ByteReader& file, bool rf64); // pcm_riff.cpp
PcmLayout read_w64(const ByteReader& file);
PcmLayout read_aiff(const ByteReader& file, bool aifc); // pcm_aiff.cpp
PcmLayout read_caf(const ByteReader& file);             // pcm_caf_au.cpp
PcmLayout read_au(const ByteReader& file, bool big_endian);

} // namespace zendrik_mask::pcm_containers

#endif

// SPDX-License-Identifier: ISC
// What an Ogg file's pages say about its length. libsndfile decodes the
// first logical stream up to wherever the file stops: a file cut short, or a
// second stream chained after the first (`cat a.ogg b.ogg`), would come out
// shorter without a word. The pages tell: each carries a checksum, the last
// page of a stream is flagged, and its granule position is the stream's
// length in samples.
#ifndef ZENDRIK_MASK_OGG_PAGES_H
#define ZENDRIK_MASK_OGG_PAGES_H

#include <cstdint>
#include <istream>
#include <string>

namespace zendrik_mask {

struct OggLayout {
    int streams = 0;              // logical streams, one after the other
    bool multiplexed = false;     // pages of two streams interleaved
    bool whole = true;            // every page complete, its checksum right
    bool ended = false;           // the first stream's last page is flagged so
    int64_t last_granule = -1;    // the first stream's, at its end
    bool granules_ordered = true; // never backwards, and the last page ends a packet
    bool opus = false;            // an Opus stream (granules count 48 kHz samples)
    int64_t opus_pre_skip = 0;    // samples an Opus decoder drops at the start
};

// Reads the pages of `in` from its start, without decoding.
OggLayout read_ogg_layout(std::istream& in);

// The frames the first stream holds at `samplerate`; -1 when unknown.
int64_t declared_frames(const OggLayout& layout, int samplerate);

// Throws the bad-input Error, naming `path`, for an Ogg file that is chained,
// cut short or damaged; returns the frames its pages declare (-1 unknown).
int64_t check_ogg_whole(const std::string& path, int samplerate);

} // namespace zendrik_mask

#endif

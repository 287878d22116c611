// SPDX-License-Identifier: ISC
// WAV chunks libsndfile reads past and does not write: iXML, "id3 ", the
// cue labels (LIST adtl) and INFO fields it has no string for (IKEY, IENG,
// ITCH, IPRT...). They are appended to a finished WAV output.
#ifndef ZENDRIK_MASK_RIFF_CHUNKS_H
#define ZENDRIK_MASK_RIFF_CHUNKS_H

#include <cstdint>
#include <string>
#include <vector>

namespace zendrik_mask {

struct RiffChunk {
    std::string id;   // four characters
    std::string data; // without the pad byte
};

struct CueLabel {
    uint32_t cue_id;
    std::string text;
};

// A LIST adtl chunk naming cue points.
RiffChunk cue_label_chunk(const std::vector<CueLabel>& labels);

// The chunks of the RIFF WAVE file `path` named above, the INFO fields as
// one LIST INFO chunk; empty for other files. Those not read are named in
// `skipped` ("iXML (cut short)"): one whose size runs past the end of the
// file, which ends the reading, and one of more than 64 MiB.
std::vector<RiffChunk> extra_wav_chunks(const std::string& path, std::vector<std::string>& skipped);

// Names for messages: "iXML", "cue labels", "INFO IKEY".
std::vector<std::string> chunk_names(const std::vector<RiffChunk>& chunks);

// Sets the version of the bext chunk of the RIFF or RF64 WAVE file `path`
// (libsndfile writes its own); nothing without one. Throws write_failed.
void set_bext_version(const std::string& path, uint16_t version);

// Appends `chunks` to the RIFF WAVE file `path` (beside the LIST INFO chunk
// libsndfile wrote). Throws write_failed.
void append_wav_chunks(const std::string& path, const std::vector<RiffChunk>& chunks);

} // namespace zendrik_mask

#endif

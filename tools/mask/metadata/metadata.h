// SPDX-License-Identifier: ISC
// What a re-encoded output keeps of its input besides the audio: libsndfile
// carries what it knows (text, broadcast info, cue points, instrument and
// loops, cart, speaker layout) while the output is open; after libsndfile has
// closed it, TagLib, libFLAC and a RIFF chunk appender add what libsndfile
// drops (tags of every name, pictures, chapters, the seek table, WAV chunks).
// What the output's format has no place for is named in one warning.
#ifndef ZENDRIK_MASK_METADATA_H
#define ZENDRIK_MASK_METADATA_H

#include "riff_chunks.h"
#include "text_fields.h"

#include <sndfile.h>

#include <string>
#include <vector>

namespace zendrik_mask {

class MetadataCopy {
public:
    // `input_path` opened by libsndfile as `input`, whose formats are given.
    MetadataCopy(const std::string& input_path, int input_format, int output_format);

    // Before any audio is written to `output`.
    void before_audio(SNDFILE* input, SNDFILE* output);
    // On the finished output file, closed by libsndfile, at `output_path`;
    // `name` is the file the user asked for, for messages. Throws
    // write_failed.
    void after_close(const std::string& output_path, const std::string& name);

    // "not carried into FLAC: iXML, cue points"; empty when all was carried.
    std::string warning() const;

private:
    void lose(const std::string& what);
    void carry_after_close(const std::string& output_path);

    std::string input_path_;
    int input_format_;
    int output_format_;
    std::vector<std::string> lost_;
    std::vector<CueLabel> cue_labels_;
    TextFields text_;
    int bext_version_ = -1; // the input's, which libsndfile does not keep
};

// The name of a libsndfile container, for messages: "FLAC", "Ogg Opus".
std::string container_label(int format);

} // namespace zendrik_mask

#endif

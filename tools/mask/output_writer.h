// SPDX-License-Identifier: ISC
// The ways a run writes its output, one implementation each: a video or a
// file FFmpeg reads (media_writer.cpp), the byte-preserving copy of a PCM
// file (copy_writer.cpp), and audio encoded again through libsndfile
// (reencode_writer.cpp). Each is set up before the words are searched for,
// so that whatever refuses the output does so before any long work.
#ifndef ZENDRIK_MASK_OUTPUT_WRITER_H
#define ZENDRIK_MASK_OUTPUT_WRITER_H

#include "audio_file.h"
#include "copy_path.h"
#include "host.h"
#include "lossy.h"
#include "media_job.h"
#include "options.h"
#include "ranges.h"
#include "temp_file.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

// What is masked: the plan at the input's rate, and for video the ranges of
// each audio stream and the words found in its text subtitles (unset when
// nothing was found).
struct MaskTargets {
    const Plan& plan;
    StreamRanges stream_ranges;
    SubtitleEdits subtitle_edits;
};

struct Written {
    int64_t frames = 0;  // written, at the input's rate
    int64_t masked = 0;  // of those, frames with the tone on
    std::string warning; // of metadata lost or, for video, holes filled; "" for none
};

class OutputWriter {
public:
    virtual ~OutputWriter() = default;
    // Writes the masked output into `temp`, read back whole before it returns.
    virtual Written write(const MaskTargets& targets, TempFile& temp, bool show_progress) = 0;
};

// The writer for `input`: the media path when FFmpeg decodes it, else the
// copy when `samples` can be masked in place, else re-encoding. Throws the
// bad-input Error for options that do not apply and outputs that cannot be
// written; adds the warnings of the choice.
std::unique_ptr<OutputWriter> choose_output_writer(const Options& options, InputFile& input,
                                                   const std::optional<SampleData>& samples, int64_t frames,
                                                   std::vector<std::string>& warnings);

std::unique_ptr<OutputWriter> make_media_writer(const Options& options, std::vector<std::string>& warnings);

// The two that play the tone through the plugin `host`.
std::unique_ptr<OutputWriter> make_copy_writer(const Options& options, const InputFile& input,
                                               const SampleData& samples, std::unique_ptr<Lv2Host> host);
std::unique_ptr<OutputWriter> make_reencode_writer(const Options& options, InputFile& input, const SF_INFO& output_info,
                                                   const Mp3Bitrate& mp3_bitrate, std::unique_ptr<Lv2Host> host);

} // namespace zendrik_mask

#endif

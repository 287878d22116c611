// SPDX-License-Identifier: ISC
// The steps of a run that differ for video and the containers libsndfile
// cannot read: set up before any long work, then written. Nothing here
// names FFmpeg's types, so that a build can leave FFmpeg out (see
// media_none.cpp, for valgrind on machines where FFmpeg's dependencies
// cannot start under it).
#ifndef ZENDRIK_MASK_MEDIA_JOB_H
#define ZENDRIK_MASK_MEDIA_JOB_H

#include "audio_file.h"
#include "options.h"
#include "ranges.h"
#include "temp_file.h"
#include "text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// The input opened again, its masked streams and a plugin for each.
struct MediaSetup;
struct MediaSetupDeleter {
    void operator()(MediaSetup* setup) const;
};
using MediaSetupPtr = std::unique_ptr<MediaSetup, MediaSetupDeleter>;

struct MediaWritten {
    int64_t frames = 0;  // of the first masked stream
    int64_t masked = 0;  // of those, frames with the tone on
    std::string warning; // of holes filled with silence
};

// Throws the bad-input Error for options that do not apply, a --format the
// output cannot take and streams that cannot be encoded again; adds a warning for each stream re-encoded whole.
MediaSetupPtr set_up_media(const Options& options, std::vector<std::string>& warnings);

// The ranges to bleep in an audio stream, by its index.
using StreamRanges = std::function<std::vector<TimeRange>(int stream)>;

// The edits that clean the text of a subtitle cue shown from `start` to
// `end` (seconds from the input's 0); `ass` for an ASS event.
using SubtitleEdits = std::function<std::vector<TextEdit>(std::string_view text, bool ass, double start, double end)>;

// Writes the masked file into `temp`; its text subtitles cleaned with
// `subtitles` when it is set.
MediaWritten write_media(MediaSetup& setup, const Options& options, const StreamRanges& ranges,
                         const SubtitleEdits& subtitles, TempFile& temp, bool show_progress);

// InputFile's reader for what libsndfile cannot read: the first of the
// streams `picks` names, decoded.
AudioFallback media_audio_fallback(const std::vector<std::string>& picks);

// The indexes of the audio streams of `path` that `picks` masks.
std::vector<int> masked_media_streams(const std::string& path, const std::vector<std::string>& picks);

// The text subtitle stream --subtitles names (`pick`: an index, a language,
// or "" for the default text stream): its cues handed to `cue` in the order
// stored, times from the input's 0, styling dropped. Throws the bad-input
// Error for a bitmap stream and for a pick that names no subtitle stream.
struct InputSubtitles {
    int stream = -1;
    std::string language; // "" when the stream does not say
};
InputSubtitles read_input_subtitles(const std::string& path, const std::string& pick,
                                    const std::function<void(double start, double end, const std::string& text)>& cue);

// --write-subtitles for --subtitles: the stream `pick` names, cleaned with
// `edits`, as a file of its own format (SubRip for SubRip and mov_text, ASS,
// WebVTT). Throws the bad-input Error.
std::string cleaned_input_subtitles(const std::string& path, const std::string& pick, const SubtitleEdits& edits);

// The audio stream the subtitles in `language` are aligned against: the
// stream in that language, else the default one, else the first.
int audio_stream_in_language(const std::string& path, const std::string& language);

} // namespace zendrik_mask

#endif

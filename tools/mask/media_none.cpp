// SPDX-License-Identifier: ISC
// The media steps of a build without FFmpeg: every file libsndfile cannot
// read is refused. The tests build zendrik-mask this way for valgrind,
// which cannot start FFmpeg's dependencies on every CPU (libhwy times the
// CPU with rdtscp while it loads); the program people install has FFmpeg.
#include "media_job.h"

#include "errors.h"
#include "review.h"

namespace zendrik_mask {

namespace {

[[noreturn]] void no_media(const std::string& path, const std::string& why)
{
    throw bad_input("cannot read input '" + path + "': " + why + " (this build of zendrik-mask reads no video)");
}

} // namespace

struct MediaSetup {};

void MediaSetupDeleter::operator()(MediaSetup* setup) const
{
    delete setup;
}

MediaSetupPtr set_up_media(const Options& options, std::vector<std::string>& /*warnings*/)
{
    no_media(options.input, "not an audio file libsndfile reads");
}

MediaWritten write_media(MediaSetup& /*setup*/, const Options& options, const StreamRanges& /*ranges*/,
                         const SubtitleEdits& /*subtitles*/, TempFile& /*temp*/, bool /*show_progress*/)
{
    no_media(options.input, "not an audio file libsndfile reads");
}

AudioFallback media_audio_fallback(const std::vector<std::string>& /*picks*/)
{
    return [](const std::string& path, SF_INFO& /*info*/, const std::string& why) -> std::unique_ptr<DecodedAudio> {
        no_media(path, why);
    };
}

std::vector<int> masked_media_streams(const std::string& path, const std::vector<std::string>& /*picks*/)
{
    no_media(path, "not an audio file libsndfile reads");
}

// The page's sound and pictures are encoded by FFmpeg.
std::string review_page_text(const Review& /*review*/)
{
    throw bad_input("--review: this build of zendrik-mask has no FFmpeg to encode the page's sound");
}

InputSubtitles read_input_subtitles(const std::string& path, const std::string& /*pick*/,
                                    const std::function<void(double, double, const std::string&)>& /*cue*/)
{
    no_media(path, "its subtitles are read through FFmpeg");
}

std::string cleaned_input_subtitles(const std::string& path, const std::string& /*pick*/,
                                    const SubtitleEdits& /*edits*/)
{
    no_media(path, "its subtitles are read through FFmpeg");
}

int audio_stream_in_language(const std::string& path, const std::string& /*language*/)
{
    no_media(path, "not an audio file libsndfile reads");
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// Files that libsndfile cannot read, opened with FFmpeg's libavformat: video
// and the containers of AAC, ALAC, Opus and the like. What every user of them
// shares: the opened input, the audio streams to mask, the time shown as 0,
// and the check that the file was read to its end.
#ifndef ZENDRIK_MASK_MEDIA_INPUT_H
#define ZENDRIK_MASK_MEDIA_INPUT_H

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zendrik_mask {

// FFmpeg's error code as text; with the last error FFmpeg logged when there
// is one, which often says more ("moov atom not found").
std::string media_error(int code);

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;
Packet make_packet();
Frame make_frame();

class MediaInput {
public:
    // Throws the bad-input Error naming `path`: "no reader for this format"
    // when no demuxer knows it, "damaged or cut short" when one knows it but
    // cannot read its header.
    explicit MediaInput(const std::string& path);
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    AVFormatContext* context() const { return context_; }
    const std::string& path() const { return path_; }
    // The time shown as 0, in AV_TIME_BASE units: the start of the stream
    // that starts first, as a player shows it (after an audio codec's delay).
    int64_t zero() const { return zero_; }
    // The stream's samples from 0 to its end, from the container's word; -1
    // when it does not say.
    int64_t frames_of(int stream) const;
    // Reads the next packet; false at the end. Throws the bad-input Error
    // when reading stops before the end the file declares, and when the
    // demuxer reports damage (it would skip to the next part it can read,
    // and what follows would play early).
    bool read(AVPacket* packet);

private:
    void check_index();
    void check_whole() const;
    int64_t declared_end() const;

    std::string path_;
    AVFormatContext* context_ = nullptr;
    int64_t zero_ = 0;
    std::string damage_; // that the demuxer reported while the streams were probed
    // Per stream, in the stream's time base: the end of the packets read,
    // where the last one starts (by its decoding time) and how long it lasts.
    std::vector<int64_t> stream_end_, last_start_, last_length_;
};

// The audio streams to mask: every audio stream, or those `picks` names by
// index (as ffprobe counts them) or by language ("eng"). Throws the
// bad-input Error for a pick that names no audio stream, and when there is
// none.
std::vector<int> masked_streams(const MediaInput& input, const std::vector<std::string>& picks);

// The sample of stream `stream` at rate `rate` that time `pts` (in the
// stream's time base) falls on, counted from the input's 0.
int64_t sample_at(const MediaInput& input, int stream, int64_t pts, int rate);

// The silence, in samples at `rate`, that must come before a frame at `pts`
// for it to play at its time when the stream's next sample is `position`
// (from the input's 0): 0 unless the timestamps jump further than their
// rounding explains.
int64_t gap_before(const MediaInput& input, int stream, int64_t pts, int rate, int64_t position);

} // namespace zendrik_mask

#endif

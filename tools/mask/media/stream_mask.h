// SPDX-License-Identifier: ISC
// One masked audio stream: its packets decoded, the plugin's tone put over
// the ranges, the frames encoded again and their timestamps kept, so that the
// stream starts, is delayed (AAC priming) and ends as the input's did.
#ifndef ZENDRIK_MASK_STREAM_MASK_H
#define ZENDRIK_MASK_STREAM_MASK_H

#include "audio_codec.h"
#include "copy_path.h"
#include "media_input.h"
#include "ranges.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zendrik_mask {

class StreamMask {
public:
    // Decodes stream `stream` of `input` and writes it as stream `output_stream`
    // of `output`, the tone of `tone` over `plan` (samples from the input's
    // 0) in the channels `channels` flags, in blocks cut at multiples of
    // `block` as the other paths cut them; with its own codec, or `codec`
    // when one is given.
    StreamMask(const MediaInput& input, int stream, AVFormatContext& output, AVStream& output_stream, Plan plan,
               ToneSource tone, std::vector<bool> channels, int64_t block, AVCodecID codec = AV_CODEC_ID_NONE);
    ~StreamMask();
    StreamMask(const StreamMask&) = delete;
    StreamMask& operator=(const StreamMask&) = delete;

    using Writer = std::function<void(AVPacket*)>;
    // Decodes `packet` (null: the end) and hands each packet encoded to
    // `write`, its timestamps in the output stream's time base. Throws the
    // bad-input Error for a packet that does not decode.
    void send(const AVPacket* packet, const Writer& write);

    int64_t frames() const { return frames_; }
    int64_t masked() const { return masked_; }
    // What was filled with silence to keep the stream in sync; "" when nothing.
    std::string gap_warning() const;

private:
    void put_tone(AVFrame& frame, int64_t position);
    void fill_silence(int64_t samples, const Writer& write);
    void queue(AVFrame& frame, const Writer& write);
    void encode(int samples, const Writer& write);
    void drain(const Writer& write);

    const MediaInput& input_;
    int stream_;
    AVStream& output_stream_;
    Plan plan_;
    ToneSource tone_;
    std::vector<bool> channels_;
    int64_t block_;
    CodecContext decoder_, encoder_;
    SwrContext* converter_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    int chunk_ = 0;         // samples the encoder takes a frame
    int64_t position_ = -1; // of the next decoded sample, from the input's 0; -1 before the first
    int64_t end_ = INT64_MAX;
    int64_t first_packet_pts_ = AV_NOPTS_VALUE; // in the input stream's time base
    int64_t written_delay_ = 0;                 // samples added to the timestamps written, in 1/rate
    int64_t next_pts_ = 0;                      // of the next frame encoded, in 1/rate
    int64_t skip_ = 0;                          // samples still to drop from the start
    std::size_t range_ = 0;                     // the first range not behind
    std::size_t tone_on_ = SIZE_MAX;            // the range whose tone is sounding
    int bits_ = 32;                             // of integer samples
    int64_t frames_ = 0, masked_ = 0;
    int64_t gaps_ = 0, gap_samples_ = 0, first_gap_at_ = 0;
    std::vector<float> tone_samples_;
    Frame decoded_, converted_, encoded_;
    Packet packet_;
};

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// zendrik-mask's audio files, through libsndfile: the input, opened and
// checked whole; the output, written into the temporary file; and the frames
// between them, read, converted for the plugin and written back.
#ifndef ZENDRIK_MASK_AUDIO_FILE_H
#define ZENDRIK_MASK_AUDIO_FILE_H

#include "descriptor_io.h"
#include "flac_length.h"
#include "mp3_stream.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zendrik_mask {

using SndFileHandle = std::unique_ptr<SNDFILE, int (*)(SNDFILE*)>;

// Audio that libsndfile cannot read, decoded by a reader that a library
// above this one registers (the media library's, for video and AAC), so
// that whatever reads an InputFile hears it too.
class DecodedAudio {
public:
    virtual ~DecodedAudio() = default;
    // The next `count` frames at most, interleaved; 0 at the end or at an error.
    virtual int64_t read(float* frames, int64_t count) = 0;
    // Why reading stopped before the end; empty when it did not.
    virtual std::string error() const = 0;
};

// Opens `path` when libsndfile does not know its format (`why` says so in
// its words): fills `info` (rate, channels, frames; format 0) or throws the
// bad-input Error.
using AudioFallback
    = std::function<std::unique_ptr<DecodedAudio>(const std::string& path, SF_INFO& info, const std::string& why)>;
void set_audio_fallback(AudioFallback fallback);

class InputFile {
public:
    // Throws the bad-input Error when `path` is missing, a folder, not audio
    // libsndfile or the fallback reads, or cut short inside its audio.
    // `fallback`, when given, opens what libsndfile cannot instead of the
    // one registered: another stream of the same file.
    explicit InputFile(const std::string& path, const AudioFallback& fallback = {});

    SNDFILE* handle() const { return file_.get(); }
    const SF_INFO& info() const { return info_; }
    // What stat() said of the file opened, for the copy to check it reads that same file.
    const struct stat& status() const { return status_; }
    // The frames its header promises; -1 when unknown.
    int64_t frames() const { return info_.frames == SF_COUNT_MAX ? -1 : info_.frames; }
    // Throws the bad-input Error when reading stopped at an error or before
    // the frames the header promised.
    void check_read_whole(int64_t frames_read) const;
    // An MP3's own decoder, which counted its frames; null for other formats.
    Mp3Stream* mp3() const { return mp3_.get(); }
    // The fallback's decoder, for a file libsndfile cannot read; then
    // handle() is null.
    DecodedAudio* decoded() const { return decoded_.get(); }
    // What the header said wrong about the file; empty when nothing.
    const std::string& header_warning() const { return header_warning_; }

private:
    void read_flac_length();

    std::string path_;
    struct stat status_ {};
    SF_INFO info_{};
    // Before `file_`, which reads through it until it is closed.
    std::unique_ptr<FlacWithoutLength> flac_;
    SndFileHandle file_{nullptr, sf_close};
    std::unique_ptr<Mp3Stream> mp3_;
    std::unique_ptr<DecodedAudio> decoded_;
    std::string header_warning_;
};

class OutputFile {
public:
    // Writes `info`'s format into `fd`, which stays open, with the input's
    // text tags; `name` is the file the user asked for, for messages. Throws
    // the bad-input Error when libsndfile cannot write that format there.
    OutputFile(int fd, SF_INFO info, const std::string& name, const InputFile& tags_from);

    SNDFILE* handle() const { return file_.get(); }
    const SF_INFO& info() const { return info_; }
    const std::string& name() const { return name_; }
    // The errno of the first write to the file that failed; 0 for none.
    int write_error() const { return io_->write_error(); }
    // Flushes and closes; throws write_failed.
    void close();

private:
    std::string name_;
    SF_INFO info_;
    std::unique_ptr<DescriptorIo> io_;
    SndFileHandle file_{nullptr, sf_close};
};

// One block of frames on its way through the plugin: interleaved, in the
// sample type the files are read and written in, and planar in floats for the
// plugin.
class FrameBuffer {
public:
    // For an input of `input_format` and an output of `output_format`
    // (libsndfile formats), blocks of at most `block_frames`.
    static std::unique_ptr<FrameBuffer> make(int input_format, int output_format, std::size_t block_frames,
                                             std::size_t channel_count);
    virtual ~FrameBuffer() = default;

    // Reads the next block, also into the plugin's input; returns its frames,
    // 0 at the end of the input or at a read error.
    virtual std::size_t read(InputFile& input) = 0;
    float* plugin_input(std::size_t channel, std::size_t offset)
    {
        return &plugin_input_[channel * block_frames_ + offset];
    }
    float* plugin_output(std::size_t channel, std::size_t offset)
    {
        return &plugin_output_[channel * block_frames_ + offset];
    }
    // Whether the plugin's output replaces the block outside the ranges too.
    virtual bool takes_all_plugin_output() const = 0;
    // Frames [offset, offset + length) of the block become the plugin's output.
    virtual void take_plugin_output(std::size_t offset, std::size_t length) = 0;
    // Writes the block's first `frames`; throws write_failed.
    virtual void write(OutputFile& output, std::size_t frames) = 0;

protected:
    FrameBuffer(std::size_t block_frames, std::size_t channel_count)
        : block_frames_(block_frames), channel_count_(channel_count), plugin_input_(block_frames * channel_count),
          plugin_output_(block_frames * channel_count)
    {
    }

    std::size_t block_frames_;
    std::size_t channel_count_;

private:
    std::vector<float> plugin_input_;
    std::vector<float> plugin_output_;
};

// The significant bits of an integer encoding; 0 for the others.
int integer_bits(int format);

// Tone samples for a file of `bits`-bit integers: scaled to that depth,
// rounded to nearest and clipped there, then placed in the top bits of the
// 32-bit int libsndfile takes.
class IntegerTone {
public:
    explicit IntegerTone(int bits);
    int from_plugin(float y) const
    {
        double q = std::nearbyint(static_cast<double>(y) * scale_);
        q = std::clamp(q, -scale_, scale_ - 1.0);
        const auto v = static_cast<int64_t>(q);
        return static_cast<int32_t>(static_cast<uint32_t>(v) << shift_);
    }

private:
    double scale_;
    int shift_;
};

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
#include "copy_path.h"

#include "audio_file.h"
#include "errors.h"
#include "output_check.h"
#include "progress.h"
#include "sndfile_open.h"
#include "temp_file.h"

#include <sndfile.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zendrik_mask {

namespace {

// A descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The input opened again, checked to be the file libsndfile opened.
int open_input(const InputFile& input, const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        const int err = errno;
        if (fd >= 0) {
            close(fd);
        }
        throw bad_input("cannot open input '" + path + "': " + std::strerror(err));
    }
    if (status.st_dev != input.status().st_dev || status.st_ino != input.status().st_ino
        || status.st_size != input.status().st_size) {
        close(fd);
        throw bad_input("input '" + path + "' changed while it was read");
    }
    return fd;
}

[[noreturn]] void fail_write(const std::string& name, int err)
{
    throw write_failed("cannot write '" + name + "': " + std::strerror(err));
}

void write_all(int fd, const char* bytes, std::size_t count, int64_t offset, const std::string& name)
{
    while (count > 0) {
        const ssize_t put = pwrite(fd, bytes, count, offset);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            fail_write(name, failed_write_error(put));
        }
        bytes += put;
        offset += put;
        count -= static_cast<std::size_t>(put);
    }
}

// Bytes [begin, end) of the input into the same place in the output, as
// fast as the file systems allow: copy_file_range lets the kernel (or the
// server) copy them, plain reads and writes do it where it cannot (then
// `in_kernel` turns false, for the next spans).
void copy_span(int from, int to, int64_t begin, int64_t end, bool& in_kernel, const std::string& name)
{
    std::vector<char> buffer;
    int64_t done = begin;
    while (done < end) {
        ssize_t copied = 0;
        if (in_kernel) {
            loff_t in_at = done, out_at = done;
            copied = copy_file_range(from, &in_at, to, &out_at, static_cast<std::size_t>(end - done), 0);
            if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                in_kernel = false;
                continue;
            }
        } else {
            buffer.resize(1 << 20);
            copied = pread(from, buffer.data(), static_cast<std::size_t>(std::min<int64_t>(end - done, 1 << 20)), done);
            if (copied > 0) {
                write_all(to, buffer.data(), static_cast<std::size_t>(copied), done, name);
            }
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied < 0) {
            fail_write(name, errno);
        }
        if (copied == 0) {
            throw bad_input("input changed while it was read: it ends after " + std::to_string(done) + " bytes");
        }
        done += copied;
    }
}

// Tone samples into the file's bytes, coded by libsndfile itself: a raw
// stream of the file's encoding and byte order, written into memory.
class SampleEncoder {
public:
    SampleEncoder(const SampleData& samples, int samplerate)
        : encoding_(samples.sndfile_encoding()), channels_(static_cast<std::size_t>(samples.channels)),
          frame_bytes_(static_cast<std::size_t>(samples.frame_bytes())), integer_tone_(std::max(8, bits()))
    {
        SF_INFO info{};
        info.samplerate = samplerate;
        info.channels = samples.channels;
        info.format = SF_FORMAT_RAW | encoding_;
        SF_VIRTUAL_IO io{};
        io.get_filelen = [](void* sink) { return static_cast<Sink*>(sink)->end(); };
        io.seek
            = [](sf_count_t offset, int whence, void* sink) { return static_cast<Sink*>(sink)->seek(offset, whence); };
        io.read = [](void*, sf_count_t, void*) -> sf_count_t { return 0; };
        io.write = [](const void* from, sf_count_t count, void* sink) {
            return static_cast<Sink*>(sink)->write(from, count);
        };
        io.tell = [](void* sink) { return static_cast<Sink*>(sink)->position; };
        const SndfileOpened opened = open_sndfile([&] { return sf_open_virtual(&io, SFM_WRITE, &info, &sink_); });
        file_.reset(opened.file);
        if (!file_) {
            throw write_failed("cannot encode the tone: " + opened.error);
        }
        // As the decode path's output does: beyond full scale clips.
        sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }

    // `frames` frames of planar tone (channel c at planar[c * stride]) as
    // the file's bytes, exactly as the decode path would have written them.
    const std::string& encode(const std::vector<float>& planar, std::size_t stride, std::size_t frames)
    {
        sink_.bytes.clear();
        sink_.base = sink_.position;
        const auto count = static_cast<sf_count_t>(frames);
        sf_count_t written = 0;
        const auto sample = [&](std::size_t i, std::size_t c) { return planar[c * stride + i]; };
        if (bits() > 0) {
            ints_.resize(frames * channels_);
            for (std::size_t i = 0; i < frames; ++i) {
                for (std::size_t c = 0; c < channels_; ++c) {
                    ints_[i * channels_ + c] = integer_tone_.from_plugin(sample(i, c));
                }
            }
            written = sf_writef_int(file_.get(), ints_.data(), count);
        } else if ((encoding_ & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE) {
            doubles_.resize(frames * channels_);
            for (std::size_t i = 0; i < frames; ++i) {
                for (std::size_t c = 0; c < channels_; ++c) {
                    doubles_[i * channels_ + c] = static_cast<double>(sample(i, c));
                }
            }
            written = sf_writef_double(file_.get(), doubles_.data(), count);
        } else {
            floats_.resize(frames * channels_);
            for (std::size_t i = 0; i < frames; ++i) {
                for (std::size_t c = 0; c < channels_; ++c) {
                    floats_[i * channels_ + c] = sample(i, c);
                }
            }
            written = sf_writef_float(file_.get(), floats_.data(), count);
        }
        if (written != count || sink_.bytes.size() != frames * frame_bytes_) {
            throw write_failed(std::string("cannot encode the tone: ") + sf_strerror(file_.get()));
        }
        return sink_.bytes;
    }

private:
    // What libsndfile writes: the bytes since the last encode, `base` being
    // the stream position of the first.
    struct Sink {
        std::string bytes;
        sf_count_t base = 0;
        sf_count_t position = 0;

        sf_count_t end() const { return base + static_cast<sf_count_t>(bytes.size()); }
        sf_count_t seek(sf_count_t offset, int whence)
        {
            const sf_count_t from = whence == SEEK_CUR ? position : whence == SEEK_END ? end() : 0;
            position = std::max(base, from + offset);
            return position;
        }
        sf_count_t write(const void* from, sf_count_t count)
        {
            const auto at = static_cast<std::size_t>(position - base);
            if (bytes.size() < at + static_cast<std::size_t>(count)) {
                bytes.resize(at + static_cast<std::size_t>(count));
            }
            std::memcpy(&bytes[at], from, static_cast<std::size_t>(count));
            position += count;
            return count;
        }
    };

    int bits() const { return integer_bits(encoding_); }

    int encoding_;
    std::size_t channels_;
    std::size_t frame_bytes_;
    IntegerTone integer_tone_;
    Sink sink_;
    SndFileHandle file_{nullptr, sf_close};
    std::vector<int> ints_;
    std::vector<float> floats_;
    std::vector<double> doubles_;
};

} // namespace

std::optional<SampleData> locate_samples(const InputFile& input, const std::string& path)
{
    const Descriptor fd(open_input(input, path));
    const PcmLayout layout = read_pcm_layout(FileReader(fd.get()));
    if (layout.status == PcmLayout::Status::truncated) {
        throw bad_input("input '" + path + "' is truncated: " + layout.reason);
    }
    if (layout.status != PcmLayout::Status::found) {
        return std::nullopt;
    }
    const SampleData& samples = layout.samples;
    const SF_INFO& info = input.info();
    const auto disagree = [&](const std::string& what, int64_t header, int64_t libsndfile) {
        return bad_input("input '" + path + "' reads two ways: its header gives " + std::to_string(header) + " " + what
                         + ", libsndfile " + std::to_string(libsndfile));
    };
    if ((info.format & SF_FORMAT_TYPEMASK) != samples.container) {
        throw disagree("as its container", samples.container, info.format & SF_FORMAT_TYPEMASK);
    }
    if ((info.format & SF_FORMAT_SUBMASK) != (samples.sndfile_encoding() & SF_FORMAT_SUBMASK)) {
        throw disagree("as its encoding", samples.sndfile_encoding() & SF_FORMAT_SUBMASK,
                       info.format & SF_FORMAT_SUBMASK);
    }
    if (info.channels != samples.channels) {
        throw disagree("channels", samples.channels, info.channels);
    }
    // libsndfile reads a WAV stream whose data size is 0 as empty; its audio runs to the end all the same.
    if (info.frames != samples.frames() && !(samples.runs_to_end && info.frames == 0)) {
        throw disagree("frames", samples.frames(), info.frames);
    }
    return samples;
}

bool keeps_format(int input, int output)
{
    const int output_order = output & SF_FORMAT_ENDMASK;
    return (input & SF_FORMAT_TYPEMASK) == (output & SF_FORMAT_TYPEMASK)
        && (input & SF_FORMAT_SUBMASK) == (output & SF_FORMAT_SUBMASK)
        && (output_order == SF_ENDIAN_FILE || output_order == (input & SF_FORMAT_ENDMASK));
}

bool takes_copy_path(const std::optional<SampleData>& samples, const InputFile& input, const std::string& path,
                     int output_format)
{
    if (!samples) {
        return false;
    }
    const char* decode = std::getenv("ZENDRIK_MASK_DECODE");
    if (keeps_format(input.info().format, output_format) && (decode == nullptr || *decode == '\0')) {
        return true;
    }
    if (samples->frames() != input.frames()) {
        throw bad_input("input '" + path
                        + "' is a stream whose header gives no length, which only its own format can keep: "
                          "drop --format");
    }
    return false;
}

MaskedCopy mask_in_copy(const InputFile& input, const std::string& path, const SampleData& samples, const Plan& plan,
                        const ToneSource& tone_source, int64_t block, TempFile& temp, const std::string& output_name,
                        bool show_progress)
{
    const Descriptor from(open_input(input, path));
    // A reflink shares the input's blocks: only the ranges' are written.
    // Without one, the bytes between the ranges are copied and the ranges'
    // written in file order, so that no page is written twice.
    const bool cloned = ioctl(temp.fd(), FICLONE, from.get()) == 0;
    int64_t copied_to = 0;
    bool in_kernel = true;
    const auto copy_up_to = [&](int64_t end) {
        if (!cloned && end > copied_to) {
            copy_span(from.get(), temp.fd(), copied_to, end, in_kernel, output_name);
        }
        copied_to = std::max(copied_to, end);
    };

    const auto channels = static_cast<unsigned>(samples.channels);
    // Tone is made a whole number of blocks at a time and written in pieces
    // of about 64 k frames.
    const auto capacity = static_cast<std::size_t>(block * std::max<int64_t>(1, 65536 / block));
    std::vector<float> tone(capacity * channels);
    SampleEncoder encoder(samples, input.info().samplerate);
    Progress progress(show_progress, samples.frames(), "writing");
    MaskedCopy totals;
    totals.frames = samples.frames();
    WrittenBytes written;

    const auto write_tone = [&](int64_t first_frame, std::size_t frames) {
        const std::string& bytes = encoder.encode(tone, capacity, frames);
        const int64_t at = samples.offset + first_frame * samples.frame_bytes();
        copy_up_to(at);
        write_all(temp.fd(), bytes.data(), bytes.size(), at, output_name);
        written.add(at, bytes.data(), bytes.size());
        copied_to = at + static_cast<int64_t>(bytes.size());
    };
    for (const FrameRange& range : plan.ranges) {
        // One pass-through frame restarts the tone at phase zero, as the
        // pass-through before the range does in the decode path.
        tone_source.restart();
        int64_t position = range.start;
        int64_t first = range.start;
        std::size_t filled = 0;
        while (position < range.end) {
            // The decode path's blocks start at multiples of `block`.
            const int64_t end = std::min(range.end, (position / block + 1) * block);
            const auto length = static_cast<std::size_t>(end - position);
            if (filled + length > capacity) {
                write_tone(first, filled);
                first = position;
                filled = 0;
            }
            for (unsigned c = 0; c < channels; ++c) {
                tone_source.render(c, tone.data() + c * capacity + filled, static_cast<uint32_t>(length));
            }
            filled += length;
            position = end;
        }
        write_tone(first, filled);
        totals.masked += range.end - range.start;
        progress.update(range.end);
    }
    copy_up_to(input.status().st_size);
    // What the device took is read back before the output may replace the target.
    written.check(temp.fd(), input.status().st_size, output_name);
    progress.update(totals.frames);
    return totals;
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "output_check.h"

#include "audio_file.h"
#include "errors.h"

#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string_view>

namespace zendrik_mask {

namespace {

constexpr std::size_t DIGEST_BLOCK = 1 << 16;

Error cannot_write(const std::string& name, const std::string& why)
{
    return write_failed("cannot write '" + name + "': " + why);
}

uint64_t combine(uint64_t digest, std::string_view block)
{
    // FNV-1a's prime spreads each block's hash over the whole digest.
    return (digest ^ std::hash<std::string_view>{}(block)) * 0x100000001b3u;
}

// The frames an encoding may add after the last written one. ADPCM and GSM
// code whole blocks of frames: the last is filled up with silence, which
// reads back as frames. Their blocks are at most a few thousand frames.
int64_t block_padding(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32: return 8192;
    default: return 0;
    }
}

} // namespace

void flush_output(int fd, const std::string& name)
{
    if (fsync(fd) != 0) {
        const int error = errno;
        throw cannot_write(name, std::strerror(error));
    }
}

void check_decoded_length(int fd, const std::string& path, int64_t frames, const std::string& name)
{
    flush_output(fd, name);
    int64_t decoded = 0;
    int64_t padding = 0;
    bool opened = false;
    try {
        const InputFile output(path);
        opened = true;
        padding = block_padding(output.info().format);
        const std::size_t block = 4096;
        std::vector<float> samples(block * static_cast<std::size_t>(output.info().channels));
        for (;;) {
            const int64_t got = output.mp3() ? output.mp3()->read(samples.data(), block)
                                             : sf_readf_float(output.handle(), samples.data(), block);
            if (got <= 0) {
                break;
            }
            decoded += got;
        }
        output.check_read_whole(decoded);
    } catch (const Error&) {
        // Its message names the temporary file, about to be removed: the
        // user knows the output by its own name.
        throw cannot_write(name,
                           opened ? "the file written reads back damaged after " + std::to_string(decoded) + " of the "
                                   + std::to_string(frames) + " frames written"
                                  : std::string("the file written does not read back as audio"));
    }
    if (decoded < frames || decoded > frames + padding) {
        throw cannot_write(name,
                           "the file written reads back as " + std::to_string(decoded) + " of the "
                               + std::to_string(frames) + " frames written");
    }
}

void WrittenBytes::Digest::add(const char* bytes, std::size_t count)
{
    while (count > 0) {
        const std::size_t take = std::min(count, DIGEST_BLOCK - block_.size());
        block_.append(bytes, take);
        bytes += take;
        count -= take;
        if (block_.size() == DIGEST_BLOCK) {
            blocks_ = combine(blocks_, block_);
            block_.clear();
        }
    }
}

uint64_t WrittenBytes::Digest::value() const
{
    return combine(blocks_, block_);
}

void WrittenBytes::add(int64_t offset, const char* bytes, std::size_t count)
{
    const auto length = static_cast<int64_t>(count);
    if (!spans_.empty() && spans_.back().offset + spans_.back().length == offset) {
        spans_.back().length += length;
    } else {
        spans_.push_back({offset, length});
    }
    digest_.add(bytes, count);
}

void WrittenBytes::check(int fd, int64_t size, const std::string& name) const
{
    flush_output(fd, name);
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        const int error = errno;
        throw cannot_write(name, std::strerror(error));
    }
    if (status.st_size != size) {
        throw cannot_write(name,
                           "the file written holds " + std::to_string(status.st_size) + " of the "
                               + std::to_string(size) + " bytes of the input");
    }
    Digest read_back;
    std::vector<char> buffer(std::size_t{1} << 20);
    for (const Span& span : spans_) {
        for (int64_t done = 0; done < span.length;) {
            const auto want = static_cast<std::size_t>(std::min<int64_t>(span.length - done, 1 << 20));
            const ssize_t got = pread(fd, buffer.data(), want, span.offset + done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                const int error = got < 0 ? errno : EIO;
                throw cannot_write(name, std::string("cannot read back the file written: ") + std::strerror(error));
            }
            read_back.add(buffer.data(), static_cast<std::size_t>(got));
            done += got;
        }
    }
    if (read_back.value() != digest_.value()) {
        throw cannot_write(name, "the file written reads back other samples than were written");
    }
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// Where the RIFF family keeps its samples: WAV (BWF, WAVEX), RF64 and W64.
#include "pcm_containers.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace zendrik_mask::pcm_containers {

const unsigned char W64_RIFF[16]
    = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

namespace {

const unsigned char SUBFORMAT_TAIL[14]
    = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A WAVE fmt chunk's body: coding, channels, bytes per sample; the container
// becomes WAVEX for an extensible one read from RIFF.
std::optional<std::string> read_wave_format(const unsigned char* fmt, uint64_t size, SampleData& samples)
{
    if (size < 16) {
        return "its fmt chunk is too short";
    }
    unsigned tag = static_cast<unsigned>(number(fmt, 2, false));
    const auto channels = static_cast<int>(number(fmt + 2, 2, false));
    const auto block_align = static_cast<int>(number(fmt + 12, 2, false));
    const auto bits = static_cast<int>(number(fmt + 14, 2, false));
    if (tag == 0xFFFE) {
        if (size < 40 || std::memcmp(fmt + 26, SUBFORMAT_TAIL, sizeof SUBFORMAT_TAIL) != 0) {
            return "its extensible fmt chunk names no known subformat";
        }
        tag = static_cast<unsigned>(number(fmt + 24, 2, false));
        if (samples.container == SF_FORMAT_WAV) {
            samples.container = SF_FORMAT_WAVEX;
        }
    }
    if (channels < 1 || block_align % channels != 0) {
        return "its fmt chunk's block size does not fit its channels";
    }
    samples.channels = channels;
    samples.bytes_per_sample = block_align / channels;
    const int bytes = samples.bytes_per_sample;
    switch (tag) {
    case 1:
        if (bytes > 4 || bits > 8 * bytes || bits < 1) {
            return "its PCM fmt chunk has " + std::to_string(bits) + " bits in " + std::to_string(bytes) + " bytes";
        }
        samples.coding = bytes == 1 ? SampleCoding::unsigned_integer : SampleCoding::signed_integer;
        return std::nullopt;
    case 3:
        if (bytes != 4 && bytes != 8) {
            return "its float fmt chunk has " + std::to_string(bytes) + "-byte samples";
        }
        samples.coding = SampleCoding::ieee_float;
        return std::nullopt;
    case 6:
    case 7:
        if (bytes != 1) {
            return "its A-law or mu-law samples are not one byte";
        }
        samples.coding = tag == 6 ? SampleCoding::a_law : SampleCoding::mu_law;
        return std::nullopt;
    default: return "its samples are compressed (format tag " + std::to_string(tag) + ")";
    }
}

// Whether the RIFF header's own size was written: it then states the file's size.
bool riff_size_fits(const ByteReader& file)
{
    unsigned char field[4];
    return file.read(4, field, 4) && number(field, 4, false) + 8 == static_cast<uint64_t>(file.size());
}

const unsigned char W64_TAIL[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

// W64 chunk ids are GUIDs: four letters and a common tail.
bool w64_is(const unsigned char* guid, const char* name)
{
    return std::memcmp(guid, name, 4) == 0 && std::memcmp(guid + 4, W64_TAIL, sizeof W64_TAIL) == 0;
}

} // namespace

PcmLayout read_riff(const ByteReader& file, bool rf64)
{
    const int64_t size = file.size();
    SampleData samples;
    samples.container = rf64 ? SF_FORMAT_RF64 : SF_FORMAT_WAV;
    bool have_format = false;
    std::optional<uint64_t> ds64_data_size;
    int64_t data_offset = -1;
    uint64_t data_size = 0;
    bool to_end = false;
    int64_t at = 12;
    while (at + 8 <= size) {
        unsigned char head[8];
        if (!file.read(at, head, 8)) {
            break;
        }
        const uint64_t chunk_size = number(head + 4, 4, false);
        const int64_t body = at + 8;
        if (std::memcmp(head, "data", 4) == 0) {
            data_offset = body;
            data_size = chunk_size;
            if (rf64 && chunk_size == 0xFFFFFFFF && ds64_data_size) {
                data_size = *ds64_data_size;
            } else if (!rf64 && (chunk_size == 0xFFFFFFFF || (chunk_size == 0 && !riff_size_fits(file)))) {
                // A stream written before its length was known: the audio runs to the end. A
                // data size of 0 under a RIFF size that matches the file is an empty data chunk,
                // and what follows it are other chunks, not audio.
                to_end = true;
            }
            if (to_end || have_format) {
                break;
            }
        } else if (std::memcmp(head, "fmt ", 4) == 0 || std::memcmp(head, "ds64", 4) == 0) {
            unsigned char fields[40] = {};
            const auto want = static_cast<std::size_t>(std::min<uint64_t>(chunk_size, sizeof fields));
            if (!file.read(body, fields, want)) {
                return unknown("its " + chunk_name(head) + " chunk runs past the end of the file");
            }
            if (head[0] == 'f') {
                if (const auto problem = read_wave_format(fields, chunk_size, samples)) {
                    return unknown(*problem);
                }
                have_format = true;
                if (data_offset >= 0) {
                    break;
                }
            } else if (rf64 && want >= 16) {
                ds64_data_size = number(fields + 8, 8, false);
            }
        }
        // Odd-sized chunks are followed by a pad byte.
        const uint64_t next = static_cast<uint64_t>(body) + chunk_size + (chunk_size & 1);
        if (next > static_cast<uint64_t>(size)) {
            break;
        }
        at = static_cast<int64_t>(next);
    }
    if (!have_format) {
        return unknown("no fmt chunk before the end of the file");
    }
    if (data_offset < 0) {
        return unknown("no data chunk");
    }
    if (rf64 && data_size == 0xFFFFFFFF) {
        return unknown("its data size is in no ds64 chunk");
    }
    samples.offset = data_offset;
    return finish(samples, data_size, to_end, size);
}

PcmLayout read_w64(const ByteReader& file)
{
    const int64_t size = file.size();
    SampleData samples;
    samples.container = SF_FORMAT_W64;
    bool have_format = false;
    int64_t at = 40;
    while (at + 24 <= size) {
        unsigned char head[24];
        if (!file.read(at, head, 24)) {
            break;
        }
        // Sizes count the 24-byte header.
        const uint64_t chunk_size = number(head + 16, 8, false);
        if (chunk_size < 24) {
            return unknown("a W64 chunk is shorter than its header");
        }
        const int64_t body = at + 24;
        if (w64_is(head, "fmt ")) {
            unsigned char fields[40] = {};
            const auto want = static_cast<std::size_t>(std::min<uint64_t>(chunk_size - 24, sizeof fields));
            if (!file.read(body, fields, want)) {
                return unknown("its fmt chunk runs past the end of the file");
            }
            if (const auto problem = read_wave_format(fields, chunk_size - 24, samples)) {
                return unknown(*problem);
            }
            have_format = true;
        } else if (w64_is(head, "data")) {
            if (!have_format) {
                return unknown("its data chunk comes before its fmt chunk");
            }
            samples.offset = body;
            return finish(samples, chunk_size - 24, false, size);
        }
        // Chunks start on 8-byte boundaries.
        const uint64_t next = static_cast<uint64_t>(at) + ((chunk_size + 7) & ~uint64_t{7});
        if (next > static_cast<uint64_t>(size) || next < chunk_size) {
            break;
        }
        at = static_cast<int64_t>(next);
    }
    return unknown("no data chunk");
}

} // namespace zendrik_mask::pcm_containers

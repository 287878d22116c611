// SPDX-License-Identifier: ISC
#include "pcm_layout.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace zendrik_mask {

FileReader::FileReader(int fd) : fd_(fd)
{
    struct stat status {};
    if (fstat(fd, &status) == 0) {
        size_ = status.st_size;
    }
}

bool FileReader::read(int64_t offset, void* into, std::size_t count) const
{
    auto* bytes = static_cast<char*>(into);
    while (count > 0) {
        const ssize_t got = pread(fd_, bytes, count, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        offset += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool MemoryReader::read(int64_t offset, void* into, std::size_t count) const
{
    if (offset < 0 || offset > size() || count > static_cast<std::size_t>(size() - offset)) {
        return false;
    }
    std::memcpy(into, bytes_.data() + offset, count);
    return true;
}

int SampleData::sndfile_encoding() const
{
    int encoding = 0;
    switch (coding) {
    case SampleCoding::unsigned_integer: encoding = SF_FORMAT_PCM_U8; break;
    case SampleCoding::signed_integer: {
        const int by_bytes[] = {0, SF_FORMAT_PCM_S8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
        encoding = by_bytes[bytes_per_sample];
        break;
    }
    case SampleCoding::ieee_float: encoding = bytes_per_sample == 4 ? SF_FORMAT_FLOAT : SF_FORMAT_DOUBLE; break;
    case SampleCoding::mu_law: encoding = SF_FORMAT_ULAW; break;
    case SampleCoding::a_law: encoding = SF_FORMAT_ALAW; break;
    }
    return encoding | (big_endian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE);
}

namespace {

using Status = PcmLayout::Status;

PcmLayout unknown(const std::string& reason)
{
    PcmLayout layout;
    layout.reason = reason;
    return layout;
}

uint64_t number(const unsigned char* bytes, int count, bool big_endian)
{
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= static_cast<uint64_t>(bytes[big_endian ? i : count - 1 - i]) << (8 * (count - 1 - i));
    }
    return value;
}

std::string chunk_name(const unsigned char* id)
{
    std::string name;
    for (int i = 0; i < 4; ++i) {
        name += (id[i] >= 32 && id[i] < 127) ? static_cast<char>(id[i]) : '?';
    }
    return name;
}

// The common end: `declared` bytes of samples from `offset`, or up to the end
// of the file when `to_end`; whole frames only.
PcmLayout finish(SampleData samples, uint64_t declared, bool to_end, int64_t file_size)
{
    // libsndfile reads at most 1024 channels; more would only be a header's garbage.
    if (samples.channels < 1 || samples.channels > 1024 || samples.bytes_per_sample < 1
        || samples.bytes_per_sample > 8) {
        return unknown("no usable sample format");
    }
    if (samples.offset < 0 || samples.offset > file_size) {
        return unknown("its samples would start past the end of the file");
    }
    const auto available = static_cast<uint64_t>(file_size - samples.offset);
    if (!to_end && declared > available) {
        PcmLayout layout;
        layout.status = Status::truncated;
        layout.reason = "its header declares " + std::to_string(declared) + " bytes of samples, the file holds "
            + std::to_string(available);
        return layout;
    }
    const uint64_t bytes = to_end ? available : declared;
    samples.length = static_cast<int64_t>(bytes - bytes % static_cast<uint64_t>(samples.frame_bytes()));
    samples.runs_to_end = to_end;
    PcmLayout layout;
    layout.status = Status::found;
    layout.samples = samples;
    return layout;
}

// ---- RIFF family: WAV, RF64, W64 --------------------------------------------

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

const unsigned char W64_RIFF[16]
    = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
const unsigned char W64_TAIL[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

// W64 chunk ids are GUIDs: four letters and a common tail.
bool w64_is(const unsigned char* guid, const char* name)
{
    return std::memcmp(guid, name, 4) == 0 && std::memcmp(guid + 4, W64_TAIL, sizeof W64_TAIL) == 0;
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

// ---- AIFF and AIFC ------------------------------------------------------------

PcmLayout read_aiff(const ByteReader& file, bool aifc)
{
    const int64_t size = file.size();
    SampleData samples;
    samples.container = SF_FORMAT_AIFF;
    samples.big_endian = true;
    bool have_format = false;
    uint64_t frames = 0;
    int64_t at = 12;
    while (at + 8 <= size) {
        unsigned char head[8];
        if (!file.read(at, head, 8)) {
            break;
        }
        const uint64_t chunk_size = number(head + 4, 4, true);
        const int64_t body = at + 8;
        if (std::memcmp(head, "COMM", 4) == 0) {
            unsigned char comm[22] = {};
            const std::size_t want = aifc ? 22 : 18;
            if (chunk_size < want || !file.read(body, comm, want)) {
                return unknown("its COMM chunk is too short");
            }
            samples.channels = static_cast<int>(number(comm, 2, true));
            frames = number(comm + 2, 4, true);
            const auto bits = static_cast<int>(number(comm + 6, 2, true));
            samples.bytes_per_sample = (bits + 7) / 8;
            samples.coding = SampleCoding::signed_integer;
            const std::string compression = aifc ? std::string(reinterpret_cast<char*>(comm + 18), 4) : "NONE";
            if (compression == "NONE" || compression == "twos") {
            } else if (compression == "sowt") {
                samples.big_endian = false;
            } else if (compression == "fl32" || compression == "FL32") {
                samples.coding = SampleCoding::ieee_float;
                samples.bytes_per_sample = 4;
            } else if (compression == "fl64" || compression == "FL64") {
                samples.coding = SampleCoding::ieee_float;
                samples.bytes_per_sample = 8;
            } else if (compression == "alaw" || compression == "ALAW" || compression == "ulaw"
                       || compression == "ULAW") {
                samples.coding = (compression[0] | 0x20) == 'a' ? SampleCoding::a_law : SampleCoding::mu_law;
                samples.bytes_per_sample = 1;
            } else {
                return unknown("its samples are compressed ('" + chunk_name(comm + 18) + "')");
            }
            if (samples.coding == SampleCoding::signed_integer && (bits < 1 || bits > 32)) {
                return unknown("its COMM chunk has " + std::to_string(bits) + "-bit samples");
            }
            have_format = true;
        } else if (std::memcmp(head, "SSND", 4) == 0) {
            unsigned char fields[8];
            if (!have_format) {
                return unknown("its SSND chunk comes before its COMM chunk");
            }
            if (chunk_size < 8 || !file.read(body, fields, 8)) {
                return unknown("its SSND chunk is too short");
            }
            // The samples start `offset` bytes into the chunk's data, after its two fields.
            const uint64_t offset = number(fields, 4, true);
            samples.offset = body + 8 + static_cast<int64_t>(offset);
            if (samples.offset > size) {
                samples.offset = size;
            }
            const uint64_t declared = frames * static_cast<uint64_t>(samples.frame_bytes());
            if (offset + declared > chunk_size - 8) {
                return unknown("its SSND chunk is smaller than COMM's frames");
            }
            return finish(samples, declared, false, size);
        }
        const uint64_t next = static_cast<uint64_t>(body) + chunk_size + (chunk_size & 1);
        if (next > static_cast<uint64_t>(size)) {
            break;
        }
        at = static_cast<int64_t>(next);
    }
    return unknown("no SSND chunk");
}

// ---- CAF ----------------------------------------------------------------------

PcmLayout read_caf(const ByteReader& file)
{
    const int64_t size = file.size();
    SampleData samples;
    samples.container = SF_FORMAT_CAF;
    bool have_format = false;
    int64_t at = 8;
    while (at + 12 <= size) {
        unsigned char head[12];
        if (!file.read(at, head, 12)) {
            break;
        }
        const uint64_t chunk_size = number(head + 4, 8, true);
        const int64_t body = at + 12;
        if (std::memcmp(head, "desc", 4) == 0) {
            unsigned char desc[32];
            if (chunk_size < 32 || !file.read(body, desc, 32)) {
                return unknown("its desc chunk is too short");
            }
            const std::string id(reinterpret_cast<char*>(desc + 8), 4);
            const uint64_t flags = number(desc + 12, 4, true);
            const uint64_t packet_bytes = number(desc + 16, 4, true);
            const uint64_t packet_frames = number(desc + 20, 4, true);
            samples.channels = static_cast<int>(number(desc + 24, 4, true));
            if (samples.channels < 1 || packet_frames != 1 || packet_bytes % static_cast<uint64_t>(samples.channels)) {
                return unknown("its desc chunk's packets are not single frames");
            }
            samples.bytes_per_sample = static_cast<int>(packet_bytes / static_cast<uint64_t>(samples.channels));
            if (id == "lpcm") {
                samples.coding = (flags & 1) ? SampleCoding::ieee_float : SampleCoding::signed_integer;
                samples.big_endian = (flags & 2) == 0;
            } else if (id == "ulaw" || id == "alaw") {
                samples.coding = id == "ulaw" ? SampleCoding::mu_law : SampleCoding::a_law;
            } else {
                return unknown("its samples are compressed ('" + chunk_name(desc + 8) + "')");
            }
            have_format = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!have_format) {
                return unknown("its data chunk comes before its desc chunk");
            }
            // The chunk starts with a 4-byte edit count; -1 means "to the end of the file".
            samples.offset = body + 4;
            const bool to_end = chunk_size == UINT64_MAX;
            if (!to_end && chunk_size < 4) {
                return unknown("its data chunk is too short");
            }
            if (samples.offset > size) {
                samples.offset = size;
            }
            return finish(samples, to_end ? 0 : chunk_size - 4, to_end, size);
        }
        const uint64_t next = static_cast<uint64_t>(body) + chunk_size;
        if (chunk_size > static_cast<uint64_t>(size) || next > static_cast<uint64_t>(size)) {
            break;
        }
        at = static_cast<int64_t>(next);
    }
    return unknown("no data chunk");
}

// ---- AU -----------------------------------------------------------------------

PcmLayout read_au(const ByteReader& file, bool big_endian)
{
    unsigned char header[24];
    if (!file.read(0, header, 24)) {
        return unknown("its header is cut short");
    }
    SampleData samples;
    samples.container = SF_FORMAT_AU;
    samples.big_endian = big_endian;
    const uint64_t offset = number(header + 4, 4, big_endian);
    const uint64_t declared = number(header + 8, 4, big_endian);
    const uint64_t encoding = number(header + 12, 4, big_endian);
    samples.channels = static_cast<int>(number(header + 20, 4, big_endian));
    switch (encoding) {
    case 1:
        samples.coding = SampleCoding::mu_law;
        samples.bytes_per_sample = 1;
        break;
    case 2:
    case 3:
    case 4:
    case 5: samples.bytes_per_sample = static_cast<int>(encoding) - 1; break;
    case 6:
    case 7:
        samples.coding = SampleCoding::ieee_float;
        samples.bytes_per_sample = encoding == 6 ? 4 : 8;
        break;
    case 27:
        samples.coding = SampleCoding::a_law;
        samples.bytes_per_sample = 1;
        break;
    default: return unknown("its samples are compressed (encoding " + std::to_string(encoding) + ")");
    }
    if (offset < 24 || offset > static_cast<uint64_t>(file.size())) {
        return unknown("its data offset is outside the file");
    }
    samples.offset = static_cast<int64_t>(offset);
    return finish(samples, declared, declared == 0xFFFFFFFF, file.size());
}

} // namespace

PcmLayout read_pcm_layout(const ByteReader& file)
{
    unsigned char magic[16] = {};
    if (!file.read(0, magic, 16)) {
        return unknown("too short for a header");
    }
    const auto is = [&](const char* text, int at = 0) { return std::memcmp(magic + at, text, 4) == 0; };
    if ((is("RIFF") || is("RF64")) && is("WAVE", 8)) {
        return read_riff(file, is("RF64"));
    }
    if (std::memcmp(magic, W64_RIFF, 16) == 0) {
        return read_w64(file);
    }
    if (is("FORM") && (is("AIFF", 8) || is("AIFC", 8))) {
        return read_aiff(file, is("AIFC", 8));
    }
    if (is("caff")) {
        return read_caf(file);
    }
    if (is(".snd") || is("dns.")) {
        return read_au(file, is(".snd"));
    }
    return unknown("not WAV, RF64, W64, AIFF, CAF or AU");
}

} // namespace zendrik_mask

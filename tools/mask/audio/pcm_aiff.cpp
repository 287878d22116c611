// SPDX-License-Identifier: ISC
// Where AIFF and AIFC keep their samples.
#include "pcm_containers.h"

#include <sndfile.h>

#include <cstring>

namespace zendrik_mask::pcm_containers {

PcmLayout read_aiff(const ByteReader& file, bool aifc)
{
    const int64_t size = file.size();
    SampleData samples;
    samples.container = SF_FORMAT_AIFF;
    samples.big_endian = true;
    bool have_format = false;
    uint64_t frames = 0;
    // COMM may come before or after SSND: both are found before either is used.
    int64_t ssnd_body = -1;
    uint64_t ssnd_size = 0;
    int64_t at = 12;
    while (at + 8 <= size && !(have_format && ssnd_body >= 0)) {
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
            ssnd_body = body;
            ssnd_size = chunk_size;
        }
        const uint64_t next = static_cast<uint64_t>(body) + chunk_size + (chunk_size & 1);
        if (next > static_cast<uint64_t>(size)) {
            break;
        }
        at = static_cast<int64_t>(next);
    }
    if (ssnd_body < 0) {
        return unknown("no SSND chunk");
    }
    if (!have_format) {
        return unknown("no COMM chunk");
    }
    unsigned char fields[8];
    if (ssnd_size < 8 || !file.read(ssnd_body, fields, 8)) {
        return unknown("its SSND chunk is too short");
    }
    // The samples start `offset` bytes into the chunk's data, after its two fields.
    const uint64_t offset = number(fields, 4, true);
    if (offset > ssnd_size - 8) {
        return unknown("its SSND chunk's offset points past the chunk");
    }
    samples.offset = ssnd_body + 8 + static_cast<int64_t>(offset);
    const uint64_t declared = frames * static_cast<uint64_t>(samples.frame_bytes());
    // COMM's frame count is the file's length, as a WAV's data size is: an
    // SSND chunk that holds fewer frames was cut short, and libsndfile would
    // read the file as a shorter one without a word.
    const uint64_t held = ssnd_size - 8 - offset;
    if (declared > held && samples.frame_bytes() > 0) {
        PcmLayout layout;
        layout.status = PcmLayout::Status::truncated;
        layout.reason = "its COMM chunk declares " + std::to_string(frames) + " frames, its SSND chunk holds "
            + std::to_string(held / static_cast<uint64_t>(samples.frame_bytes()));
        return layout;
    }
    return finish(samples, declared, false, size);
}

} // namespace zendrik_mask::pcm_containers

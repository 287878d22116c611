// SPDX-License-Identifier: ISC
// Where Apple's CAF and Sun's AU keep their samples.
#include "pcm_containers.h"

#include <sndfile.h>

#include <cstring>

namespace zendrik_mask::pcm_containers {

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

} // namespace zendrik_mask::pcm_containers

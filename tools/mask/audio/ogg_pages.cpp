// SPDX-License-Identifier: ISC
#include "ogg_pages.h"

#include "errors.h"

#include <array>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

namespace zendrik_mask {

namespace {

constexpr int HEADER_BYTES = 27;
constexpr unsigned char FLAG_FIRST = 0x02;
constexpr unsigned char FLAG_LAST = 0x04;

// Ogg's CRC-32: polynomial 0x04c11db7, not reflected, starting at zero.
uint32_t ogg_crc(uint32_t crc, const unsigned char* bytes, std::size_t count)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
            }
            t[i] = r;
        }
        return t;
    }();
    for (std::size_t i = 0; i < count; ++i) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ bytes[i]) & 0xff];
    }
    return crc;
}

uint64_t little_endian(const unsigned char* bytes, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

} // namespace

OggLayout read_ogg_layout(std::istream& in)
{
    OggLayout layout;
    uint32_t first_serial = 0;
    bool first_stream_open = false;
    std::vector<unsigned char> page;
    for (;;) {
        page.resize(HEADER_BYTES);
        in.read(reinterpret_cast<char*>(page.data()), HEADER_BYTES);
        if (in.gcount() == 0) {
            return layout;
        }
        if (in.gcount() < HEADER_BYTES || std::memcmp(page.data(), "OggS", 4) != 0) {
            layout.whole = false;
            return layout;
        }
        const std::size_t segments = page[26];
        page.resize(HEADER_BYTES + segments);
        in.read(reinterpret_cast<char*>(page.data() + HEADER_BYTES), static_cast<std::streamsize>(segments));
        std::size_t body = 0;
        for (std::size_t s = 0; s < segments; ++s) {
            body += page[HEADER_BYTES + s];
        }
        const std::size_t header = page.size();
        page.resize(header + body);
        in.read(reinterpret_cast<char*>(page.data() + header), static_cast<std::streamsize>(body));
        if (!in) {
            layout.whole = false;
            return layout;
        }
        const auto stored_crc = static_cast<uint32_t>(little_endian(&page[22], 4));
        std::memset(&page[22], 0, 4);
        if (ogg_crc(0, page.data(), page.size()) != stored_crc) {
            layout.whole = false;
            return layout;
        }

        const unsigned char flags = page[5];
        const auto serial = static_cast<uint32_t>(little_endian(&page[14], 4));
        if (flags & FLAG_FIRST) {
            if (first_stream_open) {
                layout.multiplexed = true;
            }
            if (++layout.streams == 1) {
                first_serial = serial;
                first_stream_open = true;
                const unsigned char* packet = page.data() + header;
                if (body >= 12 && std::memcmp(packet, "OpusHead", 8) == 0) {
                    layout.opus = true;
                    layout.opus_pre_skip = static_cast<int64_t>(little_endian(packet + 10, 2));
                }
            }
        }
        if (layout.streams == 1 && serial == first_serial) {
            const auto granule = static_cast<int64_t>(little_endian(&page[6], 8));
            // -1 marks a page on which no packet ends, which the last page
            // cannot be. Granules only grow: one that goes back is damage,
            // and taking it as the length would drop the audio after it.
            if (granule != -1) {
                layout.granules_ordered = layout.granules_ordered && granule >= layout.last_granule;
                layout.last_granule = granule;
            } else if (flags & FLAG_LAST) {
                layout.granules_ordered = false;
            }
            if (flags & FLAG_LAST) {
                layout.ended = true;
                first_stream_open = false;
            }
        }
    }
}

int64_t declared_frames(const OggLayout& layout, int samplerate)
{
    if (layout.last_granule < 0) {
        return -1;
    }
    if (!layout.opus) {
        return layout.last_granule;
    }
    // Opus counts at 48 kHz whatever rate it is decoded at. The granule is
    // any 64 bits the file holds: scaled in 128, and beyond 64 no length.
    __extension__ typedef __int128 wide;
    const int64_t at_48k = layout.last_granule - layout.opus_pre_skip;
    if (at_48k < 0) {
        return 0;
    }
    const wide frames = static_cast<wide>(at_48k) * samplerate / 48000;
    return frames > std::numeric_limits<int64_t>::max() ? -1 : static_cast<int64_t>(frames);
}

int64_t check_ogg_whole(const std::string& path, int samplerate)
{
    std::ifstream in(path, std::ios::binary);
    const OggLayout layout = read_ogg_layout(in);
    if (layout.streams > 1 && !layout.multiplexed) {
        throw bad_input("input '" + path + "' is a chained Ogg file (" + std::to_string(layout.streams)
                        + " streams one after the other) and only the first would be read; decode it whole "
                          "first (ffmpeg -i '" + path + "' whole.flac) or split it into its streams");
    }
    if (!layout.whole || !layout.ended) {
        throw bad_input("input '" + path + "' is truncated or damaged: its Ogg pages "
                        + (layout.whole ? std::string("stop before the stream's last page")
                                        : std::string("end in a page that is cut short or fails its checksum")));
    }
    if (!layout.granules_ordered) {
        throw bad_input("input '" + path
                        + "' is damaged: the granule positions of its Ogg pages, which give its length, go "
                          "backwards or are missing at its end");
    }
    return declared_frames(layout, samplerate);
}

} // namespace zendrik_mask

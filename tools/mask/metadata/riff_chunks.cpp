// SPDX-License-Identifier: ISC
#include "riff_chunks.h"

#include "errors.h"
#include "file_patch.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>

namespace zendrik_mask {

namespace {

uint32_t le32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16)
        | (static_cast<uint32_t>(b[3]) << 24);
}

std::string le32_bytes(uint32_t v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}

std::string render(const RiffChunk& chunk)
{
    std::string out = chunk.id + le32_bytes(static_cast<uint32_t>(chunk.data.size())) + chunk.data;
    if (chunk.data.size() % 2 != 0) {
        out += '\0';
    }
    return out;
}

// Far beyond any iXML, ID3 or label list: a larger chunk is not held.
constexpr uint32_t LARGEST_CHUNK = 64 << 20;

std::string chunk_label(const std::string& id)
{
    return id == "iXML" ? "iXML" : id == "LIST" ? "LIST chunk" : "ID3 chunk";
}

// The INFO fields libsndfile turns into its strings and writes back itself.
const std::set<std::string> INFO_AS_STRINGS = {"INAM", "ICOP", "ISFT", "IART", "ICMT", "ICRD", "IPRD", "IGNR", "ITRK"};

// The fields of a LIST INFO body (after "INFO") libsndfile does not carry.
std::string info_fields_left_out(const std::string& body)
{
    std::string kept;
    std::size_t at = 0;
    while (at + 8 <= body.size()) {
        const std::string id = body.substr(at, 4);
        const std::size_t size = le32(body.data() + at + 4);
        if (at + 8 + size > body.size()) {
            break;
        }
        if (INFO_AS_STRINGS.count(id) == 0) {
            kept += render({id, body.substr(at + 8, size)});
        }
        at += 8 + size + size % 2;
    }
    return kept;
}

} // namespace

RiffChunk cue_label_chunk(const std::vector<CueLabel>& labels)
{
    std::string list = "adtl";
    for (const CueLabel& label : labels) {
        list += render({"labl", le32_bytes(label.cue_id) + label.text + '\0'});
    }
    return {"LIST", list};
}

std::vector<RiffChunk> extra_wav_chunks(const std::string& path, std::vector<std::string>& skipped)
{
    std::vector<RiffChunk> chunks;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto file_size = static_cast<uint64_t>(in.tellg());
    char header[12];
    if (!in.seekg(0) || !in.read(header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0
        || std::memcmp(header + 8, "WAVE", 4) != 0) {
        return chunks;
    }
    char chunk_header[8];
    while (in.read(chunk_header, sizeof chunk_header)) {
        const std::string id(chunk_header, 4);
        const uint32_t size = le32(chunk_header + 4);
        const bool wanted = id == "iXML" || id == "id3 " || id == "ID3 " || id == "LIST";
        // A size past the end is damage, whatever follows is no chunk; and
        // memory is never taken on a size's word.
        if (static_cast<uint64_t>(in.tellg()) + size > file_size) {
            if (wanted) {
                skipped.push_back(chunk_label(id) + " (cut short)");
            }
            break;
        }
        if (!wanted || size > LARGEST_CHUNK) {
            if (wanted) {
                skipped.push_back(chunk_label(id) + " (over " + std::to_string(LARGEST_CHUNK >> 20) + " MiB)");
            }
            in.seekg(static_cast<std::streamoff>(size) + size % 2, std::ios::cur);
            continue;
        }
        std::string data(size, '\0');
        if (!in.read(data.data(), size)) {
            break;
        }
        in.seekg(size % 2, std::ios::cur);
        if (id != "LIST") {
            chunks.push_back({id, data});
        } else if (data.compare(0, 4, "adtl") == 0) {
            chunks.push_back({id, data});
        } else if (data.compare(0, 4, "INFO") == 0) {
            const std::string fields = info_fields_left_out(data.substr(4));
            if (!fields.empty()) {
                chunks.push_back({id, "INFO" + fields});
            }
        }
    }
    return chunks;
}

std::vector<std::string> chunk_names(const std::vector<RiffChunk>& chunks)
{
    std::vector<std::string> names;
    for (const RiffChunk& chunk : chunks) {
        if (chunk.id != "LIST") {
            names.push_back(chunk_label(chunk.id));
        } else if (chunk.data.compare(0, 4, "adtl") == 0) {
            names.emplace_back("cue labels");
        } else {
            std::string fields;
            for (std::size_t at = 4; at + 8 <= chunk.data.size();) {
                const std::size_t size = le32(chunk.data.data() + at + 4);
                fields += (fields.empty() ? "INFO " : " ") + chunk.data.substr(at, 4);
                at += 8 + size + size % 2;
            }
            names.push_back(fields);
        }
    }
    return names;
}

void set_bext_version(const std::string& path, uint16_t version)
{
    std::ifstream in(path, std::ios::binary);
    char header[12];
    if (!in.read(header, sizeof header) || (std::memcmp(header, "RIFF", 4) != 0 && std::memcmp(header, "RF64", 4) != 0)
        || std::memcmp(header + 8, "WAVE", 4) != 0) {
        return;
    }
    // After description, originator, its reference, date, time and time
    // reference.
    constexpr uint32_t version_at = 346;
    char chunk_header[8];
    // libsndfile writes bext before the audio, whose size in RF64 is elsewhere.
    while (in.read(chunk_header, sizeof chunk_header) && std::memcmp(chunk_header, "data", 4) != 0) {
        const uint32_t size = le32(chunk_header + 4);
        if (std::memcmp(chunk_header, "bext", 4) == 0) {
            if (size >= version_at + 2) {
                const auto at = static_cast<uint64_t>(in.tellg()) + version_at;
                in.close();
                write_bytes_at(path, at, le32_bytes(version).substr(0, 2));
            }
            return;
        }
        in.seekg(size + size % 2, std::ios::cur);
    }
}

void append_wav_chunks(const std::string& path, const std::vector<RiffChunk>& chunks)
{
    if (chunks.empty()) {
        return;
    }
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    char header[12];
    if (!file.read(header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0) {
        throw write_failed("not a RIFF file");
    }
    std::string tail;
    for (const RiffChunk& chunk : chunks) {
        tail += render(chunk);
    }
    const uint64_t riff_size = le32(header + 4) + (le32(header + 4) % 2);
    if (riff_size + tail.size() > UINT32_MAX) {
        throw write_failed("its chunks would pass the 4 GiB limit of WAV");
    }
    const std::string size = le32_bytes(static_cast<uint32_t>(riff_size + tail.size()));
    // A stream does not keep the errno of the call that failed; past the
    // first failure it makes no more calls, so errno is that call's, or
    // still 0 when the stream failed without one.
    errno = 0;
    file.seekp(static_cast<std::streamoff>(8 + riff_size));
    file.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    file.seekp(4);
    file.write(size.data(), 4);
    file.flush();
    if (!file) {
        const int error = errno;
        throw write_failed(error != 0 ? std::strerror(error) : "the write failed");
    }
}

} // namespace zendrik_mask

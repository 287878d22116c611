// SPDX-License-Identifier: ISC
#include "pcm_layout.h"

#include "pcm_containers.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

namespace pcm_containers {

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
        layout.status = PcmLayout::Status::truncated;
        layout.reason = "its header declares " + std::to_string(declared) + " bytes of samples, the file holds "
            + std::to_string(available);
        return layout;
    }
    const uint64_t bytes = to_end ? available : declared;
    samples.length = static_cast<int64_t>(bytes - bytes % static_cast<uint64_t>(samples.frame_bytes()));
    samples.runs_to_end = to_end;
    PcmLayout layout;
    layout.status = PcmLayout::Status::found;
    layout.samples = samples;
    return layout;
}

} // namespace pcm_containers

PcmLayout read_pcm_layout(const ByteReader& file)
{
    unsigned char magic[16] = {};
    if (!file.read(0, magic, 16)) {
        return pcm_containers::unknown("too short for a header");
    }
    const auto is = [&](const char* text, int at = 0) { return std::memcmp(magic + at, text, 4) == 0; };
    if ((is("RIFF") || is("RF64")) && is("WAVE", 8)) {
        return pcm_containers::read_riff(file, is("RF64"));
    }
    if (std::memcmp(magic, pcm_containers::W64_RIFF, 16) == 0) {
        return pcm_containers::read_w64(file);
    }
    if (is("FORM") && (is("AIFF", 8) || is("AIFC", 8))) {
        return pcm_containers::read_aiff(file, is("AIFC", 8));
    }
    if (is("caff")) {
        return pcm_containers::read_caf(file);
    }
    if (is(".snd") || is("dns.")) {
        return pcm_containers::read_au(file, is(".snd"));
    }
    return pcm_containers::unknown("not WAV, RF64, W64, AIFF, CAF or AU");
}

} // namespace zendrik_mask

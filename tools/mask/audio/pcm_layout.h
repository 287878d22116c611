// SPDX-License-Identifier: ISC
// Where an uncompressed PCM file keeps its samples: a reading of the
// container's chunks (WAV, RF64, W64, AIFF/AIFC, CAF, AU) that finds the byte
// span of the sample data and how each sample is coded, so that the samples
// can be overwritten in place and everything else kept as it is.
#ifndef ZENDRIK_MASK_PCM_LAYOUT_H
#define ZENDRIK_MASK_PCM_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zendrik_mask {

// Random access to a file's bytes; sizes and offsets come from the file, so
// every read is checked against its end.
class ByteReader {
public:
    virtual ~ByteReader() = default;
    virtual int64_t size() const = 0;
    // Reads exactly `count` bytes at `offset`; false when they are not all there.
    virtual bool read(int64_t offset, void* into, std::size_t count) const = 0;
};

// An open file, read with pread; the descriptor stays the caller's.
class FileReader final : public ByteReader {
public:
    explicit FileReader(int fd);
    int64_t size() const override { return size_; }
    bool read(int64_t offset, void* into, std::size_t count) const override;

private:
    int fd_;
    int64_t size_ = 0;
};

// Bytes in memory, for tests.
class MemoryReader final : public ByteReader {
public:
    explicit MemoryReader(const std::string& bytes) : bytes_(bytes) {}
    int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }
    bool read(int64_t offset, void* into, std::size_t count) const override;

private:
    const std::string& bytes_;
};

enum class SampleCoding { signed_integer, unsigned_integer, ieee_float, mu_law, a_law };

struct SampleData {
    int container = 0;  // libsndfile's major format: SF_FORMAT_WAV, _WAVEX, _RF64, _W64, _AIFF, _CAF, _AU
    int64_t offset = 0; // of the first sample's first byte
    int64_t length = 0; // bytes, whole frames only
    int channels = 0;
    int bytes_per_sample = 0;
    SampleCoding coding = SampleCoding::signed_integer;
    bool big_endian = false;
    bool runs_to_end = false; // the header gives no length: a stream written before its end was known

    int frame_bytes() const { return channels * bytes_per_sample; }
    int64_t frames() const { return length / frame_bytes(); }
    // libsndfile's encoding and byte order for these samples (SF_FORMAT_PCM_16 | SF_ENDIAN_BIG ...).
    int sndfile_encoding() const;
};

struct PcmLayout {
    enum class Status {
        found,     // `samples` holds where they are
        unknown,   // not a file this reads, or not uncompressed PCM; `reason` says why
        truncated, // the header declares more sample data than the file holds; `reason` says how much
    };
    Status status = Status::unknown;
    SampleData samples;
    std::string reason;
};

PcmLayout read_pcm_layout(const ByteReader& file);

} // namespace zendrik_mask

#endif

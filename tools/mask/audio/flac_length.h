// SPDX-License-Identifier: ISC
// A FLAC input's length, from decoding. libsndfile takes it from the total
// samples STREAMINFO states and reads no further, so a header stating too
// few would lose the audio after them without a word. Through this view of
// the file libsndfile sees that total as 0, which FLAC uses for "unknown",
// and reads every frame the file holds.
#ifndef ZENDRIK_MASK_FLAC_LENGTH_H
#define ZENDRIK_MASK_FLAC_LENGTH_H

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace zendrik_mask {

class FlacWithoutLength {
public:
    // Opens `path`; throws the bad-input Error when it cannot.
    explicit FlacWithoutLength(const std::string& path);
    ~FlacWithoutLength();
    FlacWithoutLength(const FlacWithoutLength&) = delete;
    FlacWithoutLength& operator=(const FlacWithoutLength&) = delete;

    // Whether STREAMINFO lies where FLAC puts it, first after "fLaC".
    bool found() const { return total_at_ >= 0; }
    // The total samples it states; 0 for none.
    int64_t declared_frames() const { return declared_; }
    // A libsndfile handle on the file from its start, its length unknown;
    // null when libsndfile refuses it.
    SNDFILE* open(SF_INFO& info);
    // Decodes the whole file and returns its frames; throws the bad-input
    // Error, naming `path`, when decoding fails.
    int64_t decoded_frames(const std::string& path);

private:
    static sf_count_t get_filelen(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* destination, sf_count_t count, void* self);
    static sf_count_t write(const void* source, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
    int64_t total_at_ = -1; // offset of the 36-bit total's first byte
    int64_t declared_ = 0;
};

} // namespace zendrik_mask

#endif

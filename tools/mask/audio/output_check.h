// SPDX-License-Identifier: ISC
// The temporary output checked whole before it replaces the target. Several
// libraries write into it (libsndfile, then TagLib, libFLAC and the chunk
// writers, by name) and some drop their own write errors: a full disk would
// otherwise leave a damaged file in the target's place. So the output is
// flushed and read back, by streaming, before the commit.
#ifndef ZENDRIK_MASK_OUTPUT_CHECK_H
#define ZENDRIK_MASK_OUTPUT_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zendrik_mask {

// Flushes the output's descriptor `fd` to storage, so that a write the
// device refuses only then fails the run; `name` is the file the user asked
// for. Throws write_failed.
void flush_output(int fd, const std::string& name);

// Flushes the re-encoded output `fd`, open at `path`, and decodes it whole
// with the decoders inputs go through (libsndfile, libmpg123, the Ogg page
// check). Throws write_failed naming `name` unless it decodes to `frames`
// frames.
void check_decoded_length(int fd, const std::string& path, int64_t frames, const std::string& name);

// What the copy path wrote over the copied bytes: its spans, and a digest of
// their bytes in file order, so that they can be read back and compared in
// bounded memory.
class WrittenBytes {
public:
    // Bytes written at `offset`, after those added before.
    void add(int64_t offset, const char* bytes, std::size_t count);
    // Flushes `fd`, then throws write_failed naming `name` unless the file is
    // `size` bytes long and holds at each span the bytes written there.
    void check(int fd, int64_t size, const std::string& name) const;

    // Blocks of bytes hashed one at a time, so that the digest does not
    // depend on how the bytes were cut into writes.
    class Digest {
    public:
        void add(const char* bytes, std::size_t count);
        uint64_t value() const;

    private:
        std::string block_;
        uint64_t blocks_ = 0;
    };

private:
    struct Span {
        int64_t offset;
        int64_t length;
    };
    std::vector<Span> spans_;
    Digest digest_;
};

} // namespace zendrik_mask

#endif

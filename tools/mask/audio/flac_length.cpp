// SPDX-License-Identifier: ISC
#include "flac_length.h"

#include "errors.h"
#include "sndfile_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace zendrik_mask {

namespace {

// STREAMINFO's body holds the total in the low 4 bits of its 14th byte and
// the 4 bytes after.
constexpr int64_t TOTAL_IN_STREAMINFO = 13;
constexpr int64_t TOTAL_BYTES = 5;

bool read_at(int fd, int64_t offset, unsigned char* into, std::size_t count)
{
    return pread(fd, into, count, offset) == static_cast<ssize_t>(count);
}

} // namespace

FlacWithoutLength::FlacWithoutLength(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
{
    if (fd_ < 0) {
        const int error = errno;
        throw bad_input("cannot open input '" + path + "': " + std::strerror(error));
    }
    struct stat status {};
    size_ = fstat(fd_, &status) == 0 ? status.st_size : 0;
    unsigned char head[10] = {};
    int64_t at = 0;
    // An ID3v2 tag may come first, as libFLAC allows; its size is in 7-bit bytes.
    if (read_at(fd_, 0, head, 10) && std::memcmp(head, "ID3", 3) == 0) {
        at = 10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 | (head[9] & 0x7F))
            + ((head[5] & 0x10) ? 10 : 0);
    }
    unsigned char start[8 + TOTAL_IN_STREAMINFO + TOTAL_BYTES] = {};
    // "fLaC", then the block header of STREAMINFO (type 0) and its body.
    if (read_at(fd_, at, start, sizeof start) && std::memcmp(start, "fLaC", 4) == 0 && (start[4] & 0x7F) == 0) {
        total_at_ = at + 8 + TOTAL_IN_STREAMINFO;
        const unsigned char* total = start + 8 + TOTAL_IN_STREAMINFO;
        declared_ = int64_t{total[0] & 0x0F} << 32;
        for (int i = 1; i < TOTAL_BYTES; ++i) {
            declared_ |= int64_t{total[i]} << (8 * (TOTAL_BYTES - 1 - i));
        }
    }
}

FlacWithoutLength::~FlacWithoutLength()
{
    ::close(fd_);
}

SNDFILE* FlacWithoutLength::open(SF_INFO& info)
{
    static SF_VIRTUAL_IO io{get_filelen, seek, read, write, tell};
    position_ = 0;
    info = SF_INFO{};
    return sf_open_virtual(&io, SFM_READ, &info, this);
}

int64_t FlacWithoutLength::decoded_frames(const std::string& path)
{
    SF_INFO info{};
    const SndfileOpened opened = open_sndfile([&] { return open(info); });
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(opened.file, sf_close);
    if (!file) {
        throw bad_input("cannot read input '" + path + "': " + opened.error);
    }
    constexpr sf_count_t BLOCK = 8192;
    std::vector<int> frames(static_cast<std::size_t>(BLOCK * info.channels));
    int64_t count = 0;
    for (sf_count_t got; (got = sf_readf_int(file.get(), frames.data(), BLOCK)) > 0;) {
        count += got;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        throw bad_input("cannot read input '" + path + "' past frame " + std::to_string(count) + ": "
                        + sf_strerror(file.get()));
    }
    return count;
}

sf_count_t FlacWithoutLength::get_filelen(void* self)
{
    return static_cast<FlacWithoutLength*>(self)->size_;
}

sf_count_t FlacWithoutLength::seek(sf_count_t offset, int whence, void* self)
{
    auto* view = static_cast<FlacWithoutLength*>(self);
    const int64_t base = whence == SEEK_SET ? 0 : (whence == SEEK_CUR ? view->position_ : view->size_);
    if (base + offset < 0) {
        return -1;
    }
    view->position_ = base + offset;
    return view->position_;
}

sf_count_t FlacWithoutLength::read(void* destination, sf_count_t count, void* self)
{
    auto* view = static_cast<FlacWithoutLength*>(self);
    auto* bytes = static_cast<unsigned char*>(destination);
    ssize_t got = 0;
    do {
        got = pread(view->fd_, bytes, static_cast<size_t>(count), view->position_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        return 0;
    }
    // The total's bytes that fall in this read become zeros; the 4 bits
    // before them in its first byte are the sample size, and stay.
    const int64_t from = std::max(view->position_, view->total_at_);
    const int64_t to = std::min(view->position_ + got, view->total_at_ + TOTAL_BYTES);
    for (int64_t at = from; view->total_at_ >= 0 && at < to; ++at) {
        bytes[at - view->position_] &= at == view->total_at_ ? 0xF0 : 0x00;
    }
    view->position_ += got;
    return got;
}

sf_count_t FlacWithoutLength::write(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t FlacWithoutLength::tell(void* self)
{
    return static_cast<FlacWithoutLength*>(self)->position_;
}

} // namespace zendrik_mask

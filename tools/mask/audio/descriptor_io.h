// SPDX-License-Identifier: ISC
// libsndfile's reads and writes on the output's descriptor, through its
// virtual I/O, keeping the first failed write. Some of its encoders (MP3's)
// drop the errors of their own writes and report every frame written, so
// the output would be renamed into place cut short; the kept error is what
// tells.
#ifndef ZENDRIK_MASK_DESCRIPTOR_IO_H
#define ZENDRIK_MASK_DESCRIPTOR_IO_H

#include <sndfile.h>

namespace zendrik_mask {

class DescriptorIo {
public:
    explicit DescriptorIo(int fd) : fd_(fd) {}

    // The callbacks for sf_open_virtual, with this object as their user data.
    static SF_VIRTUAL_IO* callbacks();
    // The errno of the first write that failed or wrote short; 0 for none.
    int write_error() const { return write_error_; }

private:
    static sf_count_t get_filelen(void* self);
    static sf_count_t seek(sf_count_t offset, int whence, void* self);
    static sf_count_t read(void* destination, sf_count_t count, void* self);
    static sf_count_t write(const void* source, sf_count_t count, void* self);
    static sf_count_t tell(void* self);

    int fd_;
    int write_error_ = 0;
};

} // namespace zendrik_mask

#endif

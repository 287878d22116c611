// SPDX-License-Identifier: ISC
#include "descriptor_io.h"

#include "errors.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

SF_VIRTUAL_IO* DescriptorIo::callbacks()
{
    static SF_VIRTUAL_IO io{get_filelen, seek, read, write, tell};
    return &io;
}

sf_count_t DescriptorIo::get_filelen(void* self)
{
    struct stat status {};
    return fstat(static_cast<DescriptorIo*>(self)->fd_, &status) == 0 ? status.st_size : -1;
}

sf_count_t DescriptorIo::seek(sf_count_t offset, int whence, void* self)
{
    return lseek(static_cast<DescriptorIo*>(self)->fd_, offset, whence);
}

sf_count_t DescriptorIo::read(void* destination, sf_count_t count, void* self)
{
    const ssize_t got = ::read(static_cast<DescriptorIo*>(self)->fd_, destination, static_cast<size_t>(count));
    return got < 0 ? 0 : got;
}

sf_count_t DescriptorIo::write(const void* source, sf_count_t count, void* self)
{
    auto* io = static_cast<DescriptorIo*>(self);
    const char* bytes = static_cast<const char*>(source);
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t wrote = ::write(io->fd_, bytes + done, static_cast<size_t>(count - done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            if (io->write_error_ == 0) {
                io->write_error_ = failed_write_error(wrote);
            }
            break;
        }
        done += wrote;
    }
    return done;
}

sf_count_t DescriptorIo::tell(void* self)
{
    return lseek(static_cast<DescriptorIo*>(self)->fd_, 0, SEEK_CUR);
}

} // namespace zendrik_mask

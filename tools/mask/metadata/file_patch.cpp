// SPDX-License-Identifier: ISC
#include "file_patch.h"

#include "errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

Error failed(int error)
{
    return write_failed(std::strerror(error));
}

void write_from(int fd, uint64_t offset, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (wrote <= 0) {
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            const int error = failed_write_error(wrote);
            close(fd);
            throw failed(error);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (close(fd) != 0) {
        throw failed(errno);
    }
}

int open_for_writing(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        throw failed(errno);
    }
    return fd;
}

} // namespace

void write_bytes_at(const std::string& path, uint64_t offset, const std::string& bytes)
{
    write_from(open_for_writing(path), offset, bytes);
}

void append_bytes(const std::string& path, const std::string& bytes)
{
    const int fd = open_for_writing(path);
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        const int error = errno;
        close(fd);
        throw failed(error);
    }
    write_from(fd, static_cast<uint64_t>(end), bytes);
}

} // namespace zendrik_mask

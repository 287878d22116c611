// SPDX-License-Identifier: ISC
#include "fingerprint.h"

#include "errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace zendrik_mask {

uint64_t fnv1a(std::string_view bytes, uint64_t hash)
{
    for (const char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
    }
    return hash;
}

std::string hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

FileIdentity examine(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int error = errno;
        throw bad_input("cannot read '" + path + "': " + std::strerror(error));
    }
    FileIdentity identity;
    identity.size = status.st_size;
    identity.mtime_ns = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return identity;
}

std::string content_hash(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw bad_input("cannot read '" + path + "': " + std::strerror(error));
    }
    std::vector<char> buffer(1 << 20);
    XXH3_state_t* state = XXH3_createState();
    XXH3_64bits_reset(state);
    ssize_t got = 0;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            XXH3_64bits_update(state, buffer.data(), static_cast<std::size_t>(got));
        }
    }
    const int error = errno;
    close(fd);
    const uint64_t hash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    if (got < 0) {
        throw bad_input("cannot read '" + path + "': " + std::strerror(error));
    }
    return hex(hash);
}

} // namespace zendrik_mask

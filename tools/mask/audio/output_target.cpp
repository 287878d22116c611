// SPDX-License-Identifier: ISC
#include "output_target.h"

#include "errors.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// As the kernel allows (MAXSYMLINKS).
constexpr int MAX_LINKS = 40;

std::string link_target(const std::string& link)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length < 0) {
        const int error = errno;
        throw write_failed("cannot read the link '" + link + "': " + std::strerror(error));
    }
    target.resize(static_cast<std::size_t>(length));
    // A relative target is relative to the link's folder.
    const auto slash = link.rfind('/');
    if (target.front() == '/' || slash == std::string::npos) {
        return target;
    }
    return link.substr(0, slash + 1) + target;
}

} // namespace

std::string output_target(const std::string& output, bool force)
{
    std::string path = output;
    struct stat status {};
    int links = 0;
    while (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        if (++links > MAX_LINKS) {
            throw write_failed("cannot follow the links of '" + output + "': " + std::strerror(ELOOP));
        }
        path = link_target(path);
    }
    // Root may write anything; a file nobody may write is protected all the same.
    const bool exists = lstat(path.c_str(), &status) == 0;
    if (exists && !force && S_ISREG(status.st_mode)
        && ((access(path.c_str(), W_OK) != 0 && errno == EACCES) || (status.st_mode & 0222) == 0)) {
        throw write_failed("output '" + output + "' is write-protected; --force replaces it");
    }
    return path;
}

} // namespace zendrik_mask

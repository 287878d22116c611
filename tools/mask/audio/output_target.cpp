// SPDX-License-Identifier: ISC
#include "output_target.h"

#include "errors.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// As the kernel allows (MAXSYMLINKS).
constexpr int MAX_LINKS = 40;

std::string link_target(const std::string& link)
{
    std::string target(PATH_MAX + 1, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    // A target that fills the buffer may have been cut.
    if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
        const int error = length < 0 ? errno : ENAMETOOLONG;
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

// What a file that is not a regular one is.
const char* kind_of(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    return S_ISSOCK(mode) ? "a socket" : "a special file";
}

} // namespace

std::string output_target(const std::string& output, bool force, const std::string& name,
                          std::vector<std::string>& warnings)
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
    const bool exists = lstat(path.c_str(), &status) == 0;
    if (!exists) {
        return path;
    }
    // Renamed over, a device or a FIFO would become a plain file; it is not
    // even opened, since opening a FIFO waits for a writer.
    if (!S_ISREG(status.st_mode)) {
        throw bad_input(name + " '" + output + "' is " + kind_of(status.st_mode) + ", not a regular file");
    }
    // Root may write anything; a file nobody may write is protected all the same.
    if (!force && ((access(path.c_str(), W_OK) != 0 && errno == EACCES) || (status.st_mode & 0222) == 0)) {
        throw write_failed(name + " '" + output + "' is write-protected; --force replaces it");
    }
    if (status.st_nlink > 1) {
        const auto others = std::to_string(status.st_nlink - 1);
        warnings.push_back(name + " '" + output + "' has " + others + " other name" + (others == "1" ? "" : "s")
                           + " (hard links): only this name gets the new file, the others keep the old one");
    }
    return path;
}

bool same_file(const std::string& a, const std::string& b)
{
    struct stat a_status {};
    struct stat b_status {};
    const bool a_exists = stat(a.c_str(), &a_status) == 0;
    const bool b_exists = stat(b.c_str(), &b_status) == 0;
    if (a_exists || b_exists) {
        return a_exists && b_exists && a_status.st_dev == b_status.st_dev && a_status.st_ino == b_status.st_ino;
    }
    std::error_code a_error;
    std::error_code b_error;
    const std::filesystem::path a_place = std::filesystem::weakly_canonical(a, a_error);
    const std::filesystem::path b_place = std::filesystem::weakly_canonical(b, b_error);
    return !a_error && !b_error && a_place == b_place;
}

} // namespace zendrik_mask

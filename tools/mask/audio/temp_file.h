// SPDX-License-Identifier: ISC
// zendrik-mask's output goes to a temporary file beside the target and is
// renamed over it only when all went well: an existing target is replaced
// whole or left untouched, and nothing is left behind, not even when the
// program is interrupted.
#ifndef ZENDRIK_MASK_TEMP_FILE_H
#define ZENDRIK_MASK_TEMP_FILE_H

#include <string>
#include <sys/types.h>

namespace zendrik_mask {

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the live temporary file
// before the program dies of them, and a file size limit fail writes (EFBIG)
// instead of killing the program.
void install_signal_handlers();

// One temporary file at a time: the signal handlers know only one.
class TempFile {
public:
    // Creates ".TARGET.XXXXXX" in the target's folder, TARGET cut short when
    // the name would be too long for the folder; it gets `mode` on commit,
    // writable by its owner until then (tags are added by name). Throws
    // the bad-input Error for a path too long, write_failed when it cannot.
    TempFile(const std::string& target, mode_t mode);
    // Removes the file unless committed.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    // For libraries that open files by name; the file stays where it is.
    const std::string& path() const { return path_; }
    // fsync, close and rename over the target; the target is replaced whole.
    // Throws write_failed.
    void commit(const std::string& target);

private:
    int fd_ = -1;
    mode_t mode_;
    std::string path_;
};

} // namespace zendrik_mask

#endif

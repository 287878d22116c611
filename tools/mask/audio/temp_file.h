// SPDX-License-Identifier: ISC
// zendrik-mask's outputs go to temporary files beside their targets and are
// renamed over them only when all went well: an existing target is replaced
// whole or left untouched, and nothing is left behind, not even when the
// program is interrupted. What a killed run leaves, the next run beside it
// removes.
#ifndef ZENDRIK_MASK_TEMP_FILE_H
#define ZENDRIK_MASK_TEMP_FILE_H

#include <string>
#include <sys/types.h>

namespace zendrik_mask {

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the live temporary files
// before the program dies of them, and a file size limit fail writes (EFBIG)
// instead of killing the program.
void install_signal_handlers();

// A few may be live at once (the audio, the labels, the report): the signal
// handlers know each of them.
class TempFile {
public:
    // Creates ".TARGET.zendrik-mask.PID.XXXXXX" in the target's folder, TARGET
    // cut short when the name would be too long for the folder, after
    // removing the temporary files of TARGET there whose process is gone. It
    // is writable by its owner until finished (tags are added by name).
    // Throws the bad-input Error for a path too long, write_failed when it
    // cannot.
    TempFile(const std::string& target, mode_t new_file_mode);
    // Removes the file unless committed.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    // For libraries that open files by name; the file stays where it is.
    const std::string& path() const { return path_; }
    // All that can fail short of the rename: gives the file the owner, group
    // and mode of the file it replaces (the owner only where this user may
    // give it away), or `new_file_mode` when there is none; fsync and close.
    // Throws write_failed.
    void finish(const std::string& target);
    // Finishes unless done, and renames over the target, which is replaced
    // whole. Throws write_failed.
    void commit(const std::string& target);

private:
    int fd_ = -1;
    int slot_ = -1;
    mode_t new_file_mode_;
    std::string path_;
};

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// zendrik-mask's outputs go to temporary files beside their targets and are
// renamed over them only when all went well: an existing target is replaced
// whole or left untouched, and nothing is left behind, not even when the
// program is interrupted. What a killed run leaves, the next run beside it
// removes: a live run holds a lock on its file.
#ifndef ZENDRIK_MASK_TEMP_FILE_H
#define ZENDRIK_MASK_TEMP_FILE_H

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace zendrik_mask {

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT remove the live temporary files
// before the program dies of them, and a file size limit fail writes (EFBIG)
// and a closed standard error fail messages (EPIPE) instead of killing the
// program.
void install_signal_handlers();

// A few may be live at once (the audio, the labels, the report): the signal
// handlers know each of them.
class TempFile {
public:
    // Creates ".TARGET.zendrik-mask.PID.XXXXXX" in the target's folder, TARGET
    // cut short when the name would be too long for the folder, XXXXXX a
    // mark of the file made, after removing the temporary files of TARGET
    // there that bear the mark, whose process is gone and that no process
    // holds locked. It is writable by its owner until
    // finished (tags are added by name), and locked until destroyed.
    // Throws the bad-input Error for a path too long, write_failed when it
    // cannot.
    TempFile(const std::string& target, mode_t new_file_mode);
    // Removes the file unless committed.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    // All of `text` written at the file's end. Throws write_failed,
    // "cannot write NAME: why".
    void write_text(const std::string& text, const std::string& name);
    // For libraries that open files by name; the file stays where it is.
    const std::string& path() const { return path_; }
    // All that can fail short of the rename: gives the file the owner, group
    // and mode of the file it replaces (the owner only where this user may
    // give it away), or `new_file_mode` when there is none; fsync (unless
    // `durable` is false: a file that may be lost in a power cut) and close.
    // Throws write_failed.
    void finish(const std::string& target, bool durable = true);
    // Finishes unless done, and renames over the target, which is replaced
    // whole. Throws write_failed.
    void commit(const std::string& target, bool durable = true);
    // Whether the file made is still there under its name.
    bool in_place() const;

private:
    int fd_ = -1;
    int lock_fd_ = -1;
    int slot_ = -1;
    mode_t new_file_mode_;
    std::string path_;
    std::pair<dev_t, ino_t> file_{};
};

// The mode a new file gets from this process's umask (0666 masked).
mode_t new_file_mode();

// A temporary file, the target it replaces, and how messages call it.
struct Replacement {
    TempFile* temp;
    std::string target, name;
};

// Replaces the targets together as far as renames one after another can:
// finishes each file, checks that each is still in place and that no target
// has become anything but a regular file, and only then renames them in
// order and flushes their folders to disk. Throws write_failed: before any
// rename, every target is untouched; a later failure names the targets
// already replaced.
void replace_all(const std::vector<Replacement>& files);

} // namespace zendrik_mask

#endif

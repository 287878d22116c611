// SPDX-License-Identifier: ISC
#include "temp_file.h"

#include "errors.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zendrik_mask {

namespace {

// What the signal handler may touch: fixed buffers and flags, filled before
// a flag says the path is there.
constexpr int SLOTS = 64;
char g_paths[SLOTS][PATH_MAX + 1];
std::atomic<bool> g_live[SLOTS];
std::atomic<bool> g_claimed[SLOTS]; // live, or held by a file until destroyed
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_fatal_signal(int sig)
{
    for (int slot = 0; slot < SLOTS; ++slot) {
        if (g_live[slot]) {
            unlink(g_paths[slot]);
        }
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

constexpr char MARK[] = ".zendrik-mask.";
// The longest PID (pid_t's ten digits) and ".XXXXXX".
constexpr std::size_t PID_AND_SUFFIX = 10 + 7;

// Whether `name` is ".BASE.zendrik-mask.PID.XXXXXX" for this base, and its PID.
bool temp_name_of(const std::string& name, const std::string& prefix, pid_t& pid)
{
    if (name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    const std::size_t dot = name.find('.', prefix.size());
    if (dot == prefix.size() || dot == std::string::npos || dot - prefix.size() > 10 || name.size() != dot + 7) {
        return false;
    }
    long long number = 0;
    for (std::size_t i = prefix.size(); i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
        number = number * 10 + (name[i] - '0');
    }
    pid = static_cast<pid_t>(number);
    return number > 0 && number <= INT_MAX;
}

// The last six characters of a temporary file's name: a hash of its name's
// start, its PID and its inode, so that a run tells the files runs made from
// files named alike by hand, or copied, which it must never remove.
std::string file_mark(const std::string& prefix, pid_t pid, ino_t inode)
{
    uint64_t hash = 14695981039346656037ull;
    const std::string text = prefix + std::to_string(pid) + "." + std::to_string(inode);
    for (const char byte : text) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
    }
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string mark;
    for (int i = 0; i < 6; ++i, hash /= 62) {
        mark += letters[hash % 62];
    }
    return mark;
}

// Gives the file mkstemp made at `path` its marked name, never over another
// file; keeps the name it has when it cannot (it is then never removed by
// another run, only by this one).
void mark_name(std::string& path, const std::string& prefix, int fd)
{
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return;
    }
    std::string marked = path;
    marked.replace(marked.size() - 6, 6, file_mark(prefix, getpid(), status.st_ino));
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, marked.c_str(), RENAME_NOREPLACE) == 0) {
        path = marked;
    } else if ((errno == EINVAL || errno == ENOSYS) && link(path.c_str(), marked.c_str()) == 0) {
        unlink(path.c_str());
        path = marked;
    }
}

// Removes this user's regular file `name` in `folder` unless a process
// holds it locked or it is not marked as made by a run: a live run locks its
// file, which tells where its PID cannot (another PID namespace, another NFS
// client). Our lock is held until the name is removed, so that no run can
// take the file up meanwhile.
void remove_if_unlocked(int folder, const char* name, const std::string& prefix, pid_t pid)
{
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    struct stat named {};
    const std::string mark = name + std::strlen(name) - 6;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid()
        && mark == file_mark(prefix, pid, status.st_ino) && flock(fd, LOCK_EX | LOCK_NB) == 0
        && fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == status.st_dev
        && named.st_ino == status.st_ino) {
        unlinkat(folder, name, 0);
    }
    close(fd);
}

// A run killed by SIGKILL, or by a crash, leaves its temporary file. Only
// files of this name whose process is gone here, and which no process holds
// locked, are removed: one still running is writing its own.
void remove_stale(const std::string& dir, const std::string& prefix)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder) {
        return;
    }
    while (const dirent* entry = readdir(folder.get())) {
        pid_t pid = 0;
        if (temp_name_of(entry->d_name, prefix, pid) && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) {
            remove_if_unlocked(dirfd(folder.get()), entry->d_name, prefix, pid);
        }
    }
}

// The folder of `target`, as TempFile places its file.
std::string folder_of(const std::string& target)
{
    const auto slash = target.rfind('/');
    return slash == std::string::npos ? "." : target.substr(0, slash + 1);
}

// Renamed entries last a power cut only once their folders are on disk.
// Throws write_failed, every target being replaced by then.
void flush_folders(const std::vector<Replacement>& files)
{
    std::set<std::pair<dev_t, ino_t>> flushed;
    for (const Replacement& file : files) {
        const std::string folder = folder_of(file.target);
        // A folder this user may write but not read cannot be opened to flush.
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat status {};
        if (fd < 0 || fstat(fd, &status) != 0 || !flushed.insert({status.st_dev, status.st_ino}).second) {
            if (fd >= 0) {
                close(fd);
            }
            continue;
        }
        const int result = fsync(fd);
        const int error = errno;
        close(fd);
        // Some file systems cannot flush a folder.
        if (result != 0 && error != EINVAL) {
            throw write_failed("cannot flush the folder '" + folder + "' to disk: " + std::strerror(error)
                               + " (every file was replaced)");
        }
    }
}

} // namespace

void install_signal_handlers()
{
    struct sigaction sa {};
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(sig, &sa, nullptr);
    }
    // A file size limit makes writes fail with EFBIG, handled like a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    // A closed standard error (`2>&1 | head`) must not end the run between
    // two renames: its messages are lost instead.
    std::signal(SIGPIPE, SIG_IGN);
}

TempFile::TempFile(const std::string& target, mode_t new_file_mode) : new_file_mode_(new_file_mode)
{
    const auto slash = target.rfind('/');
    const std::string dir = folder_of(target);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // The name's start is enough to recognise it: a long name is cut so that
    // the rest still fits the folder's longest name, at a character's start
    // so that the name stays valid UTF-8. The cut does not depend on the PID,
    // so that every run cuts a name alike.
    const long longest = pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::size_t room
        = (longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX) - 1 - (sizeof MARK - 1) - PID_AND_SUFFIX;
    if (base.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0u) == 0x80u) {
            --cut;
        }
        base.resize(cut);
    }
    const std::string prefix = "." + base + MARK;
    std::string templ = (slash == std::string::npos ? "" : dir) + prefix + std::to_string(getpid()) + ".XXXXXX";
    if (templ.size() > PATH_MAX) {
        throw bad_input("output path too long");
    }
    remove_stale(dir, prefix);
    // Block the signals while the path becomes known to the handler.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    // Threads masking files side by side each claim their own slot.
    for (int slot = 0; slot < SLOTS && slot_ < 0; ++slot) {
        bool free = false;
        slot_ = g_claimed[slot].compare_exchange_strong(free, true) ? slot : -1;
    }
    if (slot_ >= 0) {
        fd_ = mkstemp(templ.data());
    }
    const int err = slot_ < 0 ? EMFILE : errno;
    if (fd_ >= 0) {
        mark_name(templ, prefix, fd_);
    }
    if (fd_ >= 0) {
        std::memcpy(g_paths[slot_], templ.c_str(), templ.size() + 1);
        g_live[slot_] = true;
    } else if (slot_ >= 0) {
        g_claimed[slot_] = false;
        slot_ = -1;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (fd_ < 0) {
        throw write_failed("cannot create a file in '" + dir + "': " + std::strerror(err));
    }
    path_ = templ;
    // The lock tells other runs this file is live. It is taken on a copy of
    // the descriptor, so that it lasts once finish() closes the file. Where
    // a file system has no locks, other runs cannot take one either, and
    // keep the file.
    lock_fd_ = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    struct stat status {};
    if (lock_fd_ >= 0) {
        flock(lock_fd_, LOCK_EX);
    }
    if (fstat(fd_, &status) == 0) {
        file_ = {status.st_dev, status.st_ino};
    }
}

TempFile::~TempFile()
{
    if (fd_ >= 0) {
        close(fd_);
    }
    if (slot_ >= 0 && g_live[slot_]) {
        unlink(path_.c_str());
        g_live[slot_] = false;
    }
    if (slot_ >= 0) {
        g_claimed[slot_] = false;
    }
    if (lock_fd_ >= 0) {
        close(lock_fd_);
    }
}

void TempFile::write_text(const std::string& text, const std::string& name)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            throw write_failed("cannot write " + name + ": " + std::strerror(failed_write_error(wrote)));
        }
        done += static_cast<std::size_t>(wrote);
    }
}

mode_t new_file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void TempFile::finish(const std::string& target, bool durable)
{
    mode_t mode = new_file_mode_;
    struct stat replaced {};
    if (stat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        mode = replaced.st_mode & 07777;
        // Root gives the file back to its owner; another user may still keep
        // its group when a member of it.
        if (fchown(fd_, replaced.st_uid, replaced.st_gid) != 0
            && fchown(fd_, static_cast<uid_t>(-1), replaced.st_gid) != 0) {
            // Neither may be given: the file is this user's, as a new one is.
        }
    }
    // After a failed fchmod or fsync the destructor closes the descriptor.
    // The mode comes after fchown, which clears the set-user-ID bit.
    if (fchmod(fd_, mode) != 0 || (durable && fsync(fd_) != 0)) {
        const int error = errno;
        throw write_failed("cannot write '" + target + "': " + std::strerror(error));
    }
    const int closed = close(fd_);
    const int close_error = errno;
    fd_ = -1;
    if (closed != 0) {
        throw write_failed("cannot write '" + target + "': " + std::strerror(close_error));
    }
}

void TempFile::commit(const std::string& target, bool durable)
{
    if (fd_ >= 0) {
        finish(target, durable);
    }
    if (rename(path_.c_str(), target.c_str()) != 0) {
        const int error = errno;
        throw write_failed("cannot rename '" + path_ + "' to '" + target + "': " + std::strerror(error));
    }
    g_live[slot_] = false;
}

bool TempFile::in_place() const
{
    struct stat status {};
    return lstat(path_.c_str(), &status) == 0 && std::pair(status.st_dev, status.st_ino) == file_;
}

void replace_all(const std::vector<Replacement>& files)
{
    for (const Replacement& file : files) {
        if (file.temp->fd() >= 0) {
            file.temp->finish(file.target);
        }
    }
    // What can be checked is, so that a rename is unlikely to fail once
    // another has been made.
    for (const Replacement& file : files) {
        struct stat status {};
        if (!file.temp->in_place()) {
            throw write_failed("cannot write '" + file.name + "': its temporary file '" + file.temp->path()
                               + "' is gone");
        }
        if (lstat(file.target.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            throw write_failed("cannot replace '" + file.target + "': it is no longer a regular file");
        }
    }
    std::string replaced;
    for (const Replacement& file : files) {
        try {
            file.temp->commit(file.target);
        } catch (const Error& e) {
            if (replaced.empty()) {
                throw;
            }
            throw write_failed(e.message() + " (already replaced: " + replaced + ")");
        }
        replaced += (replaced.empty() ? "'" : ", '") + file.name + "'";
    }
    flush_folders(files);
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "temp_file.h"

#include "errors.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// What the signal handler may touch: a fixed buffer and a flag.
char g_temp_path[PATH_MAX + 1];
volatile sig_atomic_t g_temp_live = 0;

extern "C" void on_fatal_signal(int sig)
{
    if (g_temp_live) {
        unlink(g_temp_path);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
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
}

TempFile::TempFile(const std::string& target, mode_t mode) : mode_(mode)
{
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // The name's start is enough to recognise it: a long name is cut so that
    // the dot and the ".XXXXXX" still fit the folder's longest name, at a
    // character's start so that the name stays valid UTF-8.
    const long longest = pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::size_t room = (longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX) - 8;
    if (base.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0u) == 0x80u) {
            --cut;
        }
        base.resize(cut);
    }
    std::string templ = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
    if (templ.size() > PATH_MAX) {
        throw bad_input("output path too long");
    }
    // Block the signals while the path becomes known to the handler.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    fd_ = mkstemp(templ.data());
    const int err = errno;
    if (fd_ >= 0) {
        std::memcpy(g_temp_path, templ.c_str(), templ.size() + 1);
        g_temp_live = 1;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd_ < 0) {
        throw write_failed("cannot create a file in '" + dir + "': " + std::strerror(err));
    }
    path_ = templ;
}

TempFile::~TempFile()
{
    if (fd_ >= 0) {
        close(fd_);
    }
    if (g_temp_live) {
        unlink(path_.c_str());
        g_temp_live = 0;
    }
}

void TempFile::commit(const std::string& target)
{
    // After a failed fchmod or fsync the destructor closes the descriptor.
    if (fchmod(fd_, mode_) != 0 || fsync(fd_) != 0) {
        const int error = errno;
        throw write_failed("cannot write '" + target + "': " + std::strerror(error));
    }
    const int closed = close(fd_);
    const int close_error = errno;
    fd_ = -1;
    if (closed != 0) {
        throw write_failed("cannot write '" + target + "': " + std::strerror(close_error));
    }
    if (rename(path_.c_str(), target.c_str()) != 0) {
        const int error = errno;
        throw write_failed("cannot rename the output to '" + target + "': " + std::strerror(error));
    }
    g_temp_live = 0;
}

} // namespace zendrik_mask

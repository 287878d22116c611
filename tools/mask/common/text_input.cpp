// SPDX-License-Identifier: ISC
#include "text_input.h"

#include "errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <streambuf>

namespace zendrik_mask {

namespace {

std::string named(std::string_view what, const std::string& path)
{
    return std::string(what) + " '" + path + "'";
}

Error cannot_read(std::string_view what, const std::string& path, int error)
{
    return bad_input("cannot read " + named(what, path) + ": " + std::strerror(error));
}

// Pipes are taken: they end. A device may not (/dev/zero), and reading a
// folder gives nothing, which would pass for an empty file.
void check_kind(mode_t mode, std::string_view what, const std::string& path)
{
    if (S_ISDIR(mode)) {
        throw bad_input(named(what, path) + " is a folder");
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        throw bad_input(named(what, path) + " is a device, not a file");
    }
    if (!S_ISREG(mode) && !S_ISFIFO(mode)) {
        throw bad_input(named(what, path) + " is not a file");
    }
}

std::string in_units(std::uint64_t bytes)
{
    return bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                      : std::to_string(bytes / 1024) + " KiB";
}

} // namespace

void check_text_input(const std::string& path, std::string_view what)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw cannot_read(what, path, errno);
    }
    check_kind(status.st_mode, what, path);
}

class TextInput::Buffer : public std::streambuf {
public:
    Buffer(const std::string& path, std::string_view what, const TextLimits& limits)
        : path_(path), what_(what), limits_(limits)
    {
        // Checked before opening, as opening a device can do more than
        // reading it; and again on what was opened, which is what is read.
        check_text_input(path, what);
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            throw cannot_read(what, path, errno);
        }
        struct stat status {};
        if (fstat(fd_, &status) != 0) {
            const int error = errno;
            ::close(fd_);
            throw cannot_read(what, path, error);
        }
        try {
            check_kind(status.st_mode, what, path);
        } catch (...) {
            ::close(fd_);
            throw;
        }
    }
    ~Buffer() override { ::close(fd_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

protected:
    int_type underflow() override
    {
        ssize_t got = 0;
        do {
            got = ::read(fd_, chunk_.data(), chunk_.size());
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            throw cannot_read(what_, path_, errno);
        }
        if (got == 0) {
            return traits_type::eof();
        }
        total_ += static_cast<std::uint64_t>(got);
        if (total_ > limits_.file_bytes) {
            throw bad_input("'" + path_ + "' is larger than " + in_units(limits_.file_bytes) + ": not a " + what_
                            + "?");
        }
        check_lines(static_cast<std::size_t>(got));
        setg(chunk_.data(), chunk_.data(), chunk_.data() + got);
        return traits_type::to_int_type(chunk_[0]);
    }

private:
    // Lines end as read_line() ends them: LF, CRLF or a lone CR.
    void check_lines(std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) {
            const char c = chunk_[i];
            if (c == '\n' || c == '\r') {
                if (c == '\r' || !after_cr_) {
                    ++line_;
                }
                line_bytes_ = 0;
                after_cr_ = c == '\r';
                continue;
            }
            after_cr_ = false;
            if (++line_bytes_ > limits_.line_bytes) {
                throw bad_input("'" + path_ + "': line " + std::to_string(line_) + " is longer than "
                                + in_units(limits_.line_bytes) + ": not a " + what_ + "?");
            }
        }
    }

    int fd_ = -1;
    std::string path_;
    std::string what_;
    TextLimits limits_;
    std::array<char, 64 * 1024> chunk_{};
    std::uint64_t total_ = 0;
    long line_ = 1;
    std::size_t line_bytes_ = 0;
    bool after_cr_ = false;
};

TextInput::TextInput(const std::string& path, std::string_view what, const TextLimits& limits)
    : std::istream(nullptr), buffer_(std::make_unique<Buffer>(path, what, limits))
{
    rdbuf(buffer_.get());
    // An input function that meets an exception sets badbit, and rethrows the
    // exception itself when badbit is in exceptions(): the message reaches
    // the user instead of a stream that merely stopped.
    exceptions(std::ios::badbit);
}

TextInput::~TextInput() = default;

} // namespace zendrik_mask

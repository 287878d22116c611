// SPDX-License-Identifier: ISC
// zendrik-mask's errors and warnings: one error type that carries the exit
// status it ends the run with, so that one catch prints every error.
#ifndef ZENDRIK_MASK_ERRORS_H
#define ZENDRIK_MASK_ERRORS_H

#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace zendrik_mask {

// Exit statuses.
constexpr int EXIT_BAD_INPUT = 2;    // nothing written
constexpr int EXIT_WRITE_FAILED = 1; // nothing left behind

// The message is ready to print. It is kept whole besides what(): text from a
// file may hold a NUL byte, where what() would end.
class Error : public std::runtime_error {
public:
    Error(int status, const std::string& message) : std::runtime_error(message), status_(status), message_(message) {}
    int status() const { return status_; }
    const std::string& message() const { return message_; }

private:
    int status_;
    std::string message_;
};

// A complaint about the user's files or options.
inline Error bad_input(const std::string& message)
{
    return Error(EXIT_BAD_INPUT, message);
}

// The output could not be written.
inline Error write_failed(const std::string& message)
{
    return Error(EXIT_WRITE_FAILED, message);
}

// The errno of a write that returned `result` (negative, or 0 for nothing
// written), for its message; called right after the write, before another
// call can change errno. A write that wrote nothing sets none, so what errno
// holds then is an earlier call's: it counts as a device with no room left.
int failed_write_error(ssize_t result);

// `text` as one printable line: control characters, bytes that are not
// UTF-8 and trailing line ends become escapes (\n, \t, \xNN), so that a file
// name or label holding them cannot break or hide the line.
std::string printable(std::string_view text);

// Prints the error line; returns the error's exit status.
int report(const Error& error);

void warn(bool quiet, const std::string& message);

} // namespace zendrik_mask

#endif

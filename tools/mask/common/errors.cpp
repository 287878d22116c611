// SPDX-License-Identifier: ISC
#include "errors.h"

#include "text.h"

#include <cerrno>
#include <cstdio>

namespace zendrik_mask {

namespace {

// The length of the well-formed UTF-8 sequence of a printable character at
// the start of `text`; 0 when there is none (controls, C1 controls too, and
// anything not well-formed).
std::size_t printable_sequence(std::string_view text)
{
    const CodePoint point = decode_utf8(text);
    const char32_t code = point.code;
    if (!point.valid || code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0)) {
        return 0;
    }
    return point.length;
}

} // namespace

std::string printable(std::string_view text)
{
    // libsndfile's messages end in a line end of their own.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    std::string out;
    while (!text.empty()) {
        if (const std::size_t length = printable_sequence(text)) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        const auto byte = static_cast<unsigned char>(text.front());
        text.remove_prefix(1);
        switch (byte) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        }
        }
    }
    return out;
}

int failed_write_error(ssize_t result)
{
    return result < 0 ? errno : ENOSPC;
}

int report(const Error& error)
{
    std::fprintf(stderr, "zendrik-mask: error: %s\n", printable(error.message()).c_str());
    return error.status();
}

void warn(bool quiet, const std::string& message)
{
    if (!quiet) {
        std::fprintf(stderr, "zendrik-mask: warning: %s\n", printable(message).c_str());
    }
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "errors.h"

#include <cstdio>

namespace zendrik_mask {

namespace {

// The length of the well-formed UTF-8 sequence of a printable character at
// the start of `text`; 0 when there is none (C1 controls, overlong or
// surrogate forms, a cut sequence).
std::size_t printable_sequence(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead >= 0x20 && lead < 0x7F) {
        return 1;
    }
    std::size_t length = 0;
    unsigned code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= smallest[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    return valid && !(code >= 0x80 && code < 0xA0) ? length : 0;
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

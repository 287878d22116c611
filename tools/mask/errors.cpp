// SPDX-License-Identifier: ISC
#include "errors.h"

#include <cstdio>

namespace zendrik_mask {

int report(const Error& error)
{
    std::fprintf(stderr, "zendrik-mask: error: %s\n", error.what());
    return error.status();
}

void warn(bool quiet, const std::string& message)
{
    if (!quiet) {
        std::fprintf(stderr, "zendrik-mask: warning: %s\n", message.c_str());
    }
}

} // namespace zendrik_mask

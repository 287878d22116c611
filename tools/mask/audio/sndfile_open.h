// SPDX-License-Identifier: ISC
// libsndfile keeps the error of an open in one global, which its open
// functions write: files masked side by side are opened one at a time, each
// taking its own error along.
#ifndef ZENDRIK_MASK_SNDFILE_OPEN_H
#define ZENDRIK_MASK_SNDFILE_OPEN_H

#include <sndfile.h>

#include <mutex>
#include <string>

namespace zendrik_mask {

struct SndfileOpened {
    SNDFILE* file;
    std::string error; // sf_strerror's, when it failed
    int code;          // sf_error's
};

inline std::mutex& sndfile_open_lock()
{
    static std::mutex lock;
    return lock;
}

template <class Open>
SndfileOpened open_sndfile(Open open)
{
    const std::lock_guard<std::mutex> hold(sndfile_open_lock());
    SNDFILE* file = open();
    return {file, file ? std::string() : sf_strerror(nullptr), file ? SF_ERR_NO_ERROR : sf_error(nullptr)};
}

} // namespace zendrik_mask

#endif

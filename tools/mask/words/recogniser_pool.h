// SPDX-License-Identifier: ISC
// Decoders kept for the files a process masks after the one that made them:
// loading a model and its dictionary takes longer than decoding a minute of
// speech. A decoder is lent to one thread at a time and comes back when that
// thread's search is over.
#ifndef ZENDRIK_MASK_RECOGNISER_POOL_H
#define ZENDRIK_MASK_RECOGNISER_POOL_H

#include "recogniser.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zendrik_mask {

class RecogniserPool {
public:
    using Make = std::function<std::unique_ptr<Recogniser>()>;

    // An idle decoder made for `setup` (a text naming all it is made from),
    // else a new one from `make`. It returns to the pool when the one lent is
    // destroyed, which must happen before the pool is.
    std::unique_ptr<Recogniser> lend(const std::string& setup, const Make& make);

    std::size_t idle() const;

private:
    class Lent;
    void give_back(const std::string& setup, std::unique_ptr<Recogniser> recogniser);

    mutable std::mutex mutex_;
    // Made one at a time: loading a model is not safe on several threads.
    std::mutex making_;
    std::string setup_; // of the idle decoders
    std::vector<std::unique_ptr<Recogniser>> idle_;
};

// The process's own, for every file it masks.
RecogniserPool& process_recognisers();

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// The lock-free rings between run() and the recogniser's thread, one writer
// and one reader each. The input's positions count from the first sample
// ever written, so that neither side loses track of time.
#ifndef ZENDRIK_LIVE_RINGS_H
#define ZENDRIK_LIVE_RINGS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zendrik_live {

// The input as the recogniser reads it. The writer (run) never waits: when
// the reader falls a whole ring behind, what it missed is overwritten and the
// reader learns by the positions which samples it lost. The samples are
// atomics because the reader may read one as it is overwritten; it then
// finds out and drops it.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity) : samples_(new std::atomic<float>[capacity]), capacity_(capacity)
    {
        for (std::size_t i = 0; i < capacity; ++i) {
            samples_[i].store(0.0f, std::memory_order_relaxed);
        }
    }

    // Writer: the next n samples.
    void write(const float* in, std::size_t n)
    {
        const uint64_t at = written_.load(std::memory_order_relaxed);
        // Claimed before any is overwritten: a reader that sees one of the
        // new samples (released) sees the claim too.
        claimed_.store(at + n, std::memory_order_relaxed);
        for (std::size_t i = 0; i < n; ++i) {
            samples_[(at + i) % capacity_].store(in[i], std::memory_order_release);
        }
        written_.store(at + n, std::memory_order_release);
    }
    uint64_t written() const { return written_.load(std::memory_order_acquire); }
    std::size_t capacity() const { return capacity_; }
    // How far the reader has got: the writer, while it may wait, waits for it.
    uint64_t read_position() const { return read_.load(std::memory_order_acquire); }

    // Reader: up to n samples from `from` on into out. Returns the position of
    // out[0], later than `from` when samples were lost, and sets count.
    uint64_t read(uint64_t from, float* out, std::size_t n, std::size_t& count)
    {
        const uint64_t end = written();
        uint64_t start = end > from + capacity_ ? end - capacity_ : from;
        count = static_cast<std::size_t>(end - start < n ? end - start : n);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = samples_[(start + i) % capacity_].load(std::memory_order_acquire);
        }
        // Whatever the writer claimed meanwhile may have overwritten the first.
        const uint64_t now = claimed_.load(std::memory_order_relaxed);
        if (now > start + capacity_) {
            const uint64_t lost = now - capacity_ - start;
            if (lost >= count) {
                count = 0;
                start = now - capacity_;
            } else {
                for (std::size_t i = 0; i + lost < count; ++i) {
                    out[i] = out[i + lost];
                }
                count -= static_cast<std::size_t>(lost);
                start += lost;
            }
        }
        read_.store(start + count, std::memory_order_release);
        return start;
    }

private:
    std::unique_ptr<std::atomic<float>[]> samples_;
    std::size_t capacity_;
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> claimed_{0};
    std::atomic<uint64_t> read_{0};
};

// A listed word found: input positions, its first sample to past its last.
struct Find {
    uint64_t start;
    uint64_t end;
};

// A word list's path as it crosses between the threads, its end included.
constexpr std::size_t PATH_CAPACITY = 4096;
struct Path {
    char text[PATH_CAPACITY];
};

// The finds coming back, and word lists asked for and taken up: a plain
// single-producer single-consumer queue.
template <typename Item, std::size_t CAPACITY>
class Queue {
public:
    bool push(const Item& item)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == CAPACITY) {
            return false;
        }
        items_[tail % CAPACITY] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    bool pop(Item& item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        item = items_[head % CAPACITY];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    Item items_[CAPACITY] = {};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

} // namespace zendrik_live

#endif

// SPDX-License-Identifier: ISC
#include "recogniser_pool.h"

#include <utility>

namespace zendrik_mask {

class RecogniserPool::Lent : public Recogniser {
public:
    Lent(RecogniserPool& pool, std::string setup, std::unique_ptr<Recogniser> recogniser)
        : pool_(pool), setup_(std::move(setup)), recogniser_(std::move(recogniser))
    {
    }
    ~Lent() override { pool_.give_back(setup_, std::move(recogniser_)); }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;

    std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) override
    {
        return recogniser_->listen(samples, count);
    }

private:
    RecogniserPool& pool_;
    std::string setup_;
    std::unique_ptr<Recogniser> recogniser_;
};

std::unique_ptr<Recogniser> RecogniserPool::lend(const std::string& setup, const Make& make)
{
    std::unique_ptr<Recogniser> recogniser;
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        if (setup == setup_ && !idle_.empty()) {
            recogniser = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (!recogniser) {
        const std::lock_guard<std::mutex> hold(making_);
        recogniser = make();
    }
    return std::make_unique<Lent>(*this, setup, std::move(recogniser));
}

void RecogniserPool::give_back(const std::string& setup, std::unique_ptr<Recogniser> recogniser)
{
    std::vector<std::unique_ptr<Recogniser>> dropped;
    const std::lock_guard<std::mutex> hold(mutex_);
    // Only the latest setup is kept, so that no more decoders live than
    // threads have used at once.
    if (setup != setup_) {
        dropped = std::move(idle_);
        idle_.clear();
        setup_ = setup;
    }
    idle_.push_back(std::move(recogniser));
}

std::size_t RecogniserPool::idle() const
{
    const std::lock_guard<std::mutex> hold(mutex_);
    return idle_.size();
}

RecogniserPool& process_recognisers()
{
    static RecogniserPool pool;
    return pool;
}

} // namespace zendrik_mask

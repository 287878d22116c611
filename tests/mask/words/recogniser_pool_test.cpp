// SPDX-License-Identifier: ISC
// The decoders a process keeps: made once and lent again, one thread at a
// time, and none kept for a setup no longer asked for.
#include "recogniser_pool.h"

#include <gtest/gtest.h>

#include <memory>

namespace zendrik_mask {
namespace {

// Hears, as its one word, the number of the decoder.
class Numbered : public Recogniser {
public:
    explicit Numbered(int number) : number_(number) {}
    std::vector<TimedWord> listen(const int16_t*, std::size_t) override
    {
        TimedWord word;
        word.text = std::to_string(number_);
        return {word};
    }

private:
    int number_;
};

std::string heard_by(Recogniser& recogniser)
{
    return recogniser.listen(nullptr, 0).at(0).text;
}

TEST(RecogniserPool, DecodersAreMadeOnceAndLentOneThreadAtATime)
{
    RecogniserPool pool;
    int made = 0;
    const RecogniserPool::Make make = [&made] { return std::make_unique<Numbered>(++made); };
    {
        // Two threads of one search: two decoders.
        const auto first = pool.lend("english", make);
        const auto second = pool.lend("english", make);
        EXPECT_EQ(made, 2);
        EXPECT_NE(heard_by(*first), heard_by(*second));
    }
    EXPECT_EQ(pool.idle(), 2u);
    // The next files: the same two, whatever the order they come back in.
    for (int file = 0; file < 3; ++file) {
        const auto first = pool.lend("english", make);
        const auto second = pool.lend("english", make);
        EXPECT_EQ(pool.idle(), 0u);
        EXPECT_NE(heard_by(*first), heard_by(*second));
    }
    EXPECT_EQ(made, 2);

    // Another setup gets its own; the old ones are not kept beside it.
    {
        const auto other = pool.lend("other words", make);
        EXPECT_EQ(heard_by(*other), "3");
    }
    EXPECT_EQ(pool.idle(), 1u);
    EXPECT_EQ(heard_by(*pool.lend("other words", make)), "3");
    EXPECT_EQ(heard_by(*pool.lend("english", make)), "4");
}

} // namespace
} // namespace zendrik_mask

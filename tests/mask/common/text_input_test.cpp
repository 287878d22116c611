// SPDX-License-Identifier: ISC
#include "errors.h"
#include "text_input.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace zendrik_mask;

namespace {

// What a file of `text` gives read within `limits`, or the error it ends in,
// the file named FILE.
std::string read_within(const std::string& text, const TextLimits& limits)
{
    char path[] = "/tmp/zendrik-text-input-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    std::string result;
    try {
        TextInput in(path, "word list", limits);
        for (int c = in.get(); c != EOF; c = in.get()) {
            result += static_cast<char>(c);
        }
    } catch (const Error& e) {
        result = e.message();
        result.replace(result.find(path), std::string(path).size(), "FILE");
    }
    std::remove(path);
    return result;
}

} // namespace

TEST(TextInput, LinesAreCountedAsTheReadersEndThem)
{
    const TextLimits limits{1024, 1024 * 1024};
    const std::string ends = "a\r\nb\rc\n\n";
    EXPECT_EQ(read_within(ends + std::string(1024, 'x'), limits), ends + std::string(1024, 'x'));
    EXPECT_EQ(read_within(ends + std::string(1025, 'x'), limits),
              "'FILE': line 5 is longer than 1 KiB: not a word list?");
    // Past the first chunk read.
    const std::string lines(70000, '\n');
    EXPECT_EQ(read_within(lines + std::string(1025, 'x'), limits),
              "'FILE': line 70001 is longer than 1 KiB: not a word list?");
}

TEST(TextInput, AFileLargerThanItsKindIsRefused)
{
    const std::string text(2048, '\n');
    EXPECT_EQ(read_within(text, {1024, 2048}), text);
    EXPECT_EQ(read_within(text + "\n", {1024, 2048}), "'FILE' is larger than 2 KiB: not a word list?");
}

TEST(TextInput, APipeIsRead)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "damn\n", 5), 5);
    close(ends[1]);
    TextInput in("/dev/fd/" + std::to_string(ends[0]), "word list", WORD_LIST_LIMITS);
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "damn");
    close(ends[0]);
}

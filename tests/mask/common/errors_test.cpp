// SPDX-License-Identifier: ISC
// zendrik-mask's messages: whatever a file name or a label holds, an error
// or a warning prints as one whole, printable line.
#include "errors.h"

#include <gtest/gtest.h>

using namespace zendrik_mask;

namespace {

TEST(MaskMessages, ControlCharactersAndBrokenUtf8AreEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {std::string("nul\0after", 9), "nul\\x00after"},
        {"\x1b[31mred\x7f", "\\x1B[31mred\\x7F"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        {"\xC2\x85line", "\\xC2\\x85line"},                     // C1 control
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                    // surrogate
        {"\xC0\xAF cut \xE2\x82", "\\xC0\\xAF cut \\xE2\\x82"}, // overlong, cut short
        {"Bad format.\nSee log.\n", "Bad format.\\nSee log."},  // libsndfile's own line end
    };
    for (const auto& [raw, shown] : cases) {
        EXPECT_EQ(printable(raw), shown);
    }
}

} // namespace

// SPDX-License-Identifier: ISC
// zendrik-mask's review output: the label text of what was found, and the
// edit decision list players read.
#include "review.h"

#include <gtest/gtest.h>

using namespace zendrik_mask;

namespace {

TEST(MaskReview, LabelsNameSourceConfidenceAndWholeCue)
{
    EXPECT_EQ(label_text("damn", "damn", "transcript", 0.871, false), "damn (transcript 0.87)");
    EXPECT_EQ(label_text("damn*", "damned", "recogniser", 0.4249, false), "damned for damn* (recogniser 0.42)");
    EXPECT_EQ(label_text("damn", "", "transcript", {}, true), "damn (transcript, whole cue)");
    EXPECT_EQ(label_text("da\tmn", "da\tmn", "transcript", 1.0, true), "da mn (transcript 1.00, whole cue)");
    const std::string checked = label_text("hell", "hell", "recogniser", 0.871, false, 2, false, -2.44);
    EXPECT_EQ(checked, "hell (recogniser 0.87, fit -2.4, stream 2)");
    // Read back as a find of an earlier run, as the labels without a fit are.
    Options options;
    options.words = {"hell"};
    EXPECT_NE(relabel_warning(options, {{0, 1, "found.txt:1", checked}}), "");
}

// MPlayer and Kodi read "start end 1" a line, in order, without overlaps.
TEST(MaskReview, EditDecisionListMergesRangesInOrder)
{
    const WordRequest request;
    const std::vector<FoundWord> found;
    const std::vector<TimeRange> words = {{2'000'000'000, 3'000'000'000, "", ""}};
    const std::vector<TimeRange> given = {{1'200'000'000, 2'100'000'000, "", ""},
                                          {1'000'000'000, 1'500'000'000, "", ""},
                                          {4'000'000'000, 4'250'000'000, "", ""}};
    EXPECT_EQ(edl_text(Review{request, found, words, given}), "1.000000000 3.000000000 1\n4.000000000 4.250000000 1\n");
}

} // namespace

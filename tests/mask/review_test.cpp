// SPDX-License-Identifier: ISC
// zendrik-mask's review output: the label text of what was found.
#include "review.h"

#include <gtest/gtest.h>

using namespace zendrik_mask;

namespace {

TEST(MaskReview, LabelsNameSourceConfidenceAndWholeCue)
{
    EXPECT_EQ(label_text("damn", "transcript", 0.871, false), "damn (transcript 0.87)");
    EXPECT_EQ(label_text("damn", "recogniser", 0.4249, false), "damn (recogniser 0.42)");
    EXPECT_EQ(label_text("damn", "transcript", {}, true), "damn (transcript, whole cue)");
    EXPECT_EQ(label_text("da\tmn", "transcript", 1.0, true), "da mn (transcript 1.00, whole cue)");
}

} // namespace

// SPDX-License-Identifier: ISC
// zendrik-mask's planning library: times, ranges, label files, rounding to
// samples, merging and clipping, and the block schedule.
#include "ranges.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

using namespace zendrik_mask;

namespace {

constexpr int64_t S = 1000000000; // nanoseconds per second

std::string error_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(MaskTime, AcceptsSecondsAndClockForms)
{
    const std::pair<const char*, int64_t> cases[] = {
        {"0", 0},
        {"12.5", 12 * S + S / 2},
        {"75", 75 * S},
        {" 3 ", 3 * S},
        {".25", S / 4},
        {"7.", 7 * S},
        {"1,5", S + S / 2}, // decimal comma
        {"2:05", 125 * S},
        {"1:02:03.25", 3723 * S + S / 4},
        {"100:00:00", 360000 * S},
        {"0.000000001", 1},
        {"0.0000000015", 2}, // rounded to the nearest nanosecond, halves up
        {"0.0000000014999", 1},
    };
    for (const auto& [text, ns] : cases) {
        EXPECT_EQ(parse_time_ns(text), ns) << text;
    }
}

TEST(MaskTime, RejectsMalformedTimesWithAReason)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "empty"},
        {"-1", "negative"},
        {"abc", "not a time"},
        {"1e3", "not a time"},
        {"+2", "not a time"},
        {"1:2:3:4", "not a time"},
        {"1:60", "seconds must be"},
        {"1:60:00", "minutes must be"},
        {"1::2", "not a time"},
        {"1:", "not a time"},
        {".", "not a time"},
        {"1.2.3", "not a time"},
        {"99999999999", "too large"},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_NE(error_of([&] { parse_time_ns(text); }).find(reason), std::string::npos)
            << text << ": " << error_of([&] { parse_time_ns(text); });
    }
}

TEST(MaskRange, ParsesStartEndAndRejectsBadRanges)
{
    const TimeRange r = parse_range("1:02:03.25-1:02:04");
    EXPECT_EQ(r.start_ns, 3723 * S + S / 4);
    EXPECT_EQ(r.end_ns, 3724 * S);

    const std::pair<const char*, const char*> bad[] = {
        {"2-1", "start is not before end"},
        {"1-1", "start is not before end"},
        {"-1-2", "negative"},
        {"1--2", "negative"},
        {"a-2", "not a time"},
        {"1-", "empty time"},
        {"12", "not START-END"},
        {"", "empty range"},
    };
    for (const auto& [text, reason] : bad) {
        const std::string msg = error_of([&] { parse_range(text); });
        EXPECT_NE(msg.find(reason), std::string::npos) << text << ": " << msg;
    }
}

TEST(MaskLabels, ReadsAudacityLabelFiles)
{
    std::istringstream in(
        "\xEF\xBB\xBF"
        "1.000000\t2.500000\tname\r\n"
        "\\\t100.0\t2000.0\n" // spectral line of the label above
        "\n"
        "3\t4\n" // no text
        "5.5\t6\tswear words\twith a tab\n");
    const std::vector<TimeRange> r = parse_labels(in, "marks.txt");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].start_ns, S);
    EXPECT_EQ(r[0].end_ns, 5 * S / 2);
    EXPECT_EQ(r[0].origin, "marks.txt:1");
    EXPECT_EQ(r[1].start_ns, 3 * S);
    EXPECT_EQ(r[2].start_ns, 11 * S / 2);
    EXPECT_EQ(r[2].origin, "marks.txt:5");
}

TEST(MaskLabels, ReadsEveryLineEnd)
{
    for (const char* end : {"\n", "\r\n", "\r"}) {
        std::istringstream in(std::string("1\t2\ta") + end + end + "3\t4\tb" + end + "x\t5\tc");
        const std::string msg = error_of([&] { parse_labels(in, "marks.txt"); });
        EXPECT_NE(msg.find("marks.txt:4: 'x' is not a time"), std::string::npos) << msg;
        std::istringstream good(std::string("1\t2\ta") + end + end + "3\t4\tb" + end + "\\\t1\t2");
        const std::vector<TimeRange> r = parse_labels(good, "marks.txt");
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[1].start_ns, 3 * S);
        EXPECT_EQ(r[1].origin, "marks.txt:3");
    }
}

TEST(MaskLabels, ErrorsNameTheLine)
{
    const std::pair<const char*, const char*> bad[] = {
        {"1\t2\tok\n3\t3\tpoint\n", "marks.txt:2: point label"},
        {"1\t2\tok\n\n1 2 spaces\n", "marks.txt:3: expected start, end and text"},
        {"x\t2\tname\n", "marks.txt:1: 'x' is not a time"},
        {"1\t2\n4\t3\tbackwards\n", "marks.txt:2: start is after end"},
        {"-1\t2\n", "marks.txt:1: negative"},
    };
    for (const auto& [text, reason] : bad) {
        std::istringstream in(text);
        const std::string msg = error_of([&] { parse_labels(in, "marks.txt"); });
        EXPECT_NE(msg.find(reason), std::string::npos) << msg;
    }
}

TEST(MaskRounding, NearestSampleHalvesUpExactly)
{
    // 8000 Hz: one sample is 125 000 ns.
    EXPECT_EQ(frame_of(62499, 8000), 0);
    EXPECT_EQ(frame_of(62500, 8000), 1); // exactly half a sample: up
    EXPECT_EQ(frame_of(187499, 8000), 1);
    EXPECT_EQ(frame_of(187500, 8000), 2);
    // Exact where doubles are not: 0.1 s at 44.1 kHz is 4410 samples, and
    // long times keep every digit.
    EXPECT_EQ(frame_of(parse_time_ns("0.1"), 44100), 4410);
    EXPECT_EQ(frame_of(parse_time_ns("1:02:03.25"), 44100), 164195325);
    EXPECT_EQ(frame_of(parse_time_ns("99:59:59.999999999"), 192000), 69119999999 + 1);
}

// 60 hours at 48 kHz: frames × 10⁹ passes 64 bits.
TEST(MaskRounding, LongInputsKeepTheirLengthInMessages)
{
    const int64_t frames = int64_t{60} * 3600 * 48000;
    EXPECT_EQ(time_of(frames, 48000), int64_t{60} * 3600 * S);
    const Plan p = plan_ranges({{61 * 3600 * S, 62 * 3600 * S, "r", ""}}, 48000, frames);
    ASSERT_EQ(p.warnings.size(), 1u);
    EXPECT_NE(p.warnings[0].find("(60:00:00.000); ignored"), std::string::npos) << p.warnings[0];
}

std::vector<TimeRange> ranges_of(std::initializer_list<std::pair<double, double>> seconds)
{
    std::vector<TimeRange> out;
    for (const auto& [a, b] : seconds) {
        out.push_back({static_cast<int64_t>(a * S), static_cast<int64_t>(b * S), "r", ""});
    }
    return out;
}

TEST(MaskPlan, SortsAndMergesOverlappingAndTouchingRanges)
{
    const Plan p = plan_ranges(ranges_of({{5, 6}, {1, 2}, {1.5, 3}, {3, 4}, {7, 9}, {7.5, 8}}), 100, -1);
    const std::vector<FrameRange> want{{100, 400}, {500, 600}, {700, 900}};
    EXPECT_EQ(p.ranges, want);
    EXPECT_TRUE(p.warnings.empty());
    // One sample apart is not touching.
    const Plan gap = plan_ranges(ranges_of({{1, 2}, {2.01, 3}}), 100, -1);
    EXPECT_EQ(gap.ranges.size(), 2u);
}

TEST(MaskPlan, ClipsAtTheEndAndDropsEmptyRangesWithWarnings)
{
    const Plan p = plan_ranges(ranges_of({{0.5, 1.5}, {2, 3}, {0.1, 0.104}}), 100, 100);
    const std::vector<FrameRange> want{{50, 100}};
    EXPECT_EQ(p.ranges, want);
    ASSERT_EQ(p.warnings.size(), 3u);
    EXPECT_NE(p.warnings[0].find("clipped"), std::string::npos);
    EXPECT_NE(p.warnings[1].find("ignored"), std::string::npos);
    EXPECT_NE(p.warnings[2].find("shorter than half a sample"), std::string::npos);
    // A range ending exactly at the end is whole, not clipped.
    EXPECT_TRUE(plan_ranges(ranges_of({{0.5, 1}}), 100, 100).warnings.empty());
}

// Blocks from the schedule, in chunks as a reader delivers them, must tile
// the file, never cross an edge, and be on exactly for the planned samples.
TEST(MaskSchedule, CutsBlocksAtEveryEdgeAcrossChunks)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        const int64_t frames = std::uniform_int_distribution<int64_t>(1, 3000)(rng);
        std::vector<TimeRange> tr;
        const int n = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int i = 0; i < n; ++i) {
            const int64_t a = std::uniform_int_distribution<int64_t>(0, 3200)(rng);
            const int64_t b = a + std::uniform_int_distribution<int64_t>(1, 400)(rng);
            tr.push_back({a * S / 1000, b * S / 1000, "r", ""}); // rate 1000: ms = samples
        }
        const Plan plan = plan_ranges(tr, 1000, frames);
        std::vector<bool> want(static_cast<std::size_t>(frames), false);
        for (const TimeRange& r : tr) {
            for (int64_t i = r.start_ns * 1000 / S; i < r.end_ns * 1000 / S && i < frames; ++i) {
                want[static_cast<std::size_t>(i)] = true;
            }
        }
        const int64_t chunk = std::uniform_int_distribution<int64_t>(1, 700)(rng);
        Schedule schedule(plan.ranges);
        std::vector<bool> got;
        for (int64_t pos = 0; pos < frames;) {
            const int64_t n_chunk = std::min(chunk, frames - pos);
            for (int64_t off = 0; off < n_chunk;) {
                const Schedule::Block b = schedule.next(pos + off, n_chunk - off);
                ASSERT_GT(b.length, 0);
                ASSERT_LE(off + b.length, n_chunk);
                got.insert(got.end(), static_cast<std::size_t>(b.length), b.on);
                off += b.length;
            }
            pos += n_chunk;
        }
        // One flag per block, so matching flags mean no block straddles an edge.
        ASSERT_EQ(got, want) << "round " << round;
        for (std::size_t i = 1; i < plan.ranges.size(); ++i) {
            ASSERT_LT(plan.ranges[i - 1].end, plan.ranges[i].start);
        }
    }
}

} // namespace

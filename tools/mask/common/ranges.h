// SPDX-License-Identifier: ISC
// zendrik-mask's pure planning code: reading times, ranges and label files,
// and turning them into the sorted, merged, clipped list of sample ranges the
// host switches the plugin on for. No audio, no LV2, no I/O beyond streams.
#ifndef ZENDRIK_MASK_RANGES_H
#define ZENDRIK_MASK_RANGES_H

#include "errors.h"

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// A time as written by the user: seconds ("12.5", "75") or [h:]m:s[.fff]
// ("1:02:03.25", "2:05"). A decimal comma is accepted too. The result is in
// nanoseconds, rounded to the nearest one (halves up). Throws the bad-input Error.
int64_t parse_time_ns(std::string_view text);

// A time range in nanoseconds, start before end, and where it came from
// ("--mask 1-2", "marks.txt:3") for messages.
struct TimeRange {
    int64_t start_ns;
    int64_t end_ns;
    std::string origin;
    std::string label; // a label file's text for the range, kept when labels are written again
};

// "START-END", each side a time as above. Throws the bad-input Error.
TimeRange parse_range(std::string_view text);

// Audacity label file: one label per line, start, end and text separated by
// tabs (the text may be missing). Lines end in LF, CRLF or CR. Blank lines and Audacity's spectral lines
// (starting with a backslash) are skipped. Point labels (start = end) and
// anything malformed are errors naming `name` and the line number.
std::vector<TimeRange> parse_labels(std::istream& in, const std::string& name);

// The sample a time falls on: time × rate rounded to the nearest sample,
// halves up, computed exactly. A range [s, e) covers the samples from
// frame_of(s) up to but not including frame_of(e).
int64_t frame_of(int64_t ns, int64_t rate);

// The time frame `frame` starts at, in nanoseconds, rounded down and computed
// exactly (frames × 10⁹ passes 64 bits after 53 hours at 48 kHz).
int64_t time_of(int64_t frame, int64_t rate);

// Samples [start, end) to sound the tone on.
struct FrameRange {
    int64_t start;
    int64_t end;
    bool operator==(const FrameRange& o) const { return start == o.start && end == o.end; }
};

struct Plan {
    std::vector<FrameRange> ranges; // sorted, disjoint, non-touching, non-empty
    std::vector<std::string> warnings;
};

// Converts to samples, drops ranges that round to nothing or start past the
// end (warning), clips ranges that reach past `frames` (warning), sorts, and
// merges overlapping and touching ranges.
Plan plan_ranges(const std::vector<TimeRange>& ranges, int64_t rate, int64_t frames);

// Ranges given that all miss the audio are a mistake (another file, times in
// the wrong unit), not a run with nothing to do, which a script would take
// for done; some missing among others are a warning of the plan. Throws the
// bad-input Error naming `input` when `given` holds ranges and none of them
// covers a sample.
void check_some_range_inside(const std::vector<TimeRange>& given, int64_t rate, int64_t frames,
                             const std::string& input);

// Walks a plan block by block: from frame `pos`, the length of the next
// block of at most `max_len` frames that does not cross a range edge, and
// whether the tone is on in it. Positions must not go backwards.
class Schedule {
public:
    explicit Schedule(std::vector<FrameRange> ranges) : ranges_(std::move(ranges)) {}
    struct Block {
        int64_t length;
        bool on;
    };
    Block next(int64_t pos, int64_t max_len);

private:
    std::vector<FrameRange> ranges_;
    std::size_t index_ = 0;
};

// "1:02:03.250" style, for messages.
std::string format_time(int64_t ns);

} // namespace zendrik_mask

#endif

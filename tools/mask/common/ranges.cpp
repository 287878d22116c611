// SPDX-License-Identifier: ISC
#include "ranges.h"

#include "text.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace zendrik_mask {

namespace {

constexpr int64_t NS_PER_S = 1000000000;
// Far beyond any recording, and small enough that times in nanoseconds
// times any sample rate fit the 128-bit product in frame_of.
constexpr int64_t MAX_SECONDS = 1000000000;

// Around times and ranges: spaces, tabs and line ends; any other control is an error.
std::string_view trim(std::string_view text)
{
    return zendrik_mask::trim(text, " \t\r\n");
}

bool all_digits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), is_digit);
}

// Decimal digits to an integer, capped: returns false past MAX_SECONDS.
bool to_int(std::string_view digits, int64_t& out)
{
    out = 0;
    for (char c : digits) {
        out = out * 10 + (c - '0');
        if (out > MAX_SECONDS) {
            return false;
        }
    }
    return true;
}

Error not_a_time(std::string_view text)
{
    return bad_input("'" + std::string(text) + "' is not a time (seconds, or [h:]m:s[.fff])");
}

} // namespace

int64_t parse_time_ns(std::string_view raw)
{
    const std::string_view text = trim(raw);
    if (text.empty()) {
        throw bad_input("empty time");
    }
    if (text.front() == '-') {
        throw bad_input("negative time '" + std::string(text) + "'");
    }

    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (;;) {
        const auto colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string_view::npos ? colon : colon - from));
        if (colon == std::string_view::npos) {
            break;
        }
        from = colon + 1;
    }
    if (parts.size() > 3) {
        throw not_a_time(text);
    }

    // The last part holds the seconds and the only fraction.
    std::string_view sec = parts.back();
    std::string_view frac;
    const auto point = sec.find_first_of(".,");
    if (point != std::string_view::npos) {
        frac = sec.substr(point + 1);
        sec = sec.substr(0, point);
        if (!frac.empty() && !all_digits(frac)) {
            throw not_a_time(text);
        }
        if (sec.empty() && frac.empty()) {
            throw not_a_time(text);
        }
        if (!sec.empty() && !all_digits(sec)) {
            throw not_a_time(text);
        }
    } else if (!all_digits(sec)) {
        throw not_a_time(text);
    }

    int64_t seconds = 0;
    if (!sec.empty() && !to_int(sec, seconds)) {
        throw bad_input("time '" + std::string(text) + "' is too large");
    }
    int64_t total = 0;
    if (parts.size() > 1) {
        if (sec.empty() || seconds >= 60) {
            throw bad_input("time '" + std::string(text) + "': seconds must be 00 to 59");
        }
        int64_t minutes = 0;
        if (!all_digits(parts[parts.size() - 2])) {
            throw not_a_time(text);
        }
        if (!to_int(parts[parts.size() - 2], minutes)) {
            throw bad_input("time '" + std::string(text) + "' is too large");
        }
        int64_t hours = 0;
        if (parts.size() == 3) {
            if (!all_digits(parts[0])) {
                throw not_a_time(text);
            }
            if (minutes >= 60) {
                throw bad_input("time '" + std::string(text) + "': minutes must be 00 to 59");
            }
            if (!to_int(parts[0], hours)) {
                throw bad_input("time '" + std::string(text) + "' is too large");
            }
        }
        total = hours * 3600 + minutes * 60 + seconds;
        if (total > MAX_SECONDS) {
            throw bad_input("time '" + std::string(text) + "' is too large");
        }
    } else {
        total = seconds;
    }

    // Fraction to nanoseconds, rounded to the nearest one, halves up.
    int64_t ns = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        ns = ns * 10 + (i < frac.size() ? frac[i] - '0' : 0);
    }
    if (frac.size() > 9 && frac[9] >= '5') {
        ++ns;
    }
    return total * NS_PER_S + ns;
}

TimeRange parse_range(std::string_view raw)
{
    const std::string_view text = trim(raw);
    const std::string quoted = "'" + std::string(text) + "'";
    if (text.empty()) {
        throw bad_input("empty range (expected START-END)");
    }
    if (text.front() == '-') {
        throw bad_input("range " + quoted + ": negative start");
    }
    const auto dash = text.find('-');
    if (dash == std::string_view::npos) {
        throw bad_input("range " + quoted + " is not START-END");
    }
    TimeRange r{};
    try {
        r.start_ns = parse_time_ns(text.substr(0, dash));
        r.end_ns = parse_time_ns(text.substr(dash + 1));
    } catch (const Error& e) {
        throw bad_input("range " + quoted + ": " + e.message());
    }
    if (r.start_ns >= r.end_ns) {
        throw bad_input("range " + quoted + ": start is not before end");
    }
    r.origin = "range " + quoted;
    return r;
}

std::vector<TimeRange> parse_labels(std::istream& in, const std::string& name)
{
    std::vector<TimeRange> out;
    std::string line;
    for (long number = 1; read_line(in, line); ++number) {
        const std::string where = name + ":" + std::to_string(number);
        std::string_view view(line);
        if (number == 1 && starts_with(view, UTF8_BOM)) {
            view.remove_prefix(UTF8_BOM.size());
        }
        if (trim(view).empty() || view.front() == '\\') {
            continue; // blank, or the frequency line of a spectral label
        }
        const auto tab1 = view.find('\t');
        if (tab1 == std::string_view::npos) {
            throw bad_input(where + ": expected start, end and text separated by tabs");
        }
        const auto tab2 = view.find('\t', tab1 + 1);
        const std::string_view start = view.substr(0, tab1);
        const std::string_view end = view.substr(tab1 + 1, tab2 == std::string_view::npos ? tab2 : tab2 - tab1 - 1);
        TimeRange r{};
        try {
            r.start_ns = parse_time_ns(start);
            r.end_ns = parse_time_ns(end);
        } catch (const Error& e) {
            throw bad_input(where + ": " + e.message());
        }
        if (r.start_ns == r.end_ns) {
            throw bad_input(where + ": point label at " + format_time(r.start_ns)
                            + " (start = end); only ranges can be masked");
        }
        if (r.start_ns > r.end_ns) {
            throw bad_input(where + ": start is after end");
        }
        r.origin = where;
        if (tab2 != std::string_view::npos) {
            r.label = std::string(view.substr(tab2 + 1));
        }
        out.push_back(std::move(r));
    }
    if (in.bad()) {
        throw bad_input(name + ": read error");
    }
    return out;
}

int64_t frame_of(int64_t ns, int64_t rate)
{
    __extension__ typedef __int128 wide; // exact: ns × rate overflows 64 bits
    const wide scaled = static_cast<wide>(ns) * rate + NS_PER_S / 2;
    return static_cast<int64_t>(scaled / NS_PER_S);
}

int64_t time_of(int64_t frame, int64_t rate)
{
    __extension__ typedef __int128 wide;
    const wide ns = static_cast<wide>(frame) * NS_PER_S / rate;
    return ns > std::numeric_limits<int64_t>::max() ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(ns);
}

Plan plan_ranges(const std::vector<TimeRange>& ranges, int64_t rate, int64_t frames)
{
    Plan plan;
    std::vector<FrameRange> kept;
    for (const TimeRange& r : ranges) {
        const int64_t s = frame_of(r.start_ns, rate);
        int64_t e = frame_of(r.end_ns, rate);
        if (s >= e) {
            plan.warnings.push_back(r.origin + " is shorter than half a sample at " + std::to_string(rate)
                                    + " Hz; nothing masked");
            continue;
        }
        if (frames >= 0 && s >= frames) {
            plan.warnings.push_back(r.origin + " starts at or after the end of the input ("
                                    + format_time(time_of(frames, rate)) + "); ignored");
            continue;
        }
        if (frames >= 0 && e > frames) {
            plan.warnings.push_back(r.origin + " reaches past the end of the input ("
                                    + format_time(time_of(frames, rate)) + "); clipped there");
            e = frames;
        }
        kept.push_back({s, e});
    }
    std::sort(kept.begin(), kept.end(), [](const FrameRange& a, const FrameRange& b) { return a.start < b.start; });
    for (const FrameRange& r : kept) {
        if (!plan.ranges.empty() && r.start <= plan.ranges.back().end) {
            plan.ranges.back().end = std::max(plan.ranges.back().end, r.end);
        } else {
            plan.ranges.push_back(r);
        }
    }
    return plan;
}

void check_some_range_inside(const std::vector<TimeRange>& given, int64_t rate, int64_t frames,
                             const std::string& input)
{
    if (given.empty() || !plan_ranges(given, rate, frames).ranges.empty()) {
        return;
    }
    const std::string which = given.size() == 1
        ? given.front().origin + " covers no sample"
        : "none of the " + std::to_string(given.size()) + " ranges given covers a sample";
    const std::string length = frames >= 0 ? ", which lasts " + format_time(time_of(frames, rate)) : "";
    throw bad_input(which + " of '" + input + "'" + length);
}

Schedule::Block Schedule::next(int64_t pos, int64_t max_len)
{
    while (index_ < ranges_.size() && ranges_[index_].end <= pos) {
        ++index_;
    }
    if (index_ == ranges_.size()) {
        return {max_len, false};
    }
    const FrameRange& r = ranges_[index_];
    if (pos >= r.start) {
        return {std::min(max_len, r.end - pos), true};
    }
    return {std::min(max_len, r.start - pos), false};
}

std::string format_time(int64_t ns)
{
    const int64_t ms = ns / 1000000;
    const int64_t h = ms / 3600000;
    const int64_t m = ms / 60000 % 60;
    const int64_t s = ms / 1000 % 60;
    const int64_t f = ms % 1000;
    char buf[64];
    if (h > 0) {
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(h),
                      static_cast<long long>(m), static_cast<long long>(s), static_cast<long long>(f));
    } else if (m > 0) {
        std::snprintf(buf, sizeof buf, "%lld:%02lld.%03lld", static_cast<long long>(m), static_cast<long long>(s),
                      static_cast<long long>(f));
    } else {
        std::snprintf(buf, sizeof buf, "%lld.%03lld s", static_cast<long long>(s), static_cast<long long>(f));
    }
    return buf;
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// libFuzzer target for zendrik-mask's parsers: times, ranges and label files,
// the plan and block schedule made from them, the readers of container
// headers (uncompressed PCM chunks, Ogg pages), whose sizes come from the
// file, the transcript readers, and what zendrik-mask does itself with what
// FFmpeg's demuxers read from a video (its start, lengths, the streams
// --stream picks, the checks that it is whole). Bad input must end in an Error (any other
// exception escapes and is reported); good input must satisfy what the
// parsers promise, checked here against values computed independently.
//
// Input: one byte picking the parser, then the text. For label files two
// more bytes pick the sample rate and the input length in samples. For the
// container readers the rest is the file. For transcripts one more byte picks
// the format, or detection from the content. For video one more byte picks
// the --stream value, then the file.
#include "errors.h"
#include "media_input.h"
#include "ogg_pages.h"
#include "pcm_layout.h"
#include "ranges.h"
#include "transcript.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t NS = 1000000000;

void require(bool ok, const char* what, std::string_view input)
{
    if (!ok) {
        std::fprintf(stderr, "mask parsers fuzz: %s for input '%.*s'\n", what, static_cast<int>(input.size()),
                     input.data());
        std::abort();
    }
}

// Any time the parser accepted, written back in both notations, reads back
// exactly.
void round_trip(int64_t ns, std::string_view input)
{
    char text[96];
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRId64, ns / NS, ns % NS);
    require(zendrik_mask::parse_time_ns(text) == ns, "seconds notation does not read back", input);
    const int64_t s = ns / NS;
    std::snprintf(text, sizeof text, " %" PRId64 ":%02" PRId64 ":%02" PRId64 ",%09" PRId64 "\t", s / 3600, s / 60 % 60,
                  s % 60, ns % NS);
    require(zendrik_mask::parse_time_ns(text) == ns, "h:m:s notation does not read back", input);
}

void time(std::string_view text)
{
    int64_t ns = 0;
    try {
        ns = zendrik_mask::parse_time_ns(text);
    } catch (const zendrik_mask::Error& e) {
        require(*e.what() != '\0', "empty error message", text);
        return;
    }
    require(ns >= 0, "negative time accepted", text);
    round_trip(ns, text);
}

void range(std::string_view text)
{
    zendrik_mask::TimeRange r{};
    try {
        r = zendrik_mask::parse_range(text);
    } catch (const zendrik_mask::Error& e) {
        require(*e.what() != '\0', "empty error message", text);
        return;
    }
    require(r.start_ns >= 0 && r.start_ns < r.end_ns, "range accepted with start not before end", text);
    require(!r.origin.empty(), "range without origin", text);
    // Both ends are times the time parser reads the same way.
    const auto dash = text.find('-', text.find_first_not_of(" \t\r\n"));
    require(dash != std::string_view::npos, "range accepted without a dash", text);
    require(zendrik_mask::parse_time_ns(text.substr(0, dash)) == r.start_ns, "start differs from the time parser",
            text);
    require(zendrik_mask::parse_time_ns(text.substr(dash + 1)) == r.end_ns, "end differs from the time parser", text);
    round_trip(r.start_ns, text);
    round_trip(r.end_ns, text);
}

// The sample a time falls on, nearest with halves up, by long division.
int64_t frame_ref(int64_t ns, int64_t rate)
{
    const int64_t whole = ns / NS * rate;
    const int64_t part = ns % NS * rate; // < 1e9 * 384000, fits
    return whole + (part + NS / 2) / NS;
}

void labels(std::string_view text, int64_t rate, int64_t frames)
{
    std::vector<zendrik_mask::TimeRange> ranges;
    std::istringstream in{std::string(text)};
    try {
        ranges = zendrik_mask::parse_labels(in, "fuzz.txt");
    } catch (const zendrik_mask::Error& e) {
        require(std::string_view(e.what()).substr(0, 9) == "fuzz.txt:", "label error does not name the file", text);
        return;
    }
    for (const auto& r : ranges) {
        require(r.start_ns >= 0 && r.start_ns < r.end_ns, "label accepted with start not before end", text);
        require(zendrik_mask::frame_of(r.start_ns, rate) == frame_ref(r.start_ns, rate), "frame_of differs", text);
        require(zendrik_mask::frame_of(r.end_ns, rate) == frame_ref(r.end_ns, rate), "frame_of differs", text);
    }

    const zendrik_mask::Plan plan = zendrik_mask::plan_ranges(ranges, rate, frames);
    // Sorted, disjoint, not touching, not empty, inside the input.
    for (std::size_t i = 0; i < plan.ranges.size(); ++i) {
        const auto& r = plan.ranges[i];
        require(r.start < r.end, "empty range in the plan", text);
        require(r.start >= 0 && r.end <= frames, "plan range outside the input", text);
        require(i == 0 || plan.ranges[i - 1].end < r.start, "plan ranges overlap or touch", text);
    }
    // A sample is in the plan exactly when some label covers it.
    auto labelled = [&](int64_t f) {
        return std::any_of(ranges.begin(), ranges.end(), [&](const zendrik_mask::TimeRange& r) {
            return f >= frame_ref(r.start_ns, rate) && f < frame_ref(r.end_ns, rate);
        });
    };
    auto planned = [&](int64_t f) {
        // The plan is sorted (checked above): the last range starting at or
        // before f decides.
        auto it = std::upper_bound(plan.ranges.begin(), plan.ranges.end(), f,
                                   [](int64_t v, const zendrik_mask::FrameRange& r) { return v < r.start; });
        return it != plan.ranges.begin() && f < std::prev(it)->end;
    };
    // Around every label's edges (the first few hundred labels: the check
    // is quadratic).
    std::vector<int64_t> edges{0, frames - 1};
    for (const auto& r : ranges) {
        if (edges.size() > 1024) {
            break;
        }
        for (int64_t f : {frame_ref(r.start_ns, rate), frame_ref(r.end_ns, rate)}) {
            edges.insert(edges.end(), {f - 1, f});
        }
    }
    for (int64_t f : edges) {
        if (f >= 0 && f < frames) {
            require(planned(f) == labelled(f), "plan and labels disagree about a sample", text);
        }
    }

    // The schedule walks the input in blocks that never cross a range edge.
    zendrik_mask::Schedule schedule(plan.ranges);
    const int64_t max_len = 1 + (frames % 997);
    int64_t pos = 0;
    while (pos < frames) {
        const auto block = schedule.next(pos, max_len);
        require(block.length > 0 && block.length <= max_len, "schedule block of bad length", text);
        const int64_t last = std::min(pos + block.length, frames) - 1;
        require(planned(pos) == block.on && planned(last) == block.on, "schedule block crosses an edge", text);
        pos += block.length;
    }
}

// Whatever the chunks claim, a layout found lies inside the file and holds
// whole frames of a sample size that exists.
void pcm_layout(std::string_view bytes)
{
    const std::string file(bytes);
    const zendrik_mask::PcmLayout layout = zendrik_mask::read_pcm_layout(zendrik_mask::MemoryReader(file));
    if (layout.status != zendrik_mask::PcmLayout::Status::found) {
        require(!layout.reason.empty(), "layout refused without a reason", bytes);
        return;
    }
    const zendrik_mask::SampleData& samples = layout.samples;
    require(samples.channels > 0 && samples.bytes_per_sample >= 1 && samples.bytes_per_sample <= 8,
            "layout with no channels or an impossible sample size", bytes);
    require(samples.offset >= 0 && samples.length >= 0
                && samples.offset + samples.length <= static_cast<int64_t>(file.size()),
            "layout outside the file", bytes);
    require(samples.length % samples.frame_bytes() == 0, "layout of part of a frame", bytes);
}

void ogg_pages(std::string_view bytes)
{
    std::istringstream in{std::string(bytes)};
    const zendrik_mask::OggLayout layout = zendrik_mask::read_ogg_layout(in);
    require(layout.streams >= 0 && layout.opus_pre_skip >= 0, "Ogg layout with negative counts", bytes);
    const int64_t frames = zendrik_mask::declared_frames(layout, 48000);
    require(frames >= -1, "Ogg length below unknown", bytes);
}

// Whatever the text, a word read has text, an origin and finite times in
// order, and a confidence from 0 to 1 if any; an error names the file.
void transcript(std::string_view text, uint8_t pick)
{
    using zendrik_mask::TranscriptFormat;
    static const TranscriptFormat formats[]
        = {TranscriptFormat::whisper, TranscriptFormat::whisperx, TranscriptFormat::whisper_cpp,
           TranscriptFormat::vosk,    TranscriptFormat::srt,      TranscriptFormat::vtt};
    std::vector<zendrik_mask::TimedWord> words;
    try {
        const TranscriptFormat format
            = pick % 7 < 6 ? formats[pick % 7] : zendrik_mask::detect_transcript_format(text, "fuzz.txt");
        words = zendrik_mask::read_transcript(text, format, "fuzz.txt").words;
    } catch (const zendrik_mask::Error& e) {
        require(e.message().rfind("fuzz.txt", 0) == 0, "transcript error does not name the file", text);
        require(e.message().find('\n') == std::string::npos, "transcript error of more than one line", text);
        return;
    }
    for (const auto& word : words) {
        require(!word.text.empty() && word.origin.rfind("fuzz.txt", 0) == 0, "word without text or origin", text);
        require(std::isfinite(word.start) && std::isfinite(word.end) && 0 <= word.start && word.start <= word.end,
                "word with times out of order or not finite", text);
        require(!word.confidence || (*word.confidence >= 0 && *word.confidence <= 1), "confidence outside 0 to 1",
                text);
    }
}

// Whatever the demuxer made of the bytes, the streams picked are audio,
// lengths are known or -1, and reading ends, in an Error of one line when
// the file is refused.
void media(std::string_view bytes, uint8_t pick)
{
    // FFmpeg's demuxers read a file by name; it goes when the run does.
    static const struct Scratch {
        std::string path = "/tmp/mask_parsers_fuzz." + std::to_string(getpid());
        ~Scratch() { std::remove(path.c_str()); }
    } scratch;
    const std::string& path = scratch.path;
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    static const char* const picks[] = {"0", "1", "eng", "99"};
    try {
        zendrik_mask::MediaInput input(path);
        const std::vector<int> streams = zendrik_mask::masked_streams(
            input, pick < 4 ? std::vector<std::string>{picks[pick]} : std::vector<std::string>{});
        for (const int stream : streams) {
            const AVStream* s = input.context()->streams[stream];
            require(s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO, "a stream masked that is not audio", bytes);
            require(input.frames_of(stream) >= -1, "length below unknown", bytes);
        }
        const zendrik_mask::Packet packet = zendrik_mask::make_packet();
        for (int count = 0; count < 100000 && input.read(packet.get()); ++count) {
            av_packet_unref(packet.get());
        }
    } catch (const zendrik_mask::Error& e) {
        require(!e.message().empty() && e.message().find('\n') == std::string::npos, "media error not one line", bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 7) {
    case 0: time(text); break;
    case 1: range(text); break;
    case 3: pcm_layout(text); break;
    case 4: ogg_pages(text); break;
    case 5:
        if (!text.empty()) {
            transcript(text.substr(1), static_cast<uint8_t>(text[0]));
        }
        break;
    case 6:
        if (!text.empty()) {
            media(text.substr(1), static_cast<uint8_t>(text[0]) % 5);
        }
        break;
    default: {
        if (text.size() < 2) {
            return 0;
        }
        static const int64_t rates[8] = {8000, 22050, 44100, 48000, 96000, 192000, 384000, 1};
        const int64_t rate = rates[static_cast<uint8_t>(text[0]) % 8];
        const int64_t frames = static_cast<uint8_t>(text[1]) * 1000;
        labels(text.substr(2), rate, frames);
        break;
    }
    }
    return 0;
}

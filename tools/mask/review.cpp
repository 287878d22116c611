// SPDX-License-Identifier: ISC
#include "review.h"

#include "errors.h"
#include "temp_file.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

std::string seconds_text(int64_t ns)
{
    char text[40];
    std::snprintf(text, sizeof text, "%" PRId64 ".%09" PRId64, ns / 1000000000, ns % 1000000000);
    return text;
}

// Seconds as people read them: 24.37, not 24.369999999999997.
double microseconds(double seconds)
{
    return std::round(seconds * 1e6) / 1e6;
}

void write_whole(const std::string& path, const std::string& text, const char* what)
{
    const mode_t mask = umask(0);
    umask(mask);
    std::optional<TempFile> made;
    try {
        made.emplace(path, 0666 & ~mask);
    } catch (const Error& e) {
        throw Error(e.status(), std::string("cannot write ") + what + ": " + e.message());
    }
    TempFile& temp = *made;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(temp.fd(), text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            const int error = failed_write_error(wrote);
            throw write_failed(std::string("cannot write ") + what + " '" + path + "': " + std::strerror(error));
        }
        done += static_cast<std::size_t>(wrote);
    }
    temp.commit(path);
}

} // namespace

std::string label_text(const std::string& word, const std::string& source, std::optional<double> confidence,
                       bool whole_cue)
{
    std::string text;
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte < 0x20 || byte == 0x7F ? ' ' : c;
    }
    text += " (" + source;
    if (confidence) {
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, *confidence, std::chars_format::fixed, 2);
        text += ' ';
        text.append(digits, result.ptr);
    }
    if (whole_cue) {
        text += ", whole cue";
    }
    return text + ")";
}

void write_labels(const Review& review, const std::string& path)
{
    std::string text;
    auto add = [&](const TimeRange& range, const std::string& label) {
        text += seconds_text(range.start_ns) + "\t" + seconds_text(range.end_ns) + "\t" + label + "\n";
    };
    for (std::size_t i = 0; i < review.found.size(); ++i) {
        const FoundWord& word = review.found[i];
        add(review.word_ranges[i],
            label_text(review.request.patterns[word.pattern].text, review.request.source, word.confidence,
                       word.whole_cue));
    }
    for (const TimeRange& range : review.given_ranges) {
        add(range, range.label.empty() ? range.origin : range.label);
    }
    write_whole(path, text, "labels");
}

void write_report(const Review& review, const std::string& path)
{
    nlohmann::ordered_json words = nlohmann::ordered_json::array();
    for (std::size_t p = 0; p < review.request.patterns.size(); ++p) {
        const WordPattern& pattern = review.request.patterns[p];
        nlohmann::ordered_json places = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < review.found.size(); ++i) {
            const FoundWord& word = review.found[i];
            if (word.pattern != p) {
                continue;
            }
            nlohmann::ordered_json place = {{"start", microseconds(word.start)},
                                            {"end", microseconds(word.end)},
                                            {"mask_start", static_cast<double>(review.word_ranges[i].start_ns) / 1e9},
                                            {"mask_end", static_cast<double>(review.word_ranges[i].end_ns) / 1e9}};
            place["confidence"] = word.confidence ? nlohmann::ordered_json(*word.confidence) : nullptr;
            place["whole_cue"] = word.whole_cue;
            places.push_back(place);
        }
        words.push_back(
            {{"word", pattern.text}, {"origin", pattern.origin}, {"found", places.size()}, {"places", places}});
    }
    const nlohmann::ordered_json report
        = {{"source", review.request.source}, {"words", words}, {"ranges_given", review.given_ranges.size()}};
    write_whole(path, report.dump(2) + "\n", "report");
}

void print_summary(const Review& review)
{
    std::string summary;
    for (std::size_t p = 0; p < review.request.patterns.size(); ++p) {
        std::string places;
        std::size_t count = 0;
        for (const FoundWord& word : review.found) {
            if (word.pattern == p) {
                places += (count++ ? ", " : "") + format_time(std::llround(word.start * 1e9));
            }
        }
        summary += (p ? "; '" : "'") + review.request.patterns[p].text + "' " + std::to_string(count)
            + (count ? " (" + places + ")" : "");
    }
    std::fprintf(stderr, "zendrik-mask: found by the %s: %s\n", review.request.source.c_str(),
                 printable(summary).c_str());
}

} // namespace zendrik_mask

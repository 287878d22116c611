// SPDX-License-Identifier: ISC
#include "review.h"

#include "cleaned_subtitles.h"
#include "errors.h"
#include "output_target.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
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

// A file the run reads or writes: what messages call it, the name given,
// and the file itself (for outputs, where the links lead).
struct Claimed {
    std::string what, name, file;
};

// A file written must be none of those read or written before it.
void check_apart(const std::string& option, const std::string& name, const std::string& file,
                 const std::vector<Claimed>& claimed)
{
    for (const Claimed& other : claimed) {
        if (same_file(file, other.file)) {
            throw bad_input(option + " '" + name + "' is the same file as " + other.what + " '" + other.name
                            + "'; choose another name");
        }
    }
}

// Whether `text` is what label_text writes:
// "[heard for ]word (source[ 0.42][, fit -2.4][, agreed][, whole cue][, stream 2])".
bool is_found_label(const std::string& text)
{
    const std::size_t open = text.rfind(" (");
    if (open == std::string::npos || open == 0 || text.back() != ')') {
        return false;
    }
    std::string_view inside = std::string_view(text).substr(open + 2, text.size() - open - 3);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const std::size_t stream = inside.rfind(", stream ");
    if (stream != std::string_view::npos && stream + 9 < inside.size()
        && std::all_of(inside.begin() + stream + 9, inside.end(), digit)) {
        inside.remove_suffix(inside.size() - stream);
    }
    for (const std::string_view placed :
         {std::string_view(", whole cue"), std::string_view(", aligned"), std::string_view(", agreed")}) {
        if (inside.size() > placed.size() && inside.substr(inside.size() - placed.size()) == placed) {
            inside.remove_suffix(placed.size());
        }
    }
    if (const std::size_t fit = inside.rfind(", fit "); fit != std::string_view::npos) {
        const std::string_view number = inside.substr(fit + 6);
        double value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error == std::errc() && end == number.data() + number.size()) {
            inside.remove_suffix(inside.size() - fit);
        }
    }
    for (const std::string_view source : {"recogniser", "transcript", "subtitles"}) {
        if (inside.substr(0, source.size()) == source) {
            const std::string_view confidence = inside.substr(source.size());
            return confidence.empty()
                || (confidence.size() == 5 && confidence[0] == ' ' && digit(confidence[1]) && confidence[2] == '.'
                    && digit(confidence[3]) && digit(confidence[4]));
        }
    }
    return false;
}

// Finds below the confidence kept: never bleeped, listed for a reviewer.
nlohmann::ordered_json near_miss_places(const std::vector<FoundWord>& near_misses, std::size_t pattern)
{
    nlohmann::ordered_json places = nlohmann::ordered_json::array();
    for (const FoundWord& word : near_misses) {
        if (word.pattern == pattern) {
            places.push_back({{"start", microseconds(word.start)},
                              {"end", microseconds(word.end)},
                              {"heard", word.heard},
                              {"confidence", word.confidence.value_or(0.0)},
                              {"fit", word.fit ? nlohmann::ordered_json(*word.fit) : nullptr},
                              {"agreed", word.agreed ? nlohmann::ordered_json(*word.agreed) : nullptr},
                              {"bleeped", false}});
        }
    }
    return places;
}

} // namespace

std::string relabel_warning(const Options& options, const std::vector<TimeRange>& given)
{
    if (options.words.empty() && options.word_files.empty()) {
        return "";
    }
    for (const TimeRange& range : given) {
        if (is_found_label(range.label)) {
            return range.origin + ": '" + printable(range.label)
                + "' is a word found by an earlier run (--write-labels), and --word/--words find the words again: "
                  "those deleted from the labels come back; to bleep the labels as reviewed, run again with "
                  "--labels alone";
        }
    }
    return "";
}

std::string label_text(const std::string& word, const std::string& heard, const std::string& source,
                       std::optional<double> confidence, bool whole_cue, int stream, bool aligned,
                       std::optional<double> fit, bool agreed)
{
    std::string text;
    for (const char c : heard.empty() || heard == word ? word : heard + " for " + word) {
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
    if (fit) {
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, *fit, std::chars_format::fixed, 1);
        text += ", fit ";
        text.append(digits, result.ptr);
    }
    if (agreed) {
        text += ", agreed";
    }
    if (whole_cue) {
        text += ", whole cue";
    } else if (aligned) {
        text += ", aligned";
    }
    if (stream >= 0) {
        text += ", stream " + std::to_string(stream);
    }
    return text + ")";
}

std::string labels_text(const Review& review)
{
    std::string text;
    auto add = [&](const TimeRange& range, const std::string& label) {
        text += seconds_text(range.start_ns) + "\t" + seconds_text(range.end_ns) + "\t" + label + "\n";
    };
    for (std::size_t i = 0; i < review.found.size(); ++i) {
        const FoundWord& word = review.found[i];
        add(review.word_ranges[i],
            label_text(review.request.patterns[word.pattern].text, word.heard,
                       word.source.empty() ? review.request.source : word.source, word.confidence, word.whole_cue,
                       word.stream, word.aligned, word.fit, word.agreed.value_or(false)));
    }
    for (const TimeRange& range : review.given_ranges) {
        add(range, range.label.empty() ? range.origin : range.label);
    }
    return text;
}

std::string edl_text(const Review& review)
{
    std::vector<TimeRange> ranges = review.word_ranges;
    ranges.insert(ranges.end(), review.given_ranges.begin(), review.given_ranges.end());
    std::sort(ranges.begin(), ranges.end(),
              [](const TimeRange& a, const TimeRange& b) { return a.start_ns < b.start_ns; });
    // Players skip or mute one line at a time: overlapping ranges are one.
    std::vector<TimeRange> merged;
    for (const TimeRange& range : ranges) {
        if (!merged.empty() && range.start_ns <= merged.back().end_ns) {
            merged.back().end_ns = std::max(merged.back().end_ns, range.end_ns);
        } else {
            merged.push_back(range);
        }
    }
    std::string text;
    for (const TimeRange& range : merged) {
        const int64_t end = review.length_ns >= 0 ? std::min(range.end_ns, review.length_ns) : range.end_ns;
        if (range.start_ns < end) {
            text += seconds_text(range.start_ns) + " " + seconds_text(end) + " 1\n";
        }
    }
    return text;
}

std::string report_text(const Review& review)
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
            place["heard"] = word.heard;
            place["confidence"] = word.confidence ? nlohmann::ordered_json(*word.confidence) : nullptr;
            place["whole_cue"] = word.whole_cue;
            place["aligned"] = word.aligned;
            place["fit"] = word.fit ? nlohmann::ordered_json(*word.fit) : nullptr;
            place["agreed"] = word.agreed ? nlohmann::ordered_json(*word.agreed) : nullptr;
            if (!word.source.empty()) {
                place["source"] = word.source;
            }
            if (word.stream >= 0) {
                place["stream"] = word.stream;
            }
            places.push_back(place);
        }
        words.push_back(
            {{"word", pattern.text}, {"origin", pattern.origin}, {"found", places.size()}, {"places", places}});
        if (review.near_misses != nullptr) {
            words.back()["near_misses"] = near_miss_places(*review.near_misses, p);
        }
    }
    const nlohmann::ordered_json report
        = {{"source", review.request.source}, {"words", words}, {"ranges_given", review.given_ranges.size()}};
    return report.dump(2) + "\n";
}

ReviewFiles::ReviewFiles(const Options& options, const std::string& output_file, std::vector<std::string>& warnings)
{
    std::vector<Claimed> claimed{{"the input", options.input, options.input}};
    if (!options.transcript.empty()) {
        claimed.push_back({"the transcript", options.transcript, options.transcript});
    }
    for (const auto& [what, list] :
         {std::pair("a word list", &options.word_files), std::pair("a dictionary", &options.dict_files),
          std::pair("a label file", &options.label_files), std::pair("a label file", &options.except_label_files)}) {
        for (const std::string& path : *list) {
            claimed.push_back({what, path, path});
        }
    }
    if (!output_file.empty()) {
        check_apart("output", options.output, output_file, claimed);
        claimed.push_back({"the output", options.output, output_file});
    }
    File files[] = {{"--write-labels", options.labels_out, "", "labels", labels_text, nullptr},
                    {"--write-edl", options.edl_out, "", "edit decision list", edl_text, nullptr},
                    {"--report", options.report_file, "", "report", report_text, nullptr},
                    {"--review", options.review_page, "", "review page", review_page_text, nullptr},
                    {"--write-subtitles", options.subtitles_out, "", "subtitles", cleaned_subtitles_text, nullptr}};
    for (File& file : files) {
        const std::string& path = file.path;
        if (path.empty()) {
            continue;
        }
        file.target = output_target(path, options.force, file.option, warnings);
        check_apart(file.option, path, file.target, claimed);
        claimed.push_back({"the file of " + file.option, path, file.target});
        try {
            file.temp = std::make_unique<TempFile>(file.target, new_file_mode());
        } catch (const Error& e) {
            throw Error(e.status(), file.option + ": " + e.message());
        }
        files_.push_back(std::move(file));
    }
}

void ReviewFiles::write(const Review& review)
{
    for (File& file : files_) {
        file.temp->write_text(file.text(review), std::string(file.what) + " '" + file.path + "'");
        file.temp->finish(file.target);
    }
}

std::vector<Replacement> ReviewFiles::replacements()
{
    std::vector<Replacement> replacements;
    for (File& file : files_) {
        replacements.push_back({file.temp.get(), file.target, file.path});
    }
    return replacements;
}

void print_summary(const Review& review)
{
    // The times are in the labels and the report; a long list found on a
    // long file would make this line run to kilobytes.
    constexpr std::size_t NAMED_UNFOUND = 8;
    const std::vector<WordPattern>& patterns = review.request.patterns;
    std::vector<std::size_t> counts(patterns.size());
    for (const FoundWord& word : review.found) {
        ++counts[word.pattern];
    }
    const auto unfound = static_cast<std::size_t>(std::count(counts.begin(), counts.end(), 0));
    std::string summary;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        if (counts[p] > 0 || unfound <= NAMED_UNFOUND) {
            summary += (summary.empty() ? "'" : "; '") + patterns[p].text + "' " + std::to_string(counts[p]);
        }
    }
    if (unfound > NAMED_UNFOUND) {
        summary += (summary.empty() ? "" : "; ") + std::to_string(unfound) + " other words 0";
    }
    std::fprintf(stderr, "zendrik-mask: found by the %s: %s\n", review.request.source.c_str(),
                 printable(summary).c_str());
}

} // namespace zendrik_mask

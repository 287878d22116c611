// SPDX-License-Identifier: ISC
#include "summary.h"

#include "errors.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zendrik_mask {

namespace fs = std::filesystem;

namespace {

bool is_record_name(const std::string& name)
{
    const std::string suffix = RECORD_SUFFIX;
    return name.size() > suffix.size() && name.front() != '.'
        && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string number(double value, const char* format)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

} // namespace

BatchSummary summarise(const std::string& out_dir)
{
    std::error_code error;
    if (!fs::is_directory(out_dir, error)) {
        throw bad_input("'" + out_dir + "' is not a folder");
    }
    BatchSummary summary;
    for (fs::recursive_directory_iterator it(out_dir, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error) || !is_record_name(it->path().filename().string())) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        try {
            const FileRecord record = parse_record(text.str());
            summary.cpu_seconds += record.cpu_seconds;
            summary.wall_seconds += record.wall_seconds;
            if (record.status != 0) {
                summary.failures.push_back(record);
                continue;
            }
            ++summary.done;
            summary.skipped += record.skipped > 0 ? 1 : 0;
            summary.audio_seconds += std::max(0.0, record.seconds);
            for (const auto& [word, count] : record.words_found) {
                summary.words_found[word] += count;
            }
        } catch (const Error&) {
            ++summary.unreadable;
        }
    }
    if (error) {
        throw bad_input("cannot read the folder '" + out_dir + "': " + error.message());
    }
    std::sort(summary.failures.begin(), summary.failures.end(),
              [](const FileRecord& a, const FileRecord& b) { return a.input < b.input; });
    return summary;
}

std::string summary_text(const BatchSummary& summary)
{
    std::string out = "done: " + std::to_string(summary.done) + " (" + std::to_string(summary.skipped)
        + " skipped by a later run)\nfailed: " + std::to_string(summary.failures.size()) + "\n";
    for (const FileRecord& failure : summary.failures) {
        out += "  " + printable(failure.input) + ": exit " + std::to_string(failure.status) + ": "
            + printable(failure.message) + "\n";
    }
    out += "audio: " + number(summary.audio_seconds / 3600, "%.3f") + " h\n";
    out += "cpu time: " + number(summary.cpu_seconds, "%.1f") + " s\n";
    for (const auto& [word, count] : summary.words_found) {
        out += "word '" + printable(word) + "': " + std::to_string(count) + "\n";
    }
    if (summary.unreadable > 0) {
        out += "unreadable records: " + std::to_string(summary.unreadable) + "\n";
    }
    return out;
}

std::string summary_csv(const BatchSummary& summary)
{
    std::string out = "kind,name,value\n";
    out += "done,," + std::to_string(summary.done) + "\n";
    out += "skipped,," + std::to_string(summary.skipped) + "\n";
    out += "failed,," + std::to_string(summary.failures.size()) + "\n";
    out += "audio_hours,," + number(summary.audio_seconds / 3600, "%.6f") + "\n";
    out += "cpu_seconds,," + number(summary.cpu_seconds, "%.3f") + "\n";
    for (const auto& [word, count] : summary.words_found) {
        out += "word," + csv_field(word) + "," + std::to_string(count) + "\n";
    }
    for (const FileRecord& failure : summary.failures) {
        out += "failure," + csv_field(failure.input) + "," + csv_field(failure.message) + "\n";
    }
    return out;
}

std::string summary_json(const BatchSummary& summary)
{
    nlohmann::json failures = nlohmann::json::array();
    for (const FileRecord& failure : summary.failures) {
        failures.push_back({{"input", failure.input}, {"status", failure.status}, {"message", failure.message}});
    }
    const nlohmann::json json{{"done", summary.done},
                              {"skipped", summary.skipped},
                              {"failed", summary.failures.size()},
                              {"failures", failures},
                              {"audio_hours", summary.audio_seconds / 3600},
                              {"cpu_seconds", summary.cpu_seconds},
                              {"wall_seconds", summary.wall_seconds},
                              {"words_found", summary.words_found},
                              {"unreadable_records", summary.unreadable}};
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "batch_reviews.h"

#include "errors.h"
#include "record.h"
#include "temp_file.h"

#include <algorithm>
#include <filesystem>

namespace zendrik_mask {

namespace fs = std::filesystem;

namespace {

// Where one file's review file goes: `pattern` with {name} beside the
// output, or else a folder holding the output tree's path with `suffix`.
std::string placed(const std::string& pattern, const std::string& suffix, const BatchFile& file,
                   const std::string& out_dir)
{
    if (pattern.empty()) {
        return "";
    }
    const fs::path output(file.output);
    fs::path path;
    if (const std::size_t at = pattern.find("{name}"); at != std::string::npos) {
        std::string name = pattern;
        name.replace(at, 6, output.stem().string());
        path = output.parent_path() / name;
    } else {
        const fs::path relative = out_dir.empty() ? output.filename() : output.lexically_relative(out_dir);
        const bool inside = !relative.empty() && *relative.begin() != "..";
        path = fs::path(pattern) / ((inside ? relative : output.filename()).string() + suffix);
    }
    std::error_code error;
    fs::create_directories(path.parent_path().empty() ? "." : path.parent_path(), error);
    if (error) {
        throw write_failed("cannot make the folder of '" + path.string() + "': " + error.message());
    }
    return path.string();
}

std::string html_text(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// A relative link: every byte but the unreserved ones and '/' percent-encoded.
std::string link_to(const std::string& path)
{
    static const char* const HEX = "0123456789ABCDEF";
    std::string link;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            link += c;
        } else {
            link += {'%', HEX[byte >> 4], HEX[byte & 15]};
        }
    }
    return link;
}

} // namespace

Options review_files_for(const Options& shared, const BatchFile& file, const std::string& out_dir)
{
    Options options = shared;
    options.labels_out = placed(shared.labels_out, ".labels.txt", file, out_dir);
    options.report_file = placed(shared.report_file, ".report.json", file, out_dir);
    options.edl_out = placed(shared.edl_out, ".edl", file, out_dir);
    options.review_page = placed(shared.review_page, ".review.html", file, out_dir);
    return options;
}

void write_review_index(const std::vector<BatchFile>& files, const Options& shared, const std::string& out_dir)
{
    // No script at all, and nothing loaded: names are escaped text.
    std::string page
        = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'\">\n"
          "<title>zendrik-mask batch review</title>\n</head>\n<body>\n<h1>zendrik-mask batch review</h1>\n"
          "<table>\n<tr><th>File</th><th>Words found</th><th>Review</th></tr>\n";
    for (const BatchFile& file : files) {
        const std::optional<FileRecord> record = read_record(file.output);
        const std::string review = review_files_for(shared, file, out_dir).review_page;
        std::string found = "not done";
        if (record && record->status == 0) {
            int count = 0;
            for (const auto& [word, times] : record->words_found) {
                count += times;
            }
            found = std::to_string(count);
        } else if (record) {
            found = "failed: " + html_text(record->message);
        }
        std::error_code error;
        const std::string relative = fs::path(review).lexically_relative(out_dir).string();
        const bool linked = record && record->status == 0 && fs::is_regular_file(review, error);
        page += "<tr><td>" + html_text(file.key) + "</td><td>" + found + "</td><td>"
            + (linked ? "<a href=\"" + link_to(relative.empty() ? review : relative) + "\">review</a>" : "")
            + "</td></tr>\n";
    }
    page += "</table>\n</body>\n</html>\n";
    const std::string target = (fs::path(out_dir) / "index.html").string();
    TempFile temp(target, new_file_mode());
    temp.write_text(page, "the batch's index '" + target + "'");
    temp.commit(target);
}

} // namespace zendrik_mask

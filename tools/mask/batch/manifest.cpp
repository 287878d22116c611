// SPDX-License-Identifier: ISC
// Manifests: TSV, or CSV with its quoting.
#include "errors.h"
#include "file_list.h"
#include "text.h"

#include <filesystem>
#include <fstream>

namespace zendrik_mask {

namespace {

std::vector<std::string> tab_fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// Returns false for a quote left open.
bool csv_fields(const std::string& line, std::vector<std::string>& fields)
{
    fields.assign(1, "");
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return !quoted;
}

std::string from(const std::filesystem::path& folder, const std::string& path)
{
    return path.empty() || path.front() == '/' ? path : (folder / path).string();
}

} // namespace

std::vector<BatchFile> read_manifest(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw bad_input("cannot read the manifest '" + path + "'");
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<BatchFile> files;
    std::string line;
    bool first = true;
    bool tabs = true;
    for (int number = 1; read_line(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (is_blank(line) || line.front() == '#') {
            continue;
        }
        if (first) {
            tabs = line.find('\t') != std::string::npos;
        }
        std::vector<std::string> fields = tabs ? tab_fields(line) : std::vector<std::string>{};
        const std::string where = "manifest '" + path + "', line " + std::to_string(number);
        // A quoted field may hold line ends: it goes on on the next line.
        while (!tabs && !csv_fields(line, fields)) {
            std::string more;
            if (!read_line(in, more)) {
                throw bad_input(where + ": a quote is left open");
            }
            ++number;
            if (!more.empty() && more.back() == '\r') {
                more.pop_back();
            }
            line += "\n" + more;
        }
        const bool header = first && (fields[0] == "input" || fields[0] == "Input" || fields[0] == "INPUT");
        first = false;
        if (header) {
            continue;
        }
        if (fields.size() < 2 || fields.size() > 4 || fields[0].empty() || fields[1].empty()) {
            throw bad_input(where + ": give an input, an output, and optionally labels and a transcript");
        }
        fields.resize(4);
        files.push_back({fields[0], from(folder, fields[0]), from(folder, fields[1]), from(folder, fields[2]),
                         from(folder, fields[3])});
    }
    if (files.empty()) {
        throw bad_input("the manifest '" + path + "' names no file");
    }
    return files;
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "file_list.h"

#include "errors.h"
#include "record.h"
#include "text.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

namespace zendrik_mask {

namespace fs = std::filesystem;

namespace {

// What libsndfile and FFmpeg read, as the single-file command does.
const char* const MEDIA_EXTENSIONS[] = {"wav", "wave", "flac", "ogg", "oga", "opus", "mp3", "aiff", "aif", "aifc",
                                        "caf", "w64",  "rf64", "au",  "snd", "mp4",  "m4a", "mov",  "mkv", "webm"};

std::string extension_of(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : lower_case(name.substr(dot + 1));
}

std::string stem_of(const std::string& relative)
{
    const auto dot = relative.rfind('.');
    const auto slash = relative.rfind('/');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? relative : relative.substr(0, dot);
}

bool is_file(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// NAME.EXT beside the input, or under `dir` at the same relative path.
std::string side_file(const std::string& folder, const std::string& stem, const std::vector<const char*>& extensions)
{
    for (const char* extension : extensions) {
        const fs::path path = fs::path(folder) / (stem + "." + extension);
        if (is_file(path)) {
            return path.string();
        }
    }
    return {};
}

// Where the folder lies, without the empty last element a trailing slash gives.
fs::path folder_path(const std::string& folder, std::error_code& error)
{
    fs::path path = fs::weakly_canonical(folder, error).lexically_normal();
    return path.has_filename() ? path : path.parent_path();
}

bool inside(const fs::path& folder, const fs::path& path)
{
    const auto [end, _] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

} // namespace

bool leads_into(const std::string& path, const std::string& folder)
{
    std::error_code error;
    const fs::path resolved = folder_path(path, error);
    const fs::path container = folder_path(folder, error);
    return !error && inside(container, resolved);
}

bool is_media_name(const std::string& name)
{
    const std::string extension = extension_of(name);
    return std::find_if(std::begin(MEDIA_EXTENSIONS), std::end(MEDIA_EXTENSIONS),
                        [&](const char* known) { return extension == known; })
        != std::end(MEDIA_EXTENSIONS);
}

std::string extension_for_format(const std::string& format)
{
    const std::string container = lower_case(format.substr(0, format.find(':')));
    return container == "wavex" ? "wav" : container;
}

namespace {

BatchFile tree_file(const TreeSettings& settings, const fs::path& path)
{
    BatchFile file;
    file.key = path.lexically_relative(settings.in_dir).generic_string();
    file.input = path.string();
    std::string relative_output = file.key;
    if (!settings.output_extension.empty()) {
        relative_output = stem_of(file.key) + "." + settings.output_extension;
    }
    file.output = (fs::path(settings.out_dir) / relative_output).string();
    const std::string stem = stem_of(file.key);
    const std::string beside = path.parent_path().string();
    const std::string own_stem = fs::path(stem).filename().string();
    file.labels = settings.labels_dir.empty() ? side_file(beside, own_stem, {"txt"})
                                              : side_file(settings.labels_dir, stem, {"txt"});
    if (settings.find_transcripts) {
        const std::vector<const char*> kinds{"json", "srt", "vtt"};
        file.transcript = settings.transcripts_dir.empty() ? side_file(beside, own_stem, kinds)
                                                           : side_file(settings.transcripts_dir, stem, kinds);
    }
    return file;
}

// One folder and, after it, those below it; a folder that cannot be read
// is noted and the walk goes on. Links to folders are not followed.
void walk(const TreeSettings& settings, const fs::path& folder, FileTree& tree)
{
    std::error_code error;
    fs::directory_iterator it(folder, error);
    std::vector<fs::path> below;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (name.front() == '.') {
            continue;
        }
        if (it->is_directory(kind) && !it->is_symlink(kind)) {
            below.push_back(it->path());
        } else if (it->is_regular_file(kind) && is_media_name(name)) {
            tree.files.push_back(tree_file(settings, it->path()));
        }
    }
    const std::string relative = folder.lexically_relative(settings.in_dir).generic_string();
    if (error) {
        tree.unreadable.push_back({relative, error.message()});
    } else {
        tree.folders.push_back(relative);
    }
    for (const fs::path& next : below) {
        walk(settings, next, tree);
    }
}

} // namespace

FileTree list_tree(const TreeSettings& settings)
{
    std::error_code error;
    if (!fs::is_directory(settings.in_dir, error)) {
        throw bad_input("'" + settings.in_dir + "' is not a folder");
    }
    const fs::path in_dir = folder_path(settings.in_dir, error);
    const fs::path out_dir = folder_path(settings.out_dir, error);
    if (error || inside(in_dir, out_dir) || inside(out_dir, in_dir)) {
        throw bad_input("the output folder '" + settings.out_dir + "' must lie outside the input folder '"
                        + settings.in_dir + "', and hold it neither");
    }
    FileTree tree;
    walk(settings, settings.in_dir, tree);
    if (!tree.unreadable.empty() && tree.unreadable.front().relative == ".") {
        throw bad_input("cannot read the folder '" + settings.in_dir + "': " + tree.unreadable.front().why);
    }
    std::sort(tree.files.begin(), tree.files.end(),
              [](const BatchFile& a, const BatchFile& b) { return a.key < b.key; });
    // A link inside OUT_DIR may lead back into IN_DIR.
    for (const BatchFile& file : tree.files) {
        const std::string folder = fs::path(file.output).parent_path().string();
        if (leads_into(folder, in_dir.string())) {
            throw bad_input("the output folder '" + folder + "' leads into the input folder '" + settings.in_dir + "'");
        }
    }
    return tree;
}

void check_outputs(const std::vector<BatchFile>& files)
{
    std::map<fs::path, const BatchFile*> inputs, outputs, records;
    std::error_code error;
    for (const BatchFile& file : files) {
        inputs.emplace(fs::weakly_canonical(file.input, error), &file);
        records.emplace(fs::weakly_canonical(record_path(file.output), error), &file);
    }
    for (const BatchFile& file : files) {
        const fs::path output = fs::weakly_canonical(file.output, error);
        if (inputs.count(output)) {
            throw bad_input("the output '" + file.output + "' would replace the input '" + inputs[output]->input + "'");
        }
        if (records.count(output)) {
            throw bad_input("the output '" + file.output + "' would replace the record of '" + records[output]->output
                            + "'");
        }
        const auto [earlier, added] = outputs.emplace(output, &file);
        if (!added) {
            throw bad_input("'" + earlier->second->input + "' and '" + file.input + "' would both be written to '"
                            + file.output + "'");
        }
    }
}

} // namespace zendrik_mask

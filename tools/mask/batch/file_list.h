// SPDX-License-Identifier: ISC
// The files a batch masks: every audio or video file of a folder tree, each
// to the same relative path in the output folder, with the labels and
// transcript found for it; or the lines of a manifest.
#ifndef ZENDRIK_MASK_FILE_LIST_H
#define ZENDRIK_MASK_FILE_LIST_H

#include <string>
#include <vector>

namespace zendrik_mask {

struct BatchFile {
    std::string key; // the relative path, or the manifest's input: what shares are drawn by
    std::string input;
    std::string output;
    std::string labels;     // empty for none
    std::string transcript; // empty for none
};

struct TreeSettings {
    std::string in_dir;
    std::string out_dir;
    std::string labels_dir;      // NAME.txt looked for here; empty: beside each file
    std::string transcripts_dir; // NAME.json, .srt, .vtt; empty: beside each file
    bool find_transcripts = false;
    std::string output_extension; // replaces each input's; empty keeps it
};

struct UnreadableFolder {
    std::string relative; // to the input folder
    std::string why;
};

struct FileTree {
    std::vector<BatchFile> files;
    std::vector<UnreadableFolder> unreadable; // their files that could be read are listed
    std::vector<std::string> folders;         // read whole, relative to the input folder
};

// The files under settings.in_dir, in order of their relative paths; hidden
// files and folders are left out, and a folder that cannot be read is noted. Throws the bad-input Error for a missing
// folder or an output folder inside the input folder, or one that a link
// leads into it.
FileTree list_tree(const TreeSettings& settings);

// Whether `path` lies in `folder`, either's links resolved as far as they
// exist.
bool leads_into(const std::string& path, const std::string& folder);

// Throws the bad-input Error when an output would replace an input or
// another output's record, or two inputs would be written to one output.
void check_outputs(const std::vector<BatchFile>& files);

// Whether the name's extension is one the program reads.
bool is_media_name(const std::string& name);

// The extension an output takes for `--format`, "" when it names no container.
std::string extension_for_format(const std::string& format);

// Reads a manifest: one file a line, input, output, labels and transcript
// (the last two may be empty or missing), separated by tabs or, when the
// first line has none, by commas with CSV's quoting. A first line whose first
// field is "input" is a header. Relative paths are taken from the manifest's folder.
// Throws the bad-input Error naming the line at fault.
std::vector<BatchFile> read_manifest(const std::string& path);

} // namespace zendrik_mask

#endif

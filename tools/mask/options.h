// SPDX-License-Identifier: ISC
// What zendrik-mask's command line asks for.
#ifndef ZENDRIK_MASK_OPTIONS_H
#define ZENDRIK_MASK_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

struct Options {
    std::string input;
    std::string output;
    std::vector<std::string> masks;       // "START-END"
    std::vector<std::string> label_files; // Audacity label files
    std::optional<float> frequency;
    std::optional<float> level;
    // --level auto: the tone this many LU under the loudness of what it replaces.
    std::optional<double> level_below;
    std::string preset;
    std::string format; // "[container][:encoding]"
    int bitrate = 0;    // MP3 output, kbps; 0 for the default
    int64_t block = 1024;
    bool quiet = false;
    bool force = false;               // replace a write-protected output
    std::vector<std::string> streams; // --stream: audio streams to mask, by index or language
    std::string edl_out;              // --write-edl
    std::string channels;             // --channels: FFmpeg's channel names, or "centre"; empty for all
    bool per_stream_finds = false;    // each audio stream bleeped for its own finds only

    // Words to find and bleep.
    std::vector<std::string> words;      // --word, a word or phrase each
    std::vector<std::string> word_files; // --words
    double pad = 0.05;                   // seconds added on both sides of each word
    std::string transcript;              // word times from another recogniser
    std::string transcript_format;       // empty: from the content
    // --subtitles: the input's text subtitle stream, by index or language;
    // "" for the default one. Unset when not given.
    std::optional<std::string> subtitles;
    bool listen = false;                         // with a text: the recogniser's finds too
    std::string subtitle_mask = "****";          // --subtitle-mask: the text over a found word, or "initial"
    std::string subtitles_out;                   // --write-subtitles: the text read, cleaned
    double sensitivity = 0.5;                    // built-in recogniser, 0 to 1
    unsigned jobs = 1;                           // recogniser threads
    std::vector<std::string> dict_files;         // extra pronunciations
    std::string model_dir;                       // empty: the default model
    std::string adaptation;                      // --adaptation: an MLLR transform
    std::string labels_out;                      // --write-labels
    std::string report_file;                     // --report
    std::string review_page;                     // --review, an HTML page
    std::vector<std::string> excepts;            // --except START-END: no finds kept there
    std::vector<std::string> except_label_files; // --except-labels
    bool dry_run = false;                        // find and review only, write no audio
    // The built-in recogniser's options the user gave, which a transcript makes moot.
    std::vector<std::string> recogniser_options;
};

} // namespace zendrik_mask

#endif

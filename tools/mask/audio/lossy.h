// SPDX-License-Identifier: ISC
// Encodings that cannot carry a sample through unchanged: lossy codecs and
// block-coded ones. An output in one of them is encoded again whole, so the
// run says so once; and an MP3 output gets a bit rate chosen here rather
// than libsndfile's default (about 64 kbps).
#ifndef ZENDRIK_MASK_LOSSY_H
#define ZENDRIK_MASK_LOSSY_H

#include <sndfile.h>

#include <istream>
#include <string>
#include <vector>

namespace zendrik_mask {

// The encoding's name when `format` (a libsndfile format) re-encodes every
// sample; empty for those that carry samples through.
std::string reencoded_encoding(int format);

// The warning for an output of `format`; empty when there is nothing to say.
std::string reencoding_warning(int format);

// How an MP3 stream spends its bits.
struct Mp3Bitrate {
    bool variable = false;
    int kbps = 0; // constant, or the average of a variable stream; 0 unknown
};

// Walks the MPEG audio frames of an MP3 file without decoding them.
Mp3Bitrate measure_mp3_bitrate(std::istream& in);

// The bit rates, in kbps, an MP3 stream at `samplerate` can take.
std::vector<int> mp3_bitrates(int samplerate);

// The output's bit rate: `requested_kbps` when not 0 (throws the bad-input
// Error when MP3 cannot take it at that rate), else `input` when the input
// is MP3 (kbps not 0), else 128 kbps constant (64 below 32 kHz).
Mp3Bitrate choose_mp3_bitrate(int requested_kbps, const Mp3Bitrate& input, int samplerate);

// libsndfile's compression level for `kbps`: it maps levels 0 to 1 onto the
// highest to the lowest bit rate of the MPEG version, linearly.
double mp3_compression_level(int kbps, int samplerate);

// The bit rate for `output`: none unless it is MP3 (then --bitrate's
// `requested_kbps`, or the input's when it is MP3, or the default). Throws
// the bad-input Error for --bitrate on another format or a rate MP3 lacks.
Mp3Bitrate plan_mp3_bitrate(int requested_kbps, const std::string& input_path, int input_format, const SF_INFO& output);

// Sets it on a freshly opened output, before its first frame.
void set_mp3_bitrate(SNDFILE* output, const Mp3Bitrate& bitrate, int samplerate);

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
#include "lossy.h"

#include "errors.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace zendrik_mask {

std::string reencoded_encoding(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_MPEG_LAYER_I: return "MPEG layer I";
    case SF_FORMAT_MPEG_LAYER_II: return "MPEG layer II";
    case SF_FORMAT_MPEG_LAYER_III: return "MP3";
    case SF_FORMAT_VORBIS: return "Vorbis";
    case SF_FORMAT_OPUS: return "Opus";
    case SF_FORMAT_IMA_ADPCM: return "IMA ADPCM";
    case SF_FORMAT_MS_ADPCM: return "MS ADPCM";
    case SF_FORMAT_VOX_ADPCM: return "VOX ADPCM";
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32: return "NMS ADPCM";
    case SF_FORMAT_GSM610: return "GSM 6.10";
    case SF_FORMAT_G721_32: return "G.721";
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40: return "G.723";
    // DWVW is block-coded but lossless: libsndfile gives its 16- and 24-bit
    // samples back as they were, so they pass through as integers.
    default: return "";
    }
}

std::string reencoding_warning(int format)
{
    const std::string name = reencoded_encoding(format);
    if (name.empty()) {
        return "";
    }
    return "the whole file is encoded again as " + name
        + ", so samples outside the ranges change too; --format flac or --format wav:float keeps them as decoded";
}

namespace {

// Layer III bit rates in kbps by index, for MPEG-1 and for MPEG-2 and 2.5.
constexpr int MPEG1_KBPS[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int MPEG2_KBPS[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int RATES[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// The highest and lowest bit rates libsndfile and LAME use at `samplerate`.
std::pair<int, int> bitrate_span(int samplerate)
{
    if (samplerate >= 32000) {
        return {320, 32};
    }
    return samplerate >= 16000 ? std::pair<int, int>{160, 8} : std::pair<int, int>{64, 8};
}

} // namespace

Mp3Bitrate measure_mp3_bitrate(std::istream& in)
{
    unsigned char header[10] = {};
    in.read(reinterpret_cast<char*>(header), 10);
    std::streamoff position = 0;
    // An ID3v2 tag first: its size is in 7-bit bytes.
    if (in.gcount() == 10 && header[0] == 'I' && header[1] == 'D' && header[2] == '3') {
        position
            = 10 + ((header[6] & 0x7f) << 21 | (header[7] & 0x7f) << 14 | (header[8] & 0x7f) << 7 | (header[9] & 0x7f));
    }
    Mp3Bitrate result;
    int64_t bytes = 0, samples = 0;
    int rate = 0, first_kbps = 0, frame_index = 0;
    for (;; ++frame_index) {
        in.clear();
        in.seekg(position);
        unsigned char frame[40] = {};
        in.read(reinterpret_cast<char*>(frame), sizeof frame);
        if (in.gcount() < 4 || frame[0] != 0xff || (frame[1] & 0xe0) != 0xe0) {
            break;
        }
        const int version = (frame[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int layer = (frame[1] >> 1) & 3;   // 1 layer III
        const int bitrate_index = frame[2] >> 4;
        const int rate_index = (frame[2] >> 2) & 3;
        if (version == 1 || layer != 1 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3) {
            break;
        }
        const bool mpeg1 = version == 3;
        const int kbps = mpeg1 ? MPEG1_KBPS[bitrate_index] : MPEG2_KBPS[bitrate_index];
        rate = RATES[mpeg1 ? 0 : version == 2 ? 1 : 2][rate_index];
        const int frame_samples = mpeg1 ? 1152 : 576;
        const int length = frame_samples / 8 * kbps * 1000 / rate + ((frame[2] >> 1) & 1);
        position += length;
        // A Xing or Info frame carries no audio; its own bit rate says nothing.
        const std::string text(reinterpret_cast<char*>(frame), sizeof frame);
        if (frame_index == 0 && (text.find("Xing") != std::string::npos || text.find("Info") != std::string::npos)) {
            continue;
        }
        if (first_kbps == 0) {
            first_kbps = kbps;
        } else if (kbps != first_kbps) {
            result.variable = true;
        }
        bytes += length;
        samples += frame_samples;
    }
    if (samples > 0) {
        result.kbps = result.variable ? static_cast<int>(bytes * 8 * rate / samples / 1000) : first_kbps;
    }
    return result;
}

std::vector<int> mp3_bitrates(int samplerate)
{
    const auto [highest, lowest] = bitrate_span(samplerate);
    std::vector<int> rates;
    for (int kbps : samplerate >= 32000 ? std::vector<int>(std::begin(MPEG1_KBPS), std::end(MPEG1_KBPS))
                                        : std::vector<int>(std::begin(MPEG2_KBPS), std::end(MPEG2_KBPS))) {
        if (kbps >= lowest && kbps <= highest) {
            rates.push_back(kbps);
        }
    }
    return rates;
}

Mp3Bitrate choose_mp3_bitrate(int requested_kbps, const Mp3Bitrate& input, int samplerate)
{
    if (requested_kbps != 0) {
        const std::vector<int> rates = mp3_bitrates(samplerate);
        if (std::find(rates.begin(), rates.end(), requested_kbps) == rates.end()) {
            std::string names;
            for (int kbps : rates) {
                names += (names.empty() ? "" : " ") + std::to_string(kbps);
            }
            throw bad_input("--bitrate " + std::to_string(requested_kbps) + ": MP3 at " + std::to_string(samplerate)
                            + " Hz takes one of " + names + " kbps");
        }
        return {false, requested_kbps};
    }
    if (input.kbps != 0) {
        const auto [highest, lowest] = bitrate_span(samplerate);
        return {input.variable, std::clamp(input.kbps, lowest, highest)};
    }
    return {false, samplerate >= 32000 ? 128 : 64};
}

double mp3_compression_level(int kbps, int samplerate)
{
    const auto [highest, lowest] = bitrate_span(samplerate);
    // libsndfile truncates the bit rate it computes to an integer: half a kbps
    // more keeps a rounding error from landing one below.
    const double level = (static_cast<double>(highest - kbps) - 0.5) / static_cast<double>(highest - lowest);
    return std::clamp(level, 0.0, 1.0);
}

Mp3Bitrate plan_mp3_bitrate(int requested_kbps, const std::string& input_path, int input_format, const SF_INFO& output)
{
    if ((output.format & SF_FORMAT_SUBMASK) != SF_FORMAT_MPEG_LAYER_III) {
        if (requested_kbps != 0) {
            throw bad_input("--bitrate applies only to an MP3 output");
        }
        return {};
    }
    Mp3Bitrate input;
    if ((input_format & SF_FORMAT_SUBMASK) == SF_FORMAT_MPEG_LAYER_III) {
        std::ifstream in(input_path, std::ios::binary);
        input = measure_mp3_bitrate(in);
    }
    return choose_mp3_bitrate(requested_kbps, input, output.samplerate);
}

void set_mp3_bitrate(SNDFILE* output, const Mp3Bitrate& bitrate, int samplerate)
{
    if (bitrate.kbps == 0) {
        return;
    }
    // A variable input keeps a variable output at the same average (LAME's ABR).
    int mode = bitrate.variable ? SF_BITRATE_MODE_AVERAGE : SF_BITRATE_MODE_CONSTANT;
    double level = mp3_compression_level(bitrate.kbps, samplerate);
    sf_command(output, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    sf_command(output, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// SpeechPresence on recorded speech: a LibriVox reading of
// pocketsphinx-testdata, where the recogniser finds "dashwood" from 0.98 to
// 1.58 s, put in a room's noise floor or in digital silence. A word heard
// in the reading is kept; one invented in the pause between two readings,
// where only the room is heard, is not.
#include "speech_presence.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace zendrik_mask {
namespace {

constexpr double RATE = 16000;
constexpr const char* READING
    = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
constexpr double DASHWOOD_START = 0.98;
constexpr double DASHWOOD_END = 1.58;

std::vector<int16_t> reading()
{
    SF_INFO info{};
    SNDFILE* file = sf_open(READING, SFM_READ, &info);
    if (!file) {
        ADD_FAILURE() << READING << ": " << sf_strerror(nullptr);
        return {};
    }
    EXPECT_EQ(info.samplerate, RATE);
    EXPECT_EQ(info.channels, 1);
    std::vector<int16_t> samples(static_cast<std::size_t>(info.frames));
    EXPECT_EQ(sf_readf_short(file, samples.data(), info.frames), info.frames);
    sf_close(file);
    return samples;
}

// One second of what the room gives, then the reading, `pause` seconds of
// the room, the reading again and a second of the room: with noise at
// `noise_dbfs` RMS under all of it, or digital silence for none.
std::vector<int16_t> two_readings(double pause, std::optional<double> noise_dbfs)
{
    const std::vector<int16_t> speech = reading();
    std::vector<int16_t> file(static_cast<std::size_t>(RATE), 0);
    file.insert(file.end(), speech.begin(), speech.end());
    file.resize(file.size() + static_cast<std::size_t>(pause * RATE), 0);
    file.insert(file.end(), speech.begin(), speech.end());
    file.resize(file.size() + static_cast<std::size_t>(RATE), 0);
    if (noise_dbfs) {
        std::mt19937 random(26);
        std::normal_distribution<double> noise(0.0, 32768.0 * std::pow(10.0, *noise_dbfs / 20));
        for (int16_t& sample : file) {
            sample = static_cast<int16_t>(std::clamp(sample + std::lround(noise(random)), -32768L, 32767L));
        }
    }
    return file;
}

SpeechPresence heard(const std::vector<int16_t>& file)
{
    SpeechPresence presence;
    // In blocks that do not fall on frames, as the reader's do not.
    for (std::size_t at = 0; at < file.size(); at += 1234) {
        presence.add(file.data() + at, std::min<std::size_t>(1234, file.size() - at));
    }
    presence.finish();
    return presence;
}

TEST(SpeechPresence, KeepsAWordSpokenOverARoomsFloorAndDropsOneInventedInThePause)
{
    const double reading_seconds = 113600 / RATE;
    const SpeechPresence presence = heard(two_readings(3.0, -60.0));
    for (const double offset : {1.0, 1.0 + reading_seconds + 3.0}) {
        EXPECT_TRUE(presence.holds_speech(offset + DASHWOOD_START, offset + DASHWOOD_END)) << offset;
    }
    // Where a listed word was invented in room noise: the pause, and the
    // room before anyone speaks.
    const double pause = 1.0 + reading_seconds;
    EXPECT_FALSE(presence.holds_speech(pause + 1.2, pause + 1.6));
    EXPECT_FALSE(presence.holds_speech(0.2, 0.5));
}

TEST(SpeechPresence, KeepsTheWordsOfAFileWithoutNoise)
{
    const SpeechPresence presence = heard(two_readings(3.0, std::nullopt));
    EXPECT_TRUE(presence.holds_speech(1.0 + DASHWOOD_START, 1.0 + DASHWOOD_END));
    EXPECT_FALSE(presence.holds_speech(0.2, 0.5));
}

TEST(SpeechPresence, HearsNoSpeechInAFileOfSilence)
{
    const SpeechPresence presence = heard(std::vector<int16_t>(static_cast<std::size_t>(3 * RATE), 0));
    EXPECT_FALSE(presence.holds_speech(1.0, 1.5));
}

} // namespace
} // namespace zendrik_mask

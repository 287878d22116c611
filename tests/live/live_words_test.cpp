// SPDX-License-Identifier: ISC
// zendrik live's own bleeps: every listed word that zendrik-mask, the
// offline finder, finds in the readings is bleeped when it airs, with the
// list given as state, as a patch:Set while it runs, or as a preset. The
// host freewheels, so the plugin waits for its recogniser as an export
// would, and the result does not depend on the machine's speed.
#include "live_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using zendrik_test::LiveHost;

struct Span {
    double start, end;
    std::string label;
};

// zendrik-mask's finds in `speech` for the words in `list`, without pad, from
// the Audacity labels it writes.
std::vector<Span> offline_finds(const std::vector<float>& speech, const std::string& list, const std::string& dir)
{
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open((dir + "/speech.wav").c_str(), SFM_WRITE, &info);
    sf_writef_float(file, speech.data(), static_cast<sf_count_t>(speech.size()));
    sf_close(file);
    const std::string command = std::string(ZENDRIK_MASK_EXE) + " -q " + dir + "/speech.wav --dry-run --pad 0 --words "
        + list + " --write-labels " + dir + "/found.txt";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<Span> found;
    std::ifstream labels(dir + "/found.txt");
    for (std::string line; std::getline(labels, line);) {
        std::istringstream fields(line);
        Span span;
        if (fields >> span.start >> span.end) {
            std::getline(fields, span.label);
            found.push_back(span);
        }
    }
    return found;
}

TEST(LiveWords, EveryWordTheOfflineFinderFindsIsBleepedWhenItAirs)
{
    char dir[] = "/tmp/zendrik-live-words-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string list = std::string(dir) + "/words.txt";
    std::ofstream(list) << "dashwood\nleisure\ndisposed\nselfish\namiable\nrespectable\nmarried\nprudently\n"
                           "consider\nhearted\nwoman\nyoung man\n";
    const std::vector<float> speech = zendrik_test::readings();
    const std::vector<Span> offline = offline_finds(speech, list, dir);
    ASSERT_GE(offline.size(), 8u) << "the offline finder found too few words to compare with";

    // Live at 48 kHz, as a sound card runs: sox makes the readings so.
    constexpr double RATE = 48000.0;
    constexpr float DELAY = 5.0f;
    const auto delay = static_cast<std::size_t>(DELAY * RATE);
    const std::string resample = std::string("sox ") + dir + "/speech.wav -r 48000 " + dir + "/speech48.wav";
    ASSERT_EQ(std::system(resample.c_str()), 0) << resample;
    LiveHost host(RATE);
    ASSERT_TRUE(host.restore_words(list));
    host.control("delay") = DELAY;
    host.control("pad") = 0.05f;
    host.control("freewheel") = 1.0f;
    SF_INFO info{};
    SNDFILE* file = sf_open((std::string(dir) + "/speech48.wav").c_str(), SFM_READ, &info);
    ASSERT_TRUE(file && info.samplerate == 48000 && info.channels == 1);
    std::vector<float> in(static_cast<std::size_t>(info.frames) + delay, 0.0f);
    sf_readf_float(file, in.data(), info.frames);
    sf_close(file);
    const std::vector<float> out = host.process(in, 512);

    // A sample is bleeped where the output is not the input delay late.
    const auto bleeped = [&](std::size_t heard) {
        return std::bit_cast<uint32_t>(out[heard + delay]) != std::bit_cast<uint32_t>(in[heard]);
    };
    for (const Span& word : offline) {
        const auto from = static_cast<std::size_t>(word.start * RATE);
        const auto to = static_cast<std::size_t>(word.end * RATE);
        std::size_t count = 0;
        for (std::size_t heard = from; heard < to; ++heard) {
            count += bleeped(heard) ? 1u : 0u;
        }
        // Decoded in shorter windows, a word's ends may move by a few
        // hundredths of a second; most of it is bleeped, its middle surely.
        EXPECT_GE(count, (to - from) * 8 / 10) << word.label << " at " << word.start << " s";
        EXPECT_TRUE(bleeped((from + to) / 2)) << word.label << " at " << word.start << " s";
    }
    EXPECT_GE(host.control("bleeped"), static_cast<float>(offline.size()));
    EXPECT_EQ(host.control("overrun"), 0.0f);
    EXPECT_LT(host.control("lag"), DELAY);
    std::system((std::string("rm -rf ") + dir).c_str());
}

// Where the output is not the input `delay` late.
struct Bleeps {
    const std::vector<float>& in;
    const std::vector<float>& out;
    std::size_t delay;
    bool at(double seconds) const
    {
        const auto heard = static_cast<std::size_t>(seconds * zendrik_test::READINGS_RATE);
        return std::bit_cast<uint32_t>(out[heard + delay]) != std::bit_cast<uint32_t>(in[heard]);
    }
};

TEST(LiveWords, AListSetWhileRunningIsTheOneBleepedWithOrWithoutTheHostsWorker)
{
    char dir[] = "/tmp/zendrik-live-set-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string before = std::string(dir) + "/before.txt";
    const std::string after = std::string(dir) + "/after.txt";
    std::ofstream(before) << "woman\n";
    std::ofstream(after) << "dashwood\nleisure\ndisposed\nselfish\namiable\nrespectable\nmarried\nprudently\n"
                            "consider\nhearted\nyoung man\n";
    std::vector<float> in = zendrik_test::readings();
    const std::vector<Span> unwanted = offline_finds(in, before, dir);
    const std::vector<Span> wanted = offline_finds(in, after, dir);
    ASSERT_FALSE(unwanted.empty());
    ASSERT_GE(wanted.size(), 6u);

    const auto delay = static_cast<std::size_t>(5.0 * zendrik_test::READINGS_RATE);
    in.resize(in.size() + delay, 0.0f);
    for (const bool worker : {true, false}) {
        LiveHost host(zendrik_test::READINGS_RATE, worker);
        ASSERT_TRUE(host.restore_words(before));
        host.control("delay") = 5.0f;
        host.control("freewheel") = 1.0f;
        const std::vector<float> out = host.process(in, 512, [&](std::size_t at) {
            if (at == 0) {
                host.set_words(after);
            } else if (at == 512 * 100) {
                host.ask_words();
            }
        });
        const Bleeps bleeps{in, out, delay};
        for (const Span& word : wanted) {
            EXPECT_TRUE(bleeps.at((word.start + word.end) / 2)) << word.label << " worker " << worker;
        }
        for (const Span& word : unwanted) {
            EXPECT_FALSE(bleeps.at((word.start + word.end) / 2)) << word.label << " worker " << worker;
        }
        EXPECT_EQ(host.told_words(), after) << "worker " << worker;
    }
    std::system((std::string("rm -rf ") + dir).c_str());
}

// The readings hold no swearing; after them Asterisk's prompt "press star to
// cancel", in which the recogniser mishears a slur of the full list that its
// English lacks (the offline finder too): the strong words alone leave it whole.
TEST(LiveWords, APresetSetsTheListOfItsGroups)
{
    std::vector<float> in = zendrik_test::readings();
    const std::vector<float> cancel = zendrik_test::asterisk_prompt("vm-star-cancel");
    in.insert(in.end(), cancel.begin(), cancel.end());
    const auto delay = static_cast<std::size_t>(5.0 * zendrik_test::READINGS_RATE);
    in.resize(in.size() + delay, 0.0f);
    std::map<std::string, float> bleeped;
    for (const char* preset : {"everything", "strong"}) {
        LiveHost host(zendrik_test::READINGS_RATE);
        ASSERT_TRUE(host.apply_preset(std::string(ZENDRIK_LIVE_URI "#preset-") + preset));
        host.control("delay") = 5.0f;
        host.control("freewheel") = 1.0f;
        host.process(in, 512, [&](std::size_t at) {
            if (at == 0) {
                host.ask_words();
            }
        });
        bleeped[preset] = host.control("bleeped");
        EXPECT_EQ(host.control("overrun"), 0.0f) << "the recogniser did not run with the preset's list";
        const std::string file = preset == std::string("strong") ? "/words-strong.txt" : "/profanity.txt";
        const std::string& told = host.told_words();
        EXPECT_EQ(told.substr(std::min(told.size(), told.rfind('/'))), file);
    }
    EXPECT_GE(bleeped["everything"], 1.0f);
    EXPECT_EQ(bleeped["strong"], 0.0f);
}

} // namespace

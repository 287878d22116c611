// SPDX-License-Identifier: ISC
// search_speech on WAV files written here, heard by a recogniser that finds
// words where the test raised the samples: where they land once the stretches
// are put back together, on one thread or several, and a recogniser's error.
#include "errors.h"
#include "speech_search.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

namespace zendrik_mask {
namespace {

namespace fs = std::filesystem;

constexpr short WORD_LEVEL = 1000;
// Both heard at the same times: overlapping, yet not one word.
constexpr const char* KEYPHRASES[] = {"word", "other word"};

double seconds(std::size_t samples)
{
    return static_cast<double>(samples) / 16000;
}

struct Heard {
    double start, end;
    double confidence = 0.5; // 0.9 where the stretch starts inside the word
};

// Shared by the recognisers of one search.
struct Hearing {
    std::size_t failing_call = 0; // counted from 1 over all threads; 0 for none
    std::atomic<std::size_t> calls{0};
    std::atomic<std::size_t> samples{0};
};

// The keyphrases wherever the samples stand near WORD_LEVEL, surer when the
// stretch starts inside them, so that merging cannot just keep one hearing.
class LevelRecogniser : public Recogniser {
public:
    explicit LevelRecogniser(Hearing& hearing) : hearing_(hearing) {}

    std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) override
    {
        hearing_.samples += count;
        if (++hearing_.calls == hearing_.failing_call) {
            // Late enough that the reader waits on a full queue.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            throw bad_input("fake.wav: the recogniser gave up");
        }
        std::vector<TimedWord> words;
        for (std::size_t at = 0; at < count;) {
            std::size_t end = at;
            while (end < count && std::abs(samples[end] - WORD_LEVEL) < WORD_LEVEL / 4) {
                ++end;
            }
            if (end > at) {
                for (const char* text : KEYPHRASES) {
                    words.push_back({text, seconds(at), seconds(end), at == 0 ? 0.9 : 0.5, false, ""});
                }
            }
            at = end + 1;
        }
        return words;
    }

private:
    Hearing& hearing_;
};

class MaskSpeechSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string folder = (fs::temp_directory_path() / "zendrik-speech-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        folder_ = folder;
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Silence but for the words, all in the first channel, so that only the
    // mean of the channels stands at WORD_LEVEL.
    std::string write_wav(double seconds, int rate, int channels, const std::vector<Heard>& words)
    {
        std::vector<short> samples(static_cast<std::size_t>(seconds * rate * channels));
        for (const Heard& word : words) {
            for (long frame = std::lround(word.start * rate); frame < std::lround(word.end * rate); ++frame) {
                samples[static_cast<std::size_t>(frame * channels)] = static_cast<short>(WORD_LEVEL * channels);
            }
        }
        const std::string path = (folder_ / "speech.wav").string();
        SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_EQ(sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size())),
                  static_cast<sf_count_t>(samples.size()))
            << sf_strerror(file);
        sf_close(file);
        return path;
    }

    static std::vector<TimedWord> search(const std::string& path, unsigned jobs, Hearing& hearing)
    {
        InputFile input(path);
        SpeechSearch search;
        search.jobs = jobs;
        search.make_recogniser = [&hearing] { return std::make_unique<LevelRecogniser>(hearing); };
        return search_speech(input, search);
    }

    fs::path folder_;
};

void expect_words(const std::vector<TimedWord>& words, const std::vector<Heard>& expected)
{
    ASSERT_EQ(words.size(), 2 * expected.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(words[i].text, KEYPHRASES[i % 2]);
        EXPECT_NEAR(words[i].start, expected[i / 2].start, 0.002);
        EXPECT_NEAR(words[i].end, expected[i / 2].end, 0.002);
        EXPECT_DOUBLE_EQ(words[i].confidence.value_or(-1), expected[i / 2].confidence);
    }
}

TEST_F(MaskSpeechSearch, EachWordOnceWhereverTheStretchesAreCut)
{
    // Inside the first stretch; across the second's start, heard by both
    // and kept once, from the earlier start to the later end, as sure as the
    // surer hearing; whole in the first and the second; inside the fourth;
    // whole in the sixth and the short last one.
    const std::vector<Heard> words = {{7.0, 7.5}, {14.9, 15.4, 0.9}, {16.0, 16.5}, {50.0, 50.5}, {91.0, 91.5}};
    const std::string path = write_wav(100, 16000, 1, words);
    for (const unsigned jobs : {1u, 2u, 4u}) {
        SCOPED_TRACE(jobs);
        Hearing hearing;
        expect_words(search(path, jobs, hearing), words);
    }
}

TEST_F(MaskSpeechSearch, ResamplesToTheRecognisersRate)
{
    const std::string path = write_wav(40, 44100, 2, {{20.0, 20.5}});
    Hearing hearing;
    expect_words(search(path, 1, hearing), {{20.0, 20.5}});
    // Each stretch after the first begins with the overlap the one before
    // ended with; the file is heard with a second of silence on either side.
    EXPECT_NEAR(seconds(hearing.samples) - static_cast<double>(hearing.calls - 1) * STRETCH_OVERLAP_SECONDS, 40 + 2,
                0.001);
}

TEST_F(MaskSpeechSearch, ARecognisersErrorEndsTheSearch)
{
    // More stretches than the queue holds.
    const std::string path = write_wav(200, 16000, 1, {});
    for (const unsigned jobs : {1u, 2u}) {
        SCOPED_TRACE(jobs);
        Hearing hearing;
        hearing.failing_call = 3;
        try {
            search(path, jobs, hearing);
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.message(), "fake.wav: the recogniser gave up");
            EXPECT_EQ(error.status(), EXIT_BAD_INPUT);
        }
    }
}

} // namespace
} // namespace zendrik_mask

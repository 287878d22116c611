// SPDX-License-Identifier: ISC
// What the end-to-end tests of video share: files made with ffmpeg, and
// read with ffprobe and ffmpeg's decoders, never with the program under test.
#ifndef ZENDRIK_TESTS_MASK_MEDIA_HARNESS_H
#define ZENDRIK_TESTS_MASK_MEDIA_HARNESS_H

#include "cli_harness.h"

namespace mask_test {

constexpr double TONE_HZ = 1000.0; // the plugin's default tone
constexpr double TONE_LEVEL = 0.5;

class MaskMedia : public MaskCli {
protected:
    void tool(std::vector<std::string> argv)
    {
        argv.insert(argv.begin(), {"-v", "error", "-y"});
        argv.insert(argv.begin(), "/usr/bin/ffmpeg");
        const Result r = finish(spawn(argv, logs, {}), logs);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string probe(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"/usr/bin/ffprobe", "-v", "error", "-of", "compact"};
        argv.insert(argv.end(), args.begin(), args.end());
        const Result r = finish(spawn(argv, logs, {}), logs);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    // Every packet of a stream with its bytes, where it lies in the file left out.
    std::string packets(const std::string& file, int stream)
    {
        const std::string text
            = probe({"-select_streams", std::to_string(stream), "-show_packets", "-show_data", file});
        return std::regex_replace(text, std::regex("\\|pos=[0-9]+"), "");
    }
    // A stream decoded by ffmpeg, as 32-bit integers or floats.
    template <typename Sample>
    std::vector<Sample> decode(const std::string& file, int stream)
    {
        const std::string raw = p("decoded.raw");
        tool({"-i", file, "-map", "0:" + std::to_string(stream), "-f",
              std::is_floating_point_v<Sample> ? "f32le" : "s32le", raw});
        const std::string bytes = slurp(raw);
        std::vector<Sample> samples(bytes.size() / sizeof(Sample));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(Sample));
        return samples;
    }
    // Video, sound and the rest, `audio` giving the sound's codec options.
    void make_clip(const std::string& name, const std::vector<std::string>& audio, double seconds = 3)
    {
        const std::string length = std::to_string(seconds);
        std::vector<std::string> argv{
            "-f",   "lavfi",   "-i",      "testsrc=size=96x64:rate=25:duration=" + length,
            "-f",   "lavfi",   "-i",      "sine=frequency=440:sample_rate=48000:duration=" + length,
            "-map", "0",       "-map",    "1",
            "-c:v", "libx264", "-preset", "ultrafast"};
        argv.insert(argv.end(), audio.begin(), audio.end());
        argv.push_back(p(name));
        tool(argv);
    }
};

} // namespace mask_test

#endif

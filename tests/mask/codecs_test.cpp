// SPDX-License-Identifier: ISC
// zendrik-mask end to end on compressed inputs made by ffmpeg and sox from a
// real recording: the whole stream is processed or the file refused, and an
// output encoded again is announced. Lengths and bit rates are read with
// ffmpeg and ffprobe, never with the program under test.
#include "cli_harness.h"

namespace mask_test {

namespace {

class MaskCodecs : public MaskCli {
protected:
    // Runs a tool, expecting success.
    std::string run_tool(const std::vector<std::string>& argv)
    {
        const fs::path tool_logs = dir / "tool-logs";
        fs::create_directories(tool_logs);
        const Result r = finish(spawn(argv, tool_logs, {}), tool_logs);
        EXPECT_EQ(r.status, 0) << argv[0] << ": " << r.err;
        fs::remove_all(tool_logs);
        return r.out;
    }
    // An MP3 or Ogg file of the recording at 44.1 kHz stereo.
    std::string encode(const std::string& name, const std::vector<std::string>& codec)
    {
        std::vector<std::string> argv{"/usr/bin/ffmpeg", "-v",  "error", "-i", ZENDRIK_MASK_SPEECH, "-ar",
                                      "44100",           "-ac", "2"};
        argv.insert(argv.end(), codec.begin(), codec.end());
        argv.push_back(p(name));
        run_tool(argv);
        return p(name);
    }
    // Frames as ffmpeg decodes them.
    long long decoded_frames(const std::string& path)
    {
        run_tool({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", path, "-c:a", "pcm_f32le", p("decoded.wav")});
        SF_INFO info{};
        SNDFILE* f = sf_open(p("decoded.wav").c_str(), SFM_READ, &info);
        sf_close(f);
        fs::remove(p("decoded.wav"));
        return info.frames;
    }
    int bit_rate(const std::string& path) { return std::stoi(ffprobe(path, "stream=bit_rate", logs)); }
};

} // namespace

// Without a Xing header libsndfile only guesses an MP3's length from its
// first frame: a VBR file came out cut short, a CBR one was refused.
TEST_F(MaskCodecs, Mp3WithoutXingHeaderIsProcessedWhole)
{
    for (const auto& [name, rate] : {std::pair{"vbr.mp3", std::vector<std::string>{"-q:a", "4"}},
                                     std::pair{"cbr.mp3", std::vector<std::string>{"-b:a", "128k"}}}) {
        SCOPED_TRACE(name);
        std::vector<std::string> codec = rate;
        codec.insert(codec.end(), {"-write_xing", "0"});
        const std::string in = encode(name, codec);
        const Result r = mask({in, p("out.mp3"), "--mask", "1-2", "--mask", "6.5-7"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("past the end"), std::string::npos) << r.err;
        // The output is one LAME encoding away from ffmpeg's own decoding.
        EXPECT_LE(std::llabs(decoded_frames(p("out.mp3")) - decoded_frames(in)), 1152);
    }
}

TEST_F(MaskCodecs, Mp3OutputKeepsTheInputBitRateOrTakesBitrate)
{
    const std::string in = encode("in.mp3", {"-b:a", "160k"});
    EXPECT_EQ(mask({in, p("kept.mp3"), "--mask", "1-2", "-q"}).status, 0);
    EXPECT_EQ(bit_rate(p("kept.mp3")), 160000);
    EXPECT_EQ(mask({in, p("set.mp3"), "--mask", "1-2", "--bitrate", "96", "-q"}).status, 0);
    EXPECT_EQ(bit_rate(p("set.mp3")), 96000);

    const auto before = snapshot();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bitrate", "100"},
                                                 std::vector<std::string>{"--bitrate", "128", "--format", "flac"}}) {
        std::vector<std::string> line{in, p("bad.mp3"), "--mask", "1-2"};
        line.insert(line.end(), args.begin(), args.end());
        const Result r = mask(line);
        expect_refused(r, 2, "--bitrate", before);
    }
}

// libsndfile decodes an Ogg stream as far as the file goes, and only the
// first of chained streams; an MP3's frames are counted, so only its Xing
// header tells that some are missing.
TEST_F(MaskCodecs, CutShortOrChainedInputIsRefused)
{
    const std::string mp3 = slurp(encode("whole.mp3", {"-b:a", "128k"}));
    const std::string vorbis = slurp(encode("whole.ogg", {"-c:a", "libvorbis"}));
    const std::string opus = slurp(encode("whole.opus", {"-c:a", "libopus", "-ar", "48000"}));
    for (const char* whole : {"whole.ogg", "whole.opus"}) {
        const Result r = mask({p(whole), p("out.ogg"), "--mask", "1-2", "-q"});
        EXPECT_EQ(r.status, 0) << whole << ": " << r.err;
    }
    fs::remove(p("out.ogg"));
    // Cut on a page boundary, every page left is whole: only the last-page
    // flag is missing.
    const std::string on_boundary = vorbis.substr(0, vorbis.rfind("OggS", vorbis.size() / 2));
    const std::pair<const char*, std::string> files[] = {
        {"cut.ogg", vorbis.substr(0, vorbis.size() / 2)},
        {"cut.opus", opus.substr(0, opus.size() / 2)},
        {"cut-on-page.ogg", on_boundary},
        {"chained.ogg", vorbis + vorbis},
        {"cut.mp3", mp3.substr(0, mp3.size() / 2)},
    };
    for (const auto& [name, bytes] : files) {
        std::ofstream(p(name), std::ios::binary) << bytes;
    }
    const auto before = snapshot();
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const Result r = mask({p(name), p("out.ogg"), "--mask", "1-2"});
        expect_refused(r, 2,
                       std::string(name) == "chained.ogg" ? "chained Ogg file .* decode it whole"
                                                          : "is truncated or damaged",
                       before);
    }
}

// Sets the granule position of an Ogg file's last page and mends its checksum.
const char* const SET_LAST_GRANULE = R"(
import sys
data = bytearray(open(sys.argv[1], "rb").read())
last = data.rindex(b"OggS")
data[last + 6 : last + 14] = int(sys.argv[3]).to_bytes(8, "little", signed=True)
data[last + 22 : last + 26] = bytes(4)
crc = 0
for byte in data[last:]:
    crc ^= byte << 24
    for _ in range(8):
        crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
data[last + 22 : last + 26] = crc.to_bytes(4, "little")
open(sys.argv[2], "wb").write(data)
)";

// Lengths that headers understate: a FLAC's comes from decoding, with a
// warning; an Ogg whose granule positions go back or vanish at its end is
// refused, where its length was cut to what the last page claimed.
TEST_F(MaskCodecs, HeadersThatUnderstateTheLengthLoseNoAudio)
{
    std::string flac = slurp(encode("whole.flac", {"-c:a", "flac"}));
    // STREAMINFO's 36-bit total samples, after "fLaC" and the block header: halved.
    const std::size_t total = 8 + 13;
    uint64_t samples = static_cast<unsigned char>(flac[total]) & 0x0Fu;
    for (int i = 1; i < 5; ++i) {
        samples = samples << 8 | static_cast<unsigned char>(flac[total + static_cast<std::size_t>(i)]);
    }
    samples /= 2;
    flac[total] = static_cast<char>((flac[total] & 0xF0) | static_cast<int>(samples >> 32));
    for (int i = 1; i < 5; ++i) {
        flac[total + static_cast<std::size_t>(i)] = static_cast<char>(samples >> (8 * (4 - i)));
    }
    std::ofstream(p("half.flac"), std::ios::binary) << flac;
    const Result r = mask({p("half.flac"), p("out.flac"), "--mask", "1-2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("warning: the FLAC header .* states " + std::to_string(samples))))
        << r.err;
    EXPECT_EQ(decoded_frames(p("out.flac")), decoded_frames(p("whole.flac")));

    encode("whole.ogg", {"-c:a", "libvorbis"});
    encode("whole.opus", {"-c:a", "libopus", "-ar", "48000"});
    std::vector<std::string> damaged;
    for (const char* whole : {"whole.ogg", "whole.opus"}) {
        for (const char* granule : {"1000", "-1"}) {
            damaged.push_back(p(std::string(granule) + whole));
            run_tool({"/usr/bin/python3", "-c", SET_LAST_GRANULE, p(whole), damaged.back(), granule});
        }
    }
    const auto before = snapshot();
    for (const std::string& in : damaged) {
        SCOPED_TRACE(in);
        expect_refused(mask({in, p("out.wav"), "--mask", "1-2"}), 2, "is damaged: the granule positions", before);
    }
}

// Samples outside the ranges survive only a lossless output: the others say
// so once, naming their encoding.
TEST_F(MaskCodecs, OutputEncodedAgainIsAnnouncedOnce)
{
    run_tool({"/usr/bin/sox", ZENDRIK_MASK_SPEECH, "-e", "ima-adpcm", p("ima.wav")});
    run_tool({"/usr/bin/sox", ZENDRIK_MASK_SPEECH, "-r", "8000", "-e", "gsm-full-rate", p("gsm.wav")});
    encode("in.mp3", {"-b:a", "128k"});
    const std::pair<std::vector<std::string>, const char*> runs[] = {
        {{p("ima.wav"), p("out.wav")}, "IMA ADPCM"},
        {{p("gsm.wav"), p("out.wav")}, "GSM 6.10"},
        {{p("in.mp3"), p("out.mp3")}, "MP3"},
        {{p("in.mp3"), p("out.flac"), "--format", "flac"}, nullptr},
    };
    for (const auto& [files, encoding] : runs) {
        std::vector<std::string> line = files;
        line.insert(line.end(), {"--mask", "1-2"});
        const Result r = mask(line);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::regex warning("warning: [^\n]*encoded again");
        const auto count = std::distance(std::sregex_iterator(r.err.begin(), r.err.end(), warning), {});
        EXPECT_EQ(count, encoding ? 1 : 0) << r.err;
        if (encoding) {
            EXPECT_NE(r.err.find(std::string("as ") + encoding + ","), std::string::npos) << r.err;
        }
    }
}

} // namespace mask_test

// SPDX-License-Identifier: ISC
// zendrik-mask on uncompressed PCM kept in its own format: the output is the
// input with only the masked samples' bytes changed, whatever chunks the
// container holds; truncated files are refused in every container; a WAV
// stream with no length in its header is masked whole.
#include "cli_harness.h"

#include <cstdlib>

namespace mask_test {

class MaskPcmCopy : public MaskCli {
protected:
    void SetUp() override
    {
        MaskCli::SetUp();
        const std::string command = "python3 '" ZENDRIK_PCM_FILES_SCRIPT "' '" + dir.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream manifest(dir / "manifest.txt");
        std::string name, status;
        int64_t offset = 0;
        while (manifest >> name >> status) {
            if (status == "found") {
                manifest >> offset;
                sample_offset[name] = offset;
            }
            manifest.ignore(1000, '\n');
        }
    }

    std::map<std::string, int64_t> sample_offset; // from the manifest
};

// 8 kHz stereo 24-bit: 6 bytes a frame. The first range is no whole number
// of the tone's periods, so the second starts at phase zero only when the
// tone restarts. --block 300 cuts the ranges' blocks where the decode path would.
constexpr int64_t FRAME_BYTES = 6;
const std::vector<Burst> BURSTS = {{800, 2004}, {4000, 4800}};

TEST_F(MaskPcmCopy, OnlyTheMaskedSamplesBytesChange)
{
    for (const char* name : {"chunks.wav", "rf64.wav", "w64.w64", "marks.aiff", "comm-after.aiff", "caf.caf", "au.au",
                             "streamed.wav", "zero-size.wav"}) {
        SCOPED_TRACE(name);
        std::string in_bytes;
        if (std::string(name) == "zero-size.wav") {
            // The stream again, with the data size 0 some recorders leave.
            sample_offset[name] = sample_offset.at("streamed.wav");
            in_bytes = slurp(p("streamed.wav"));
            in_bytes.replace(static_cast<std::size_t>(sample_offset[name] - 4), 4, std::string(4, '\0'));
            std::ofstream(p(name), std::ios::binary) << in_bytes;
        } else {
            in_bytes = slurp(p(name));
        }
        const std::string out = p(std::string("out-") + name);
        const Result r = mask({p(name), out, "--mask", "0.1-0.2505", "--mask", "0.5-0.6", "--block", "300", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string out_bytes = slurp(out);
        ASSERT_EQ(out_bytes.size(), in_bytes.size());
        const auto masked = [&](std::size_t i) {
            const auto at = static_cast<int64_t>(i) - sample_offset.at(name);
            return std::any_of(BURSTS.begin(), BURSTS.end(),
                               [&](const Burst& b) { return at >= b.start * FRAME_BYTES && at < b.end * FRAME_BYTES; });
        };
        std::size_t changed_outside = 0, changed_inside = 0;
        for (std::size_t i = 0; i < in_bytes.size(); ++i) {
            if (in_bytes[i] != out_bytes[i]) {
                ++(masked(i) ? changed_inside : changed_outside);
            }
        }
        EXPECT_EQ(changed_outside, 0u);
        EXPECT_GT(changed_inside, 0u);
        if (std::string(name) == "zero-size.wav") {
            continue; // libsndfile reads it as empty; the bytes were compared
        }
        const Audio in = read_audio(p(name), Kind::Int);
        EXPECT_EQ(in.info.frames, 8000);
        expect_masked(in, read_audio(out, Kind::Int), BURSTS, 1000.0, 0.5, SF_FORMAT_PCM_24);
    }

    // The stream bound for another format goes through the decode path, whole.
    ASSERT_EQ(mask({p("streamed.wav"), p("streamed.flac"), "--format", "flac", "--mask", "0.1-0.25", "-q"}).status, 0);
    EXPECT_EQ(read_audio(p("streamed.flac"), Kind::Int).info.frames, 8000);
}

// The tone the copy path writes is the decode path's to the bit: the same
// blocks, rounding and coding, also where libsndfile maps 8-bit WAV to
// unsigned bytes and mu-law to its table.
TEST_F(MaskCli, CopyPathWritesTheDecodePathsSamples)
{
    for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_AU | SF_FORMAT_ULAW,
                             SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_CAF | SF_FORMAT_DOUBLE}) {
        SCOPED_TRACE(format);
        write_noise(p("in"), format, 8000, 2, 8000);
        const std::vector<std::string> args = {p("in"), "--mask", "0-0.2505", "--mask", "0.3-1", "--block", "77", "-q"};
        std::vector<std::string> copy = args, decode = args;
        copy.insert(copy.begin() + 1, p("copy"));
        decode.insert(decode.begin() + 1, p("decode"));
        ASSERT_EQ(mask(copy).status, 0);
        ASSERT_EQ(mask(decode, {{"ZENDRIK_MASK_DECODE", "1"}}).status, 0);
        const Kind kind = kind_of(format) == Kind::Double ? Kind::Double : Kind::Int;
        const Audio a = read_audio(p("copy"), kind), b = read_audio(p("decode"), kind);
        EXPECT_EQ(a.ints, b.ints);
        EXPECT_EQ(a.doubles, b.doubles);
        EXPECT_EQ(a.info.format, format);
    }
}

TEST_F(MaskPcmCopy, TruncatedPcmIsRefusedInEveryContainerAndPath)
{
    const auto before = snapshot();
    for (const char* name :
         {"cut-au.au", "cut-w64.w64", "cut-rf64.wav", "cut-chunks.wav", "lie-caf.caf", "long-comm.aiff"}) {
        for (const char* format : {"", "flac"}) {
            SCOPED_TRACE(std::string(name) + " " + format);
            std::vector<std::string> args = {p(name), p("out"), "--mask", "0.1-0.2"};
            if (*format) {
                args.insert(args.end(), {"--format", format});
            }
            const Result r = mask(args);
            expect_refused(r, 2, "truncated|malformed", before);
        }
    }
}

} // namespace mask_test

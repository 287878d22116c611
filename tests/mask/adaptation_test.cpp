// SPDX-License-Identifier: ISC
// zendrik-mask --adaptation: an MLLR transform of the acoustic model reaches
// the decoder, and one the model cannot take is refused before it is used.
#include "cli_harness.h"

namespace mask_test {

namespace {

// An MLLR transform as sphinxtrain's mllr_solve writes it: one class, three
// streams of 13, each mean scaled by `scale` and moved by `offset`.
std::string mllr_transform(double scale, double offset, int streams = 3, int size = 13)
{
    std::ostringstream text;
    text << "1\n" << streams << "\n";
    for (int stream = 0; stream < streams; ++stream) {
        text << size << "\n";
        for (int row = 0; row < size; ++row) {
            for (int column = 0; column < size; ++column) {
                text << (row == column ? scale : 0.0) << ' ';
            }
            text << "\n";
        }
        for (int i = 0; i < size; ++i) {
            text << offset << ' ';
        }
        text << "\n";
        for (int i = 0; i < size; ++i) {
            text << "1.0 ";
        }
        text << "\n";
    }
    return text.str();
}

} // namespace

// The transform reaches the decoder: one that changes nothing finds what
// none finds, one that moves every mean away finds nothing; and a transform
// for other features than the model's is refused before it is applied.
TEST_F(MaskCli, AnAdaptationTransformIsAppliedAndAMismatchedOneRefused)
{
    // The first LibriVox reading of pocketsphinx-testdata, "dashwood" at 1 s.
    const std::string make
        = "sox /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav"
          " -r 44100 -c 2 '"
        + p("speech.wav") + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    std::ofstream(p("same.mllr")) << mllr_transform(1.0, 0.0);
    std::ofstream(p("away.mllr")) << mllr_transform(1.0, 40.0);
    const auto labels_with = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> args{p("speech.wav"), "--dry-run", "--word",         "dashwood",
                                      "--word",        "selfish",   "--write-labels", p("labels.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result r = mask(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return slurp(p("labels.txt"));
    };
    const std::string plain = labels_with({});
    EXPECT_NE(plain.find("dashwood"), std::string::npos) << plain;
    EXPECT_EQ(labels_with({"--adaptation", p("same.mllr")}), plain);
    EXPECT_EQ(labels_with({"--adaptation", p("away.mllr")}).find("dashwood"), std::string::npos);

    std::ofstream(p("flat.mllr")) << mllr_transform(1.0, 0.0, 1, 39);
    std::ofstream(p("short.mllr")) << mllr_transform(1.0, 0.0).substr(0, 200);
    const auto before = snapshot();
    const std::string out = p("out.wav");
    expect_refused(mask({p("speech.wav"), out, "--word", "dashwood", "--adaptation", p("flat.mllr")}), 2,
                   "flat.mllr' is for features of sizes 39, the acoustic model .* has 13/13/13", before);
    expect_refused(mask({p("speech.wav"), out, "--word", "dashwood", "--adaptation", p("short.mllr")}), 2,
                   "short.mllr' is not an MLLR transform", before);
    expect_refused(mask({p("speech.wav"), out, "--word", "dashwood", "--adaptation", p("none.mllr")}), 2,
                   "cannot read the adaptation transform .*none.mllr", before);
}

} // namespace mask_test

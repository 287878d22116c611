// SPDX-License-Identifier: ISC
// zendrik-mask batch and summary end to end: a small tree of mixed formats,
// two of them damaged, masked, summarised, and run again.
#include "cli_harness.h"

#include <sys/mount.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace mask_test {
namespace {

class MaskBatch : public MaskCli {
protected:
    // in/a.wav, in/sub/b.flac with labels beside it, in/sub/c.aiff made by
    // sox, and two damaged files; 8000 Hz, so that a sample is 125 µs.
    void make_tree()
    {
        fs::create_directories(dir / "in/sub");
        write_noise(p("in/a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, 8000);
        ASSERT_EQ(std::system(("sox " + p("in/a.wav") + " " + p("in/sub/b.flac") + " remix 1").c_str()), 0);
        ASSERT_EQ(std::system(("sox " + p("in/a.wav") + " -b 24 " + p("in/sub/c.aiff")).c_str()), 0);
        std::ofstream(p("in/sub/b.txt")) << "0.5\t0.6\tname\n";
        std::ofstream(p("in/broken.wav"), std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt garbage";
        std::ofstream(p("in/sub/noise.flac"), std::ios::binary) << std::string(3000, '\x5a');
    }
    Result batch(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"batch", p("in"), p("out")});
        return mask(args);
    }
    std::string summary_json()
    {
        const Result r = mask({"summary", p("out"), "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    std::map<std::string, std::string> outputs() const
    {
        std::map<std::string, std::string> all = snapshot();
        std::map<std::string, std::string> audio;
        for (const auto& [name, entry] : all) {
            if (name.rfind("out/", 0) == 0 && name.find(".zendrik.json") == std::string::npos) {
                audio[name] = entry;
            }
        }
        return audio;
    }
};

TEST_F(MaskBatch, EveryFileMaskedExactlyFailuresRecordedAndARerunSkipsAll)
{
    make_tree();
    const Result r = batch({"--mask", "0.1-0.2", "--jobs", "2", "--quiet"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("'broken.wav'"), std::string::npos) << r.err;

    const int pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    expect_masked(read_audio(p("in/a.wav"), Kind::Int), read_audio(p("out/a.wav"), Kind::Int), {{800, 1600}}, 1000, 0.5,
                  pcm16);
    // The labels found beside it add their range.
    expect_masked(read_audio(p("in/sub/b.flac"), Kind::Int), read_audio(p("out/sub/b.flac"), Kind::Int),
                  {{800, 1600}, {4000, 4800}}, 1000, 0.5, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    expect_masked(read_audio(p("in/sub/c.aiff"), Kind::Int), read_audio(p("out/sub/c.aiff"), Kind::Int), {{800, 1600}},
                  1000, 0.5, SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    EXPECT_EQ(std::system(("flac -t -s " + p("out/sub/b.flac")).c_str()), 0);
    // A damaged file leaves a record and nothing else.
    EXPECT_TRUE(fs::exists(p("out/broken.wav.zendrik.json")));
    EXPECT_FALSE(fs::exists(p("out/broken.wav")));
    EXPECT_FALSE(fs::exists(p("out/sub/noise.flac")));

    const std::string first = summary_json();
    EXPECT_NE(first.find("\"done\": 3"), std::string::npos) << first;
    EXPECT_NE(first.find("\"failed\": 2"), std::string::npos) << first;
    EXPECT_NE(first.find("\"input\": \"sub/noise.flac\""), std::string::npos) << first;
    const Result csv = mask({"summary", p("out"), "--csv"});
    EXPECT_NE(csv.out.find("failure,broken.wav,"), std::string::npos) << csv.out;

    // Run again: nothing is masked again, the failures stand.
    const auto before = outputs();
    const Result again = batch({"--mask", "0.1-0.2"});
    // Nothing new failed.
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("0 masked, 3 skipped (done before), 2 failed (2 recorded before)"), std::string::npos)
        << again.err;
    EXPECT_EQ(outputs(), before);
    EXPECT_NE(summary_json().find("\"skipped\": 3"), std::string::npos);

    // A changed input is done again, and only it.
    write_noise(p("in/a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 2, 8000, 7);
    const Result changed = batch({"--mask", "0.1-0.2"});
    EXPECT_NE(changed.err.find("1 masked, 2 skipped"), std::string::npos) << changed.err;
    expect_masked(read_audio(p("in/a.wav"), Kind::Int), read_audio(p("out/a.wav"), Kind::Int), {{800, 1600}}, 1000, 0.5,
                  pcm16);
    // Changed options redo every file.
    const Result other = batch({"--mask", "0.1-0.3"});
    EXPECT_NE(other.err.find("3 masked, 0 skipped"), std::string::npos) << other.err;
}

TEST_F(MaskBatch, FoldersAndOutputsThatCannotWorkAreRefusedAndNothingIsWritten)
{
    make_tree();
    fs::create_directories(dir / "in/out");
    auto before = snapshot();
    Result r = mask({"batch", p("in") + "/", p("in/out/"), "--mask", "0.1-0.2"});
    expect_refused(r, 2, "must lie outside the input folder", before);
    // a.wav and a.flac would both become a.flac.
    ASSERT_EQ(std::system(("sox " + p("in/a.wav") + " " + p("in/a.flac")).c_str()), 0);
    before = snapshot();
    r = batch({"--mask", "0.1-0.2", "--format", "flac"});
    expect_refused(r, 2, "would both be written to", before);
    r = batch({"--mask", "0.1-0.2", "--shard", "4/4"});
    expect_refused(r, 2, "--shard 4/4", before);
}

TEST_F(MaskBatch, ADryRunWritesEachFilesReviewFilesAndAnIndexButNoAudio)
{
    make_tree();
    const std::vector<std::string> dry_run{"--mask",         "0.1-0.2",          "--dry-run", "--quiet",
                                           "--write-labels", "{name}.found.txt", "--review",  p("pages")};
    EXPECT_EQ(batch(dry_run).status, 1); // the damaged files
    // Run again, every file is skipped, and the index still lists them all.
    EXPECT_EQ(batch(dry_run).status, 0);
    EXPECT_FALSE(fs::exists(p("out/a.wav")));
    EXPECT_EQ(slurp(p("out/sub/b.found.txt")),
              "0.100000000\t0.200000000\t--mask 0.1-0.2\n0.500000000\t0.600000000\tname\n");
    EXPECT_TRUE(fs::exists(p("pages/sub/c.aiff.review.html")));
    const std::string index = slurp(p("out/index.html"));
    EXPECT_NE(index.find("<a href=\"../pages/sub/b.flac.review.html\">"), std::string::npos) << index;
    EXPECT_NE(index.find("<td>broken.wav</td><td>failed: "), std::string::npos) << index;
    // Asked for audio now, the files are done again.
    EXPECT_EQ(batch({"--mask", "0.1-0.2", "--quiet"}).status, 1);
    EXPECT_TRUE(fs::exists(p("out/a.wav")));
}

TEST_F(MaskBatch, SharesTogetherMaskEveryFileOnce)
{
    make_tree();
    for (const char* share : {"0/3", "1/3", "2/3"}) {
        batch({"--mask", "0.1-0.2", "--shard", share, "--quiet"});
    }
    const std::string all = summary_json();
    EXPECT_NE(all.find("\"done\": 3"), std::string::npos) << all;
    EXPECT_NE(all.find("\"failed\": 2"), std::string::npos) << all;
}

TEST_F(MaskBatch, DecodersKeptFromFileToFileFindWhatSingleRunsFind)
{
    // The second file is decoded by the decoder that heard the first.
    const std::string readings = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
    fs::create_directories(dir / "in");
    ASSERT_EQ(std::system(("sox " + readings + "0870.wav " + readings + "0880.wav " + p("in/a.wav")).c_str()), 0);
    ASSERT_EQ(std::system(("sox " + readings + "0890.wav " + readings + "0870.wav " + p("in/b.wav")).c_str()), 0);
    const std::vector<std::string> words{"--word", "dashwood", "--word", "amiable", "--word", "respectable"};
    std::vector<std::string> args{"--jobs", "1", "--quiet"};
    args.insert(args.end(), words.begin(), words.end());
    ASSERT_EQ(batch(args).status, 0);
    for (const std::string name : {"a.wav", "b.wav"}) {
        std::vector<std::string> single{p("in/" + name), p(name), "--quiet"};
        single.insert(single.end(), words.begin(), words.end());
        ASSERT_EQ(mask(single).status, 0);
        EXPECT_EQ(slurp(p("out/" + name)), slurp(p(name))) << name;
    }
}

TEST_F(MaskBatch, AFullDiskFailsTheFileThatDoesNotFitAndStopsTheBatch)
{
    fs::create_directories(dir / "out");
    if (mount("tmpfs", p("out").c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    }
    mounted = dir / "out";
    fs::create_directories(dir / "in");
    // 80 kB each: three fit in 256 kB with their records, the fourth does not.
    for (unsigned i = 1; i <= 6; ++i) {
        write_noise(p("in/f" + std::to_string(i) + ".wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 40000, i);
    }
    const Result r = batch({"--mask", "0.1-0.2"});
    EXPECT_EQ(r.status, 1) << r.err;
    // The fourth fails, and with no room for a fifth nothing more is started.
    EXPECT_NE(r.err.find("3 masked, 0 skipped (done before), 1 failed; stopped, 2 not started: the disk of the "
                         "outputs is full"),
              std::string::npos)
        << r.err;
    EXPECT_NE(slurp(p("out/f4.wav.zendrik.json")).find("No space left on device"), std::string::npos);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"f1.wav", "f1.wav.zendrik.json", "f2.wav", "f2.wav.zendrik.json", "f3.wav",
                                        "f3.wav.zendrik.json", "f4.wav.zendrik.json"}));
}

TEST_F(MaskBatch, KilledPartWayARerunDoesOnlyTheRest)
{
    // Decoded a frame at a time, each file takes a moment.
    fs::create_directories(dir / "in");
    for (unsigned i = 1; i <= 6; ++i) {
        write_noise(p("in/f" + std::to_string(i) + ".wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 48000 * 4, i);
    }
    const auto records = [this] {
        std::map<std::string, std::string> found;
        // The batch is still running: its temporary files come and go.
        for (const std::string& name : files_now()) {
            if (name.size() > 13 && name.compare(name.size() - 13, 13, ".zendrik.json") == 0
                && name.find("/.") == std::string::npos) {
                // A rerun counts its skips in the record; the rest must stay.
                const std::string text = slurp(p(name));
                found[name] = text.substr(0, text.find("\"skipped\""));
            }
        }
        return found;
    };
    const Env slow{{"ZENDRIK_MASK_DECODE", "1"}};
    const std::vector<std::string> args{ZENDRIK_MASK_EXE, "batch", p("in"),  p("out"), "--mask", "1-2",
                                        "--block",        "1",     "--quiet"};
    const pid_t pid = spawn(args, logs, slow);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (records().size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    EXPECT_EQ(finish(pid, logs).signal, SIGKILL);
    const auto done = records();
    ASSERT_GE(done.size(), 2u);
    ASSERT_LT(done.size(), 6u);
    // Every output is whole and recorded: an unfinished one is only a hidden temporary file.
    for (const auto& [name, entry] : outputs()) {
        if (name.rfind("out/.", 0) != 0) {
            EXPECT_EQ(done.count(name + ".zendrik.json"), 1u) << name;
        }
    }

    const Result rerun = mask(std::vector<std::string>(args.begin() + 1, args.end() - 1), slow);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_NE(rerun.err.find(std::to_string(6 - done.size()) + " masked, " + std::to_string(done.size()) + " skipped"),
              std::string::npos)
        << rerun.err;
    const auto all = records();
    EXPECT_EQ(all.size(), 6u);
    for (const auto& [name, text] : done) {
        EXPECT_EQ(all.at(name), text) << name;
    }
    EXPECT_EQ(outputs().size(), 6u);
    for (const auto& [name, entry] : outputs()) {
        EXPECT_NE(name.rfind("out/.", 0), 0u) << "left behind: " << name;
    }
}

} // namespace
} // namespace mask_test

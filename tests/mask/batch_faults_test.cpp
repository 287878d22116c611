// SPDX-License-Identifier: ISC
// zendrik-mask batch where names, folders and records go wrong: long and
// non-UTF-8 names, copied output folders, links and unreadable folders.
#include "cli_harness.h"

#include <sys/resource.h>

namespace mask_test {
namespace {

class MaskBatchFaults : public MaskCli {
protected:
    void make_inputs(const std::vector<std::string>& names)
    {
        for (std::size_t i = 0; i < names.size(); ++i) {
            fs::create_directories((dir / "in" / names[i]).parent_path());
            write_noise(dir / "in" / names[i], SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000,
                        static_cast<unsigned>(i + 1));
        }
    }
    Result batch(const std::string& out = "out") { return mask({"batch", p("in"), p(out), "--mask", "0.1-0.2"}); }
    static void expect_counts(const Result& r, const std::string& counts)
    {
        EXPECT_NE(r.err.find("zendrik-mask: " + counts), std::string::npos) << r.err;
    }
};

TEST_F(MaskBatchFaults, AnyLegalNameIsMaskedRecordedAndSkippedOnRerun)
{
    // 250 bytes: legal, but with ".zendrik.json" past the 255 a name may take.
    const std::string long_name = std::string(246, 'l') + ".wav";
    const std::string not_utf8 = "bad\xff\xfename.wav";
    make_inputs({"a.wav", long_name, not_utf8, "z.wav"});
    EXPECT_EQ(batch().status, 0);
    for (const std::string& name : {std::string("a.wav"), long_name, not_utf8, std::string("z.wav")}) {
        EXPECT_TRUE(fs::exists(dir / "out" / name)) << name.size();
    }
    expect_counts(batch(), "0 masked, 4 skipped");

    // The record keeps the name's bytes exact, read by another JSON reader.
    const std::string check
        = "python3 -c 'import json, sys; r = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
          "sys.exit(bytes.fromhex(r[\"output_bytes\"]) != b\"bad\\xff\\xfename.wav\")' ";
    EXPECT_EQ(std::system((check + "'" + p("out/" + not_utf8 + ".zendrik.json") + "'").c_str()), 0);
    // Messages show it readably.
    std::ofstream(dir / "in" / ("broken\xff.wav"), std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt garbage";
    EXPECT_NE(batch().err.find("error: 'broken\\xFF.wav'"), std::string::npos);
}

TEST_F(MaskBatchFaults, ACopiedOrMovedOutputFolderIsJudgedByWhatItHolds)
{
    make_inputs({"a.wav", "sub/e.wav"});
    ASSERT_EQ(batch().status, 0);
    fs::copy(dir / "out", dir / "out2", fs::copy_options::recursive);
    fs::remove(dir / "out2/sub/e.wav");
    expect_counts(batch("out2"), "1 masked, 1 skipped");
    EXPECT_EQ(slurp(p("out2/sub/e.wav")), slurp(p("out/sub/e.wav")));

    // Moved away, the first run's outputs are gone from its records' paths.
    fs::rename(dir / "out", dir / "moved");
    expect_counts(batch("moved"), "0 masked, 2 skipped");
}

TEST_F(MaskBatchFaults, ALinkInTheOutputFolderIntoTheInputFolderIsRefused)
{
    make_inputs({"a.wav", "sub/b.wav"});
    fs::create_directories(dir / "out");
    fs::create_directory_symlink("../in", dir / "out/sub");
    const auto before = snapshot();
    expect_refused(batch(), 2, "output folder '.*out/sub' leads into the input folder", before);
}

// Root reads every folder, so as root the runs are nobody's.
TEST_F(MaskBatchFaults, AnUnreadableFolderIsReportedAndTheRestMasked)
{
    std::vector<std::string> as_user;
    if (geteuid() == 0) {
        as_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        fs::permissions(dir, fs::perms::all);
    }
    make_inputs({"a.wav", "locked/b.wav", "open/c.wav"});
    fs::create_directory(dir / "out");
    fs::permissions(dir / "out", fs::perms::all);
    fs::permissions(dir / "in/locked", fs::perms::none);
    const std::vector<std::string> args{"batch", p("in"), p("out"), "--mask", "0.1-0.2"};
    const Result r = mask(args, {}, as_user);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("error: 'locked/': cannot read the folder: Permission denied\n"), std::string::npos) << r.err;
    expect_counts(r, "2 masked, 0 skipped (done before), 0 failed, 1 folder unreadable");
    EXPECT_TRUE(fs::exists(dir / "out/open/c.wav"));
    EXPECT_NE(mask({"summary", p("out")}).out.find("failed: 1\n  locked/: exit 2: cannot read the folder"),
              std::string::npos);

    // Readable again: its file is masked and its record gone.
    fs::permissions(dir / "in/locked", fs::perms::all);
    expect_counts(mask(args, {}, as_user), "1 masked, 2 skipped (done before), 0 failed\n");
    EXPECT_NE(mask({"summary", p("out")}).out.find("failed: 0\n"), std::string::npos);
}

// ---- As a podcaster meets it ------------------------------------------------

using MaskBatchResume = MaskBatchFaults;

TEST_F(MaskBatchResume, InterruptedItSaysHowFarItGotAndTheSameCommandGoesOn)
{
    // Decoded a frame at a time, each file takes a moment.
    fs::create_directories(dir / "in");
    for (unsigned i = 1; i <= 6; ++i) {
        write_noise(p("in/f" + std::to_string(i) + ".wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 48000 * 4, i);
    }
    const Env slow{{"ZENDRIK_MASK_DECODE", "1"}};
    const std::vector<std::string> args{"batch", p("in"), p("out"), "--mask", "1-2", "--block", "1"};
    const pid_t pid
        = spawn({ZENDRIK_MASK_EXE, "batch", p("in"), p("out"), "--mask", "1-2", "--block", "1"}, logs, slow);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // Standard error is a file here: a line for each file masked.
    while (slurp(logs / "stderr").find(" masked '") == std::string::npos
           && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGINT);
    const Result stopped = finish(pid, logs);
    EXPECT_EQ(stopped.signal, SIGINT);
    EXPECT_NE(stopped.err.find("zendrik-mask: 1 of 6: masked 'f"), std::string::npos) << stopped.err;
    std::smatch said;
    ASSERT_TRUE(std::regex_search(stopped.err, said,
                                  std::regex("zendrik-mask: interrupted: ([1-6]) of 6 files finished; run the same "
                                             "command again to go on from there\n$")))
        << stopped.err;
    const int finished = std::stoi(said[1]);

    const Result rerun = mask(args, slow);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    expect_counts(rerun, std::to_string(6 - finished) + " masked, " + std::to_string(finished) + " skipped");
}

TEST_F(MaskBatchResume, ATouchedInputIsKeptAndAnOutputReplacedIsDoneAgain)
{
    make_inputs({"a.wav", "b.wav"});
    ASSERT_EQ(batch().status, 0);
    const std::string masked = slurp(p("out/b.wav"));
    fs::last_write_time(dir / "in/a.wav", fs::last_write_time(dir / "in/a.wav") + std::chrono::hours(1));
    std::ofstream(p("out/b.wav"), std::ios::binary) << std::string(masked.size(), 'x');
    const Result again = batch();
    expect_counts(again, "1 masked, 1 skipped");
    EXPECT_NE(again.err.find("masked 'b.wav'"), std::string::npos) << again.err;
    EXPECT_TRUE(slurp(p("out/b.wav")) == masked);
    // A new time of the output alone is kept as well.
    fs::last_write_time(dir / "out/a.wav", fs::last_write_time(dir / "out/a.wav") + std::chrono::hours(1));
    // The new time is kept: nothing is left to do.
    expect_counts(batch(), "0 masked, 2 skipped");
}

// The records' CPU time against what the kernel counted for the process.
TEST_F(MaskBatchResume, CpuTimeCountsTheThreadsThatSearchForWords)
{
    fs::create_directories(dir / "in");
    fs::copy_file(ZENDRIK_MASK_SPEECH, dir / "in/a.wav");
    fs::copy_file(ZENDRIK_MASK_SPEECH, dir / "in/b.wav");
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    const Result r = mask({"batch", p("in"), p("out"), "--word", "dashwood", "--jobs", "2", "--quiet"});
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto seconds = [](const rusage& use) {
        return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec)
            + static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
    };
    const double process = seconds(after) - seconds(before);
    std::smatch recorded;
    const std::string csv = mask({"summary", p("out"), "--csv"}).out;
    ASSERT_TRUE(std::regex_search(csv, recorded, std::regex("cpu_seconds,,([0-9.]+)"))) << csv;
    EXPECT_GT(std::stod(recorded[1]), 0.7 * process) << csv;
    EXPECT_LT(std::stod(recorded[1]), 1.05 * process) << csv;
}

} // namespace
} // namespace mask_test

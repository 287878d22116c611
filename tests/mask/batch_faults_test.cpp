// SPDX-License-Identifier: ISC
// zendrik-mask batch where names, folders and records go wrong: long and
// non-UTF-8 names, copied output folders, links and unreadable folders.
#include "cli_harness.h"

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
    Result batch(const std::string& out = "out")
    {
        return mask({"batch", p("in"), p(out), "--mask", "0.1-0.2", "--quiet"});
    }
    Result loud_batch(const std::string& out = "out") { return mask({"batch", p("in"), p(out), "--mask", "0.1-0.2"}); }
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
    const Result first = loud_batch();
    EXPECT_EQ(first.status, 0) << first.err;
    for (const std::string& name : {std::string("a.wav"), long_name, not_utf8, std::string("z.wav")}) {
        EXPECT_TRUE(fs::exists(dir / "out" / name)) << name.size();
    }
    const Result again = loud_batch();
    EXPECT_EQ(again.status, 0) << again.err;
    expect_counts(again, "0 masked, 4 skipped");

    // The record keeps the name's bytes exact, read by another JSON reader.
    const std::string check
        = "python3 -c 'import json, sys; r = json.load(open(sys.argv[1], encoding=\"utf-8\")); "
          "sys.exit(bytes.fromhex(r[\"output_bytes\"]) != b\"bad\\xff\\xfename.wav\")' ";
    EXPECT_EQ(std::system((check + "'" + p("out/" + not_utf8 + ".zendrik.json") + "'").c_str()), 0);
    // Messages show it readably.
    std::ofstream(dir / "in" / ("broken\xff.wav"), std::ios::binary) << "RIFF\x10\0\0\0WAVEfmt garbage";
    const Result failed = loud_batch();
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_NE(failed.err.find("'broken\\xFF.wav'"), std::string::npos) << failed.err;
}

TEST_F(MaskBatchFaults, ACopiedOrMovedOutputFolderIsJudgedByWhatItHolds)
{
    make_inputs({"a.wav", "sub/e.wav"});
    ASSERT_EQ(batch().status, 0);
    fs::copy(dir / "out", dir / "out2", fs::copy_options::recursive);
    fs::remove(dir / "out2/sub/e.wav");
    const Result copy = loud_batch("out2");
    EXPECT_EQ(copy.status, 0) << copy.err;
    expect_counts(copy, "1 masked, 1 skipped");
    EXPECT_EQ(slurp(p("out2/sub/e.wav")), slurp(p("out/sub/e.wav")));

    // Moved away, the first run's outputs are gone from its records' paths.
    fs::rename(dir / "out", dir / "moved");
    expect_counts(loud_batch("moved"), "0 masked, 2 skipped");
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
    const Result again = mask(args, {}, as_user);
    EXPECT_EQ(again.status, 0) << again.err;
    expect_counts(again, "1 masked, 2 skipped (done before), 0 failed\n");
    EXPECT_NE(mask({"summary", p("out")}).out.find("failed: 0\n"), std::string::npos);
}

} // namespace
} // namespace mask_test

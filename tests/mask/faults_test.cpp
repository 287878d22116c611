// SPDX-License-Identifier: ISC
// zendrik-mask's fault harness: bad and damaged inputs, a missing plugin,
// failed writes (file size limit, full disk, permissions) and signals
// part-way, each checked for its exit status, its one error line, and a
// folder left as it was.
#include "cli_harness.h"

#include <sys/mount.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace mask_test {

// ---- Faults: bad input ----------------------------------------------------

TEST_F(MaskCli, BadInputIsOneLineStatusTwoAndNoFile)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    std::ofstream(p("notes.txt")) << "this is not audio\n";
    std::ofstream(p("bad-line.txt")) << "1\t2\tok\n\n0.5 0.7 spaces\n";
    std::ofstream(p("point.txt")) << "0.1\t0.2\tok\n0.3\t0.3\tpoint\n";
    std::ofstream(p("binary.txt")) << "0.5\t1.0\tok\n" << std::string("\x00\xff\xfe garbage\n", 12);
    std::ofstream(p("late.txt")) << "1.5\t2\tafter the end\n";
    fs::create_hard_link(p("in.wav"), p("same.wav"));
    fs::create_directory(p("folder"));
    const std::string in = p("in.wav");
    const std::string out = p("out.wav");

    struct Case {
        std::vector<std::string> args;
        const char* pattern;
    };
    const Case cases[] = {
        {{p("missing.wav"), out, "--mask", "1-2"}, "cannot open input '.*': No such file"},
        {{p("notes.txt"), out, "--mask", "1-2"}, "cannot read input"},
        {{p("folder"), out, "--mask", "1-2"}, "input '.*' is a folder"},
        {{in, in, "--mask", "0.01-0.02"}, "is the same file as the input"},
        {{in, p("./same.wav"), "--mask", "0.01-0.02"}, "is the same file as the input"},
        {{in, p("folder"), "--mask", "0.01-0.02"}, "output '.*' is a folder"},
        {{in, out, "--mask", "0.2-0.1"}, "start is not before end"},
        {{in, out, "--mask", "-1-2"}, "negative"},
        {{in, out, "--mask", "0.1-ten"}, "not a time"},
        {{in, out, "--mask", "0.1"}, "not START-END"},
        {{in, out, "--labels", p("bad-line.txt")}, "bad-line.txt:3:"},
        {{in, out, "--labels", p("point.txt")}, "point.txt:2: point label"},
        {{in, out, "--labels", p("binary.txt")}, "binary.txt:2:"},
        {{in, out, "--labels", p("no-such-labels.txt")}, "cannot read label file"},
        {{in, out, "--mask", "0.1-0.2", "--preset", "nope"}, "no preset 'nope'"},
        {{in, out, "--mask", "0.1-0.2", "--level", "2"}, "outside the plugin's range"},
        {{in, out, "--mask", "0.1-0.2", "--format", "mp4"}, "unknown container"},
        {{in, out, "--mask", "0.1-0.2", "--format", "flac:float"}, "cannot hold"},
        {{in, out, "--mask", "0.1-0.2", "--block", "0"}, "--block"},
        {{in, out}, "nothing to mask"},
        {{in, out, "--mask", "1-2"}, "--mask 1-2 covers no sample of '.*in.wav', which lasts 1.000 s"},
        {{in, out, "--mask", "0.5-0.50001", "--labels", p("late.txt")}, "none of the 2 ranges given covers a sample"},
        {{in, out, "--mask", "0.1-0.2", "--bogus"}, "--bogus"},
    };
    const auto before = snapshot();
    for (const Case& c : cases) {
        const Result r = mask(c.args);
        std::string line;
        for (const auto& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        expect_refused(r, 2, c.pattern, before);
    }
}

// A folder reads as an empty file and a device may never end: neither is
// taken for a text file.
TEST_F(MaskCli, TextInputsThatAreNoFilesAreRefused)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    fs::create_directory(p("folder"));
    const auto before = snapshot();
    for (const std::string option : {"--words", "--labels", "--dict", "--transcript"}) {
        for (const std::string& path : {p("folder"), std::string("/dev/zero")}) {
            std::vector<std::string> args{p("in.wav"), p("out.wav"), option, path};
            if (option == "--dict" || option == "--transcript") {
                args.insert(args.end(), {"--word", "damn"});
            }
            SCOPED_TRACE(option + " " + path);
            expect_refused(mask(args), 2, "(list|file|dictionary|transcript) '.*' is a (folder|device, not a file)\n",
                           before);
        }
    }
}

// Audio that cannot be read, or that ends before its header says: frames
// would go missing from the output, so each is refused like any bad input.
TEST_F(MaskCli, DamagedAudioIsRefusedAsBadInput)
{
    write_noise(p("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 96000);
    write_noise(p("good.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 96000);
    const std::string wav = slurp(p("good.wav"));
    std::string flac = slurp(p("good.flac"));
    std::mt19937 rng(3);
    const auto noise = [&](std::size_t n) {
        std::string bytes(n, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(rng());
        }
        return bytes;
    };
    flac.replace(flac.size() / 2, 2048, noise(2048));
    const std::pair<const char*, std::string> files[] = {
        {"empty.wav", ""},
        {"header-cut.wav", wav.substr(0, 30)},
        {"noise.wav", noise(4096)},
        {"riff-then-noise.wav", wav.substr(0, 12) + noise(500)},
        {"samples-cut.wav", wav.substr(0, 200000)},
        {"middle-damaged.flac", flac},
    };
    for (const auto& [name, bytes] : files) {
        std::ofstream(p(name), std::ios::binary) << bytes;
    }
    const auto before = snapshot();
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const Result r = mask({p(name), p("out.wav"), "--mask", "0.5-1"});
        expect_refused(r, 2, "cannot read input|is truncated", before);
    }
}

// A chunk whose size runs past the end of the file is cut short: it is named
// as not carried, and no memory is taken for the size it claims.
TEST_F(MaskCli, ChunkSizesPastTheEndOfTheFileAreNotBelieved)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own memory does not fit the limit set here";
#endif
    if (access("/usr/bin/prlimit", X_OK) != 0) {
        GTEST_SKIP() << "no /usr/bin/prlimit (util-linux) to limit the program's memory";
    }
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 441000);
    std::ofstream(p("in.wav"), std::ios::binary | std::ios::app) << "iXML\xF0\xFF\xFF\xFF<BWFXML>";
    const Result r = mask({p("in.wav"), p("out.flac"), "--mask", "1-2"}, {},
                          {"/usr/bin/prlimit", "--as=" + std::to_string(1000 << 20), "--"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex("not carried into FLAC: iXML \\(cut short\\)"))) << r.err;
    EXPECT_EQ(read_audio(p("out.flac"), Kind::Int).info.frames, 441000);
}

TEST_F(MaskCli, MissingPluginNamesLv2PathAndTheBuildTreeIsALastResort)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 800);
    // A copy outside the build tree has no fallback.
    fs::create_directory(dir / "bin");
    fs::copy_file(ZENDRIK_MASK_EXE, dir / "bin" / "zendrik-mask");
    const Result r
        = finish(spawn({(dir / "bin" / "zendrik-mask").string(), p("in.wav"), p("out.wav"), "--mask", "0.01-0.02"},
                       logs, {{"LV2_PATH", p("no-plugins-here")}}),
                 logs);
    EXPECT_EQ(r.status, 2);
    expect_one_error_line(r, "not found in LV2_PATH \\(" + p("no-plugins-here") + "\\)");
    EXPECT_FALSE(fs::exists(p("out.wav")));

    // The build's own program finds the build's bundle anyway.
    const Result built
        = mask({p("in.wav"), p("out.wav"), "--mask", "0.01-0.02", "-q"}, {{"LV2_PATH", p("no-plugins-here")}});
    EXPECT_EQ(built.status, 0) << built.err;
}

TEST_F(MaskCli, RelativeLv2PathEntriesAreFound)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 800);
    // A copy outside the build tree, so only LV2_PATH can lead to the plugin.
    fs::create_directory(dir / "bin");
    fs::copy_file(ZENDRIK_MASK_EXE, dir / "bin" / "zendrik-mask");
    fs::create_directory_symlink(std::getenv("LV2_PATH"), dir / "plugins");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    const Result r
        = finish(spawn({(dir / "bin" / "zendrik-mask").string(), "in.wav", "out.wav", "--mask", "0.01-0.02", "-q"},
                       logs, {{"LV2_PATH", "missing:plugins"}}),
                 logs);
    fs::current_path(cwd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(fs::exists(p("out.wav")));
}

// ---- Faults: failed writes and interruptions -------------------------------

TEST_F(MaskCli, FailedWriteExitsOneAndLeavesTheTargetAlone)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000);
    std::ofstream(p("out.wav")) << "precious";
    const auto before = snapshot();
    // 64 blocks of 512 bytes: the file size limit strikes like a full disk.
    const Result r = finish(spawn({"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" \"$@\"", ZENDRIK_MASK_EXE, p("in.wav"),
                                   p("out.wav"), "--mask", "0.1-0.2"},
                                  logs, {}),
                            logs);
    expect_refused(r, 1, "cannot write '" + p("out.wav") + "': File too large", before);

    // A folder that is not there.
    const Result r2 = mask({p("in.wav"), p("no-such-folder/out.wav"), "--mask", "0.1-0.2"});
    expect_refused(r2, 1, "cannot create a file in", before);
}

// libsndfile's MP3 encoder drops its own write errors: the output written
// through it must fail like any other.
TEST_F(MaskCli, FailedMp3WriteExitsOneAndLeavesTheTargetAlone)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 44100 * 4);
    std::ofstream(p("out.mp3")) << "precious";
    const auto before = snapshot();
    const Result r = finish(spawn({"/bin/sh", "-c", "ulimit -f 30 && exec \"$0\" \"$@\"", ZENDRIK_MASK_EXE, p("in.wav"),
                                   p("out.mp3"), "--format", "mp3", "--mask", "1-2", "-q"},
                                  logs, {}),
                            logs);
    expect_refused(r, 1, "cannot write '" + p("out.mp3") + "': File too large", before);
}

TEST_F(MaskCli, FullDiskExitsOneAndLeavesTheTargetAlone)
{
    fs::create_directory(dir / "small");
    if (mount("tmpfs", p("small").c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "); the file size limit in FailedWriteExitsOneAndLeavesTheTargetAlone stands in";
    }
    mounted = dir / "small";
    // 384 kB of output cannot fit in 256 kB.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000);
    std::ofstream(p("small/out.wav")) << "precious";
    const auto before = snapshot();
    const Result r = mask({p("in.wav"), p("small/out.wav"), "--mask", "0.1-0.2"});
    expect_refused(r, 1, "cannot write '.*': No space left on device", before);
}

// Root may read and write anything, so as root these runs are nobody's.
TEST_F(MaskCli, UnreadableInputAndUnwritableFolderAreRefused)
{
    std::vector<std::string> as_user;
    if (geteuid() == 0) {
        as_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        fs::permissions(dir,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                            | fs::perms::others_exec);
        if (mask({"--version"}, {}, as_user).status != 0) {
            GTEST_SKIP() << "nobody cannot run " << ZENDRIK_MASK_EXE << " from here";
        }
    }
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000);
    fs::copy_file(p("in.wav"), p("locked.wav"));
    fs::permissions(p("locked.wav"), fs::perms::none);
    fs::create_directory(p("open"));
    fs::permissions(p("open"), fs::perms::all);
    fs::create_directory(p("locked"));
    fs::permissions(p("locked"),
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec
                        | fs::perms::others_read | fs::perms::others_exec);
    const auto before = snapshot();

    const Result unreadable = mask({p("locked.wav"), p("open/out.wav"), "--mask", "0.5-1"}, {}, as_user);
    expect_refused(unreadable, 2, "cannot open input '.*': Permission denied", before);

    const Result unwritable = mask({p("in.wav"), p("locked/out.wav"), "--mask", "0.5-1"}, {}, as_user);
    expect_refused(unwritable, 1, "cannot create a file in '.*': Permission denied", before);
    fs::permissions(p("locked"), fs::perms::owner_all); // so that TearDown can empty it
}

TEST_F(MaskCli, WriteProtectedOutputIsReplacedOnlyWithForce)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    std::ofstream(p("out.wav")) << "precious";
    const auto read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(p("out.wav"), read_only);
    fs::create_symlink("out.wav", p("link.wav"));
    const auto before = snapshot();
    for (const char* name : {"out.wav", "link.wav"}) {
        const Result r = mask({p("in.wav"), p(name), "--mask", "0.1-0.2"});
        EXPECT_EQ(r.status, 1) << r.err;
        expect_one_error_line(r, std::string("output '.*") + name + "' is write-protected; --force replaces it");
        EXPECT_EQ(snapshot(), before);
    }
    const Result forced = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--force", "-q"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(ffprobe(p("out.wav"), "format=format_name", logs), "wav");
    EXPECT_EQ(fs::status(p("out.wav")).permissions(), read_only);
}

// libsndfile misreads 32-bit Apple Lossless, so it is refused. (ffmpeg's ALAC
// encoder stops at 24 bits: libsndfile writes the file, ffprobe checks it.)
TEST_F(MaskCli, ThirtyTwoBitAppleLosslessIsRefused)
{
    write_noise(p("in.caf"), SF_FORMAT_CAF | SF_FORMAT_ALAC_32, 8000, 1, 4000);
    EXPECT_EQ(ffprobe(p("in.caf"), "stream=codec_name,bits_per_raw_sample", logs), "alac,32");
    const auto before = snapshot();
    const Result r = mask({p("in.caf"), p("out.caf"), "--mask", "0.1-0.2"});
    EXPECT_EQ(r.status, 2) << r.err;
    expect_one_error_line(r, "is 32-bit Apple Lossless, which libsndfile decodes wrongly; convert it .* ffmpeg");
    EXPECT_EQ(snapshot(), before);
}

// A file name with a line end, a label with a NUL: still one whole line.
TEST_F(MaskCli, ErrorsAreOneLineWhateverTheNamesHold)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    std::ofstream(p("odd\nname.txt"), std::ios::binary) << std::string("0.1\0x\t0.2\tq\n", 12);
    const Result r = mask({p("in.wav"), p("out.wav"), "--labels", p("odd\nname.txt")});
    EXPECT_EQ(r.status, 2) << r.err;
    expect_one_error_line(r, "odd\\\\nname\\.txt:1: '0\\.1\\\\x00x' is not a time");
}

class MaskInterrupted : public MaskCli, public ::testing::WithParamInterface<int> {};

TEST_P(MaskInterrupted, KilledMidwayLeavesTheTargetUntouched)
{
    const int sig = GetParam();
    // The decode path writes as it goes, a frame at a time with block size 1:
    // the file grows for seconds, where the copy path would be done at once.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 48000 * 20);
    std::ofstream(p("out.wav")) << "precious";
    const auto before = snapshot();
    const pid_t pid = spawn({ZENDRIK_MASK_EXE, p("in.wav"), p("out.wav"), "--mask", "1-2", "--block", "1"}, logs,
                            {{"ZENDRIK_MASK_DECODE", "1"}});
    // Wait until the temporary file has grown, then strike.
    bool caught = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!caught && std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : files_now()) {
            // file_size gives -1 for a file already gone.
            std::error_code gone;
            const std::uintmax_t size = fs::file_size(dir / name, gone);
            caught = caught || (name.rfind(".out.wav.", 0) == 0 && !gone && size > 256 * 1024);
        }
        if (!caught) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    kill(pid, sig);
    const Result r = finish(pid, logs);
    ASSERT_TRUE(caught) << "never saw the temporary file grow";
    EXPECT_EQ(r.signal, sig) << "exit status " << r.status << ": " << r.err;
    auto after = snapshot();
    if (sig == SIGKILL) {
        // Nothing can clean up after SIGKILL: the temporary file may stay.
        std::erase_if(after, [](const auto& entry) { return entry.first.rfind(".out.wav.", 0) == 0; });
    }
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, MaskInterrupted, ::testing::Values(SIGKILL, SIGTERM, SIGINT), [](const ::testing::TestParamInfo<int>& i) {
        return std::string(i.param == SIGKILL ? "SIGKILL" : i.param == SIGTERM ? "SIGTERM" : "SIGINT");
    });

} // namespace mask_test

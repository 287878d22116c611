// SPDX-License-Identifier: ISC
// zendrik-mask end to end, how its outputs replace what was there: only
// regular files, through links, all of them or none, keeping the replaced
// file's owner and mode, and cleaning up after runs that were killed.
#include "cli_harness.h"

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

namespace mask_test {

TEST_F(MaskCli, NodesThatAreNotRegularFilesAreNeverReplaced)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    ASSERT_EQ(mkfifo(p("fifo").c_str(), 0666), 0);
    std::vector<std::pair<std::string, mode_t>> nodes{{"fifo", S_IFIFO}};
    // /dev/null's numbers; root only.
    if (mknod(p("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        nodes.emplace_back("null", S_IFCHR);
    }
    const auto before = snapshot();
    for (const auto& [node, type] : nodes) {
        for (const char* role : {"", "--write-labels", "--report"}) {
            SCOPED_TRACE(node + " as " + role);
            std::vector<std::string> args{p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", role, p(node)};
            if (*role == '\0') {
                args = {p("in.wav"), p(node), "--mask", "0.1-0.2"};
            }
            expect_refused(mask(args), 2, "'.*" + node + "' is a (FIFO|character device), not a regular file", before);
            struct stat status {};
            ASSERT_EQ(lstat(p(node).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & S_IFMT, type);
        }
    }
}

TEST_F(MaskCli, LabelsOnAFullDiskLeaveTheAudioTargetUntouched)
{
    fs::create_directory(dir / "small");
    if (mount("tmpfs", p("small").c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    }
    mounted = dir / "small";
    const int fill = open(p("small/fill").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'x');
    while (write(fill, block.data(), block.size()) > 0) {
    }
    close(fill);
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    std::ofstream(p("out.wav")) << "precious";
    const auto before = snapshot();
    const Result r = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--write-labels", p("small/found.txt")});
    expect_refused(r, 1, "cannot write labels '.*found.txt': No space left on device", before);
}

TEST_F(MaskCli, LabelsAndReportAreWrittenThroughSymbolicLinks)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    fs::create_directory(p("takes"));
    std::ofstream(p("takes/labels.txt")) << "old";
    fs::create_symlink("takes/labels.txt", p("labels.txt"));
    fs::create_symlink("takes/report.json", p("report.json")); // to a file yet to be made
    const Result r = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--write-labels", p("labels.txt"),
                           "--report", p("report.json"), "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(p("labels.txt")));
    EXPECT_TRUE(fs::is_symlink(p("report.json")));
    EXPECT_EQ(slurp(p("takes/labels.txt")), "0.100000000\t0.200000000\t--mask 0.1-0.2\n");
    EXPECT_NE(slurp(p("takes/report.json")).find("\"ranges_given\": 1"), std::string::npos);
}

TEST_F(MaskCli, ReplacedFilesKeepOwnerAndModeAndOtherNamesAreWarnedOf)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give files to another user";
    }
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    for (const char* name : {"out.wav", "found.txt"}) {
        std::ofstream(p(name)) << "old";
        ASSERT_EQ(chown(p(name).c_str(), 12345, 23456), 0);
        ASSERT_EQ(chmod(p(name).c_str(), 0640), 0);
    }
    fs::create_hard_link(p("out.wav"), p("other-name.wav"));
    const Result r = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--write-labels", p("found.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: output '" + p("out.wav") + "' has 1 other name (hard links)"), std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(p("other-name.wav")), "old");
    EXPECT_EQ(ffprobe(p("out.wav"), "format=format_name", logs), "wav");
    for (const char* name : {"out.wav", "found.txt"}) {
        struct stat status {};
        ASSERT_EQ(stat(p(name).c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 12345u) << name;
        EXPECT_EQ(status.st_gid, 23456u) << name;
        EXPECT_EQ(status.st_mode & 07777, 0640u) << name;
    }
}

// The temporary file of a run killed part-way is removed by the next run,
// unless locked (a run in another PID namespace, whose PID means nothing
// here); a file of the user's own named like one is kept.
TEST_F(MaskCli, TemporaryFilesOfRunsThatAreGoneAreRemovedAndOnlyThey)
{
    // Decoded a frame at a time, the run takes a moment.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 48000 * 8);
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    const std::string own = ".out.wav.zendrik-mask." + std::to_string(gone) + ".Ab3dEf";
    std::ofstream(p(own)) << "the user's";
    const auto temporaries = [this, &own] {
        std::vector<std::string> found;
        std::error_code error;
        for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.rfind(".out.wav.zendrik-mask.", 0) == 0 && name != own) {
                found.push_back(name);
            }
        }
        return found;
    };
    const std::vector<std::string> args{ZENDRIK_MASK_EXE, p("in.wav"), p("out.wav"), "--mask", "1-2", "--block", "1"};
    const pid_t killed = spawn(args, logs, {{"ZENDRIK_MASK_DECODE", "1"}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // Killed once it has written: a file only just made may not bear its
    // run's mark yet, and an unmarked one is never another run's to remove.
    const auto written = [&] {
        for (const std::string& name : temporaries()) {
            std::error_code error;
            const auto size = fs::file_size(p(name), error);
            if (!error && size > 0) {
                return true;
            }
        }
        return false;
    };
    while (!written() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(killed, SIGKILL);
    finish(killed, logs);
    const std::vector<std::string> left = temporaries();
    ASSERT_EQ(left.size(), 1u);

    // Held locked, as a live run elsewhere holds its own: kept.
    const int lock = open(p(left[0]).c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const std::vector<std::string> quick{p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "-q"};
    ASSERT_EQ(mask(quick).status, 0);
    EXPECT_EQ(temporaries(), left);
    close(lock);
    ASSERT_EQ(mask(quick).status, 0);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_EQ(slurp(p(own)), "the user's");
}

TEST_F(MaskCli, NoFileWrittenIsOneReadOrWrittenUnderAnotherName)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    std::ofstream(p("lab.txt")) << "0.1\t0.2\tcough\n";
    std::ofstream(p("words.txt")) << "damn\n";
    std::ofstream(p("talk.srt")) << "1\n00:00:00,100 --> 00:00:00,200\ndamn\n";
    // Links to files yet to be made.
    fs::create_symlink("real.wav", p("link.wav"));
    fs::create_symlink("real.txt", p("link.txt"));
    const std::string in = p("in.wav");
    const auto before = snapshot();
    expect_refused(mask({in, p("link.wav"), "--mask", "0.1-0.2", "--write-labels", p("real.wav")}), 2,
                   "--write-labels '.*real.wav' is the same file as the output '.*link.wav'", before);
    expect_refused(
        mask({in, p("out.wav"), "--mask", "0.1-0.2", "--write-labels", p("link.txt"), "--report", p("real.txt")}), 2,
        "--report '.*real.txt' is the same file as the file of --write-labels", before);
    expect_refused(mask({in, p("lab.txt"), "--labels", p("lab.txt"), "--format", "wav"}), 2,
                   "output '.*lab.txt' is the same file as a label file", before);
    expect_refused(
        mask({in, p("words.txt"), "--words", p("words.txt"), "--transcript", p("talk.srt"), "--format", "wav"}), 2,
        "output '.*words.txt' is the same file as a word list", before);
    expect_refused(mask({in, p("talk.srt"), "--word", "damn", "--transcript", p("talk.srt"), "--format", "wav"}), 2,
                   "output '.*talk.srt' is the same file as the transcript", before);
}

TEST_F(MaskCli, AClosedStandardErrorComesBetweenNoRenames)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    // An iXML chunk, which FLAC cannot carry: its warning comes once the audio is written.
    const std::string add_ixml
        = "import struct,sys\nd=open(sys.argv[1],'rb').read()+b'iXML\\x08\\0\\0\\0<BWFXML>'\n"
          "open(sys.argv[1],'wb').write(d[:4]+struct.pack('<I',len(d)-8)+d[8:])";
    ASSERT_EQ(finish(spawn({"/usr/bin/python3", "-c", add_ixml, p("in.wav")}, logs, {}), logs).status, 0);
    std::ofstream(p("found.txt")) << "old";
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], 2);
        execl(ZENDRIK_MASK_EXE, ZENDRIK_MASK_EXE, p("in.wav").c_str(), p("out.flac").c_str(), "--mask", "0.1-0.2",
              "--write-labels", p("found.txt").c_str(), nullptr);
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(slurp(p("found.txt")), "0.100000000\t0.200000000\t--mask 0.1-0.2\n");
    EXPECT_EQ(finish(spawn({"/usr/bin/flac", "-t", "-s", p("out.flac")}, logs, {}), logs).status, 0);
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename().string().find(".zendrik-mask."), std::string::npos) << entry.path();
    }
}

TEST_F(MaskCli, ATargetTurnedIntoAFolderDuringTheRunLeavesEveryTargetAlone)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    std::ofstream(p("out.wav")) << "precious";
    std::ofstream(p("found.txt")) << "old";
    // The run waits on this manifest once its targets are checked, before it writes.
    fs::create_directories(dir / "slow" / "slow.lv2");
    const std::string manifest = p("slow/slow.lv2/manifest.ttl");
    ASSERT_EQ(mkfifo(manifest.c_str(), 0666), 0);
    const pid_t pid
        = spawn({ZENDRIK_MASK_EXE, p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--write-labels", p("found.txt")},
                logs, {{"LV2_PATH", p("slow")}});
    int writer = -1;
    while ((writer = open(manifest.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(writer, 0) << "the run ended before reading the manifest";
    fs::remove(p("found.txt"));
    fs::create_directory(p("found.txt"));
    ASSERT_EQ(write(writer, "# empty\n", 8), 8);
    close(writer);
    const Result r = finish(pid, logs);
    EXPECT_EQ(r.status, 1);
    expect_one_error_line(r, "cannot replace '.*found.txt': it is no longer a regular file");
    EXPECT_TRUE(slurp(p("out.wav")) == "precious") << "out.wav was replaced";
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename().string().find(".zendrik-mask."), std::string::npos) << entry.path();
    }
}

} // namespace mask_test

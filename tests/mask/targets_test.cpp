// SPDX-License-Identifier: ISC
// zendrik-mask end to end, how its outputs replace what was there: only
// regular files, through links, all of them or none, keeping the replaced
// file's owner and mode, and cleaning up after runs that were killed.
#include "cli_harness.h"

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

TEST_F(MaskCli, TemporaryFilesOfRunsThatAreGoneAreRemoved)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    const std::string stale = ".out.wav.zendrik-mask." + std::to_string(gone) + ".Ab3dEf";
    const std::string running = ".out.wav.zendrik-mask." + std::to_string(getpid()) + ".Gh5jKl";
    std::ofstream(p(stale)) << "left by a killed run";
    std::ofstream(p(running)) << "being written";
    ASSERT_EQ(mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "-q"}).status, 0);
    EXPECT_FALSE(fs::exists(p(stale)));
    EXPECT_EQ(slurp(p(running)), "being written");
}

} // namespace mask_test

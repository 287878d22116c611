// SPDX-License-Identifier: ISC
// zendrik-mask's output is read back before it replaces the target: a full
// disk while TagLib writes the tags (it drops its own write errors) must fail
// the run, not leave a damaged file in the target's place. Outputs are checked
// with flac and metaflac.
#include "cli_harness.h"

#include <sys/mount.h>
#include <sys/statvfs.h>

namespace mask_test {

namespace {

Result run_tool(const std::vector<std::string>& argv, const fs::path& logs)
{
    const Result r = finish(spawn(argv, logs, {}), logs);
    EXPECT_EQ(r.status, 0) << argv[0] << ": " << r.err;
    return r;
}

} // namespace

TEST_F(MaskCli, TagsCutShortByAFullDiskLeaveTheTargetAlone)
{
    // 5 s of FLAC with a title and a 500 kB cover: the tags outweigh the audio.
    run_tool({"/usr/bin/sox", "-n", "-r", "44100", "-c", "2", "-b", "16", p("in.flac"), "synth", "5", "sine", "440"},
             logs);
    std::string cover = "\xff\xd8\xff\xe0";
    std::mt19937 rng(15);
    for (int i = 0; i < 500 * 1024; ++i) {
        cover += static_cast<char>(rng());
    }
    std::ofstream(p("cover.jpg"), std::ios::binary) << cover;
    run_tool({"/usr/bin/metaflac", "--set-tag=TITLE=Rain",
              "--import-picture-from=3|image/jpeg||600x600x24|" + p("cover.jpg"), p("in.flac")},
             logs);

    fs::create_directory(dir / "small");
    if (mount("tmpfs", p("small").c_str(), "tmpfs", 0, "size=2m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    }
    mounted = dir / "small";
    for (const char* name : {"o.mp3", "o.ogg", "o.flac"}) {
        // Room for the audio, not for the tags.
        for (const long room : {150 * 1024, 450 * 1024}) {
            SCOPED_TRACE(std::string(name) + " with " + std::to_string(room) + " bytes free");
            const std::string out = p("small/") + name;
            std::ofstream(out) << "OLD\n";
            struct statvfs disk {};
            ASSERT_EQ(statvfs(p("small").c_str(), &disk), 0);
            std::ofstream(p("small/filler"))
                << std::string(disk.f_bavail * disk.f_frsize - static_cast<unsigned long>(room), '\0');
            const auto before = snapshot();
            const Result r = mask({p("in.flac"), out, "--mask", "1-2", "-q"});
            expect_refused(r, 1, "cannot write '" + out + "': the file written", before);
            fs::remove(p("small/filler"));
        }
    }

    // With room, the same run writes the whole file, tags and all.
    const Result r = mask({p("in.flac"), p("small/o.flac"), "--mask", "1-2", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    run_tool({"/usr/bin/flac", "-t", "-s", p("small/o.flac")}, logs);
    EXPECT_EQ(run_tool({"/usr/bin/metaflac", "--show-tag=TITLE", p("small/o.flac")}, logs).out, "TITLE=Rain\n");
    run_tool({"/usr/bin/metaflac", "--export-picture-to=" + p("small/back.jpg"), p("small/o.flac")}, logs);
    EXPECT_EQ(slurp(p("small/back.jpg")), cover);
}

} // namespace mask_test

// SPDX-License-Identifier: ISC
// A failed write of the output names the error of the write that failed,
// not one an earlier call left in errno.
#include "audio_file.h"
#include "errors.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace zendrik_mask;

namespace {

namespace fs = std::filesystem;

// /dev/full fails every write with ENOSPC, header and samples alike.
TEST(MaskOutputWrites, AFailedWriteNamesItsOwnError)
{
    SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    const fs::path tags_path = fs::temp_directory_path() / ("zendrik-writes-" + std::to_string(getpid()) + ".wav");
    SNDFILE* made = sf_open(tags_path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(made, nullptr) << sf_strerror(nullptr);
    sf_close(made);
    const InputFile tags_from(tags_path.string());
    fs::remove(tags_path);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) {
        GTEST_SKIP() << "no /dev/full here";
    }

    OutputFile output(full, info, "out.wav", tags_from);
    const auto frames = FrameBuffer::make(info.format, info.format, 64, 1);
    const auto message_of = [](const auto& step) -> std::string {
        errno = EACCES; // an earlier call's
        try {
            step();
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), EXIT_WRITE_FAILED);
            return e.message();
        }
        return "(no error)";
    };
    const std::string full_disk = "cannot write 'out.wav': " + std::string(std::strerror(ENOSPC));
    EXPECT_EQ(message_of([&] { frames->write(output, 64); }), full_disk);
    EXPECT_EQ(message_of([&] { output.close(); }), full_disk);
    close(full);
}

} // namespace

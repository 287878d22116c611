// SPDX-License-Identifier: ISC
// A failed write of the output names the error of the write that failed,
// not one an earlier call left in errno; bytes the device lost are found by
// reading them back.
#include "audio_file.h"
#include "errors.h"
#include "output_check.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
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

// The copy path's spans, written in pieces, read back whole: a byte changed
// under them or a file of another size fails the check.
TEST(MaskOutputWrites, BytesThatDoNotReadBackFailTheOutput)
{
    char name[] = "/tmp/zendrik-read-back-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    std::string bytes(300000, 'a');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 % 251);
    }
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    WrittenBytes written;
    for (const auto& [offset, length] : {std::pair{100, 70000}, std::pair{70100, 1}, std::pair{200000, 99999}}) {
        written.add(offset, bytes.data() + offset, static_cast<std::size_t>(length));
    }
    const auto message_of = [&](int64_t size) -> std::string {
        try {
            written.check(fd, size, "out.wav");
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), EXIT_WRITE_FAILED);
            return e.message();
        }
        return "(no error)";
    };
    EXPECT_EQ(message_of(300000), "(no error)");
    EXPECT_EQ(message_of(300001),
              "cannot write 'out.wav': the file written holds 300000 of the 300001 bytes of the input");
    // Outside the spans nothing is compared; inside, one byte is enough.
    const auto flip = [&](std::size_t at) {
        const char changed = static_cast<char>(bytes[at] ^ 1);
        ASSERT_EQ(pwrite(fd, &changed, 1, static_cast<off_t>(at)), 1);
    };
    flip(150000);
    EXPECT_EQ(message_of(300000), "(no error)");
    flip(299998);
    EXPECT_EQ(message_of(300000),
              "cannot write 'out.wav': the file written reads back other samples than were written");
    close(fd);
}

} // namespace

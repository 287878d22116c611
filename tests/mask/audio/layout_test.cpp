// SPDX-License-Identifier: ISC
// pcm_layout on files sox and ffmpeg wrote, with chunks added by
// pcm_files.py, whose manifest says where each keeps its samples.
#include "pcm_layout.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zendrik_mask {
namespace {

namespace fs = std::filesystem;

class PcmLayoutFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string templ = (fs::temp_directory_path() / "zendrik-layout-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        folder_ = templ;
        const std::string command = "python3 '" ZENDRIK_PCM_FILES_SCRIPT "' '" + folder_.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() { fs::remove_all(folder_); }

    static std::string bytes_of(const std::string& name)
    {
        std::ifstream in(folder_ / name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static fs::path folder_;
};

fs::path PcmLayoutFiles::folder_;

TEST_F(PcmLayoutFiles, FindsTheSamplesTheManifestNames)
{
    std::ifstream manifest(folder_ / "manifest.txt");
    std::string line;
    int files = 0;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, status;
        fields >> name >> status;
        SCOPED_TRACE(line);
        const std::string bytes = bytes_of(name);
        const PcmLayout layout = read_pcm_layout(MemoryReader(bytes));
        ++files;
        if (status == "truncated") {
            EXPECT_EQ(layout.status, PcmLayout::Status::truncated) << layout.reason;
            continue;
        }
        if (status == "unknown") {
            EXPECT_EQ(layout.status, PcmLayout::Status::unknown);
            continue;
        }
        int64_t offset = 0, length = 0;
        int channels = 0, bytes_per_sample = 0;
        fields >> offset >> length >> channels >> bytes_per_sample;
        ASSERT_EQ(layout.status, PcmLayout::Status::found) << layout.reason;
        EXPECT_EQ(layout.samples.offset, offset);
        EXPECT_EQ(layout.samples.length, length);
        EXPECT_EQ(layout.samples.channels, channels);
        EXPECT_EQ(layout.samples.bytes_per_sample, bytes_per_sample);
        // The byte order libsndfile reads these files in.
        const bool big = name.find(".aiff") != std::string::npos || name.find(".au") != std::string::npos
            || name.find(".caf") != std::string::npos;
        EXPECT_EQ(layout.samples.sndfile_encoding(), SF_FORMAT_PCM_24 | (big ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE));
    }
    EXPECT_GE(files, 16);
}

// Each encoding the copy path writes, from the header fields that name it:
// 8-bit WAV is unsigned and 8-bit AIFF signed, AIFC names its coding and
// byte order, and a streamed AU runs to the end of the file.
TEST(PcmLayout, ReadsTheEncodingFromTheHeader)
{
    const auto wav = [](uint16_t tag, uint16_t bits, uint16_t align) {
        std::string fmt(16, '\0');
        const uint16_t fields[] = {tag, 1, 8000, 0, 0, 0, align, bits};
        std::memcpy(fmt.data(), fields, sizeof fields);
        std::string body = "WAVEfmt " + std::string("\x10\0\0\0", 4) + fmt + "data" + std::string("\x04\0\0\0", 4)
            + std::string(4, '\x01');
        return "RIFF" + std::string(4, '\0') + body;
    };
    const auto aifc = [](const char* compression, uint16_t bits) {
        std::string comm = std::string("\0\x01\0\0\0\x04", 6) + static_cast<char>(bits >> 8) + static_cast<char>(bits)
            + std::string(10, '\0') + compression + std::string(2, '\0');
        // SSND: its offset and block size fields, then room for 4 frames of doubles.
        std::string body = "AIFCCOMM" + std::string("\0\0\0\x18", 4) + comm + "SSND" + std::string("\0\0\0\x28", 4)
            + std::string(8, '\0') + std::string(32, '\x01');
        return "FORM" + std::string(4, '\0') + body;
    };
    std::string au = ".snd" + std::string("\0\0\0\x18\xff\xff\xff\xff\0\0\0\x1b\0\0\x1f\x40\0\0\0\x01", 20);
    au += std::string(7, '\x55');
    struct Case {
        std::string bytes;
        int encoding;
        int64_t length;
    };
    const Case cases[] = {
        {wav(1, 8, 1), SF_FORMAT_PCM_U8 | SF_ENDIAN_LITTLE, 4},
        {wav(3, 32, 4), SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE, 4},
        {wav(7, 8, 1), SF_FORMAT_ULAW | SF_ENDIAN_LITTLE, 4},
        {wav(6, 8, 1), SF_FORMAT_ALAW | SF_ENDIAN_LITTLE, 4},
        {aifc("NONE", 8), SF_FORMAT_PCM_S8 | SF_ENDIAN_BIG, 4},
        {aifc("sowt", 16), SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 8},
        {aifc("fl64", 64), SF_FORMAT_DOUBLE | SF_ENDIAN_BIG, 32},
        {aifc("ulaw", 16), SF_FORMAT_ULAW | SF_ENDIAN_BIG, 4},
        {au, SF_FORMAT_ALAW | SF_ENDIAN_BIG, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 4) + " " + std::to_string(c.encoding));
        const PcmLayout layout = read_pcm_layout(MemoryReader(c.bytes));
        ASSERT_EQ(layout.status, PcmLayout::Status::found) << layout.reason;
        EXPECT_EQ(layout.samples.sndfile_encoding(), c.encoding);
        EXPECT_EQ(layout.samples.length, c.length);
    }
    // Compressed samples are not for the copy path.
    EXPECT_EQ(read_pcm_layout(MemoryReader(wav(0x11, 4, 256))).status, PcmLayout::Status::unknown);
    EXPECT_EQ(read_pcm_layout(MemoryReader(aifc("ima4", 16))).status, PcmLayout::Status::unknown);
}

} // namespace
} // namespace zendrik_mask

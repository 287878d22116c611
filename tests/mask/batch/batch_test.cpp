// SPDX-License-Identifier: ISC
// The batch library alone: shares, records and manifests.
#include "errors.h"
#include "file_list.h"
#include "record.h"
#include "shard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace zendrik_mask {
namespace {

namespace fs = std::filesystem;

Environment environment(std::map<std::string, std::string> values)
{
    return [values](const std::string& name) -> std::optional<std::string> {
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
}

TEST(Shard, EveryFileInExactlyOneShareAndSharesBalanced)
{
    std::vector<int> counts(4);
    for (int i = 0; i < 4000; ++i) {
        const std::string path = "calls/2024/call-" + std::to_string(i) + ".wav";
        int shares = 0;
        for (unsigned k = 0; k < 4; ++k) {
            if (in_shard(path, {k, 4})) {
                ++shares;
                ++counts[k];
            }
        }
        ASSERT_EQ(shares, 1) << path;
    }
    for (const int count : counts) {
        EXPECT_NEAR(count, 1000, 100);
    }
}

TEST(Shard, ParsesGivenAndSchedulersShares)
{
    const Environment none = environment({});
    EXPECT_EQ(parse_shard("2/5", none).index, 2u);
    EXPECT_EQ(parse_shard("2/5", none).count, 5u);
    for (const char* bad : {"5/5", "1/0", "1", "-1/2", "a/b", "1/2/3", "auto"}) {
        EXPECT_THROW(parse_shard(bad, none), Error) << bad;
    }
    // An array numbered from 1 (--array=1-4): the first task takes share 0.
    const Shard slurm = parse_shard("auto",
                                    environment({{"SLURM_ARRAY_TASK_ID", "3"},
                                                 {"SLURM_ARRAY_TASK_MIN", "1"},
                                                 {"SLURM_ARRAY_TASK_MAX", "4"},
                                                 {"SLURM_ARRAY_TASK_COUNT", "4"}}));
    EXPECT_EQ(slurm.index, 2u);
    EXPECT_EQ(slurm.count, 4u);
    const Shard pod = parse_shard("auto", environment({{"JOB_COMPLETION_INDEX", "7"}, {"ZENDRIK_MASK_SHARDS", "8"}}));
    EXPECT_EQ(pod.index, 7u);
    EXPECT_THROW(parse_shard("auto", environment({{"JOB_COMPLETION_INDEX", "7"}})), Error);
}

// Slurm's variables as sbatch --array sets them: a task takes its own share
// of a range or stepped range, and refuses any other array.
TEST(Shard, AutoTakesEachTaskOfARangeOrSteppedRangeAndRefusesOtherArrays)
{
    const auto slurm = [](unsigned id, unsigned first, unsigned last, unsigned step, unsigned count) {
        return parse_shard("auto",
                           environment({{"SLURM_ARRAY_TASK_ID", std::to_string(id)},
                                        {"SLURM_ARRAY_TASK_MIN", std::to_string(first)},
                                        {"SLURM_ARRAY_TASK_MAX", std::to_string(last)},
                                        {"SLURM_ARRAY_TASK_STEP", std::to_string(step)},
                                        {"SLURM_ARRAY_TASK_COUNT", std::to_string(count)}}));
    };
    // --array=0-6:2: tasks 0, 2, 4, 6 take shares 0 to 3 of 4.
    for (unsigned id = 0; id <= 6; id += 2) {
        EXPECT_EQ(slurm(id, 0, 6, 2, 4).index, id / 2);
    }
    EXPECT_EQ(slurm(15, 0, 15, 1, 16).count, 16u);
    // --array=3,7,9 and --array=3,7 after --array=0-15: no share can be told.
    for (const unsigned id : {3u, 7u, 9u}) {
        EXPECT_THROW(slurm(id, 3, 9, 1, 3), Error) << id;
        EXPECT_THROW(slurm(id, 3, 7, 1, 2), Error) << id;
    }
}

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zendrik-batch-test-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return dir_ / name;
    }
    fs::path dir_;
};

TEST_F(Files, RecordStandsOnlyForTheSameInputOptionsAndOutput)
{
    const fs::path input = write("in.wav", "RIFF....");
    const fs::path output = write("out.wav", "masked");
    FileRecord record;
    record.input = "in.wav";
    record.output = output.string();
    record.identity = examine(input.string());
    record.identity.content_hash = content_hash(input.string());
    record.options_hash = "options";
    record.words_found = {{"damn*", 2}};
    write_record(record);
    const std::optional<FileRecord> read = read_record(output.string());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->words_found.at("damn*"), 2);
    FileIdentity now = examine(input.string());
    now.content_hash = content_hash(input.string());
    EXPECT_TRUE(still_valid(*read, now, "options"));
    EXPECT_FALSE(still_valid(*read, now, "other options"));
    FileIdentity changed = now;
    changed.content_hash = "0000000000000000";
    EXPECT_FALSE(still_valid(*read, changed, "options"));
    changed = now;
    changed.mtime_ns += 1;
    EXPECT_FALSE(still_valid(*read, changed, "options"));
    // A failed write is tried again; a refused input is not.
    FileRecord failed = *read;
    failed.status = EXIT_WRITE_FAILED;
    EXPECT_FALSE(still_valid(failed, now, "options"));
    failed.status = EXIT_BAD_INPUT;
    EXPECT_TRUE(still_valid(failed, now, "options"));
    fs::remove(output);
    EXPECT_FALSE(still_valid(*read, now, "options"));
    // No temporary file is left beside the record.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(Files, ManifestsInTsvAndCsv)
{
    const fs::path tsv = write("list.tsv",
                               "input\toutput\tlabels\ttranscript\n"
                               "# a comment\n"
                               "input.wav\tout/a.wav\n"
                               "/abs/b.wav\t/abs/out/b.flac\tb.txt\tb.json\n");
    const std::vector<BatchFile> files = read_manifest(tsv.string());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].key, "input.wav");
    EXPECT_EQ(files[0].input, (dir_ / "input.wav").string());
    EXPECT_EQ(files[0].labels, "");
    EXPECT_EQ(files[1].output, "/abs/out/b.flac");
    EXPECT_EQ(files[1].transcript, (dir_ / "b.json").string());

    const fs::path csv = write("list.csv", "\"a, b.wav\",\"out \"\"1\"\".wav\",,\r\nc.wav,d.wav\r\n");
    const std::vector<BatchFile> quoted = read_manifest(csv.string());
    ASSERT_EQ(quoted.size(), 2u);
    EXPECT_EQ(quoted[0].key, "a, b.wav");
    EXPECT_EQ(quoted[0].output, (dir_ / "out \"1\".wav").string());
    EXPECT_EQ(quoted[1].output, (dir_ / "d.wav").string());

    for (const char* bad : {"a.wav\n", "\"a.wav,b.wav\n", "a.wav,,x\n", "", "a,b,c,d,e\n"}) {
        EXPECT_THROW(read_manifest(write("bad.csv", bad).string()), Error) << bad;
    }
}

TEST(FileList, OutputsMayNeitherReplaceInputsNorCollide)
{
    EXPECT_NO_THROW(check_outputs({{"a.wav", "/in/a.wav", "/out/a.wav", "", ""}}));
    EXPECT_THROW(check_outputs({{"a.wav", "/in/a.wav", "/in/a.wav", "", ""}}), Error);
    EXPECT_THROW(
        check_outputs({{"a.wav", "/in/a.wav", "/out/a.flac", "", ""}, {"a.flac", "/in/a.flac", "/out/a.flac", "", ""}}),
        Error);
    EXPECT_EQ(extension_for_format("flac:pcm16"), "flac");
    EXPECT_EQ(extension_for_format(":pcm16"), "");
}

TEST_F(Files, ACsvQuotedFieldMayHoldALineEnd)
{
    const fs::path csv = write("lines.csv", "\"two\r\nlines.wav\",out.wav\nc.wav,d.wav\n");
    const std::vector<BatchFile> files = read_manifest(csv.string());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].key, "two\nlines.wav");
    EXPECT_EQ(files[1].key, "c.wav");
}

TEST(FileList, AnOutputMayNotReplaceAnotherOutputsRecord)
{
    EXPECT_THROW(check_outputs({{"a.wav", "/in/a.wav", "/out/a.wav", "", ""},
                                {"b.wav", "/in/b.wav", "/out/a.wav.zendrik.json", "", ""}}),
                 Error);
}

} // namespace
} // namespace zendrik_mask

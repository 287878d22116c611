// SPDX-License-Identifier: ISC
// Audio encoded again through libsndfile, block by block through the plugin,
// with the metadata the output's format can carry.
#include "output_writer.h"

#include "metadata.h"
#include "output_check.h"
#include "progress.h"
#include "tag_check.h"

namespace zendrik_mask {

namespace {

// The plugin runs over every frame, its blocks cut at range edges.
Written run_blocks(const Plan& plan, Lv2Host& host, InputFile& input, FrameBuffer& buffer, OutputFile& output,
                   bool show_progress)
{
    const auto channel_count = static_cast<unsigned>(input.info().channels);
    Schedule schedule(plan.ranges);
    Progress progress(show_progress, input.frames(), "writing");
    Written totals;
    while (const std::size_t read = buffer.read(input)) {
        std::size_t offset = 0;
        while (offset < read) {
            const Schedule::Block block
                = schedule.next(totals.frames + static_cast<int64_t>(offset), static_cast<int64_t>(read - offset));
            const auto length = static_cast<std::size_t>(block.length);
            host.set_enable(block.on);
            for (unsigned c = 0; c < channel_count; ++c) {
                host.run(c, buffer.plugin_input(c, offset), buffer.plugin_output(c, offset),
                         static_cast<uint32_t>(length));
            }
            // Outside the ranges, files whose samples a float cannot carry
            // whole keep their own; inside, every file takes the tone.
            if (buffer.takes_all_plugin_output() || block.on) {
                buffer.take_plugin_output(offset, length);
            }
            if (block.on) {
                totals.masked += block.length;
            }
            offset += length;
        }
        buffer.write(output, read);
        totals.frames += static_cast<int64_t>(read);
        progress.update(totals.frames);
    }
    return totals;
}

class ReencodeWriter : public OutputWriter {
public:
    ReencodeWriter(const Options& options, InputFile& input, const SF_INFO& output_info, const Mp3Bitrate& mp3_bitrate,
                   std::unique_ptr<Lv2Host> host)
        : options_(options), input_(input), output_info_(output_info), mp3_bitrate_(mp3_bitrate), host_(std::move(host))
    {
    }

    Written write(const MaskTargets& targets, TempFile& temp, bool show_progress) override
    {
        const SF_INFO& input_info = input_.info();
        OutputFile output(temp.fd(), output_info_, options_.output, input_);
        set_mp3_bitrate(output.handle(), mp3_bitrate_, output_info_.samplerate);
        MetadataCopy metadata(options_.input, input_info.format, output.info().format);
        metadata.before_audio(input_.handle(), output.handle());
        const std::unique_ptr<FrameBuffer> buffer
            = FrameBuffer::make(input_info.format, output.info().format, static_cast<std::size_t>(options_.block),
                                static_cast<std::size_t>(input_info.channels));
        Written totals = run_blocks(targets.plan, *host_, input_, *buffer, output, show_progress);
        // Frames missing from the input would be missing from the output.
        input_.check_read_whole(totals.frames);
        output.close();
        metadata.after_close(temp.path(), options_.output);
        totals.warning = metadata.warning();
        // Some of the libraries that wrote it drop their write errors: the output replaces the target only once
        // it reads back whole.
        check_decoded_length(temp.fd(), temp.path(), totals.frames, options_.output);
        check_tags_read_back(temp.path(), output_info_.format, options_.output);
        return totals;
    }

private:
    const Options& options_;
    InputFile& input_;
    SF_INFO output_info_;
    Mp3Bitrate mp3_bitrate_;
    std::unique_ptr<Lv2Host> host_;
};

} // namespace

std::unique_ptr<OutputWriter> make_reencode_writer(const Options& options, InputFile& input, const SF_INFO& output_info,
                                                   const Mp3Bitrate& mp3_bitrate, std::unique_ptr<Lv2Host> host)
{
    return std::make_unique<ReencodeWriter>(options, input, output_info, mp3_bitrate, std::move(host));
}

} // namespace zendrik_mask

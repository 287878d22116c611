// SPDX-License-Identifier: ISC
// PCM whose samples lie where pcm_layout finds them: only the masked
// samples' bytes change; headers, chunks and tags are kept by copying them.
#include "output_writer.h"

#include "plugin_settings.h"

namespace zendrik_mask {

namespace {

class CopyWriter : public OutputWriter {
public:
    CopyWriter(const Options& options, const InputFile& input, const SampleData& samples, std::unique_ptr<Lv2Host> host)
        : options_(options), input_(input), samples_(samples), host_(std::move(host))
    {
    }

    Written write(const MaskTargets& targets, TempFile& temp, bool show_progress) override
    {
        const MaskedCopy copy
            = mask_in_copy(input_, options_.input, samples_, targets.plan, tone_of(*host_, options_.block),
                           options_.block, temp, options_.output, show_progress);
        return {copy.frames, copy.masked, ""};
    }

private:
    const Options& options_;
    const InputFile& input_;
    const SampleData& samples_;
    std::unique_ptr<Lv2Host> host_;
};

} // namespace

std::unique_ptr<OutputWriter> make_copy_writer(const Options& options, const InputFile& input,
                                               const SampleData& samples, std::unique_ptr<Lv2Host> host)
{
    return std::make_unique<CopyWriter>(options, input, samples, std::move(host));
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// Video and the files FFmpeg reads: every stream but the masked audio copied
// packet for packet (media_job.h).
#include "output_writer.h"

namespace zendrik_mask {

namespace {

class MediaWriter : public OutputWriter {
public:
    MediaWriter(const Options& options, MediaSetupPtr setup) : options_(options), setup_(std::move(setup)) {}

    Written write(const MaskTargets& targets, TempFile& temp, bool show_progress) override
    {
        MediaWritten written
            = write_media(*setup_, options_, targets.stream_ranges, targets.subtitle_edits, temp, show_progress);
        return {written.frames, written.masked, std::move(written.warning)};
    }

private:
    const Options& options_;
    MediaSetupPtr setup_;
};

} // namespace

std::unique_ptr<OutputWriter> make_media_writer(const Options& options, std::vector<std::string>& warnings)
{
    return std::make_unique<MediaWriter>(options, set_up_media(options, warnings));
}

} // namespace zendrik_mask

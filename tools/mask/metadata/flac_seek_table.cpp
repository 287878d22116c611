// SPDX-License-Identifier: ISC
#include "flac_seek_table.h"

#include "errors.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <memory>
#include <string>

namespace zendrik_mask {

namespace {

struct Frame {
    uint64_t first_sample;
    uint64_t offset; // from the first frame
    unsigned samples;
};

struct FrameScan {
    uint64_t next_sample = 0;
    std::vector<Frame>* frames = nullptr;
    uint64_t position = 0;
    uint64_t audio_start = 0;
};

FLAC__StreamDecoderWriteStatus on_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                        const FLAC__int32* const[], void* data)
{
    auto* scan = static_cast<FrameScan*>(data);
    // libsndfile writes fixed-size blocks, numbered by frame; sample numbers
    // are counted here for either kind.
    scan->frames->push_back({scan->next_sample, scan->position - scan->audio_start, frame->header.blocksize});
    scan->next_sample += frame->header.blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*)
{
}

// Where every frame of the FLAC file starts, by decoding it.
std::vector<Frame> scan_frames(const std::string& path)
{
    std::vector<Frame> frames;
    std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder*)> decoder(FLAC__stream_decoder_new(),
                                                                                 FLAC__stream_decoder_delete);
    FrameScan scan;
    scan.frames = &frames;
    if (!decoder
        || FLAC__stream_decoder_init_file(decoder.get(), path.c_str(), on_frame, nullptr, on_error, &scan)
            != FLAC__STREAM_DECODER_INIT_STATUS_OK
        || !FLAC__stream_decoder_process_until_end_of_metadata(decoder.get())
        || !FLAC__stream_decoder_get_decode_position(decoder.get(), &scan.audio_start)) {
        throw write_failed("libFLAC cannot read it back");
    }
    scan.position = scan.audio_start;
    while (FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM) {
        if (!FLAC__stream_decoder_process_single(decoder.get())
            || !FLAC__stream_decoder_get_decode_position(decoder.get(), &scan.position)) {
            throw write_failed("libFLAC cannot read it back");
        }
    }
    FLAC__stream_decoder_finish(decoder.get());
    return frames;
}

using Chain = std::unique_ptr<FLAC__Metadata_Chain, void (*)(FLAC__Metadata_Chain*)>;
using Iterator = std::unique_ptr<FLAC__Metadata_Iterator, void (*)(FLAC__Metadata_Iterator*)>;

} // namespace

std::vector<uint64_t> flac_seek_points(const std::string& path)
{
    std::vector<uint64_t> samples;
    Chain chain(FLAC__metadata_chain_new(), FLAC__metadata_chain_delete);
    Iterator it(FLAC__metadata_iterator_new(), FLAC__metadata_iterator_delete);
    if (!chain || !it || !FLAC__metadata_chain_read(chain.get(), path.c_str())) {
        return samples;
    }
    FLAC__metadata_iterator_init(it.get(), chain.get());
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(it.get());
        for (unsigned i = 0; block->type == FLAC__METADATA_TYPE_SEEKTABLE && i < block->data.seek_table.num_points;
             ++i) {
            const FLAC__StreamMetadata_SeekPoint& point = block->data.seek_table.points[i];
            if (point.sample_number != FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER) {
                samples.push_back(point.sample_number);
            }
        }
    } while (FLAC__metadata_iterator_next(it.get()));
    return samples;
}

bool write_flac_seek_table(const std::string& path, const std::vector<uint64_t>& samples)
{
    Chain chain(FLAC__metadata_chain_new(), FLAC__metadata_chain_delete);
    if (!chain || !FLAC__metadata_chain_read(chain.get(), path.c_str())) {
        throw write_failed("libFLAC cannot read it back");
    }
    // Only in place, in the padding: a rewrite through libFLAC's own
    // temporary file would replace the file this program holds open.
    Iterator it(FLAC__metadata_iterator_new(), FLAC__metadata_iterator_delete);
    FLAC__metadata_iterator_init(it.get(), chain.get());
    uint64_t padding = 0;
    do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(it.get());
        if (block->type == FLAC__METADATA_TYPE_PADDING) {
            padding += block->length;
        }
    } while (FLAC__metadata_iterator_next(it.get()));
    const uint64_t room = padding / FLAC__STREAM_METADATA_SEEKPOINT_LENGTH;
    if (room == 0) {
        return false;
    }

    // Each point goes to the start of the frame that holds its sample; a
    // table too big for the room keeps points spread over the whole file.
    const std::vector<Frame> frames = scan_frames(path);
    std::unique_ptr<FLAC__StreamMetadata, void (*)(FLAC__StreamMetadata*)> table(
        FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE), FLAC__metadata_object_delete);
    const std::size_t step = (samples.size() + room - 1) / room;
    for (std::size_t i = 0; i < samples.size(); i += step) {
        const auto after = std::upper_bound(frames.begin(), frames.end(), samples[i],
                                            [](uint64_t s, const Frame& f) { return s < f.first_sample; });
        if (after == frames.begin()) {
            continue;
        }
        const Frame& frame = *std::prev(after);
        const FLAC__StreamMetadata_SeekPoint point{frame.first_sample, frame.offset, frame.samples};
        FLAC__metadata_object_seektable_insert_point(table.get(), table->data.seek_table.num_points, point);
    }
    FLAC__metadata_object_seektable_template_sort(table.get(), /*compact=*/true);
    if (table->data.seek_table.num_points == 0) {
        return true;
    }

    // Right after STREAMINFO, as flac puts it.
    FLAC__metadata_iterator_init(it.get(), chain.get());
    if (!FLAC__metadata_iterator_insert_block_after(it.get(), table.get())) {
        throw write_failed("libFLAC cannot add a seek table");
    }
    table.release(); // the chain owns it now
    if (FLAC__metadata_chain_check_if_tempfile_needed(chain.get(), /*use_padding=*/true)) {
        return false;
    }
    if (!FLAC__metadata_chain_write(chain.get(), /*use_padding=*/true, /*preserve_file_stats=*/false)) {
        throw write_failed(std::string("libFLAC cannot write its seek table: ")
                           + FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain.get())]);
    }
    return true;
}

} // namespace zendrik_mask

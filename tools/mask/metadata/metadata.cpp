// SPDX-License-Identifier: ISC
#include "metadata.h"

#include "errors.h"
#include "flac_seek_table.h"
#include "riff_chunks.h"
#include "tag_copy.h"

#include <cstring>
#include <memory>
#include <vector>

namespace zendrik_mask {

namespace {

int container(int format)
{
    return format & SF_FORMAT_TYPEMASK;
}

bool is_wav(int format)
{
    return container(format) == SF_FORMAT_WAV || container(format) == SF_FORMAT_WAVEX;
}

// Copies one libsndfile record of type T from `input` to `output`; returns
// false only when the input has one and the output's format cannot take it.
// libsndfile accepts cue points and instruments for any format but writes
// them only into some (`written`): the record is then not even set.
template <typename T>
bool copy_record(SNDFILE* input, SNDFILE* output, int get, int set, bool written = true)
{
    auto record = std::make_unique<T>();
    if (sf_command(input, get, record.get(), sizeof(T)) != SF_TRUE) {
        return true;
    }
    return written && sf_command(output, set, record.get(), sizeof(T)) == SF_TRUE;
}

// Cue points from AIFF markers come with their place in sample_offset only,
// from WAV in both; WAV's cue chunk wants both.
// Their names come back in `labels`.
bool copy_cues(SNDFILE* input, SNDFILE* output, bool written, std::vector<CueLabel>& labels)
{
    auto cues = std::make_unique<SF_CUES>();
    if (sf_command(input, SFC_GET_CUE, cues.get(), sizeof(SF_CUES)) != SF_TRUE) {
        return true;
    }
    for (uint32_t i = 0; i < cues->cue_count && i < 100; ++i) {
        SF_CUE_POINT& point = cues->cue_points[i];
        if (point.name[0] != '\0') {
            labels.push_back(
                {static_cast<uint32_t>(point.indx), std::string(point.name, strnlen(point.name, sizeof point.name))});
        }
        point.position = point.position != 0 ? point.position : point.sample_offset;
        point.sample_offset = point.sample_offset != 0 ? point.sample_offset : point.position;
    }
    return written && sf_command(output, SFC_SET_CUE, cues.get(), sizeof(SF_CUES)) == SF_TRUE;
}

} // namespace

std::string container_label(int format)
{
    switch (container(format)) {
    case SF_FORMAT_WAV: return "WAV";
    case SF_FORMAT_WAVEX: return "WAVEX";
    case SF_FORMAT_W64: return "W64";
    case SF_FORMAT_RF64: return "RF64";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_AU: return "AU";
    case SF_FORMAT_CAF: return "CAF";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_MPEG: return "MP3";
    case SF_FORMAT_OGG: return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? "Ogg Opus" : "Ogg Vorbis";
    default: return "the output's format";
    }
}

MetadataCopy::MetadataCopy(const std::string& input_path, int input_format, int output_format)
    : input_path_(input_path), input_format_(input_format), output_format_(output_format)
{
}

void MetadataCopy::lose(const std::string& what)
{
    lost_.push_back(what);
}

void MetadataCopy::before_audio(SNDFILE* input, SNDFILE* output)
{
    // The strings went over when the output was opened, one value of each
    // field. Where TagLib reads the input they are its first values: the
    // ones the warning does not name, and text libsndfile took from an MP3
    // is not always whole.
    text_ = text_fields(input);
    if (has_taglib_tags(input_format_)) {
        replace_text_fields(output, first_tag_values(input_path_, input_format_));
    }
    auto bext = std::make_unique<SF_BROADCAST_INFO>();
    if (sf_command(input, SFC_GET_BROADCAST_INFO, bext.get(), sizeof *bext) == SF_TRUE) {
        bext_version_ = bext->version;
        if (sf_command(output, SFC_SET_BROADCAST_INFO, bext.get(), sizeof *bext) != SF_TRUE) {
            lose("broadcast info (bext)");
        }
    }
    // An instrument set on an AIFF file keeps libsndfile from writing its
    // markers, and it writes no INST chunk either: loops go into WAV only.
    if (!copy_cues(input, output, is_wav(output_format_) || container(output_format_) == SF_FORMAT_AIFF, cue_labels_)) {
        lose("cue points");
    }
    if (!copy_record<SF_INSTRUMENT>(input, output, SFC_GET_INSTRUMENT, SFC_SET_INSTRUMENT, is_wav(output_format_))) {
        lose("instrument and loops (smpl)");
    }
    if (!copy_record<SF_CART_INFO>(input, output, SFC_GET_CART_INFO, SFC_SET_CART_INFO)) {
        lose("cart chunk");
    }
    // Without the map libsndfile writes the usual mask for the channel
    // count (5.1 side becomes 5.1 back) or none at all.
    SF_INFO info{};
    sf_command(input, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    std::vector<int> map(static_cast<std::size_t>(info.channels));
    const auto map_size = static_cast<int>(map.size() * sizeof(int));
    if (sf_command(input, SFC_GET_CHANNEL_MAP_INFO, map.data(), map_size) == SF_TRUE
        && sf_command(output, SFC_SET_CHANNEL_MAP_INFO, map.data(), map_size) != SF_TRUE && info.channels > 2) {
        lose("speaker layout");
    }
    if (sf_command(input, SFC_WAVEX_GET_AMBISONIC, nullptr, 0) == SF_AMBISONIC_B_FORMAT
        && sf_command(output, SFC_WAVEX_SET_AMBISONIC, nullptr, SF_AMBISONIC_B_FORMAT) != SF_AMBISONIC_B_FORMAT) {
        lose("Ambisonic B-format flag");
    }
}

void MetadataCopy::after_close(const std::string& output_path, const std::string& name)
{
    // The messages name the file the user asked for, not the temporary one.
    try {
        carry_after_close(output_path);
    } catch (const Error& e) {
        throw write_failed("cannot write the metadata of '" + name + "': " + e.message());
    }
}

void MetadataCopy::carry_after_close(const std::string& output_path)
{
    if (has_taglib_tags(input_format_) || has_taglib_tags(output_format_)) {
        for (const std::string& what : copy_tags(input_path_, input_format_, output_path, output_format_, text_)) {
            lose(what);
        }
    }
    if (bext_version_ >= 0) {
        set_bext_version(output_path, static_cast<uint16_t>(bext_version_));
    }
    // Other formats find their way by their own structure.
    if (container(input_format_) == SF_FORMAT_FLAC && container(output_format_) == SF_FORMAT_FLAC) {
        const std::vector<uint64_t> points = flac_seek_points(input_path_);
        if (!points.empty() && !write_flac_seek_table(output_path, points)) {
            lose("seek table");
        }
    }
    std::vector<RiffChunk> chunks;
    if (is_wav(input_format_)) {
        std::vector<std::string> skipped;
        chunks = extra_wav_chunks(input_path_, skipped);
        for (const std::string& name : skipped) {
            lose(name);
        }
    } else if (!cue_labels_.empty()) {
        // libsndfile reads the names of AIFF markers but writes no WAV labels.
        chunks.push_back(cue_label_chunk(cue_labels_));
    }
    if (is_wav(output_format_)) {
        append_wav_chunks(output_path, chunks);
    } else if (is_wav(input_format_)) {
        for (const std::string& name : chunk_names(chunks)) {
            // AIFF markers take the labels as their names; an MP3's ID3v2
            // tag takes the ID3 chunk.
            const bool carried = (name == "cue labels" && container(output_format_) == SF_FORMAT_AIFF)
                || (name == "ID3 chunk" && container(output_format_) == SF_FORMAT_MPEG);
            if (!carried) {
                lose(name);
            }
        }
    }
}

std::string MetadataCopy::warning() const
{
    if (lost_.empty()) {
        return {};
    }
    std::string list;
    for (const std::string& what : lost_) {
        list += (list.empty() ? "" : ", ") + what;
    }
    return "not carried into " + container_label(output_format_) + ": " + list;
}

} // namespace zendrik_mask

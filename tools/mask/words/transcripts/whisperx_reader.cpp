// SPDX-License-Identifier: ISC
// WhisperX's JSON: its word_segments, the words after forced alignment.
#include "json_fields.h"
#include "json_stream.h"
#include "readers.h"

namespace zendrik_mask {

void read_whisperx(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings)
{
    // Its segments hold the same words again: they are not read.
    static const JsonShape shape{{"word_segments"}, {"word_segments[]"}};
    std::size_t untimed = 0;
    stream_json(source, shape, {source.name(), ""},
                [&](std::string_view path, const nlohmann::json& value, const Place& place) {
                    if (path.empty()) {
                        required_array(value, "word_segments", place);
                    } else if (auto word = json_word(value, place, "word", "score", true)) {
                        sink(std::move(*word));
                    } else {
                        ++untimed;
                    }
                });
    // Skipped in silence, any of them could be a word that was meant to be bleeped.
    if (untimed > 0) {
        warnings.push_back(source.name() + ": " + std::to_string(untimed)
                           + (untimed == 1 ? " word has no times (WhisperX could not align it)"
                                           : " words have no times (WhisperX could not align them)")
                           + " and cannot be bleeped");
    }
}

} // namespace zendrik_mask

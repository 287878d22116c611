// SPDX-License-Identifier: ISC
// WhisperX's JSON: its word_segments, the words after forced alignment.
#include "json_fields.h"
#include "readers.h"

#include <utility>

namespace zendrik_mask {

void read_whisperx(std::string_view text, const std::string& name, Transcript& transcript)
{
    const nlohmann::json root = parse_json(text, 0, text.size(), name);
    const Place top{name, ""};
    const nlohmann::json& segments = required_array(root, "word_segments", top);
    std::size_t untimed = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (auto word = json_word(segments[i], top.item("word_segments", i), "word", "score", true)) {
            transcript.words.push_back(std::move(*word));
        } else {
            ++untimed;
        }
    }
    // Skipped in silence, any of them could be a word that was meant to be bleeped.
    if (untimed > 0) {
        transcript.warnings.push_back(name + ": " + std::to_string(untimed)
                                      + (untimed == 1 ? " word has no times (WhisperX could not align it)"
                                                      : " words have no times (WhisperX could not align them)")
                                      + " and cannot be bleeped");
    }
}

} // namespace zendrik_mask

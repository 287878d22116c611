// SPDX-License-Identifier: ISC
// openai-whisper's JSON and those made like it: faster-whisper's, stable-ts's,
// whisper-timestamped's.
#include "json_fields.h"
#include "readers.h"
#include "transcript_text.h"

namespace zendrik_mask {

void read_whisper(std::string_view text, const std::string& name, Transcript& transcript)
{
    using nlohmann::json;
    const json root = parse_json(text, 0, text.size(), name);
    const Place top{name, ""};
    const json* segments = &required_array(root, "segments", top);
    for (std::size_t i = 0; i < segments->size(); ++i) {
        const Place segment_place = top.item("segments", i);
        const json& segment = (*segments)[i];
        require_object(segment, segment_place);
        const json* segment_words = array_field(segment, "words", segment_place);
        if (!segment_words) {
            const std::string* segment_text = text_field(segment, "text", segment_place);
            if (segment_text && !is_blank(*segment_text)) {
                throw segment_place.error("text without word times: run whisper with --word_timestamps True");
            }
            continue;
        }
        for (std::size_t k = 0; k < segment_words->size(); ++k) {
            const json& word = (*segment_words)[k];
            // whisper-timestamped writes "text" and "confidence" for the same.
            const bool timestamped = word.is_object() && word.contains("text") && !word.contains("word");
            transcript.words.push_back(*json_word(word, segment_place.item("words", k), timestamped ? "text" : "word",
                                                  timestamped ? "confidence" : "probability"));
        }
    }
}

} // namespace zendrik_mask

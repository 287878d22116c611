// SPDX-License-Identifier: ISC
// openai-whisper's JSON and those made like it: faster-whisper's, stable-ts's,
// whisper-timestamped's.
#include "json_fields.h"
#include "json_stream.h"
#include "readers.h"
#include "transcript_text.h"

namespace zendrik_mask {

void read_whisper(TextSource& source, const WordSink& sink, std::vector<std::string>& /*warnings*/)
{
    using nlohmann::json;
    static const JsonShape shape{{"segments", "segments[].words"}, {"segments[].words[]", "segments[].text"}};
    stream_json(source, shape, {source.name(), ""}, [&](std::string_view path, const json& value, const Place& place) {
        if (path == "segments[].words[]") {
            // whisper-timestamped writes "text" and "confidence" for the same.
            const bool timestamped = value.is_object() && value.contains("text") && !value.contains("word");
            sink(*json_word(value, place, timestamped ? "text" : "word", timestamped ? "confidence" : "probability"));
        } else if (path == "segments[]") {
            require_object(value, place);
            if (!array_field(value, "words", place)) {
                const std::string* segment_text = text_field(value, "text", place);
                if (segment_text && !is_blank(*segment_text)) {
                    throw place.error("text without word times: run whisper with --word_timestamps True");
                }
            }
        } else {
            required_array(value, "segments", place);
        }
    });
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// Vosk's results: {"result": [...], "text"}, one alone, an array of them, or
// several one after another as scripts print them.
#include "json_fields.h"
#include "json_stream.h"
#include "readers.h"
#include "transcript_text.h"

namespace zendrik_mask {

void read_vosk(TextSource& source, const WordSink& sink, std::vector<std::string>& /*warnings*/)
{
    using nlohmann::json;
    static const JsonShape shape{{"", "result", "[].result"}, {"result[]", "[].result[]", "text", "[].text"}};
    const auto handle = [&](std::string_view path, const json& value, const Place& place) {
        if (path == "result[]" || path == "[].result[]") {
            sink(*json_word(value, place, "word", "conf"));
        } else if (path == "[]" || !value.is_array()) {
            // Objects without "result" (partial results, silence) give
            // nothing; their text, words Vosk was not asked to time.
            require_object(value, place);
            if (!array_field(value, "result", place)) {
                const std::string* text = text_field(value, "text", place);
                if (text && !is_blank(*text)) {
                    throw place.error("text without word times: run Vosk with SetWords(True)");
                }
            }
        }
    };
    for (bool first = true;; first = false) {
        while (is_space(static_cast<char>(source.sgetc()))) {
            source.sbumpc();
        }
        if (source.sgetc() == TextSource::traits_type::eof()) {
            return;
        }
        // Several objects, as printed one result at a time: each after the
        // first is known by its line.
        const std::string name = first ? source.name() : at_line(source.name(), source.line_at(source.offset()));
        stream_json(source, shape, {name, ""}, handle, false);
    }
}

} // namespace zendrik_mask

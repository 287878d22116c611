// SPDX-License-Identifier: ISC
// whisper.cpp's JSON: tokens joined into words (-ojf), or entries read as
// cues when it was written without tokens (-oj).
#include "cues.h"
#include "json_fields.h"
#include "json_stream.h"
#include "readers.h"
#include "text.h"

#include <algorithm>
#include <utility>

namespace zendrik_mask {

namespace {

using nlohmann::json;

bool is_special_token(std::string_view text)
{
    return starts_with(text, "[_") || starts_with(text, "<|");
}

} // namespace

void read_whisper_cpp(TextSource& source, const WordSink& sink, std::vector<std::string>& /*warnings*/)
{
    static const JsonShape shape{{"transcription", "transcription[].tokens"},
                                 {"transcription[].tokens[]", "transcription[].text", "transcription[].offsets"}};
    // The word being joined from tokens; none while `joining` is false. (Not an
    // optional: GCC 12 then warns of a string read uninitialised.)
    TimedWord open;
    bool joining = false;
    const auto close = [&] {
        if (joining && !is_blank(open.text)) {
            sink(std::move(open));
        }
        joining = false;
    };
    const auto offsets_of = [](const json& object, const Place& place) {
        const auto it = object.find("offsets");
        if (it == object.end()) {
            throw place.error("no \"offsets\"");
        }
        const Place offsets_place = place.member("offsets");
        require_object(*it, offsets_place);
        const double from = required_time(*it, "from", offsets_place, 1000);
        const double to = required_time(*it, "to", offsets_place, 1000);
        if (to < from) {
            throw offsets_place.error("\"to\" is before \"from\"");
        }
        return std::pair(from, to);
    };
    // Words run on across entries: -ml splits them wherever the length
    // says, inside a word too.
    const auto read_token = [&](const json& token, const Place& place) {
        require_object(token, place);
        const std::string* text = text_field(token, "text", place);
        if (!text) {
            throw place.error("no \"text\"");
        }
        if (is_special_token(*text)) {
            close();
            return;
        }
        const auto [from, to] = offsets_of(token, place);
        const auto p = confidence_field(token, "p", place);
        if (!joining || starts_with(*text, " ")) {
            close();
            open = TimedWord{*text, from, to, p, false, place.origin()};
            joining = true;
            return;
        }
        // Tokens that never start a word would make one as long as the file.
        if (open.text.size() + text->size() > TextSource::LONGEST_STRING) {
            throw place.error("a word joined from tokens passes " + std::to_string(TextSource::LONGEST_STRING >> 10)
                              + " KiB (no token starts a new one with a space)");
        }
        open.text += *text;
        open.end = std::max(open.end, to);
        if (p) {
            open.confidence = std::min(open.confidence.value_or(1.0), *p);
        }
    };
    stream_json(source, shape, {source.name(), ""}, [&](std::string_view path, const json& value, const Place& place) {
        if (path == "transcription[].tokens[]") {
            read_token(value, place);
        } else if (path == "transcription[]") {
            require_object(value, place);
            if (!array_field(value, "tokens", place)) {
                // Plain -oj: the entry is a cue.
                close();
                const std::string* text = text_field(value, "text", place);
                if (!text) {
                    throw place.error("no \"text\"");
                }
                const auto [from, to] = offsets_of(value, place);
                add_cue_words(*text, from, to, place.origin(), sink);
            }
        } else {
            required_array(value, "transcription", place);
        }
    });
    close();
}

} // namespace zendrik_mask

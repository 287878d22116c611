// SPDX-License-Identifier: ISC
// whisper.cpp's JSON: tokens joined into words (-ojf), or entries read as
// cues when it was written without tokens (-oj).
#include "cues.h"
#include "json_fields.h"
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

void read_whisper_cpp(std::string_view source, const std::string& name, Transcript& transcript)
{
    const json root = parse_json(source, 0, source.size(), name);
    const Place top{name, ""};
    const json* entries = &required_array(root, "transcription", top);
    std::vector<TimedWord>& words = transcript.words;
    // The word being joined from tokens; none while `joining` is false. (Not an
    // optional: GCC 12 then warns of a string read uninitialised.)
    TimedWord open;
    bool joining = false;
    const auto close = [&] {
        if (joining && !is_blank(open.text)) {
            words.push_back(std::move(open));
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
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const Place entry_place = top.item("transcription", i);
        const json& entry = (*entries)[i];
        require_object(entry, entry_place);
        const json* tokens = array_field(entry, "tokens", entry_place);
        if (!tokens) {
            // Plain -oj: the entry is a cue.
            close();
            const std::string* text = text_field(entry, "text", entry_place);
            if (!text) {
                throw entry_place.error("no \"text\"");
            }
            const auto [from, to] = offsets_of(entry, entry_place);
            add_cue_words(*text, from, to, entry_place.origin(), words);
            continue;
        }
        // Words run on across entries: -ml splits them wherever the length
        // says, inside a word too.
        for (std::size_t k = 0; k < tokens->size(); ++k) {
            const Place token_place = entry_place.item("tokens", k);
            const json& token = (*tokens)[k];
            require_object(token, token_place);
            const std::string* text = text_field(token, "text", token_place);
            if (!text) {
                throw token_place.error("no \"text\"");
            }
            if (is_special_token(*text)) {
                close();
                continue;
            }
            const auto [from, to] = offsets_of(token, token_place);
            const auto p = confidence_field(token, "p", token_place);
            if (!joining || starts_with(*text, " ")) {
                close();
                open = TimedWord{*text, from, to, p, false, token_place.origin()};
                joining = true;
                continue;
            }
            open.text += *text;
            open.end = std::max(open.end, to);
            if (p) {
                open.confidence = std::min(open.confidence.value_or(1.0), *p);
            }
        }
    }
    close();
}

} // namespace zendrik_mask

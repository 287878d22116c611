// SPDX-License-Identifier: ISC
// Vosk's results: {"result": [...], "text"}, one alone, an array of them, or
// several one after another as scripts print them.
#include "json_fields.h"
#include "readers.h"
#include "transcript_text.h"

#include <algorithm>

namespace zendrik_mask {

namespace {

using nlohmann::json;

void read_vosk_object(const json& value, const Place& place, std::vector<TimedWord>& words)
{
    require_object(value, place);
    if (const json* result = array_field(value, "result", place)) {
        for (std::size_t i = 0; i < result->size(); ++i) {
            words.push_back(*json_word((*result)[i], place.item("result", i), "word", "conf"));
        }
    }
}

} // namespace

void read_vosk(std::string_view text, const std::string& name, Transcript& transcript)
{
    std::vector<TimedWord>& words = transcript.words;
    const auto values = json_values(text);
    std::size_t line = 1;
    std::size_t counted = 0; // the bytes whose line ends are in `line`
    for (const auto& [begin, end] : values) {
        const json value = parse_json(text, begin, end, name);
        line += static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                                                    text.begin() + static_cast<std::ptrdiff_t>(begin), '\n'));
        counted = begin;
        // Several objects, as printed one result at a time: each is known by its line.
        const Place place{values.size() > 1 ? at_line(name, line) : name, ""};
        if (value.is_array()) {
            for (std::size_t i = 0; i < value.size(); ++i) {
                read_vosk_object(value[i], place.item("", i), words);
            }
        } else {
            read_vosk_object(value, place, words);
        }
    }
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// JSON read as a stream (nlohmann-json's SAX interface): the arrays that
// hold the words are handed over an element at a time and never kept whole,
// and of everything else only what a reader asks for is kept.
#ifndef ZENDRIK_MASK_JSON_STREAM_H
#define ZENDRIK_MASK_JSON_STREAM_H

#include "json_fields.h"
#include "text_source.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// Paths name places in a value whatever the index: "segments" is the top
// object's member, "segments[]" any element of it, "segments[].words" the
// member of that. The top is "".
struct JsonShape {
    // Arrays whose elements are handed over one at a time. In what holds
    // them they are left empty, so that a reader still sees that they were there.
    std::vector<std::string> streamed;
    // Values kept whole. Every other member of what is handed over is dropped.
    std::vector<std::string> kept;
};

// Called with each element of a streamed array once it is read, then with
// the top value (path ""), each holding only what the shape keeps; `place`
// is where it lies ("segments[3].words[2]").
using JsonHandler = std::function<void(std::string_view path, const nlohmann::json& value, const Place& place)>;

// Reads one JSON value from where `source` stands. `strict`: nothing but
// blanks may follow. Syntax errors name the line.
void stream_json(TextSource& source, const JsonShape& shape, const Place& top, const JsonHandler& handler,
                 bool strict = true);

// The keys the top object holds, or its first element's when it is an
// array, as far as `text` shows them: what a format is told from.
struct JsonOutline {
    bool object = false;                // the top is an object, or an array of one first
    bool array = false;                 // the top is an array
    std::vector<std::string> keys;      // in the order written
    std::vector<std::string> word_keys; // of the first segments[].words[] element
    bool complete = false;              // the first value ends inside `text`
    bool keys_complete = false;         // so does the object the keys are from
    std::string open_key;               // the top member `text` ends inside, when it is cut
};

// Throws the bad-input Error for a syntax error before the end of `text`,
// or anywhere when `whole`.
JsonOutline json_outline(std::string_view text, bool whole, const std::string& name);

} // namespace zendrik_mask

#endif

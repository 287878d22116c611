// SPDX-License-Identifier: ISC
// What the JSON readers share: fields read with their checks, each failure
// naming where the value lies.
#ifndef ZENDRIK_MASK_JSON_FIELDS_H
#define ZENDRIK_MASK_JSON_FIELDS_H

#include "errors.h"
#include "timed_words.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zendrik_mask {

// Where a JSON value lies, for messages and origins: "talk.json: segments[3].words[2]".
struct Place {
    std::string name; // the file's, with a line when the file holds several values
    std::string path; // empty for the top

    std::string origin() const { return path.empty() ? name : name + ": " + path; }
    Error error(const std::string& what) const { return bad_input(origin() + ": " + what); }
    Place item(std::string_view key, std::size_t index) const
    {
        const std::string prefix = path.empty() || key.empty() ? path : path + ".";
        return {name, prefix + std::string(key) + "[" + std::to_string(index) + "]"};
    }
    Place member(std::string_view key) const
    {
        return {name, path.empty() ? std::string(key) : path + "." + std::string(key)};
    }
};

std::string quoted(std::string_view key);

// nlohmann's message without its exception id and its own idea of the
// position (we give the line ourselves).
std::string json_message(const char* what);

void require_object(const nlohmann::json& value, const Place& place);

// The array under `key`, or null when there is none.
const nlohmann::json* array_field(const nlohmann::json& object, std::string_view key, const Place& place);

// The array under `key` of the object at the top of a transcript, which must be there.
const nlohmann::json& required_array(const nlohmann::json& root, std::string_view key, const Place& top);

// A time under `key`, in seconds once divided by `per_second`: nothing when
// absent or null.
std::optional<double> time_field(const nlohmann::json& object, std::string_view key, const Place& place,
                                 double per_second = 1);
double required_time(const nlohmann::json& object, std::string_view key, const Place& place, double per_second = 1);

std::optional<double> confidence_field(const nlohmann::json& object, std::string_view key, const Place& place);

const std::string* text_field(const nlohmann::json& object, std::string_view key, const Place& place);

// One word as the JSON formats write it. Untimed words are skipped when
// `skip_untimed`.
std::optional<TimedWord> json_word(const nlohmann::json& value, const Place& place, std::string_view text_key,
                                   std::string_view confidence_key, bool skip_untimed = false);

} // namespace zendrik_mask

#endif

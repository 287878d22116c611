// SPDX-License-Identifier: ISC
#include "json_fields.h"

#include "text.h"
#include "transcript_text.h"

#include <cmath>

namespace zendrik_mask {

using nlohmann::json;

std::string quoted(std::string_view key)
{
    return "\"" + std::string(key) + "\"";
}

std::string json_message(const char* what)
{
    std::string_view message(what);
    if (const auto id_end = message.find("] "); id_end != std::string_view::npos) {
        message.remove_prefix(id_end + 2);
    }
    if (starts_with(message, "parse error")) {
        if (const auto colon = message.find(": "); colon != std::string_view::npos) {
            message.remove_prefix(colon + 2);
        }
    }
    return std::string(message);
}

void require_object(const json& value, const Place& place)
{
    if (!value.is_object()) {
        throw place.error("not a JSON object");
    }
}

const json* array_field(const json& object, std::string_view key, const Place& place)
{
    const auto it = object.find(key);
    if (it == object.end()) {
        return nullptr;
    }
    if (!it->is_array()) {
        throw place.error(quoted(key) + " is not an array");
    }
    return &*it;
}

const json& required_array(const json& root, std::string_view key, const Place& top)
{
    require_object(root, top);
    const json* array = array_field(root, key, top);
    if (!array) {
        throw top.error("no " + quoted(key));
    }
    return *array;
}

std::optional<double> time_field(const json& object, std::string_view key, const Place& place, double per_second)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_number()) {
        throw place.error(quoted(key) + " is not a number");
    }
    const double seconds = it->get<double>() / per_second;
    if (!std::isfinite(seconds)) {
        throw place.error(quoted(key) + " is not finite");
    }
    if (seconds < 0) {
        throw place.error(quoted(key) + " is negative");
    }
    return seconds + 0.0; // no -0
}

double required_time(const json& object, std::string_view key, const Place& place, double per_second)
{
    if (const auto seconds = time_field(object, key, place, per_second)) {
        return *seconds;
    }
    throw place.error("no " + quoted(key));
}

std::optional<double> confidence_field(const json& object, std::string_view key, const Place& place)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    const double confidence = it->is_number() ? it->get<double>() : NAN;
    if (!(confidence >= 0 && confidence <= 1)) {
        throw place.error(quoted(key) + " is not a number from 0 to 1");
    }
    return confidence;
}

const std::string* text_field(const json& object, std::string_view key, const Place& place)
{
    const auto it = object.find(key);
    if (it == object.end()) {
        return nullptr;
    }
    if (!it->is_string()) {
        throw place.error(quoted(key) + " is not text");
    }
    return it->get_ptr<const std::string*>();
}

std::optional<TimedWord> json_word(const json& value, const Place& place, std::string_view text_key,
                                   std::string_view confidence_key, bool skip_untimed)
{
    require_object(value, place);
    const std::string* text = text_field(value, text_key, place);
    if (!text) {
        throw place.error("no " + quoted(text_key));
    }
    if (is_blank(*text)) {
        throw place.error(quoted(text_key) + " is empty");
    }
    const auto start = time_field(value, "start", place);
    const auto end = time_field(value, "end", place);
    if (!start || !end) {
        if (skip_untimed) {
            return std::nullopt;
        }
        throw place.error(start ? "no \"end\"" : "no \"start\"");
    }
    if (*end < *start) {
        throw place.error("\"end\" is before \"start\"");
    }
    return TimedWord{*text, *start, *end, confidence_field(value, confidence_key, place), false, place.origin()};
}

} // namespace zendrik_mask

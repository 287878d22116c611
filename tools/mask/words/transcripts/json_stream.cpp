// SPDX-License-Identifier: ISC
#include "json_stream.h"

#include "errors.h"
#include "transcript_text.h"

#include <algorithm>
#include <istream>
#include <utility>

namespace zendrik_mask {

namespace {

using nlohmann::json;

bool has(const std::vector<std::string>& paths, std::string_view path)
{
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// Where a value goes once read.
struct Slot {
    enum Kind { top, element, member, dropped } kind = dropped;
    std::string path;
    Place place;
    std::string key; // of a member
};

class ShapeReader {
public:
    ShapeReader(TextSource& source, const JsonShape& shape, const Place& top, const JsonHandler& handler)
        : source_(source), shape_(shape), top_(top), handler_(handler), start_(source.offset())
    {
    }

    bool null() { return value(json(nullptr)); }
    bool boolean(bool v) { return value(json(v)); }
    bool number_integer(json::number_integer_t v) { return value(json(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return value(json(v)); }
    bool number_float(json::number_float_t v, const json::string_t& /*unused*/) { return value(json(v)); }
    bool string(json::string_t& v) { return value(json(std::move(v))); }
    bool binary(json::binary_t& /*unused*/) { return true; } // never in JSON text
    bool start_object(std::size_t /*unused*/) { return value(json::object(), true); }
    bool start_array(std::size_t /*unused*/) { return value(json::array(), true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& key)
    {
        if (skipping_ == 0) {
            (building_.empty() ? frames_.back().key : key_) = key;
        }
        return true;
    }

    bool parse_error(std::size_t /*unused*/, const std::string& /*unused*/, const nlohmann::detail::exception& e)
    {
        if (const auto* syntax = dynamic_cast<const json::parse_error*>(&e)) {
            // e.byte counts from 1 to the last byte read.
            const std::size_t at = start_ + (syntax->byte > 0 ? syntax->byte - 1 : 0);
            throw bad_input(at_line(top_.name, source_.line_at(at)) + ": not valid JSON: " + json_message(e.what()));
        }
        throw bad_input(top_.name + ": not valid JSON: " + json_message(e.what()));
    }

private:
    struct Frame {
        enum Mode { partial, stream, whole } mode;
        Slot slot;
        json value;
        std::string key;       // of the member being read
        std::size_t index = 0; // elements so far
    };

    bool value(json&& v, bool container = false)
    {
        if (skipping_ > 0) {
            skipping_ += container ? 1 : 0;
            return true;
        }
        if (!building_.empty()) {
            json& parent = *building_.back();
            json* slot = nullptr;
            if (parent.is_object()) {
                slot = &(parent[key_] = std::move(v));
            } else {
                parent.push_back(std::move(v));
                slot = &parent.back();
            }
            if (container) {
                building_.push_back(slot);
            }
            return true;
        }
        Slot slot = next_slot();
        const bool streamed = has(shape_.streamed, slot.path);
        if (slot.kind == Slot::dropped || (slot.kind == Slot::member && !streamed && !has(shape_.kept, slot.path))) {
            skipping_ += container ? 1 : 0;
            return true;
        }
        if (!container) {
            deliver(slot, std::move(v));
        } else if (has(shape_.kept, slot.path)) {
            frames_.push_back({Frame::whole, std::move(slot), std::move(v), {}, 0});
            building_.push_back(&frames_.back().value);
        } else {
            const bool stream = streamed && v.is_array();
            frames_.push_back({stream ? Frame::stream : Frame::partial, std::move(slot), std::move(v), {}, 0});
        }
        return true;
    }

    bool close()
    {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        if (!building_.empty()) {
            building_.pop_back();
            if (!building_.empty()) {
                return true;
            }
        }
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        deliver(frame.slot, frame.mode == Frame::stream ? json::array() : std::move(frame.value));
        return true;
    }

    Slot next_slot()
    {
        if (frames_.empty()) {
            return {Slot::top, "", top_, ""};
        }
        Frame& frame = frames_.back();
        if (frame.mode == Frame::stream) {
            return {Slot::element, frame.slot.path + "[]", frame.slot.place.item("", frame.index++), ""};
        }
        if (!frame.value.is_object()) {
            return {}; // an array where an object belongs: only its being there counts
        }
        return {Slot::member, frame.slot.path.empty() ? frame.key : frame.slot.path + "." + frame.key,
                frame.slot.place.member(frame.key), frame.key};
    }

    void deliver(const Slot& slot, json&& v)
    {
        if (slot.kind == Slot::member) {
            frames_.back().value[slot.key] = std::move(v);
        } else {
            handler_(slot.path, v, slot.place);
        }
    }

    TextSource& source_;
    const JsonShape& shape_;
    const Place& top_;
    const JsonHandler& handler_;
    std::size_t start_;
    std::vector<Frame> frames_;
    std::vector<json*> building_; // the containers open inside a value kept whole
    std::string key_;             // ... and the key read last there
    std::size_t skipping_ = 0;    // containers open inside a value dropped
};

// What json_outline looks for, stopping at the first word.
class Outliner {
public:
    explicit Outliner(JsonOutline& outline) : outline_(outline) {}

    bool null() { return scalar(); }
    bool boolean(bool /*unused*/) { return scalar(); }
    bool number_integer(json::number_integer_t /*unused*/) { return scalar(); }
    bool number_unsigned(json::number_unsigned_t /*unused*/) { return scalar(); }
    bool number_float(json::number_float_t /*unused*/, const json::string_t& /*unused*/) { return scalar(); }
    bool string(json::string_t& /*unused*/) { return scalar(); }
    bool binary(json::binary_t& /*unused*/) { return scalar(); }
    bool start_object(std::size_t /*unused*/) { return open(true); }
    bool start_array(std::size_t /*unused*/) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& key)
    {
        path_.back() = key;
        if (keys_here()) {
            outline_.keys.push_back(key);
            outline_.open_key = key;
        } else if (in_word() && !word_done_) {
            outline_.word_keys.push_back(key);
        }
        return true;
    }

    bool parse_error(std::size_t byte, const std::string& /*unused*/, const nlohmann::detail::exception& e)
    {
        error_byte_ = byte;
        error_ = e.what();
        return false;
    }

    std::size_t error_byte_ = 0;
    std::string error_;

private:
    // The top object's keys, or those of the first element of a top array.
    bool keys_here() const
    {
        return (path_.size() == 1 && top_object_) || (path_.size() == 2 && !top_object_ && first_element_);
    }
    bool in_word() const { return path_.size() == 5 && path_[0] == "segments" && path_[2] == "words"; }
    bool scalar()
    {
        if (path_.size() == 1 && top_object_) {
            outline_.open_key.clear();
        } else if (path_.size() == 1) {
            ++elements_;
        }
        return true;
    }
    bool open(bool object)
    {
        if (path_.empty()) {
            top_object_ = object;
            outline_.object = object;
            outline_.array = !object;
        } else if (path_.size() == 1 && !top_object_) {
            first_element_ = elements_++ == 0;
            outline_.object = outline_.object || (first_element_ && object);
        }
        path_.emplace_back();
        return true;
    }
    bool close()
    {
        word_done_ = word_done_ || in_word();
        path_.pop_back();
        outline_.complete = path_.empty();
        outline_.keys_complete
            = outline_.keys_complete || outline_.complete || (path_.size() == 1 && !top_object_ && first_element_);
        if (path_.size() == 1 && !top_object_) {
            return true; // an element of the top array was counted when it opened
        }
        return scalar();
    }

    JsonOutline& outline_;
    std::vector<std::string> path_; // the key at each depth ("" in arrays)
    bool top_object_ = false;
    bool first_element_ = false;
    std::size_t elements_ = 0;
    bool word_done_ = false;
};

} // namespace

void stream_json(TextSource& source, const JsonShape& shape, const Place& top, const JsonHandler& handler, bool strict)
{
    source.cut_long_strings();
    ShapeReader reader(source, shape, top, handler);
    std::istream in(&source);
    json::sax_parse(in, &reader, json::input_format_t::json, strict);
}

JsonOutline json_outline(std::string_view text, bool whole, const std::string& name)
{
    JsonOutline outline;
    Outliner outliner(outline);
    json::sax_parse(text.begin(), text.end(), &outliner, json::input_format_t::json, false);
    // A value cut where the text does is expected of a prefix.
    const bool cut = !whole && outliner.error_byte_ > text.size();
    if (!outliner.error_.empty() && !cut && !outline.complete) {
        throw bad_input(at_line(name, line_at(text, outliner.error_byte_ > 0 ? outliner.error_byte_ - 1 : 0))
                        + ": not valid JSON: " + json_message(outliner.error_.c_str()));
    }
    return outline;
}

} // namespace zendrik_mask

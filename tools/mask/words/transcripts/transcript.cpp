// SPDX-License-Identifier: ISC
#include "transcript.h"

#include "text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace zendrik_mask {

namespace {

using nlohmann::json;

constexpr std::pair<TranscriptFormat, std::string_view> FORMAT_NAMES[] = {
    {TranscriptFormat::whisper, "whisper"},
    {TranscriptFormat::whisperx, "whisperx"},
    {TranscriptFormat::whisper_cpp, "whisper.cpp"},
    {TranscriptFormat::vosk, "vosk"},
    {TranscriptFormat::srt, "srt"},
    {TranscriptFormat::vtt, "vtt"},
};

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), is_space);
}

std::size_t bom_length(std::string_view text)
{
    return starts_with(text, UTF8_BOM) ? UTF8_BOM.size() : 0;
}

// The line, counted from 1, that the byte at `offset` is on.
std::size_t line_at(std::string_view text, std::size_t offset)
{
    const auto before = text.substr(0, offset);
    return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
}

std::string at_line(const std::string& name, std::size_t line)
{
    return name + ":" + std::to_string(line);
}

// ---- JSON ------------------------------------------------------------------

// nlohmann's message without its exception id and its own idea of the
// position (we give the line ourselves).
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

// The JSON value in text[begin, end).
json parse_json(std::string_view text, std::size_t begin, std::size_t end, const std::string& name)
{
    try {
        return json::parse(text.data() + begin, text.data() + end);
    } catch (const json::parse_error& e) {
        // e.byte counts from 1 to the last byte read.
        const std::size_t offset = std::min(begin + (e.byte > 0 ? e.byte - 1 : 0), text.size());
        throw bad_input(at_line(name, line_at(text, offset)) + ": not valid JSON: " + json_message(e.what()));
    } catch (const json::exception& e) {
        throw bad_input(name + ": not valid JSON: " + json_message(e.what()));
    }
}

// Where each of the JSON values written one after another lies: brackets
// balanced outside strings. Parsing each piece finds whatever else is wrong.
std::vector<std::pair<std::size_t, std::size_t>> json_values(std::string_view text)
{
    std::vector<std::pair<std::size_t, std::size_t>> values;
    std::size_t pos = bom_length(text);
    while (true) {
        while (pos < text.size() && is_space(text[pos])) {
            ++pos;
        }
        if (pos == text.size()) {
            return values;
        }
        const std::size_t begin = pos;
        if (text[pos] == '{' || text[pos] == '[') {
            int depth = 0;
            bool in_string = false;
            for (; pos < text.size(); ++pos) {
                const char c = text[pos];
                if (in_string) {
                    if (c == '\\') {
                        ++pos;
                    } else if (c == '"') {
                        in_string = false;
                    }
                } else if (c == '"') {
                    in_string = true;
                } else if (c == '{' || c == '[') {
                    ++depth;
                } else if ((c == '}' || c == ']') && --depth == 0) {
                    ++pos;
                    break;
                }
            }
            pos = std::min(pos, text.size());
        } else {
            while (pos < text.size() && !is_space(text[pos])) {
                ++pos;
            }
        }
        values.emplace_back(begin, pos);
    }
}

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

std::string quoted(std::string_view key)
{
    return "\"" + std::string(key) + "\"";
}

void require_object(const json& value, const Place& place)
{
    if (!value.is_object()) {
        throw place.error("not a JSON object");
    }
}

// The array under `key`, or null when there is none.
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

// The array under `key` of the object at the top of a transcript, which must be there.
const json& required_array(const json& root, std::string_view key, const Place& top)
{
    require_object(root, top);
    const json* array = array_field(root, key, top);
    if (!array) {
        throw top.error("no " + quoted(key));
    }
    return *array;
}

// A time under `key`, in seconds once divided by `per_second`: nothing when
// absent or null.
std::optional<double> time_field(const json& object, std::string_view key, const Place& place, double per_second = 1)
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

double required_time(const json& object, std::string_view key, const Place& place, double per_second = 1)
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

// One word as the JSON formats write it. Untimed words are skipped when
// `skip_untimed`.
std::optional<TimedWord> json_word(const json& value, const Place& place, std::string_view text_key,
                                   std::string_view confidence_key, bool skip_untimed = false)
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

// Words split on whitespace, all with the same times: a subtitle cue's.
void add_cue_words(std::string_view text, double start, double end, const std::string& origin,
                   std::vector<TimedWord>& words)
{
    std::vector<std::string_view> cue;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto begin = std::find_if_not(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end(), is_space);
        const auto stop = std::find_if(begin, text.end(), is_space);
        if (begin != stop) {
            cue.emplace_back(&*begin, static_cast<std::size_t>(stop - begin));
        }
        pos = static_cast<std::size_t>(stop - text.begin());
    }
    for (const auto word : cue) {
        words.push_back({std::string(word), start, end, std::nullopt, cue.size() > 1, origin});
    }
}

void read_whisper(const json& root, const Place& top, std::vector<TimedWord>& words)
{
    const json* segments = &required_array(root, "segments", top);
    for (std::size_t i = 0; i < segments->size(); ++i) {
        const Place segment_place = top.item("segments", i);
        const json& segment = (*segments)[i];
        require_object(segment, segment_place);
        const json* segment_words = array_field(segment, "words", segment_place);
        if (!segment_words) {
            const std::string* text = text_field(segment, "text", segment_place);
            if (text && !is_blank(*text)) {
                throw segment_place.error("text without word times: run whisper with --word_timestamps True");
            }
            continue;
        }
        for (std::size_t k = 0; k < segment_words->size(); ++k) {
            const json& word = (*segment_words)[k];
            // whisper-timestamped writes "text" and "confidence" for the same.
            const bool timestamped = word.is_object() && word.contains("text") && !word.contains("word");
            words.push_back(*json_word(word, segment_place.item("words", k), timestamped ? "text" : "word",
                                       timestamped ? "confidence" : "probability"));
        }
    }
}

void read_whisperx(const json& root, const Place& top, std::vector<TimedWord>& words)
{
    const json* segments = &required_array(root, "word_segments", top);
    for (std::size_t i = 0; i < segments->size(); ++i) {
        if (auto word = json_word((*segments)[i], top.item("word_segments", i), "word", "score", true)) {
            words.push_back(std::move(*word));
        }
    }
}

bool is_special_token(std::string_view text)
{
    return starts_with(text, "[_") || starts_with(text, "<|");
}

void read_whisper_cpp(const json& root, const Place& top, std::vector<TimedWord>& words)
{
    const json* entries = &required_array(root, "transcription", top);
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

void read_vosk_object(const json& value, const Place& place, std::vector<TimedWord>& words)
{
    require_object(value, place);
    if (const json* result = array_field(value, "result", place)) {
        for (std::size_t i = 0; i < result->size(); ++i) {
            words.push_back(*json_word((*result)[i], place.item("result", i), "word", "conf"));
        }
    }
}

void read_vosk(std::string_view text, const std::string& name, std::vector<TimedWord>& words)
{
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

// ---- Subtitles -------------------------------------------------------------

struct Line {
    std::string_view text;
    std::size_t number;
};

// Lines end in LF, CRLF or a lone CR, as WebVTT allows them all.
std::vector<Line> split_lines(std::string_view text)
{
    text.remove_prefix(bom_length(text));
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        lines.push_back({text.substr(pos, end - pos), lines.size() + 1});
        pos = end;
        if (pos < text.size()) {
            pos += text.compare(pos, 2, "\r\n") == 0 ? 2u : 1u;
        }
    }
    return lines;
}

bool parse_digits(std::string_view digits, std::size_t most, int64_t& value)
{
    if (digits.empty() || digits.size() > most || !std::all_of(digits.begin(), digits.end(), is_digit)) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return true;
}

// [hours:]minutes:seconds[.fraction], with a comma as SubRip writes it or a
// point as WebVTT does; either is taken in both.
std::optional<double> parse_clock(std::string_view text)
{
    std::string_view fields[3];
    std::size_t count = 0;
    while (count < 3) {
        const auto colon = text.find(':');
        fields[count++] = text.substr(0, colon);
        if (colon == std::string_view::npos) {
            break;
        }
        text.remove_prefix(colon + 1);
    }
    if (count < 2 || fields[count - 1].data() + fields[count - 1].size() != text.data() + text.size()) {
        return std::nullopt;
    }
    std::string_view seconds_text = fields[count - 1];
    std::string_view fraction_text;
    if (const auto point = seconds_text.find_first_of(".,"); point != std::string_view::npos) {
        fraction_text = seconds_text.substr(point + 1);
        seconds_text = seconds_text.substr(0, point);
        if (fraction_text.empty()) {
            return std::nullopt;
        }
    }
    int64_t hours = 0, minutes = 0, seconds = 0, fraction = 0;
    // Six digits of hours keep the count of fraction units below 2^63.
    if ((count == 3 && !parse_digits(fields[0], 6, hours)) || !parse_digits(fields[count - 2], 2, minutes)
        || !parse_digits(seconds_text, 2, seconds) || minutes > 59 || seconds > 59
        || (!fraction_text.empty() && !parse_digits(fraction_text, 9, fraction))) {
        return std::nullopt;
    }
    int64_t units_per_second = 1;
    for (std::size_t i = 0; i < fraction_text.size(); ++i) {
        units_per_second *= 10;
    }
    // One division of exact integers: the double nearest the time written.
    const int64_t units = ((hours * 60 + minutes) * 60 + seconds) * units_per_second + fraction;
    return static_cast<double>(units) / static_cast<double>(units_per_second);
}

// "start --> end", with WebVTT's cue settings or SubRip's coordinates after.
std::pair<double, double> parse_cue_times(const Line& line, const std::string& name)
{
    const auto arrow = line.text.find("-->");
    const std::string_view start_text = trim(line.text.substr(0, arrow), WHITESPACE);
    std::string_view end_text = trim(line.text.substr(arrow + 3), WHITESPACE);
    end_text = end_text.substr(
        0, static_cast<std::size_t>(std::find_if(end_text.begin(), end_text.end(), is_space) - end_text.begin()));
    const auto start = parse_clock(start_text);
    const auto end = parse_clock(end_text);
    for (const auto& [time, text] : {std::pair(start, start_text), std::pair(end, end_text)}) {
        if (!time) {
            throw bad_input(at_line(name, line.number) + ": '" + std::string(text)
                            + "' is not a cue time ([hh:]mm:ss.mmm)");
        }
    }
    if (*end < *start) {
        throw bad_input(at_line(name, line.number) + ": the cue ends before it starts");
    }
    return {*start, *end};
}

bool is_cue_times(const Line& line)
{
    return line.text.find("-->") != std::string_view::npos;
}

// WebVTT's character references; others are left as written.
constexpr std::pair<std::string_view, std::string_view> ENTITIES[] = {
    {"&amp;", "&"},  {"&lt;", "<"},   {"&gt;", ">"}, {"&quot;", "\""},
    {"&apos;", "'"}, {"&nbsp;", " "}, {"&lrm;", ""}, {"&rlm;", ""},
};

// The words of one cue's text: tags dropped, and with WebVTT's timestamp
// tags, each word timed by the tag before it and the one after.
void add_cue(const std::vector<Line>& text_lines, double cue_start, double cue_end, bool webvtt,
             const std::string& name, std::vector<TimedWord>& words)
{
    struct Piece {
        std::string text;
        std::size_t line = 0;
        std::size_t tags_before = 0;     // timestamp tags before its first byte
        std::size_t tags_before_end = 0; // ... and before its last one
    };
    std::vector<Piece> pieces;
    std::vector<double> tags;
    Piece piece;
    const auto flush = [&] {
        if (!piece.text.empty()) {
            pieces.push_back(std::move(piece));
        }
        piece = Piece{};
    };
    const auto append = [&](std::string_view text, std::size_t line) {
        if (piece.text.empty()) {
            piece.line = line;
            piece.tags_before = tags.size();
        }
        piece.text += text;
        piece.tags_before_end = tags.size();
    };
    for (const Line& line : text_lines) {
        const std::string_view text = line.text;
        // Where the next '>' and '}' are, kept so that a line of unclosed
        // brackets is not searched again for each.
        std::size_t next_close[2] = {0, 0};
        const auto close_after = [&](std::size_t pos, char close) {
            std::size_t& next = next_close[close == '>' ? 0 : 1];
            if (next != std::string_view::npos && next <= pos) {
                next = text.find(close, pos);
            }
            return next;
        };
        std::size_t pos = 0;
        while (pos < text.size()) {
            const char c = text[pos];
            if (is_space(c)) {
                flush();
                ++pos;
                continue;
            }
            const bool tag = c == '<' || (!webvtt && text.compare(pos, 2, "{\\") == 0);
            const auto close = tag ? close_after(pos, c == '<' ? '>' : '}') : std::string_view::npos;
            if (close != std::string_view::npos) {
                if (const auto time = webvtt ? parse_clock(text.substr(pos + 1, close - pos - 1)) : std::nullopt) {
                    if (*time < (tags.empty() ? cue_start : tags.back()) || *time > cue_end) {
                        throw bad_input(at_line(name, line.number) + ": timestamp tag "
                                        + std::string(text.substr(pos, close - pos + 1))
                                        + " is outside its cue or before the tag before it");
                    }
                    tags.push_back(*time);
                }
                pos = close + 1;
                continue;
            }
            if (webvtt && c == '&') {
                const auto entity = std::find_if(std::begin(ENTITIES), std::end(ENTITIES), [&](const auto& e) {
                    return text.compare(pos, e.first.size(), e.first) == 0;
                });
                if (entity != std::end(ENTITIES)) {
                    if (entity->second == " ") {
                        flush();
                    } else if (!entity->second.empty()) {
                        append(entity->second, line.number);
                    }
                    pos += entity->first.size();
                    continue;
                }
            }
            append(text.substr(pos, 1), line.number);
            ++pos;
        }
        flush();
    }
    // Words that share a stretch between tags share its times.
    std::vector<std::size_t> words_in_stretch(tags.size() + 1);
    for (const Piece& p : pieces) {
        ++words_in_stretch[p.tags_before];
    }
    for (Piece& p : pieces) {
        const double start = p.tags_before == 0 ? cue_start : tags[p.tags_before - 1];
        const double end = p.tags_before_end < tags.size() ? tags[p.tags_before_end] : cue_end;
        words.push_back(
            {std::move(p.text), start, end, std::nullopt, words_in_stretch[p.tags_before] > 1, at_line(name, p.line)});
    }
}

bool is_cue_number(const std::vector<Line>& lines, std::size_t i)
{
    const std::string_view number = trim(lines[i].text, WHITESPACE);
    return !number.empty() && std::all_of(number.begin(), number.end(), is_digit) && i + 1 < lines.size()
        && is_cue_times(lines[i + 1]);
}

void read_srt(std::string_view text, const std::string& name, std::vector<TimedWord>& words)
{
    const std::vector<Line> lines = split_lines(text);
    std::size_t i = 0;
    while (i < lines.size()) {
        if (is_blank(lines[i].text)) {
            ++i;
            continue;
        }
        if (is_cue_number(lines, i)) {
            ++i;
        } else if (!is_cue_times(lines[i])) {
            throw bad_input(at_line(name, lines[i].number)
                            + ": not a cue (a number, then 'hh:mm:ss,mmm --> hh:mm:ss,mmm')");
        }
        const auto [start, end] = parse_cue_times(lines[i++], name);
        std::vector<Line> cue_text;
        // A cue ends at a blank line, or where the next one starts when the
        // blank line was left out.
        while (i < lines.size() && !is_blank(lines[i].text) && !is_cue_number(lines, i)) {
            cue_text.push_back(lines[i++]);
        }
        add_cue(cue_text, start, end, false, name, words);
    }
}

// A block of WebVTT that holds no cue: "NOTE", "STYLE" or "REGION", alone or
// followed by a space.
bool is_other_block(std::string_view first_line)
{
    for (const std::string_view keyword : {"NOTE", "STYLE", "REGION"}) {
        if (starts_with(first_line, keyword)
            && (first_line.size() == keyword.size() || is_space(first_line[keyword.size()]))) {
            return true;
        }
    }
    return false;
}

void read_vtt(std::string_view text, const std::string& name, std::vector<TimedWord>& words)
{
    const std::vector<Line> lines = split_lines(text);
    if (lines.empty() || !starts_with(lines[0].text, "WEBVTT")
        || (lines[0].text.size() > 6 && lines[0].text[6] != ' ' && lines[0].text[6] != '\t')) {
        throw bad_input(at_line(name, 1) + ": no WEBVTT header");
    }
    std::size_t i = 0;
    while (i < lines.size()) {
        // A block: lines up to a blank one. The first is the header.
        const std::size_t begin = i;
        while (i < lines.size() && !lines[i].text.empty()) {
            ++i;
        }
        const std::size_t end = i;
        while (i < lines.size() && lines[i].text.empty()) {
            ++i;
        }
        std::size_t times = begin;
        if (begin == 0) {
            // The header's block holds no cue, unless the blank line after
            // the header was left out.
            times = static_cast<std::size_t>(
                std::find_if(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end), is_cue_times)
                - lines.begin());
            if (times == end) {
                continue;
            }
        } else if (begin == end || (is_other_block(lines[begin].text) && !is_cue_times(lines[begin]))) {
            continue;
        } else if (!is_cue_times(lines[times]) && (++times == end || !is_cue_times(lines[times]))) {
            throw bad_input(at_line(name, lines[begin].number) + ": not a cue (no 'start --> end' line)");
        }
        const auto [start, stop] = parse_cue_times(lines[times], name);
        add_cue(std::vector<Line>(lines.begin() + static_cast<std::ptrdiff_t>(times + 1),
                                  lines.begin() + static_cast<std::ptrdiff_t>(end)),
                start, stop, true, name, words);
    }
}

} // namespace

std::string transcript_format_names(const char* separator)
{
    std::string names;
    for (const auto& [format, name] : FORMAT_NAMES) {
        names += (names.empty() ? "" : separator) + std::string(name);
    }
    return names;
}

std::optional<TranscriptFormat> transcript_format_named(std::string_view name)
{
    for (const auto& [format, format_name] : FORMAT_NAMES) {
        if (format_name.size() == name.size()
            && std::equal(name.begin(), name.end(), format_name.begin(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
            return format;
        }
    }
    return std::nullopt;
}

TranscriptFormat detect_transcript_format(std::string_view text, const std::string& name)
{
    const std::vector<Line> lines = split_lines(text);
    const auto first = std::find_if_not(lines.begin(), lines.end(), [](const Line& l) { return is_blank(l.text); });
    if (first == lines.end()) {
        throw bad_input(name + ": empty transcript");
    }
    const std::string_view start = trim(first->text, WHITESPACE);
    if (starts_with(start, "WEBVTT")) {
        return TranscriptFormat::vtt;
    }
    if (start.front() == '{' || start.front() == '[') {
        const auto values = json_values(text);
        const json value = parse_json(text, values.front().first, values.front().second, name);
        for (const auto& [key, format] : {std::pair("word_segments", TranscriptFormat::whisperx),
                                          std::pair("transcription", TranscriptFormat::whisper_cpp),
                                          std::pair("segments", TranscriptFormat::whisper)}) {
            if (value.is_object() && value.contains(key)) {
                return format;
            }
        }
        // Vosk's results come alone, in an array or one after another.
        const json& result = value.is_array() && !value.empty() ? value.front() : value;
        if (result.is_object()
            && (result.contains("result") || result.contains("text") || result.contains("partial"))) {
            return TranscriptFormat::vosk;
        }
        throw bad_input(name + ": JSON of no transcript format known here (" + transcript_format_names(", ") + ")");
    }
    const auto index = static_cast<std::size_t>(first - lines.begin());
    if (is_cue_times(*first) || is_cue_number(lines, index)) {
        return TranscriptFormat::srt;
    }
    throw bad_input(name + ": not a transcript format known here (" + transcript_format_names(", ")
                    + "); name it with --transcript-format");
}

std::vector<TimedWord> read_transcript(std::string_view text, TranscriptFormat format, const std::string& name)
{
    if (const std::size_t at = invalid_utf8_at(text); at != std::string_view::npos) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[at]));
        throw bad_input(at_line(name, line_at(text, at)) + ": not UTF-8 text (byte " + byte + ")");
    }
    std::vector<TimedWord> words;
    const Place top{name, ""};
    try {
        switch (format) {
        case TranscriptFormat::whisper: read_whisper(parse_json(text, 0, text.size(), name), top, words); break;
        case TranscriptFormat::whisperx: read_whisperx(parse_json(text, 0, text.size(), name), top, words); break;
        case TranscriptFormat::whisper_cpp: read_whisper_cpp(parse_json(text, 0, text.size(), name), top, words); break;
        case TranscriptFormat::vosk: read_vosk(text, name, words); break;
        case TranscriptFormat::srt: read_srt(text, name, words); break;
        case TranscriptFormat::vtt: read_vtt(text, name, words); break;
        }
    } catch (const json::exception& e) {
        // Checked before every access; this is a last guard.
        throw bad_input(name + ": " + json_message(e.what()));
    }
    return words;
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "cues.h"

#include "errors.h"
#include "text.h"

#include <algorithm>
#include <cstdint>

namespace zendrik_mask {

namespace {

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

// WebVTT's character references; others are left as written.
constexpr std::pair<std::string_view, std::string_view> ENTITIES[] = {
    {"&amp;", "&"},  {"&lt;", "<"},   {"&gt;", ">"}, {"&quot;", "\""},
    {"&apos;", "'"}, {"&nbsp;", " "}, {"&lrm;", ""}, {"&rlm;", ""},
};

} // namespace

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

bool is_cue_times(std::string_view line)
{
    return line.find("-->") != std::string_view::npos;
}

bool is_cue_number(std::string_view line, std::string_view next_line)
{
    const std::string_view number = trim(line, WHITESPACE);
    return !number.empty() && std::all_of(number.begin(), number.end(), is_digit) && is_cue_times(next_line);
}

void add_cue_words(std::string_view text, double start, double end, const std::string& origin, const WordSink& sink)
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
        sink({std::string(word), start, end, std::nullopt, cue.size() > 1, origin, true});
    }
}

void add_cue(const std::vector<Line>& text_lines, double cue_start, double cue_end, bool webvtt,
             const std::string& name, const WordSink& sink)
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
        sink({std::move(p.text), start, end, std::nullopt, words_in_stretch[p.tags_before] > 1, at_line(name, p.line),
              true});
    }
}

std::vector<Line> Block::views(std::size_t from) const
{
    std::vector<Line> views;
    for (std::size_t i = from; i < lines.size(); ++i) {
        views.push_back(lines[i].view());
    }
    return views;
}

const OwnedLine* LineReader::peek(std::size_t ahead)
{
    while (ahead_.size() <= ahead) {
        OwnedLine line;
        if (!source_.read_line(line.text)) {
            return nullptr;
        }
        line.number = ++number_;
        ahead_.push_back(std::move(line));
    }
    return &ahead_[ahead];
}

OwnedLine LineReader::take()
{
    peek();
    OwnedLine line = std::move(ahead_.front());
    ahead_.pop_front();
    return line;
}

void LineReader::take_into(Block& block)
{
    OwnedLine line = take();
    block.bytes += line.text.size() + 1;
    if (block.bytes > Block::MAX_BYTES) {
        throw bad_input(at_line(source_.name(), line.number) + ": a cue of more than 1 MiB");
    }
    block.lines.push_back(std::move(line));
}

} // namespace zendrik_mask

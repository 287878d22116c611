// SPDX-License-Identifier: ISC
#include "text_source.h"

#include "errors.h"
#include "text.h"
#include "transcript_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zendrik_mask {

namespace {

iconv_t as_iconv(void* converter)
{
    return static_cast<iconv_t>(converter);
}

// How many bytes at the end of `text` start a UTF-8 sequence that the next
// piece completes.
std::size_t unfinished_tail(std::string_view text)
{
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, text.size()); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80) {
            continue; // a continuation byte: its lead is further back
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

} // namespace

TextSource::TextSource(std::istream& in, std::string name) : in_(in), name_(std::move(name))
{
}

TextSource::~TextSource()
{
    if (converter_) {
        iconv_close(as_iconv(converter_));
    }
}

std::string_view TextSource::prefix()
{
    if (!started_) {
        fill();
    }
    return {eback(), static_cast<std::size_t>(egptr() - eback())};
}

std::size_t TextSource::line_at(std::size_t offset) const
{
    const std::size_t in_piece = std::min(offset - std::min(offset, offset_), piece_.size());
    return lines_before_ + 1
        + static_cast<std::size_t>(
               std::count(piece_.begin(), piece_.begin() + static_cast<std::ptrdiff_t>(in_piece), '\n'));
}

void TextSource::fail(std::size_t at, const std::string& what) const
{
    throw bad_input(at_line(name_, line_at(at)) + ": " + what);
}

TextSource::int_type TextSource::underflow()
{
    while (gptr() == egptr()) {
        if (!fill()) {
            return traits_type::eof();
        }
    }
    return traits_type::to_int_type(*gptr());
}

bool TextSource::fill()
{
    if (ended_) {
        return false;
    }
    lines_before_ += static_cast<std::size_t>(std::count(piece_.begin(), piece_.end(), '\n'));
    offset_ += piece_.size();
    piece_ = std::move(utf8_left_);
    utf8_left_.clear();

    std::string raw(PIECE, '\0');
    in_.read(raw.data(), static_cast<std::streamsize>(raw.size()));
    if (in_.bad()) {
        throw bad_input("cannot read '" + name_ + "'");
    }
    raw.resize(static_cast<std::size_t>(in_.gcount()));
    const bool at_end = raw.size() < PIECE;
    if (!started_) {
        started_ = true;
        if (starts_with(raw, UTF8_BOM)) {
            raw.erase(0, UTF8_BOM.size());
        } else if (starts_with(raw, "\xFF\xFE") || starts_with(raw, "\xFE\xFF")) {
            // Windows tools save "Unicode" text so.
            const iconv_t converter = iconv_open("UTF-8", raw[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE");
            if (converter == reinterpret_cast<iconv_t>(-1)) {
                throw bad_input(name_ + ": UTF-16 text, which this system cannot convert");
            }
            converter_ = converter;
            raw.erase(0, 2);
        }
    }
    if (converter_) {
        convert(raw, at_end);
    } else {
        piece_ += raw;
    }
    if (!at_end) {
        const std::size_t tail = unfinished_tail(piece_);
        utf8_left_.assign(piece_, piece_.size() - tail, tail);
        piece_.resize(piece_.size() - tail);
    }
    ended_ = at_end;
    setg(piece_.data(), piece_.data(), piece_.data() + piece_.size());
    if (const std::size_t at = invalid_utf8_at(piece_); at != std::string_view::npos) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(piece_[at]));
        fail(offset_ + at, std::string("not UTF-8 text (byte ") + byte + ")");
    }
    if (cutting_) {
        cut(0);
    }
    return true;
}

void TextSource::cut_long_strings()
{
    if (!cutting_) {
        cutting_ = true;
        cut(static_cast<std::size_t>(gptr() - eback()));
    }
}

void TextSource::cut(std::size_t from)
{
    std::size_t kept = from;
    for (std::size_t at = from; at < piece_.size(); ++at) {
        if (!drop(piece_[at])) {
            piece_[kept++] = piece_[at];
        }
    }
    piece_.resize(kept);
    setg(piece_.data(), piece_.data() + from, piece_.data() + kept);
}

// A string is cut from a character that begins nothing unfinished (an
// escape, a UTF-8 sequence) to its closing quote. Control characters, and
// with them the line ends that lines are counted by, are kept, to be refused.
bool TextSource::drop(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (!in_string_) {
        in_string_ = c == '"';
        string_length_ = 0;
        return false;
    }
    if (dropping_) {
        if (byte < 0x20) {
            return false;
        }
        if (escape_ > 0) {
            --escape_;
        } else if (c == '\\') {
            escape_ = 1;
        } else if (c == '"') {
            in_string_ = dropping_ = false;
            return false;
        }
        return true;
    }
    if (string_length_ >= LONGEST_STRING && escape_ == 0 && byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\') {
        dropping_ = true;
        return true;
    }
    ++string_length_;
    if (escape_ > 0) {
        escape_ = escape_ == 1 && c == 'u' ? 4 : escape_ - 1;
    } else if (c == '\\') {
        escape_ = 1;
    } else if (c == '"') {
        in_string_ = false;
    }
    return false;
}

void TextSource::convert(std::string& raw, bool at_end)
{
    raw.insert(0, raw_left_);
    raw_left_.clear();
    char* in = raw.data();
    std::size_t in_left = raw.size();
    while (in_left > 0) {
        char out[4096];
        char* out_end = out;
        std::size_t out_left = sizeof out;
        const std::size_t done = iconv(as_iconv(converter_), &in, &in_left, &out_end, &out_left);
        const int error = errno;
        piece_.append(out, static_cast<std::size_t>(out_end - out));
        if (done != static_cast<std::size_t>(-1) || error == E2BIG) {
            continue;
        }
        if (error == EINVAL && !at_end) {
            raw_left_.assign(in, in_left); // a character the next piece completes
            return;
        }
        fail(offset_ + piece_.size(),
             error == EINVAL ? "UTF-16 text cut short in a character" : "not UTF-16 text (a lone surrogate)");
    }
}

bool TextSource::read_line(std::string& line)
{
    line.clear();
    if (sgetc() == traits_type::eof()) {
        return false;
    }
    while (gptr() != egptr() || underflow() != traits_type::eof()) {
        const char* begin = gptr();
        const char* end
            = std::find_if(begin, static_cast<const char*>(egptr()), [](char c) { return c == '\n' || c == '\r'; });
        line.append(begin, end);
        if (line.size() > MAX_LINE) {
            fail(offset(), "a line of more than " + std::to_string(MAX_LINE / (1024 * 1024)) + " MiB");
        }
        gbump(static_cast<int>(end - begin));
        if (end != egptr()) {
            if (sbumpc() == '\r' && sgetc() == '\n') {
                sbumpc();
            }
            return true;
        }
    }
    return true;
}

} // namespace zendrik_mask

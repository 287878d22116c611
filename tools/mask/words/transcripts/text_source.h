// SPDX-License-Identifier: ISC
// A transcript's text as it is read: a piece at a time, so that memory does
// not grow with the file. UTF-8 is checked as it comes; a UTF-8 byte order
// mark is dropped and UTF-16 with one (as Windows tools write it) becomes
// UTF-8. The readers see a std::streambuf, which nlohmann-json reads too.
#ifndef ZENDRIK_MASK_TEXT_SOURCE_H
#define ZENDRIK_MASK_TEXT_SOURCE_H

#include <cstddef>
#include <istream>
#include <streambuf>
#include <string>
#include <string_view>

namespace zendrik_mask {

class TextSource : public std::streambuf {
public:
    TextSource(std::istream& in, std::string name);
    ~TextSource() override;
    TextSource(const TextSource&) = delete;
    TextSource& operator=(const TextSource&) = delete;

    const std::string& name() const { return name_; }

    // The start of the text, before anything is read: what the format is
    // told from. Bounded, not the whole text unless whole() says so.
    std::string_view prefix();
    bool whole() const { return ended_ && offset_ == 0; }

    // Where the next character lies, counted in the UTF-8 text.
    std::size_t offset() const { return offset_ + static_cast<std::size_t>(gptr() - eback()); }
    // The line of the character at `offset`, which must be one of the last
    // read: those before the current piece count as its first.
    std::size_t line_at(std::size_t offset) const;

    // For JSON: strings are cut after LONGEST_STRING bytes from here on.
    // Whisper's JSON begins with the whole transcript's text, which
    // nlohmann-json would hold, twice, to hand it over as one string; no
    // word is that long.
    void cut_long_strings();

    // The next line, whichever end it has (LF, CRLF or a lone CR). False at
    // the end. A line longer than MAX_LINE is an error.
    bool read_line(std::string& line);

    static constexpr std::size_t PIECE = 64 * 1024;
    static constexpr std::size_t MAX_LINE = 1024 * 1024;
    static constexpr std::size_t LONGEST_STRING = 64 * 1024;

protected:
    int_type underflow() override;

private:
    bool fill();
    void convert(std::string& raw, bool at_end);
    void cut(std::size_t from);
    bool drop(char c);
    [[noreturn]] void fail(std::size_t at, const std::string& what) const;

    std::istream& in_;
    std::string name_;
    void* converter_ = nullptr; // iconv_t, for UTF-16
    std::string raw_left_;      // UTF-16 bytes of a character not whole yet
    std::string utf8_left_;     // UTF-8 bytes of a character not whole yet
    std::string piece_;         // the get area
    std::size_t offset_ = 0;    // of piece_'s first byte
    std::size_t lines_before_ = 0;
    bool started_ = false;
    bool ended_ = false;
    // What cutting strings needs to know of the JSON read so far.
    bool cutting_ = false;
    bool in_string_ = false;
    bool dropping_ = false;
    std::size_t escape_ = 0; // characters of an escape still to come
    std::size_t string_length_ = 0;
};

} // namespace zendrik_mask

#endif

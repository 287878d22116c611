// SPDX-License-Identifier: ISC
// The text files a user names: word lists, label files, dictionaries and
// transcripts. A folder, a device or a file that cannot be read is refused
// naming it, and what is read is bounded, so that a wrong name (/dev/zero, a
// recording, a disk image) fails at once instead of filling the memory.
#ifndef ZENDRIK_MASK_TEXT_INPUT_H
#define ZENDRIK_MASK_TEXT_INPUT_H

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace zendrik_mask {

// Past these, a file is not what it was given as.
struct TextLimits {
    std::size_t line_bytes;
    std::uint64_t file_bytes;
};

// A line of a word list, a label file or a dictionary is a word, a label or a
// pronunciation. The sizes are many times the largest real files (a
// 100,000-word list: 1 MB, a million labels: 40 MB, CMU's dictionary: 3.5
// MB, of which only the listed words are kept) and bound what a file of the
// shortest lines takes once parsed: a few GB at worst.
constexpr std::size_t LONGEST_LINE = 64 * 1024;
constexpr TextLimits WORD_LIST_LIMITS{LONGEST_LINE, 16 * 1024 * 1024};
constexpr TextLimits LABEL_FILE_LIMITS{LONGEST_LINE, 64 * 1024 * 1024};
constexpr TextLimits DICTIONARY_LIMITS{LONGEST_LINE, 64 * 1024 * 1024};

// Refuses, with the bad-input Error naming `path` as `what` ("transcript"),
// anything but a file or a pipe (the shell's <(...)) that can be opened.
void check_text_input(const std::string& path, std::string_view what);

// A text file checked as above, read within `limits`. A read error, or a line
// or a file longer than the limits, is the bad-input Error naming the file.
// The parsers read it as any stream: the error leaves them as an exception.
class TextInput : public std::istream {
public:
    TextInput(const std::string& path, std::string_view what, const TextLimits& limits);
    ~TextInput() override;
    TextInput(const TextInput&) = delete;
    TextInput& operator=(const TextInput&) = delete;

private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
};

} // namespace zendrik_mask

#endif

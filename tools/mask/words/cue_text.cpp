// SPDX-License-Identifier: ISC
#include "cue_text.h"

#include "text.h"

#include <cctype>

namespace zendrik_mask {

bool is_censored(std::string_view written)
{
    // Brackets and punctuation around it are the caption's, not the word's.
    constexpr std::string_view AROUND = "[](){}\"'.,!?;:";
    written = trim(written, AROUND);
    std::size_t stars = 0, underscores = 0, letters = 0;
    for (const char c : written) {
        if (c == '*') {
            ++stars;
        } else if (c == '_') {
            ++underscores;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            ++letters;
        } else {
            return false;
        }
    }
    return (stars >= 1 && letters <= 3 && (letters > 0 || stars >= 2)) || (underscores >= 2 && letters == 0);
}

std::string cue_excerpt(const CueText& cue)
{
    constexpr std::size_t MOST = 60;
    std::string text;
    for (const std::string& word : cue.written) {
        if (text.size() + word.size() > MOST) {
            return text + " ...";
        }
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

void CueCollector::add(const TimedWord& word, bool completes_find)
{
    if (!word.cue) {
        close();
        return;
    }
    if (has_open_ && (word.start != open_.start || word.end != open_.end)) {
        close();
    }
    if (!has_open_) {
        open_ = CueText{word.start, word.end, {}, word.origin, false};
        has_open_ = true;
    }
    open_.written.push_back(word.text);
    open_.censored = open_.censored || is_censored(word.text);
    open_holds_find_ = open_holds_find_ || completes_find;
}

std::vector<CueText> CueCollector::finish()
{
    close();
    return std::move(kept_);
}

void CueCollector::close()
{
    if (has_open_ && (open_holds_find_ || open_.censored)) {
        kept_.push_back(std::move(open_));
    }
    has_open_ = false;
    open_holds_find_ = false;
    open_ = CueText{};
}

} // namespace zendrik_mask

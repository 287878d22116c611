// SPDX-License-Identifier: ISC
#include "pronunciation_guess.h"

#include <espeak-ng/speak_lib.h>

#include <array>
#include <mutex>
#include <string_view>
#include <utility>

namespace zendrik_mask {

namespace {

// Longest symbols first, so that "aɪ" is one phone, not "a" then "ɪ".
constexpr std::array<std::pair<std::string_view, std::string_view>, 61> IPA_TO_CMU{{
    {"aɪə", "AY ER"}, {"aʊ", "AW"},   {"aɪ", "AY"}, {"eɪ", "EY"}, {"oʊ", "OW"}, {"ɔɪ", "OY"}, {"tʃ", "CH"},
    {"dʒ", "JH"},     {"ɑː", "AA"},   {"iː", "IY"}, {"uː", "UW"}, {"ɔː", "AO"}, {"ɜː", "ER"}, {"ɪɹ", "IH R"},
    {"ɛɹ", "EH R"},   {"ʊɹ", "UH R"}, {"ɑ", "AA"},  {"ɒ", "AA"},  {"æ", "AE"},  {"ʌ", "AH"},  {"ə", "AH"},
    {"ɐ", "AH"},      {"ɚ", "ER"},    {"ɝ", "ER"},  {"ɜ", "ER"},  {"ɔ", "AO"},  {"ɛ", "EH"},  {"e", "EY"},
    {"ɪ", "IH"},      {"ᵻ", "IH"},    {"i", "IY"},  {"ʊ", "UH"},  {"u", "UW"},  {"o", "OW"},  {"a", "AE"},
    {"b", "B"},       {"d", "D"},     {"ð", "DH"},  {"f", "F"},   {"ɡ", "G"},   {"g", "G"},   {"h", "HH"},
    {"k", "K"},       {"l", "L"},     {"m", "M"},   {"n", "N"},   {"ŋ", "NG"},  {"p", "P"},   {"ɹ", "R"},
    {"r", "R"},       {"s", "S"},     {"ʃ", "SH"},  {"t", "T"},   {"θ", "TH"},  {"ɾ", "T"},   {"v", "V"},
    {"w", "W"},       {"j", "Y"},     {"z", "Z"},   {"ʒ", "ZH"},  {"ɫ", "L"},
}};

// Marks that shape a phone without being one: stress, length, syllables, ties.
constexpr std::array<std::string_view, 7> IGNORED{"ˈ", "ˌ", "ː", ".", "‿", "͡", "ʔ"};

bool starts(std::string_view text, std::size_t at, std::string_view symbol)
{
    return text.compare(at, symbol.size(), symbol) == 0;
}

} // namespace

std::string cmu_phones_of_ipa(const std::string& ipa)
{
    std::string phones;
    const std::string_view text(ipa);
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == ' ' || text[at] == '\n') {
            ++at;
            continue;
        }
        bool matched = false;
        for (const std::string_view mark : IGNORED) {
            if (starts(text, at, mark)) {
                at += mark.size();
                matched = true;
                break;
            }
        }
        for (const auto& [symbol, phone] : IPA_TO_CMU) {
            if (!matched && starts(text, at, symbol)) {
                phones += (phones.empty() ? "" : " ") + std::string(phone);
                at += symbol.size();
                matched = true;
            }
        }
        if (!matched) {
            return "";
        }
    }
    return phones;
}

std::optional<std::string> guess_pronunciation(const std::string& word)
{
    // eSpeak NG keeps one state for the process: the finder's plan and the
    // aligners of a batch's files ask one at a time.
    static std::mutex speaking;
    const std::lock_guard<std::mutex> hold(speaking);
    static const bool ready = [] {
        return espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT) > 0
            && espeak_SetVoiceByName("en-us") == EE_OK;
    }();
    if (!ready) {
        return std::nullopt;
    }
    std::string ipa;
    const void* text = word.c_str();
    // One clause at a time, until the text is used up.
    while (text) {
        const char* clause = espeak_TextToPhonemes(&text, espeakCHARS_UTF8, espeakPHONEMES_IPA);
        if (clause) {
            ipa += std::string(clause) + " ";
        }
    }
    std::string phones = cmu_phones_of_ipa(ipa);
    if (phones.empty()) {
        return std::nullopt;
    }
    return phones;
}

} // namespace zendrik_mask

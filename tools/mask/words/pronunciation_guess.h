// SPDX-License-Identifier: ISC
// A pronunciation guessed for a word no dictionary has (a guest's name), by
// eSpeak NG's English rules, in the acoustic model's phones.
#ifndef ZENDRIK_MASK_PRONUNCIATION_GUESS_H
#define ZENDRIK_MASK_PRONUNCIATION_GUESS_H

#include <optional>
#include <string>

namespace zendrik_mask {

// eSpeak NG's IPA for US English as CMU phones: "dˈæʃwʊd" is "D AE SH W UH D".
// Stress and length marks are dropped; empty when a symbol has no phone.
std::string cmu_phones_of_ipa(const std::string& ipa);

// eSpeak NG, loaded once on first use and kept: the phones of `word`, or
// nothing when eSpeak NG or its English voice is missing or the IPA has a
// symbol without a phone. Callers on several threads take turns.
std::optional<std::string> guess_pronunciation(const std::string& word);

} // namespace zendrik_mask

#endif

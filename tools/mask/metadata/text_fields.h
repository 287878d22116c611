// SPDX-License-Identifier: ISC
// The text libsndfile carries (its strings) under the names TagLib gives the
// same fields, so that tags of one library can go where the other writes.
#ifndef ZENDRIK_MASK_TEXT_FIELDS_H
#define ZENDRIK_MASK_TEXT_FIELDS_H

#include <sndfile.h>

#include <string>
#include <utility>
#include <vector>

namespace zendrik_mask {

// Field name as TagLib calls it ("TITLE") and its text, in UTF-8.
using TextFields = std::vector<std::pair<std::string, std::string>>;

// The strings libsndfile read from `file`.
TextFields text_fields(SNDFILE* file);

// Sets the fields of `fields` that `file` already holds a string for to the
// text given, before any audio is written.
void replace_text_fields(SNDFILE* file, const TextFields& fields);

} // namespace zendrik_mask

#endif

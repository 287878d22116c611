// SPDX-License-Identifier: ISC
#include "text_fields.h"

#include <array>

namespace zendrik_mask {

namespace {

struct Field {
    int string; // SF_STR_*
    const char* name;
};

// The software string is left out: it names the program that wrote the
// input, not the one that encodes the output.
constexpr std::array<Field, 9> FIELDS = {{{SF_STR_TITLE, "TITLE"},
                                          {SF_STR_ARTIST, "ARTIST"},
                                          {SF_STR_ALBUM, "ALBUM"},
                                          {SF_STR_DATE, "DATE"},
                                          {SF_STR_TRACKNUMBER, "TRACKNUMBER"},
                                          {SF_STR_GENRE, "GENRE"},
                                          {SF_STR_COMMENT, "COMMENT"},
                                          {SF_STR_COPYRIGHT, "COPYRIGHT"},
                                          {SF_STR_LICENSE, "LICENSE"}}};

} // namespace

TextFields text_fields(SNDFILE* file)
{
    TextFields fields;
    for (const Field& field : FIELDS) {
        const char* text = sf_get_string(file, field.string);
        if (text != nullptr && *text != '\0') {
            fields.emplace_back(field.name, text);
        }
    }
    return fields;
}

void replace_text_fields(SNDFILE* file, const TextFields& fields)
{
    for (const auto& [name, text] : fields) {
        for (const Field& field : FIELDS) {
            if (name == field.name && sf_get_string(file, field.string) != nullptr) {
                sf_set_string(file, field.string, text.c_str());
            }
        }
    }
}

} // namespace zendrik_mask

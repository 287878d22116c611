// SPDX-License-Identifier: ISC
// One reader per format, each in a file of its own; read_transcript picks
// one. Each takes the whole text, already checked to be UTF-8, and adds the
// words and warnings it finds to `transcript`.
#ifndef ZENDRIK_MASK_READERS_H
#define ZENDRIK_MASK_READERS_H

#include "transcript.h"

#include <string>
#include <string_view>

namespace zendrik_mask {

void read_whisper(std::string_view text, const std::string& name, Transcript& transcript);
void read_whisperx(std::string_view text, const std::string& name, Transcript& transcript);
void read_whisper_cpp(std::string_view text, const std::string& name, Transcript& transcript);
void read_vosk(std::string_view text, const std::string& name, Transcript& transcript);
void read_srt(std::string_view text, const std::string& name, Transcript& transcript);
void read_vtt(std::string_view text, const std::string& name, Transcript& transcript);

} // namespace zendrik_mask

#endif

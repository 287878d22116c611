// SPDX-License-Identifier: ISC
// One reader per format, each in a file of its own; read_transcript picks
// one. Each reads `source` to its end, hands every word to `sink` as soon as
// it is whole, and adds what the user should be told to `warnings`.
#ifndef ZENDRIK_MASK_READERS_H
#define ZENDRIK_MASK_READERS_H

#include "text_source.h"
#include "transcript.h"

#include <string>
#include <vector>

namespace zendrik_mask {

void read_whisper(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);
void read_whisperx(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);
void read_whisper_cpp(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);
void read_vosk(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);
void read_srt(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);
void read_vtt(TextSource& source, const WordSink& sink, std::vector<std::string>& warnings);

} // namespace zendrik_mask

#endif

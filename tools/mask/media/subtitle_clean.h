// SPDX-License-Identifier: ISC
// Text subtitle packets written again with words masked: the text of each
// packet handed to the run, which says what to change; a packet left
// unchanged is not touched. mov_text's style boxes, which count characters,
// follow the text they style.
#ifndef ZENDRIK_MASK_SUBTITLE_CLEAN_H
#define ZENDRIK_MASK_SUBTITLE_CLEAN_H

#include "text.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// The edits that clean the text of a cue shown from `start` to `end`
// (seconds from the input's 0); `ass` when the text is an ASS event (fields,
// then the text with override blocks), otherwise SubRip-like text.
using CueEdits = std::function<std::vector<TextEdit>(std::string_view text, bool ass, double start, double end)>;

// How a subtitle stream's packets hold their text.
enum class PacketText { none, bitmap, plain, ass_event, mov_text };
PacketText packet_text(const AVStream& stream);

// `packet` (of a stream holding `kind`) with its text cleaned; false, the
// packet untouched, when nothing changes. Throws std::bad_alloc.
bool clean_subtitle_packet(AVPacket& packet, PacketText kind, double start, double end, const CueEdits& edits);

// Text subtitle stream `stream` of `path`, cleaned, as a file of its own
// format: SubRip for SubRip and mov_text (whose styles are dropped), ASS for
// ASS and SSA, WebVTT for WebVTT; times from the input's 0. Throws the
// bad-input Error when it cannot be read or written so.
std::string cleaned_subtitle_file(const std::string& path, int stream, const CueEdits& edits);

} // namespace zendrik_mask

#endif

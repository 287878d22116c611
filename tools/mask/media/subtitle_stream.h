// SPDX-License-Identifier: ISC
// The cues of a text subtitle stream of a video (SubRip, ASS/SSA, mov_text,
// WebVTT), read through FFmpeg's decoders, with their times as a player
// shows them; and the audio stream that speaks the subtitles' language.
#ifndef ZENDRIK_MASK_SUBTITLE_STREAM_H
#define ZENDRIK_MASK_SUBTITLE_STREAM_H

#include <functional>
#include <string>

namespace zendrik_mask {

struct SubtitleCue {
    double start = 0, end = 0; // seconds from the input's 0
    std::string text;          // styling dropped, lines joined by spaces
};

struct SubtitleStream {
    int index = -1;
    std::string language; // "" when the stream does not say
    std::string codec;
};

// The stream `pick` names, by index as ffprobe counts streams or by
// language; "" for the text stream marked default, else the first text
// stream. Throws the bad-input Error for a pick that names no subtitle
// stream, for a bitmap stream (PGS, VobSub, DVB: pictures, not text) and
// when there is no text stream.
SubtitleStream choose_subtitle_stream(const std::string& path, const std::string& pick);

// Every cue of the stream, in the order stored. Throws the bad-input Error
// when the file cannot be read.
void read_subtitle_cues(const std::string& path, const SubtitleStream& stream,
                        const std::function<void(SubtitleCue&&)>& sink);

// The audio stream to align the subtitles against: the one in their
// language, else the one marked default, else the first; -1 for none.
int audio_stream_for(const std::string& path, const std::string& language);

// The text of an ASS event as FFmpeg's decoders give every text subtitle
// ("0,0,Default,,0,0,0,,Oh {\i1}damn{\i0}\Nit"): the text field, override
// tags dropped, line breaks as spaces.
std::string ass_event_text(const std::string& event);

} // namespace zendrik_mask

#endif

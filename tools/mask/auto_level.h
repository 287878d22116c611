// SPDX-License-Identifier: ISC
// --level auto: the tone set a number of LU under the loudness of the sound
// it replaces, both measured with libebur128 (EBU R128, ITU-R BS.1770).
#ifndef ZENDRIK_MASK_AUTO_LEVEL_H
#define ZENDRIK_MASK_AUTO_LEVEL_H

#include "audio_file.h"
#include "host.h"
#include "options.h"

#include <string>
#include <vector>

namespace zendrik_mask {

// How loudness weighs a channel: the tone's channels as fronts (1) or
// surrounds (1.41); the others, and the LFE, not at all.
enum class Speaker { unused, front, surround };

// The speakers of a file libsndfile reads: WAV's order for 5.1 and 7.1
// (L R C LFE, then the surrounds), fronts otherwise.
std::vector<Speaker> default_speakers(int channels);

// Sets the level of `host`, whose tone goes to the channels that
// `speakers` weighs, `options.level_below` LU under the loudness of those
// channels of `input`, read to its end. At the plugin's maximum, or left as
// it is when the input is silent there, with a warning naming `what`.
void set_automatic_level(Lv2Host& host, const Options& options, InputFile& input, const std::vector<Speaker>& speakers,
                         const std::string& what, std::vector<std::string>& warnings);

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// zendrik-mask's plugin settings from the command line: a preset of the
// bundle, then --frequency and --level within the plugin's ranges; and the
// list of presets.
#ifndef ZENDRIK_MASK_PLUGIN_SETTINGS_H
#define ZENDRIK_MASK_PLUGIN_SETTINGS_H

#include "copy_path.h"
#include "host.h"
#include "options.h"

#include <string>

namespace zendrik_mask {

// --level as given: a linear gain ("0.5") or decibels ("-6dB", "-6 dB", any
// case). Throws the bad-input Error for anything else.
float parse_level(const std::string& text);

// Throws the bad-input Error for an unknown preset or a value out of range.
void configure_plugin(Lv2Host& host, const Options& options);

// The tone's frequency in Hz that configure_plugin sets: --frequency, else
// the preset's, else the plugin's default.
float tone_frequency(Lv2Host& host, const Options& options);

// What a tone of `frequency` Hz turns into at `rate`, when it reaches half the
// rate or more (the samples cannot carry it); "" when it does not.
// `input` names the file in the message.
std::string nyquist_warning(double frequency, int rate, const std::string& input);

// The tone as the copy and media paths take it, from the plugin fed with
// silence: its blocks are never longer than `block` frames.
ToneSource tone_of(Lv2Host& host, int64_t block);

// Prints the bundle's presets; returns the exit status.
int list_presets();

} // namespace zendrik_mask

#endif

// SPDX-License-Identifier: ISC
// zendrik-mask's plugin settings from the command line: a preset of the
// bundle, then --frequency and --level within the plugin's ranges; and the
// list of presets.
#ifndef ZENDRIK_MASK_PLUGIN_SETTINGS_H
#define ZENDRIK_MASK_PLUGIN_SETTINGS_H

#include "host.h"
#include "options.h"

namespace zendrik_mask {

// Throws the bad-input Error for an unknown preset or a value out of range.
void configure_plugin(Lv2Host& host, const Options& options);

// Prints the bundle's presets; returns the exit status.
int list_presets();

} // namespace zendrik_mask

#endif

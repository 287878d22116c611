// SPDX-License-Identifier: ISC
#include "plugin_settings.h"

#include "errors.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace zendrik_mask {

void configure_plugin(Lv2Host& host, const Options& options)
{
    if (!options.preset.empty()) {
        bool found = false;
        for (const Preset& p : host.presets()) {
            if (options.preset == p.name || options.preset == p.uri || options.preset == p.label
                || options.preset == "preset-" + p.name) {
                for (const auto& [symbol, value] : p.values) {
                    host.set_control(symbol, value);
                }
                found = true;
                break;
            }
        }
        if (!found) {
            throw bad_input("no preset '" + options.preset + "' (see --list-presets)");
        }
    }
    const std::pair<const char*, const std::optional<float>*> settings[]
        = {{"frequency", &options.frequency}, {"level", &options.level}};
    for (const auto& [symbol, setting] : settings) {
        if (!setting->has_value()) {
            continue;
        }
        const ControlInfo info = host.control(symbol);
        const float value = **setting;
        if (!(value >= info.minimum && value <= info.maximum)) {
            char message[160];
            std::snprintf(message, sizeof message, "--%s %g is outside the plugin's range %g to %g", symbol,
                          static_cast<double>(value), static_cast<double>(info.minimum),
                          static_cast<double>(info.maximum));
            throw bad_input(message);
        }
        host.set_control(symbol, value);
    }
}

int list_presets()
{
    try {
        Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
        for (const Preset& p : host.presets()) {
            std::string values;
            for (const auto& [symbol, value] : p.values) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%s%s=%g", values.empty() ? "" : ", ", symbol.c_str(),
                              static_cast<double>(value));
                values += buf;
            }
            std::printf("%-12s %s (%s)\n", p.name.c_str(), p.label.c_str(), values.c_str());
        }
        return 0;
    } catch (const Error& e) {
        return report(e);
    }
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "plugin_settings.h"

#include "errors.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zendrik_mask {

namespace {

bool names(const std::string& name, const Preset& p)
{
    return name == p.name || name == p.uri || name == p.label || name == "preset-" + p.name;
}

std::string hertz(double frequency)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g Hz", frequency);
    return text;
}

// The fewest digits that give the float back: never "1" for what is not 1.
std::string shortest(float value)
{
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    return text;
}

} // namespace

float parse_level(const std::string& text)
{
    std::string_view number(text);
    const std::size_t length = number.size();
    // Broadcast people give levels in decibels; the plugin takes a gain.
    const bool decibels = length >= 2 && (number[length - 2] == 'd' || number[length - 2] == 'D')
        && (number[length - 1] == 'b' || number[length - 1] == 'B');
    if (decibels) {
        number.remove_suffix(2);
        while (!number.empty() && number.back() == ' ') {
            number.remove_suffix(1);
        }
    }
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
    }
    // A decimal comma, as times take it: -6,5dB.
    std::string point(number);
    if (const auto comma = point.find(','); comma != std::string::npos && point.find('.') == std::string::npos) {
        point[comma] = '.';
    }
    number = point;
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() || std::isnan(value)) {
        throw bad_input("--level '" + text + "' is neither a gain (0.5) nor decibels (-6dB)");
    }
    return static_cast<float>(decibels ? std::pow(10.0, value / 20.0) : value);
}

void configure_plugin(Lv2Host& host, const Options& options)
{
    if (!options.preset.empty()) {
        bool found = false;
        for (const Preset& p : host.presets()) {
            if (names(options.preset, p)) {
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
        float value = **setting;
        // The ports are floats: a value a float's step beyond an end (1.0000001)
        // is that end, as near as a float can say.
        if (value > info.maximum && value <= std::nextafter(info.maximum, INFINITY)) {
            value = info.maximum;
        } else if (value < info.minimum && value >= std::nextafter(info.minimum, -INFINITY)) {
            value = info.minimum;
        }
        if (!(value >= info.minimum && value <= info.maximum)) {
            char message[160];
            std::snprintf(message, sizeof message, "--%s %s is outside the plugin's range %g to %g", symbol,
                          shortest(value).c_str(), static_cast<double>(info.minimum),
                          static_cast<double>(info.maximum));
            throw bad_input(message);
        }
        host.set_control(symbol, value);
    }
}

float tone_frequency(Lv2Host& host, const Options& options)
{
    if (options.frequency) {
        return *options.frequency;
    }
    for (const Preset& p : host.presets()) {
        for (const auto& [symbol, value] : p.values) {
            if (!options.preset.empty() && names(options.preset, p) && symbol == "frequency") {
                return value;
            }
        }
    }
    return host.control("frequency").default_value;
}

std::string nyquist_warning(double frequency, int rate, const std::string& input)
{
    const double nyquist = rate / 2.0;
    if (frequency < nyquist) {
        return "";
    }
    // Sampled, the tone folds back to its distance from the nearest multiple
    // of the rate; at 0 Hz and at exactly half the rate every sample of a
    // sine starting at phase zero is zero.
    const double heard = std::fabs(frequency - rate * std::nearbyint(frequency / rate));
    const std::string outcome = heard == 0.0 || heard == nyquist
        ? "the bleeps will be silent"
        : "the bleeps will sound at " + hertz(heard) + " instead";
    return "the tone's " + hertz(frequency) + " is at or above the Nyquist frequency of '" + input
        + "' (half its sample rate, " + hertz(nyquist) + "): " + outcome + "; choose --frequency below "
        + hertz(nyquist);
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

ToneSource tone_of(Lv2Host& host, int64_t block)
{
    auto silence = std::make_shared<std::vector<float>>(static_cast<std::size_t>(block), 0.0f);
    auto scratch = std::make_shared<std::vector<float>>(1);
    ToneSource tone;
    // One pass-through frame restarts the tone at phase zero, as the
    // pass-through before a range does in the decode path.
    tone.restart = [&host, silence, scratch] {
        host.set_enable(false);
        for (unsigned c = 0; c < host.channels(); ++c) {
            host.run(c, silence->data(), scratch->data(), 1);
        }
        host.set_enable(true);
    };
    tone.render = [&host, silence](unsigned channel, float* out, uint32_t frames) {
        host.run(channel, silence->data(), out, frames);
    };
    return tone;
}

} // namespace zendrik_mask

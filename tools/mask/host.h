// SPDX-License-Identifier: ISC
// zendrik-mask's LV2 side: finds the plugin through lilv, reads its ports and
// presets from the bundle, and runs one instance per channel.
#ifndef ZENDRIK_MASK_HOST_H
#define ZENDRIK_MASK_HOST_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zendrik_mask {

struct Preset {
    std::string name;  // the URI's fragment without "preset-": "broadcast"
    std::string label; // rdfs:label
    std::string uri;
    std::vector<std::pair<std::string, float>> values; // port symbol, value
};

struct ControlInfo {
    float minimum;
    float maximum;
    float default_value;
};

class Lv2Host {
public:
    // Loads LV2_PATH or the standard locations, once per process; when the plugin is not there
    // and `fallback_dir` is not empty, the bundles in that folder too.
    // Throws the bad-input Error when the plugin cannot be found or used.
    Lv2Host(const std::string& uri, const std::string& fallback_dir);
    ~Lv2Host();
    Lv2Host(const Lv2Host&) = delete;
    Lv2Host& operator=(const Lv2Host&) = delete;

    // Where the plugin's bundle was found.
    std::string bundle_path() const;
    std::vector<Preset> presets();
    ControlInfo control(const std::string& symbol) const;
    void set_control(const std::string& symbol, float value);

    // One instance per channel; every instance shares the control values.
    void instantiate(double rate, unsigned channels);
    unsigned channels() const;
    void set_enable(bool on);
    void run(unsigned channel, const float* in, float* out, uint32_t frames);

private:
    std::string bundle_path_locked() const;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The folder whose bundles are a last resort: the build tree's, when this
// program runs from the build tree; otherwise empty.
std::string fallback_lv2_dir();

// The folders that hold the word lists shipped with this program: the
// build tree's, when it runs from there, and the one installed beside it.
std::vector<std::string> shipped_word_list_dirs();

} // namespace zendrik_mask

#endif

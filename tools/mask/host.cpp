// SPDX-License-Identifier: ISC
#include "host.h"

#include "errors.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace zendrik_mask {

namespace {

// The URID map lilv needs to read presets; the plugin itself needs none.
struct UridMap {
    std::unordered_map<std::string, LV2_URID> ids;
    LV2_URID_Map feature{this, &UridMap::map};

    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto* self = static_cast<UridMap*>(handle);
        auto [it, added] = self->ids.emplace(uri, static_cast<LV2_URID>(self->ids.size() + 1));
        return it->second;
    }
};

std::string to_string(const LilvNode* node)
{
    const char* s = node ? lilv_node_as_string(node) : nullptr;
    return s ? s : "";
}

// lilv turns each LV2_PATH entry into a file URI as it stands and crashes on
// a relative one, so relative entries are made absolute before it looks.
void make_lv2_path_absolute()
{
    const char* value = std::getenv("LV2_PATH");
    if (!value) {
        return;
    }
    std::istringstream entries(value);
    std::string entry, result;
    for (bool first = true; std::getline(entries, entry, ':'); first = false) {
        if (!entry.empty() && entry[0] != '/' && entry[0] != '~') {
            std::error_code ec;
            const std::filesystem::path absolute = std::filesystem::absolute(entry, ec);
            if (!ec) {
                entry = absolute.string();
            }
        }
        result += (first ? "" : ":") + entry;
    }
    setenv("LV2_PATH", result.c_str(), 1);
}

// The LV2 world is loaded once per process, however many files and hosts it
// serves: loading reads every bundle installed. lilv is not thread-safe, so
// every call into it holds the lock; a plugin's run() needs none.
struct SharedWorld {
    std::mutex lock;
    LilvWorld* world = nullptr;
    ~SharedWorld()
    {
        if (world) {
            lilv_world_free(world);
        }
    }
};

SharedWorld& shared_world()
{
    static SharedWorld shared;
    return shared;
}

} // namespace

struct Lv2Host::Impl {
    std::lock_guard<std::mutex> lock() { return std::lock_guard<std::mutex>(shared_world().lock); }
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    UridMap urids;

    uint32_t audio_in = UINT32_MAX;
    uint32_t audio_out = UINT32_MAX;
    uint32_t enable_port = UINT32_MAX;
    std::vector<float> controls; // one value per port; audio ports unused
    std::vector<bool> is_control;
    std::vector<float> minimum, maximum, defaults;
    std::vector<LilvInstance*> instances;

    ~Impl()
    {
        const auto held = lock();
        for (LilvInstance* i : instances) {
            lilv_instance_deactivate(i);
            lilv_instance_free(i);
        }
    }

    const LilvPlugin* find(const std::string& uri)
    {
        LilvNode* node = lilv_new_uri(world, uri.c_str());
        const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        lilv_node_free(node);
        return p;
    }

    uint32_t port_index(const std::string& symbol) const
    {
        LilvNode* sym = lilv_new_string(world, symbol.c_str());
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, sym);
        lilv_node_free(sym);
        return port ? lilv_port_get_index(plugin, port) : UINT32_MAX;
    }
};

Lv2Host::Lv2Host(const std::string& uri, const std::string& fallback_dir) : impl_(new Impl)
{
    Impl& host = *impl_;
    const auto held = host.lock();
    if (!shared_world().world) {
        make_lv2_path_absolute();
        shared_world().world = lilv_world_new();
        lilv_world_load_all(shared_world().world);
    }
    host.world = shared_world().world;
    host.plugin = host.find(uri);
    if (!host.plugin && !fallback_dir.empty()) {
        LilvNode* dir = lilv_new_file_uri(host.world, nullptr, (fallback_dir + "/zendrik.lv2/").c_str());
        lilv_world_load_bundle(host.world, dir);
        lilv_node_free(dir);
        host.plugin = host.find(uri);
    }
    if (!host.plugin) {
        const char* path = std::getenv("LV2_PATH");
        throw bad_input("plugin <" + uri + "> not found "
                        + (path ? "in LV2_PATH (" + std::string(path) + ")"
                                : std::string("in the standard LV2 locations (LV2_PATH is not set)"))
                        + "; install the bundle or set LV2_PATH to the folder holding zendrik.lv2");
    }

    LilvNodes* required = lilv_plugin_get_required_features(host.plugin);
    if (required && lilv_nodes_size(required) > 0) {
        const std::string first = to_string(lilv_nodes_get(required, lilv_nodes_begin(required)));
        lilv_nodes_free(required);
        throw bad_input("the plugin requires the LV2 feature <" + first + ">, which this host lacks");
    }
    lilv_nodes_free(required);

    LilvNode* audio = lilv_new_uri(host.world, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(host.world, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(host.world, LV2_CORE__InputPort);
    LilvNode* optional = lilv_new_uri(host.world, LV2_CORE__connectionOptional);
    const uint32_t port_count = lilv_plugin_get_num_ports(host.plugin);
    host.controls.assign(port_count, 0.0f);
    host.is_control.assign(port_count, false);
    host.minimum.assign(port_count, NAN);
    host.maximum.assign(port_count, NAN);
    host.defaults.assign(port_count, NAN);
    lilv_plugin_get_port_ranges_float(host.plugin, host.minimum.data(), host.maximum.data(), host.defaults.data());
    std::string bad;
    for (uint32_t i = 0; i < port_count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(host.plugin, i);
        const bool in = lilv_port_is_a(host.plugin, port, input);
        if (lilv_port_is_a(host.plugin, port, audio)) {
            uint32_t& slot = in ? host.audio_in : host.audio_out;
            if (slot != UINT32_MAX) {
                bad = "more than one audio " + std::string(in ? "input" : "output");
            }
            slot = i;
        } else if (lilv_port_is_a(host.plugin, port, control)) {
            host.is_control[i] = true;
            host.controls[i] = std::isnan(host.defaults[i]) ? 0.0f : host.defaults[i];
        } else if (!lilv_port_has_property(host.plugin, port, optional)) {
            bad = "port " + to_string(lilv_port_get_symbol(host.plugin, port)) + " of an unknown kind";
        }
    }
    lilv_node_free(audio);
    lilv_node_free(control);
    lilv_node_free(input);
    lilv_node_free(optional);
    host.enable_port = host.port_index("enable");
    if (bad.empty() && (host.audio_in == UINT32_MAX || host.audio_out == UINT32_MAX)) {
        bad = "no mono audio input and output";
    }
    for (const char* sym : {"frequency", "level", "enable"}) {
        const uint32_t i = host.port_index(sym);
        if (bad.empty() && (i == UINT32_MAX || !host.is_control[i])) {
            bad = std::string("no control port '") + sym + "'";
        }
    }
    if (!bad.empty()) {
        throw bad_input("the plugin found at " + bundle_path_locked() + " is not usable: " + bad);
    }
}

Lv2Host::~Lv2Host() = default;

std::string Lv2Host::bundle_path() const
{
    const auto held = impl_->lock();
    return bundle_path_locked();
}

std::string Lv2Host::bundle_path_locked() const
{
    char* path = lilv_file_uri_parse(to_string(lilv_plugin_get_bundle_uri(impl_->plugin)).c_str(), nullptr);
    std::string out = path ? path : to_string(lilv_plugin_get_bundle_uri(impl_->plugin));
    lilv_free(path);
    return out;
}

std::vector<Preset> Lv2Host::presets()
{
    Impl& host = *impl_;
    const auto held = host.lock();
    struct Sink {
        Preset* preset;
        UridMap* urids;
    };
    std::vector<Preset> out;
    LilvNode* preset_class = lilv_new_uri(host.world, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(host.world, LILV_NS_RDFS "label");
    LilvNodes* related = lilv_plugin_get_related(host.plugin, preset_class);
    LILV_FOREACH(nodes, it, related)
    {
        const LilvNode* node = lilv_nodes_get(related, it);
        lilv_world_load_resource(host.world, node);
        Preset preset;
        preset.uri = to_string(node);
        const auto hash = preset.uri.rfind('#');
        preset.name = hash == std::string::npos ? preset.uri : preset.uri.substr(hash + 1);
        if (preset.name.rfind("preset-", 0) == 0) {
            preset.name.erase(0, 7);
        }
        LilvNode* l = lilv_world_get(host.world, node, label, nullptr);
        preset.label = to_string(l);
        lilv_node_free(l);
        LilvState* state = lilv_state_new_from_world(host.world, &host.urids.feature, node);
        if (state) {
            Sink sink{&preset, &host.urids};
            lilv_state_emit_port_values(
                state,
                [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
                    auto* s = static_cast<Sink*>(user);
                    const LV2_URID_Map& m = s->urids->feature;
                    float v = NAN;
                    if (type == m.map(m.handle, LV2_ATOM__Float) && size == sizeof(float)) {
                        v = *static_cast<const float*>(value);
                    } else if (type == m.map(m.handle, LV2_ATOM__Double) && size == sizeof(double)) {
                        v = static_cast<float>(*static_cast<const double*>(value));
                    } else if ((type == m.map(m.handle, LV2_ATOM__Int) || type == m.map(m.handle, LV2_ATOM__Bool))
                               && size == sizeof(int32_t)) {
                        v = static_cast<float>(*static_cast<const int32_t*>(value));
                    }
                    if (!std::isnan(v)) {
                        s->preset->values.emplace_back(symbol, v);
                    }
                },
                &sink);
            lilv_state_free(state);
        }
        out.push_back(std::move(preset));
    }
    lilv_nodes_free(related);
    lilv_node_free(label);
    lilv_node_free(preset_class);
    // lilv's order changes from run to run; a list people read is sorted.
    std::sort(out.begin(), out.end(), [](const Preset& a, const Preset& b) { return a.name < b.name; });
    return out;
}

ControlInfo Lv2Host::control(const std::string& symbol) const
{
    const auto held = impl_->lock();
    const uint32_t i = impl_->port_index(symbol);
    if (i == UINT32_MAX || !impl_->is_control[i]) {
        throw bad_input("the plugin has no control '" + symbol + "'");
    }
    return {impl_->minimum[i], impl_->maximum[i], impl_->defaults[i]};
}

void Lv2Host::set_control(const std::string& symbol, float value)
{
    const auto held = impl_->lock();
    const uint32_t i = impl_->port_index(symbol);
    if (i == UINT32_MAX || !impl_->is_control[i]) {
        throw bad_input("the plugin has no control '" + symbol + "'");
    }
    impl_->controls[i] = value;
}

void Lv2Host::instantiate(double rate, unsigned channels)
{
    Impl& host = *impl_;
    const auto held = host.lock();
    const LV2_Feature map_feature{LV2_URID__map, &host.urids.feature};
    const LV2_Feature* features[] = {&map_feature, nullptr};
    for (unsigned c = 0; c < channels; ++c) {
        LilvInstance* inst = lilv_plugin_instantiate(host.plugin, rate, features);
        if (!inst) {
            throw bad_input("the plugin in " + bundle_path_locked() + " could not be instantiated");
        }
        host.instances.push_back(inst);
        for (uint32_t p = 0; p < host.controls.size(); ++p) {
            if (host.is_control[p]) {
                lilv_instance_connect_port(inst, p, &host.controls[p]);
            } else if (p != host.audio_in && p != host.audio_out) {
                lilv_instance_connect_port(inst, p, nullptr);
            }
        }
        lilv_instance_activate(inst);
    }
}

unsigned Lv2Host::channels() const
{
    return static_cast<unsigned>(impl_->instances.size());
}

void Lv2Host::set_enable(bool on)
{
    impl_->controls[impl_->enable_port] = on ? 1.0f : 0.0f;
}

void Lv2Host::run(unsigned channel, const float* in, float* out, uint32_t frames)
{
    LilvInstance* inst = impl_->instances[channel];
    lilv_instance_connect_port(inst, impl_->audio_in, const_cast<float*>(in));
    lilv_instance_connect_port(inst, impl_->audio_out, out);
    lilv_instance_run(inst, frames);
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// A small LV2 host that times run() at blocks of 512 for zendrik (tone and
// pass-through) and for the tone generators Debian users pick: x42's test
// signal, LSP's mono oscillator and mda TestTone. The plugins take turns in
// every round, so a noisy machine slows them all alike; each figure is the
// median over the rounds. Prints one line a plugin:
//     <name> <ns a sample> <ratio to zendrik's tone>
// A plugin that is not installed or will not instantiate is reported and
// left out.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double RATE = 48000.0;
constexpr uint32_t BLOCK = 512;
constexpr int ROUNDS = 31;
constexpr int BLOCKS_PER_ROUND = 400;

// urid:map, as a table; only used while instantiating.
struct UridMap {
    std::map<std::string, LV2_URID> ids;
    static LV2_URID map(LV2_URID_Map_Handle h, const char* uri)
    {
        auto& ids = static_cast<UridMap*>(h)->ids;
        auto it = ids.find(uri);
        if (it != ids.end()) {
            return it->second;
        }
        const auto id = static_cast<LV2_URID>(ids.size() + 1);
        ids.emplace(uri, id);
        return id;
    }
};

struct Peer {
    std::string name;
    std::string uri;
    std::map<std::string, float> controls; // by port symbol; other ports keep their defaults
};

struct Loaded {
    std::string name;
    LilvInstance* instance = nullptr;
    std::vector<float> controls;
    std::vector<std::vector<float>> audio;
    std::vector<std::vector<uint64_t>> atoms; // 8-byte aligned atom buffers
    std::vector<double> ns_per_sample;
};

bool load(LilvWorld* world, const LV2_Feature* const* features, const Peer& peer, Loaded& out)
{
    LilvNode* uri = lilv_new_uri(world, peer.uri.c_str());
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    lilv_node_free(uri);
    if (!plugin) {
        std::fprintf(stderr, "host_bench: %s (%s) is not installed; skipped\n", peer.name.c_str(), peer.uri.c_str());
        return false;
    }
    out.name = peer.name;
    out.instance = lilv_plugin_instantiate(plugin, RATE, features);
    if (!out.instance) {
        std::fprintf(stderr, "host_bench: %s would not instantiate; skipped\n", peer.name.c_str());
        return false;
    }
    LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode* cv = lilv_new_uri(world, LV2_CORE__CVPort);
    LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
    LilvNode* output = lilv_new_uri(world, LV2_CORE__OutputPort);
    const uint32_t n_ports = lilv_plugin_get_num_ports(plugin);
    out.controls.assign(n_ports, 0.0f);
    out.audio.reserve(n_ports);
    out.atoms.reserve(n_ports);
    for (uint32_t i = 0; i < n_ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (lilv_port_is_a(plugin, port, control)) {
            LilvNode* def = nullptr;
            lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
            out.controls[i] = def ? lilv_node_as_float(def) : 0.0f;
            lilv_node_free(def);
            const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            auto it = peer.controls.find(symbol);
            if (it != peer.controls.end()) {
                out.controls[i] = it->second;
            }
            lilv_instance_connect_port(out.instance, i, &out.controls[i]);
        } else if (lilv_port_is_a(plugin, port, audio) || lilv_port_is_a(plugin, port, cv)) {
            out.audio.emplace_back(BLOCK, 0.0f);
            lilv_instance_connect_port(out.instance, i, out.audio.back().data());
        } else if (lilv_port_is_a(plugin, port, atom)) {
            // An empty sequence in, room for 8 KiB of events out.
            out.atoms.emplace_back(1024, 0);
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(out.atoms.back().data());
            seq->atom.size
                = lilv_port_is_a(plugin, port, output) ? 8192 - sizeof(LV2_Atom) : sizeof(LV2_Atom_Sequence_Body);
            lilv_instance_connect_port(out.instance, i, seq);
        } else {
            lilv_instance_connect_port(out.instance, i, nullptr);
        }
    }
    lilv_node_free(control);
    lilv_node_free(audio);
    lilv_node_free(cv);
    lilv_node_free(atom);
    lilv_node_free(output);
    lilv_instance_activate(out.instance);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // This build's zendrik first, then the system's plugins; ~/.lv2 is left
    // out so that an installed zendrik cannot stand in for this one.
    const std::string bundle = argc > 1 ? argv[1] : ZENDRIK_BUNDLE_DIR;
    const std::string lv2_dir = bundle.substr(0, bundle.find_last_of('/', bundle.size() - 2));
    setenv("LV2_PATH", (lv2_dir + ":/usr/local/lib/lv2:/usr/lib/lv2").c_str(), 1);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);

    UridMap urids;
    LV2_URID_Map map = {&urids, UridMap::map};
    const int32_t block = BLOCK;
    const float rate = static_cast<float>(RATE);
    const LV2_URID atom_int = UridMap::map(&urids, LV2_ATOM__Int);
    const LV2_URID atom_float = UridMap::map(&urids, LV2_ATOM__Float);
    LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, UridMap::map(&urids, LV2_BUF_SIZE__minBlockLength), sizeof(int32_t), atom_int,
         &block},
        {LV2_OPTIONS_INSTANCE, 0, UridMap::map(&urids, LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), atom_int,
         &block},
        {LV2_OPTIONS_INSTANCE, 0, UridMap::map(&urids, LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t), atom_int,
         &block},
        {LV2_OPTIONS_INSTANCE, 0, UridMap::map(&urids, "http://lv2plug.in/ns/ext/parameters#sampleRate"), sizeof(float),
         atom_float, &rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    LV2_Feature map_feature = {LV2_URID__map, &map};
    LV2_Feature options_feature = {LV2_OPTIONS__options, options};
    LV2_Feature bounded = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* features[] = {&map_feature, &options_feature, &bounded, nullptr};

    const std::vector<Peer> peers = {
        {"zendrik tone", ZENDRIK_URI, {{"enable", 1.0f}, {"frequency", 1000.0f}, {"level", 0.5f}}},
        {"zendrik pass-through", ZENDRIK_URI, {{"enable", 0.0f}}},
        {"x42 test signal (1 kHz sine)", "http://gareus.org/oss/lv2/testsignal", {}},
        {"LSP oscillator mono (1 kHz sine, defaults: x8 oversampling)",
         "http://lsp-plug.in/plugins/lv2/oscillator_mono",
         {{"freq", 1000.0f}}},
        {"LSP oscillator mono (1 kHz sine, no oversampling)",
         "http://lsp-plug.in/plugins/lv2/oscillator_mono",
         {{"freq", 1000.0f}, {"scom", 0.0f}}},
        {"mda TestTone (sine)", "http://drobilla.net/plugins/mda/TestTone", {{"mode", 0.57f}}},
    };
    std::vector<std::unique_ptr<Loaded>> loaded;
    for (const Peer& peer : peers) {
        auto l = std::make_unique<Loaded>();
        if (load(world, features, peer, *l)) {
            loaded.push_back(std::move(l));
        }
    }
    if (loaded.empty() || loaded.front()->name != "zendrik tone") {
        std::fprintf(stderr, "host_bench: zendrik not found in %s\n", bundle.c_str());
        return 1;
    }

    // Warm up, then rounds in which every plugin takes its turn.
    for (auto& l : loaded) {
        for (int b = 0; b < BLOCKS_PER_ROUND; ++b) {
            lilv_instance_run(l->instance, BLOCK);
        }
    }
    for (int round = 0; round < ROUNDS; ++round) {
        for (auto& l : loaded) {
            const auto t0 = std::chrono::steady_clock::now();
            for (int b = 0; b < BLOCKS_PER_ROUND; ++b) {
                lilv_instance_run(l->instance, BLOCK);
            }
            const auto t1 = std::chrono::steady_clock::now();
            const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
            l->ns_per_sample.push_back(ns / (double(BLOCKS_PER_ROUND) * BLOCK));
        }
    }

    std::vector<double> medians;
    for (auto& l : loaded) {
        auto v = l->ns_per_sample;
        std::sort(v.begin(), v.end());
        medians.push_back(v[v.size() / 2]);
    }
    std::printf("# block %u at %.0f Hz, median of %d rounds of %d blocks; ratio = ns / zendrik tone's ns\n", BLOCK,
                RATE, ROUNDS, BLOCKS_PER_ROUND);
    for (size_t i = 0; i < loaded.size(); ++i) {
        std::printf("%s\t%.3f\t%.2f\n", loaded[i]->name.c_str(), medians[i], medians[i] / medians[0]);
    }
    for (auto& l : loaded) {
        lilv_instance_deactivate(l->instance);
        lilv_instance_free(l->instance);
    }
    lilv_world_free(world);
    return 0;
}

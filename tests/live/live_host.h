// SPDX-License-Identifier: ISC
// zendrik live as an LV2 host runs it: found by lilv on LV2_PATH, its ports
// reached by their symbols, its controls starting at the bundle's defaults,
// audio run through it a block at a time, its word list given as state, as
// a preset or as a patch:Set, through a worker or none. And the tests'
// speech: Debian's LibriVox readings one after another, and Asterisk's
// recorded prompts.
#ifndef ZENDRIK_TESTS_LIVE_HOST_H
#define ZENDRIK_TESTS_LIVE_HOST_H

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <dlfcn.h>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_test {

constexpr const char* READINGS = "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-";
constexpr double READINGS_RATE = 16000.0;

// The five readings at 16 kHz, each followed by half a second of silence.
inline std::vector<float> readings()
{
    std::vector<float> speech;
    for (const char* part : {"0870", "0880", "0890", "0920", "0930"}) {
        SF_INFO info{};
        const std::string path = std::string(READINGS) + part + ".wav";
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        if (!file || info.channels != 1 || info.samplerate != 16000) {
            throw std::runtime_error("cannot read " + path + " (install pocketsphinx-testdata)");
        }
        std::vector<float> samples(static_cast<std::size_t>(info.frames));
        sf_readf_float(file, samples.data(), info.frames);
        sf_close(file);
        speech.insert(speech.end(), samples.begin(), samples.end());
        speech.insert(speech.end(), 8000, 0.0f);
    }
    return speech;
}

// One of Asterisk's recorded prompts (asterisk-core-sounds-en-g722) by its
// name, "vm-star-cancel", at 16 kHz.
inline std::vector<float> asterisk_prompt(const std::string& name)
{
    const std::string command = "ffmpeg -nostdin -v error -f g722 -i /usr/share/asterisk/sounds/en_US_f_Allison/" + name
        + ".g722 -ar 16000 -ac 1 -f f32le -";
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<float> samples;
    float block[4096];
    for (std::size_t read = 0; pipe && (read = std::fread(block, sizeof(float), 4096, pipe)) > 0;) {
        samples.insert(samples.end(), block, block + read);
    }
    if (!pipe || pclose(pipe) != 0 || samples.empty()) {
        throw std::runtime_error("cannot decode the prompt " + name
                                 + " (install ffmpeg, asterisk-core-sounds-en-g722)");
    }
    return samples;
}

class LiveHost {
public:
    // Without `worker`, the host offers none: the plugin loads lists itself.
    explicit LiveHost(double rate, bool worker = true) : rate_(rate)
    {
        if (!worker) {
            features_[1] = nullptr;
        }
        lv2_atom_forge_init(&forge_, &map_);
        // Mapped now, so that no message allocates later.
        for (const char* uri : {LV2_PATCH__Set, LV2_PATCH__Get, LV2_PATCH__property, LV2_PATCH__value, LV2_ATOM__Path,
                                ZENDRIK_LIVE_URI "-words"}) {
            map_uri(uri);
        }
        // Kept loaded to the end, so that what a leak checker finds there
        // is told by its names, the libraries' among them.
        dlopen(ZENDRIK_LIVE_MODULE_PATH, RTLD_NOW | RTLD_NODELETE);
        world_ = lilv_world_new();
        lilv_world_load_all(world_);
        LilvNode* uri = lilv_new_uri(world_, ZENDRIK_LIVE_URI);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        if (!plugin_) {
            lilv_world_free(world_);
            throw std::runtime_error("no zendrik live on LV2_PATH");
        }
        const uint32_t ports = lilv_plugin_get_num_ports(plugin_);
        values_.assign(ports, 0.0f);
        std::vector<float> defaults(ports);
        lilv_plugin_get_port_ranges_float(plugin_, nullptr, nullptr, defaults.data());
        instance_ = lilv_plugin_instantiate(plugin_, rate, features_);
        if (!instance_) {
            lilv_world_free(world_);
            throw std::runtime_error("zendrik live did not instantiate");
        }
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin_, i);
            ports_.emplace(lilv_node_as_string(lilv_port_get_symbol(plugin_, port)), i);
            values_[i] = defaults[i] == defaults[i] ? defaults[i] : 0.0f;
            lilv_instance_connect_port(instance_, i, &values_[i]);
        }
        in_ = index("in");
        out_ = index("out");
        lilv_instance_connect_port(instance_, index("control"), control_.data());
        lilv_instance_connect_port(instance_, index("notify"), notify_.data());
        clear_control();
        lilv_instance_activate(instance_);
    }
    ~LiveHost()
    {
        lilv_instance_deactivate(instance_);
        lilv_instance_free(instance_);
        lilv_world_free(world_);
    }
    LiveHost(const LiveHost&) = delete;
    LiveHost& operator=(const LiveHost&) = delete;

    // A control port's value, input or output, by its symbol (found without
    // allocating, for the real-time checks).
    float& control(const char* symbol)
    {
        const auto port = ports_.find(std::string_view(symbol));
        if (port == ports_.end()) {
            throw std::runtime_error(std::string("no port ") + symbol);
        }
        return values_[port->second];
    }

    // `in` through the plugin in blocks of `block` samples; `before` is
    // told each block's first input position first, to set controls.
    std::vector<float> process(const std::vector<float>& in, uint32_t block,
                               const std::function<void(std::size_t)>& before = {})
    {
        std::vector<float> out(in.size());
        std::vector<float> in_block(block), out_block(block);
        lilv_instance_connect_port(instance_, index("in"), in_block.data());
        lilv_instance_connect_port(instance_, index("out"), out_block.data());
        for (std::size_t at = 0; at < in.size(); at += block) {
            const auto n = static_cast<uint32_t>(std::min<std::size_t>(block, in.size() - at));
            std::copy(in.begin() + static_cast<std::ptrdiff_t>(at), in.begin() + static_cast<std::ptrdiff_t>(at + n),
                      in_block.begin());
            if (before) {
                before(at);
            }
            run_block(n);
            read_notify();
            work();
            std::copy(out_block.begin(), out_block.begin() + n, out.begin() + static_cast<std::ptrdiff_t>(at));
        }
        return out;
    }
    // One block from `in` to `out`, allocating nothing: for the real-time checks.
    void run(const float* in, float* out, uint32_t n)
    {
        lilv_instance_connect_port(instance_, in_, const_cast<float*>(in));
        lilv_instance_connect_port(instance_, out_, out);
        run_block(n);
    }
    double rate() const { return rate_; }

    // A patch:Set of the word list, or a patch:Get, for the next block.
    void set_words(const std::string& path)
    {
        LV2_Atom_Forge_Frame frame;
        start_message(frame, LV2_PATCH__Set);
        lv2_atom_forge_key(&forge_, map_uri(LV2_PATCH__value));
        lv2_atom_forge_path(&forge_, path.c_str(), static_cast<uint32_t>(path.size()));
        lv2_atom_forge_pop(&forge_, &frame);
    }
    void ask_words()
    {
        LV2_Atom_Forge_Frame frame;
        start_message(frame, LV2_PATCH__Get);
        lv2_atom_forge_pop(&forge_, &frame);
    }
    // The word list the plugin last told on its notify port (process() only).
    const std::string& told_words() const { return told_; }

    // A preset of the bundle, applied as lilv applies one.
    bool apply_preset(const std::string& uri)
    {
        LilvNode* preset = lilv_new_uri(world_, uri.c_str());
        lilv_world_load_resource(world_, preset);
        LilvState* state = lilv_state_new_from_world(world_, &map_, preset);
        lilv_node_free(preset);
        if (!state) {
            return false;
        }
        lilv_state_restore(state, instance_, nullptr, nullptr, 0, features_);
        lilv_state_free(state);
        return true;
    }

    // The word list, restored as a host restores the plugin's state.
    bool restore_words(const std::string& path)
    {
        const auto* state = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
        words_ = path;
        const auto retrieve = [](LV2_State_Handle handle, uint32_t key, std::size_t* size, uint32_t* type,
                                 uint32_t* flags) -> const void* {
            auto* self = static_cast<LiveHost*>(handle);
            if (key != self->map_uri(ZENDRIK_LIVE_URI "-words")) {
                return nullptr;
            }
            *size = self->words_.size() + 1;
            *type = self->map_uri(LV2_ATOM__Path);
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return self->words_.c_str();
        };
        return state
            && state->restore(lilv_instance_get_handle(instance_), retrieve, this, 0, features_) == LV2_STATE_SUCCESS;
    }

private:
    void run_block(uint32_t n)
    {
        notify_[0] = notify_.size() * sizeof(uint64_t) - sizeof(LV2_Atom); // its capacity
        notify_[1] = 0;
        lilv_instance_run(instance_, n);
        clear_control();
    }
    // An empty sequence, or one whose message set_words or ask_words begins.
    void clear_control()
    {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(control_.data()), control_.size() * 8);
        lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
    }
    void start_message(LV2_Atom_Forge_Frame& frame, const char* type)
    {
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &frame, 0, map_uri(type));
        lv2_atom_forge_key(&forge_, map_uri(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge_, map_uri(ZENDRIK_LIVE_URI "-words"));
    }
    void read_notify()
    {
        const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
        LV2_ATOM_SEQUENCE_FOREACH(sequence, event)
        {
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(reinterpret_cast<const LV2_Atom_Object*>(&event->body), map_uri(LV2_PATCH__value),
                                &value, 0);
            if (value && value->type == map_uri(LV2_ATOM__Path)) {
                told_ = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
            }
        }
    }
    // The host's worker, run between blocks.
    void work()
    {
        const auto* worker = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        const auto respond = [](LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            static_cast<LiveHost*>(handle)->answers_.emplace_back(bytes, bytes + size);
            return LV2_WORKER_SUCCESS;
        };
        for (const std::vector<uint8_t>& job : jobs_) {
            worker->work(lilv_instance_get_handle(instance_), respond, this, static_cast<uint32_t>(job.size()),
                         job.data());
        }
        jobs_.clear();
        for (const std::vector<uint8_t>& answer : answers_) {
            worker->work_response(lilv_instance_get_handle(instance_), static_cast<uint32_t>(answer.size()),
                                  answer.data());
        }
        answers_.clear();
    }
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data)
    {
        const auto* bytes = static_cast<const uint8_t*>(data);
        static_cast<LiveHost*>(handle)->jobs_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    uint32_t index(const char* symbol) const
    {
        LilvNode* name = lilv_new_string(world_, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin_, name);
        lilv_node_free(name);
        if (!port) {
            throw std::runtime_error(std::string("no port ") + symbol);
        }
        return lilv_port_get_index(plugin_, port);
    }

    // The host's URIDs: each URI's place in the list, from 1.
    LV2_URID map_uri(const char* uri)
    {
        for (std::size_t i = 0; i < uris_.size(); ++i) {
            if (uris_[i] == uri) {
                return static_cast<LV2_URID>(i + 1);
            }
        }
        uris_.emplace_back(uri);
        return static_cast<LV2_URID>(uris_.size());
    }
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        return static_cast<LiveHost*>(handle)->map_uri(uri);
    }

    std::vector<std::string> uris_;
    std::string words_;
    LV2_URID_Map map_{this, map};
    LV2_Feature map_feature_{LV2_URID__map, &map_};
    LV2_Worker_Schedule schedule_{this, schedule};
    LV2_Feature schedule_feature_{LV2_WORKER__schedule, &schedule_};
    const LV2_Feature* features_[3] = {&map_feature_, &schedule_feature_, nullptr};
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame sequence_{};                             // the control sequence's, open until the block runs
    std::vector<uint64_t> control_ = std::vector<uint64_t>(1024); // aligned for atoms
    std::vector<uint64_t> notify_ = std::vector<uint64_t>(1024);
    std::vector<std::vector<uint8_t>> jobs_, answers_;
    std::string told_;
    double rate_;
    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::vector<float> values_;
    std::map<std::string, uint32_t, std::less<>> ports_;
    uint32_t in_ = 0;
    uint32_t out_ = 0;
};

} // namespace zendrik_test

#endif

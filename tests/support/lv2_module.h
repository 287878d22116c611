// SPDX-License-Identifier: ISC
// Loads the built plugin module the way an LV2 host does: dlopen, then
// lv2_descriptor. Tests reach the plugin only through the descriptor.
#ifndef ZENDRIK_TESTS_LV2_MODULE_H
#define ZENDRIK_TESTS_LV2_MODULE_H

#include <lv2/core/lv2.h>

#include <cstdint>
#include <dlfcn.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "zendrik.h"

namespace zendrik_test {

class Lv2Module {
public:
    explicit Lv2Module(const char* path = ZENDRIK_MODULE_PATH)
    {
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
        }
        entry_ = reinterpret_cast<LV2_Descriptor_Function>(dlsym(handle_, "lv2_descriptor"));
        if (!entry_) {
            throw std::runtime_error("module does not export lv2_descriptor");
        }
    }
    ~Lv2Module() { dlclose(handle_); }
    Lv2Module(const Lv2Module&) = delete;
    Lv2Module& operator=(const Lv2Module&) = delete;

    LV2_Descriptor_Function entry() const { return entry_; }
    const LV2_Descriptor* descriptor() const { return entry_(0); }

private:
    void* handle_ = nullptr;
    LV2_Descriptor_Function entry_ = nullptr;
};

// The module loaded once for the whole test program.
inline const LV2_Descriptor* descriptor()
{
    static Lv2Module module;
    return module.descriptor();
}

// One instance with its control values and audio buffers, owned by the test
// as a host would own them.
class Instance {
public:
    Instance(const LV2_Descriptor* descriptor, double sample_rate)
        : d_(descriptor), handle_(descriptor->instantiate(descriptor, sample_rate, "/nonexistent/", features_))
    {
        if (!handle_) {
            throw std::runtime_error("instantiate failed");
        }
        connect(PORT_FREQUENCY, &frequency);
        connect(PORT_LEVEL, &level);
        connect(PORT_ENABLE, &enable);
    }
    ~Instance() { d_->cleanup(handle_); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    void connect(uint32_t port, void* data) { d_->connect_port(handle_, port, data); }
    void run(uint32_t n) { d_->run(handle_, n); }
    // The record behind the handle, for checks on its fields.
    const PluginInstance& record() const { return *static_cast<const PluginInstance*>(handle_); }

    // Connects in and out (either may be null) and runs one block.
    void process(const float* in, float* out, uint32_t n)
    {
        connect(PORT_INPUT, const_cast<float*>(in));
        connect(PORT_OUTPUT, out);
        run(n);
    }

    float frequency = 1000.0f;
    float level = 1.0f;
    float enable = 0.0f;

private:
    static constexpr const LV2_Feature* features_[] = {nullptr};
    const LV2_Descriptor* d_;
    LV2_Handle handle_;
};

} // namespace zendrik_test

#endif

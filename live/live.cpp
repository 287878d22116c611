// SPDX-License-Identifier: ISC
// zendrik live: instance lifecycle, block processing and the descriptor.
// run() keeps the delay line and the marks of what is to be bleeped; the
// recogniser's thread (listener.cpp) only hears the input and sends finds.
// run allocates nothing, takes no lock and makes no system call, except
// while the host freewheels, when it waits for the recogniser.
#include "live.h"
#include "listener.h"
#include "tone.h"
#include "words.h"

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sched.h>
#include <string>
#include <time.h>

namespace {

using zendrik_live::Find;
using zendrik_live::Shared;

constexpr float SWITCH_THRESHOLD = 0.5f;
// Samples handled at a time: the input of a chunk is in the line before
// any of its output is written, so in and out may share a buffer.
constexpr uint32_t CHUNK = 1024;
// A change of delay fades the old position out and the new one in.
constexpr double FADE_SECONDS = 0.01;
// The recogniser's ring holds this much input it has not read yet.
constexpr double RING_SECONDS = 20.0;
// Freewheeling, run waits this long at most for the recogniser to load its
// model, then for each decision.
constexpr double LONGEST_LOAD_SECONDS = 120.0;
constexpr double LONGEST_WAIT_SECONDS = 10.0;

struct LiveInstance {
    const float* input;
    float* output;
    const float* delay;
    const float* automatic;
    const float* sensitivity;
    const float* frequency;
    const float* level;
    const float* pad;
    const float* bleep;
    const float* dump;
    float* lag;
    float* bleeped;
    float* overrun;
    const float* freewheel;

    double rate;
    uint64_t length;  // of the line and the marks
    float* line;      // the input, by its position modulo length
    uint8_t* marks;   // 1 where the input at that position is to be bleeped
    uint64_t written; // input samples so far
    uint64_t delay_samples;
    uint64_t target_samples; // the delay that a fade under way moves to
    uint32_t fade;           // samples of the fade left
    uint32_t fade_length;
    bool fading_in;
    bool started;
    bool dump_was_down;
    double phase;
    uint64_t trouble_until; // the overrun flag stays up until this input position
    uint64_t marking_until; // a find's pad reaches input not written yet
    uint64_t lost_seen;
    float words;
    Shared* shared;
    zendrik_live::Listener* listener;
    zendrik_live::WordList word_list;
};

bool on(const float* port)
{
    return port && *port > SWITCH_THRESHOLD; // NaN is off
}

double clamped(const float* port, double low, double high, double fallback)
{
    if (!port || !std::isfinite(*port)) {
        return fallback;
    }
    return *port < low ? low : *port > high ? high : *port;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char* bundle_path, const LV2_Feature* const* features)
{
    if (!(rate >= 8000.0 && rate <= 768000.0)) {
        return nullptr;
    }
    auto* self = static_cast<LiveInstance*>(std::calloc(1, sizeof(LiveInstance)));
    if (!self) {
        return nullptr;
    }
    self->rate = rate;
    self->length = static_cast<uint64_t>(std::ceil(LIVE_MAX_DELAY * rate)) + 2 * CHUNK;
    self->line = static_cast<float*>(std::calloc(self->length, sizeof(float)));
    self->marks = static_cast<uint8_t*>(std::calloc(self->length, 1));
    self->fade_length = static_cast<uint32_t>(FADE_SECONDS * rate);
    self->dump_was_down = true;
    self->shared = new (std::nothrow) Shared(rate, static_cast<std::size_t>(RING_SECONDS * rate));
    if (!self->line || !self->marks || !self->shared) {
        std::free(self->line);
        std::free(self->marks);
        delete self->shared;
        std::free(self);
        return nullptr;
    }
    // The shipped list, in the bundle, until the host gives another.
    const std::string shipped = std::string(bundle_path ? bundle_path : "") + "/profanity.txt";
    zendrik_live::start_words(self->word_list, *self->shared, features, shipped.c_str());
    self->listener = zendrik_live::start_listener(*self->shared);
    return self;
}

void connect_port(LV2_Handle instance, uint32_t port, void* data)
{
    auto* self = static_cast<LiveInstance*>(instance);
    auto* value = static_cast<float*>(data);
    switch (port) {
    case LIVE_INPUT: self->input = value; break;
    case LIVE_OUTPUT: self->output = value; break;
    case LIVE_DELAY: self->delay = value; break;
    case LIVE_AUTO: self->automatic = value; break;
    case LIVE_SENSITIVITY: self->sensitivity = value; break;
    case LIVE_FREQUENCY: self->frequency = value; break;
    case LIVE_LEVEL: self->level = value; break;
    case LIVE_PAD: self->pad = value; break;
    case LIVE_BLEEP: self->bleep = value; break;
    case LIVE_DUMP: self->dump = value; break;
    case LIVE_LAG: self->lag = value; break;
    case LIVE_BLEEPED: self->bleeped = value; break;
    case LIVE_OVERRUN: self->overrun = value; break;
    case LIVE_FREEWHEEL: self->freewheel = value; break;
    case LIVE_CONTROL: self->word_list.control = static_cast<const LV2_Atom_Sequence*>(data); break;
    case LIVE_NOTIFY: self->word_list.notify = static_cast<LV2_Atom_Sequence*>(data); break;
    default: break;
    }
}

// Marks input positions [from, to) that are still in the line and not aired.
void mark(LiveInstance* self, uint64_t from, uint64_t to)
{
    const uint64_t oldest = self->written > self->length ? self->written - self->length : 0;
    from = from < oldest ? oldest : from;
    to = to > self->written ? self->written : to;
    for (uint64_t position = from; position < to; ++position) {
        self->marks[position % self->length] = 1;
    }
}

// The next input position to air.
uint64_t airing(const LiveInstance* self)
{
    return self->written > self->delay_samples ? self->written - self->delay_samples : 0;
}

void take_finds(LiveInstance* self, uint64_t pad)
{
    Find find{};
    const bool automatic = on(self->automatic);
    while (self->shared->finds.pop(find)) {
        if (!automatic) {
            continue;
        }
        const uint64_t from = find.start > pad ? find.start - pad : 0;
        if (from < airing(self)) {
            self->trouble_until = self->written + self->delay_samples;
        }
        mark(self, from > airing(self) ? from : airing(self), find.end + pad);
        if (find.end + pad > self->marking_until) {
            self->marking_until = find.end + pad;
        }
        self->words += 1.0f;
    }
}

double seconds_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Freewheeling, run waits for the recogniser, which may still be loading
// its model, but not forever: a recogniser that failed is not waited for.
struct Wait {
    double since = seconds_now();
    bool worth(const Shared& shared) const
    {
        const int status = shared.status.load(std::memory_order_acquire);
        const double longest = status == zendrik_live::LISTENER_LOADING ? LONGEST_LOAD_SECONDS : LONGEST_WAIT_SECONDS;
        return status != zendrik_live::LISTENER_FAILED && seconds_now() - since < longest;
    }
};

// Until the recogniser's ring has room for `count` more samples.
void wait_for_room(LiveInstance* self, uint32_t count)
{
    const Shared& shared = *self->shared;
    for (Wait wait;
         self->written + count > shared.input.read_position() + shared.input.capacity() && wait.worth(shared);) {
        sched_yield();
    }
}

// Until the recogniser has sent every find that reaches what the chunk just
// written airs.
void wait_for_finds(LiveInstance* self, uint64_t pad)
{
    const Shared& shared = *self->shared;
    const uint64_t delay = self->delay_samples < self->target_samples ? self->delay_samples : self->target_samples;
    if (!on(self->automatic) || self->written + pad <= delay) {
        return;
    }
    const uint64_t needed = self->written + pad - delay;
    for (Wait wait; shared.decided_through.load(std::memory_order_acquire) < needed && wait.worth(shared);) {
        sched_yield();
    }
}

void run(LV2_Handle instance, uint32_t n_samples)
{
    auto* self = static_cast<LiveInstance*>(instance);
    Shared& shared = *self->shared;
    zendrik_live::run_words(self->word_list, shared);
    const double rate = self->rate;
    const auto target
        = static_cast<uint64_t>(std::llround(clamped(self->delay, LIVE_MIN_DELAY, LIVE_MAX_DELAY, 5.0) * rate));
    const double pad_seconds = clamped(self->pad, 0.0, LIVE_MAX_PAD, 0.05);
    const auto pad = static_cast<uint64_t>(std::llround(pad_seconds * rate));
    shared.pad.store(static_cast<float>(pad_seconds), std::memory_order_relaxed);
    shared.sensitivity.store(static_cast<float>(clamped(self->sensitivity, 0.0, 1.0, 0.5)), std::memory_order_relaxed);
    if (!self->started) {
        self->delay_samples = self->target_samples = target;
        self->started = true;
    } else if (target != self->target_samples && self->fade == 0) {
        self->target_samples = target;
        self->fade = self->fade_length;
        self->fading_in = false;
    }
    // The recogniser decides in time for the shorter of the delays a fade
    // moves between.
    const uint64_t shortest = self->delay_samples < self->target_samples ? self->delay_samples : self->target_samples;
    shared.delay.store(static_cast<float>(static_cast<double>(shortest) / rate), std::memory_order_relaxed);
    const bool held = on(self->bleep);
    const bool freewheel = on(self->freewheel);
    const double level = clamped(self->level, 0.0, 1.0, 0.5);
    const double increment = clamped(self->frequency, 20.0, 20000.0, 1000.0) * zendrik::TWO_PI / rate;

    const bool dump = on(self->dump);
    if (dump && self->dump_was_down) {
        mark(self, airing(self), self->written);
    }
    self->dump_was_down = !dump;

    for (uint32_t done = 0; done < n_samples;) {
        const uint32_t count = n_samples - done < CHUNK ? n_samples - done : CHUNK;
        const float* in = self->input + done;
        float* out = self->output + done;
        if (freewheel) {
            wait_for_room(self, count);
        }
        shared.input.write(in, count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t at = (self->written + i) % self->length;
            self->line[at] = in[i];
            self->marks[at] = held || self->written + i < self->marking_until ? 1 : 0;
        }
        self->written += count;
        if (freewheel) {
            wait_for_finds(self, pad);
        }
        take_finds(self, pad);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t position = self->written - count + i;
            const bool before = position < self->delay_samples;
            const uint64_t at = (position - (before ? 0 : self->delay_samples)) % self->length;
            if (!before && self->marks[at]) {
                self->phase = zendrik::tone_scalar(out + i, 1, self->phase, increment, level);
                continue;
            }
            self->phase = 0.0;
            float sample = before ? 0.0f : self->line[at];
            if (self->fade > 0) {
                --self->fade;
                const double share = static_cast<double>(self->fade) / self->fade_length;
                sample = static_cast<float>(sample * (self->fading_in ? 1.0 - share : share));
                if (self->fade == 0 && !self->fading_in) {
                    self->delay_samples = self->target_samples;
                    self->fade = self->fade_length;
                    self->fading_in = true;
                }
            }
            out[i] = sample;
        }
        done += count;
    }

    const uint64_t lost = shared.lost.load(std::memory_order_relaxed);
    if (lost != self->lost_seen) {
        self->lost_seen = lost;
        self->trouble_until = self->written + self->delay_samples;
    }
    const uint64_t decided = shared.decided_through.load(std::memory_order_acquire);
    const uint64_t behind = self->written > decided ? self->written - decided : 0;
    const bool listening = shared.status.load(std::memory_order_relaxed) != zendrik_live::LISTENER_FAILED;
    if (self->lag) {
        *self->lag = static_cast<float>(static_cast<double>(behind) / rate);
    }
    if (self->bleeped) {
        *self->bleeped = self->words;
    }
    if (self->overrun) {
        const bool late = behind + pad >= self->delay_samples || self->written < self->trouble_until || !listening;
        *self->overrun = on(self->automatic) && late ? 1.0f : 0.0f;
    }
}

void cleanup(LV2_Handle instance)
{
    auto* self = static_cast<LiveInstance*>(instance);
    zendrik_live::stop_listener(*self->shared, self->listener);
    delete self->shared;
    std::free(self->line);
    std::free(self->marks);
    std::free(self);
}

LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const* features)
{
    auto* self = static_cast<LiveInstance*>(instance);
    return zendrik_live::save_words(self->word_list, *self->shared, store, handle, features);
}

LV2_State_Status restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const* features)
{
    auto* self = static_cast<LiveInstance*>(instance);
    return zendrik_live::restore_words(self->word_list, *self->shared, self->listener, retrieve, handle, features);
}

LV2_Worker_Status work(LV2_Handle instance, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void* data)
{
    return zendrik_live::work_words(*static_cast<LiveInstance*>(instance)->shared, respond, handle, size, data);
}

LV2_Worker_Status work_response(LV2_Handle instance, uint32_t size, const void* body)
{
    return zendrik_live::take_work_answer(static_cast<LiveInstance*>(instance)->word_list, size, body);
}

const void* extension_data(const char* uri)
{
    static const LV2_State_Interface state = {save, restore};
    static const LV2_Worker_Interface worker = {work, work_response, nullptr};
    if (std::strcmp(uri, LV2_STATE__interface) == 0) {
        return &state;
    }
    return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
}

const LV2_Descriptor descriptor = {
    ZENDRIK_LIVE_URI, instantiate, connect_port, nullptr, run, nullptr, cleanup, extension_data,
};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}

// SPDX-License-Identifier: ISC
#include "words.h"

#include <lv2/atom/util.h>
#include <lv2/core/lv2_util.h>
#include <lv2/patch/patch.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace zendrik_live {

namespace {

// The host's own free where it gives one: the path came from its allocator.
void free_path(const LV2_Feature* const* features, char* path)
{
    const auto* free_feature
        = static_cast<const LV2_State_Free_Path*>(lv2_features_data(features, LV2_STATE__freePath));
    if (free_feature) {
        free_feature->free_path(free_feature->handle, path);
    } else {
        std::free(path);
    }
}

void tell_in_effect(WordList& words)
{
    LV2_Atom_Forge& forge = words.forge;
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_frame_time(&forge, 0);
    if (lv2_atom_forge_object(&forge, &frame, 0, words.patch_set)) {
        lv2_atom_forge_key(&forge, words.patch_property);
        lv2_atom_forge_urid(&forge, words.key);
        lv2_atom_forge_key(&forge, words.patch_value);
        lv2_atom_forge_path(&forge, words.in_effect.text, static_cast<uint32_t>(std::strlen(words.in_effect.text)));
        lv2_atom_forge_pop(&forge, &frame);
    }
}

void take_message(WordList& words, Shared& shared, const LV2_Atom* message)
{
    if (!lv2_atom_forge_is_object_type(&words.forge, message->type)) {
        return;
    }
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(message);
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(object, words.patch_property, &property, words.patch_value, &value, 0);
    const bool ours = property && property->type == words.urid_type
        && reinterpret_cast<const LV2_Atom_URID*>(property)->body == words.key;
    if (object->body.otype == words.patch_get) {
        words.tell = words.tell || !property || ours; // no property: all of them
        return;
    }
    if (object->body.otype != words.patch_set || !ours) {
        return;
    }
    // A path that is none, or finds no room, is dropped: the list in effect
    // stays, and the host is told so.
    Path asked;
    const bool valid = value && value->type == words.path_type
        && to_path(static_cast<const char*>(LV2_ATOM_BODY_CONST(value)), value->size, asked);
    const bool handed = valid
        && (words.schedule
                ? words.schedule->schedule_work(words.schedule->handle, value->size, asked.text) == LV2_WORKER_SUCCESS
                : shared.requested.push(asked));
    words.tell = words.tell || !handed;
}

} // namespace

void start_words(WordList& words, Shared& shared, const LV2_Feature* const* features, const char* shipped)
{
    shared.word_list = shipped;
    to_path(shipped, std::strlen(shipped) + 1, words.in_effect);
    words.schedule = static_cast<const LV2_Worker_Schedule*>(lv2_features_data(features, LV2_WORKER__schedule));
    const auto* map = static_cast<const LV2_URID_Map*>(lv2_features_data(features, LV2_URID__map));
    if (!map) {
        return;
    }
    lv2_atom_forge_init(&words.forge, const_cast<LV2_URID_Map*>(map));
    words.key = map->map(map->handle, ZENDRIK_LIVE_WORDS_URI);
    words.path_type = map->map(map->handle, LV2_ATOM__Path);
    words.urid_type = map->map(map->handle, LV2_ATOM__URID);
    words.patch_set = map->map(map->handle, LV2_PATCH__Set);
    words.patch_get = map->map(map->handle, LV2_PATCH__Get);
    words.patch_property = map->map(map->handle, LV2_PATCH__property);
    words.patch_value = map->map(map->handle, LV2_PATCH__value);
}

void run_words(WordList& words, Shared& shared)
{
    Path path;
    while (shared.in_effect.pop(path)) {
        words.in_effect = path;
        words.tell = true;
    }
    if (!words.key) {
        return;
    }
    if (words.control) {
        LV2_ATOM_SEQUENCE_FOREACH(words.control, event)
        {
            take_message(words, shared, &event->body);
        }
    }
    if (!words.notify) {
        return;
    }
    // The host gives the notify buffer's capacity as its size.
    lv2_atom_forge_set_buffer(&words.forge, reinterpret_cast<uint8_t*>(words.notify), words.notify->atom.size);
    LV2_Atom_Forge_Frame sequence;
    if (!lv2_atom_forge_sequence_head(&words.forge, &sequence, 0)) {
        return;
    }
    if (words.tell) {
        tell_in_effect(words);
        words.tell = false;
    }
    lv2_atom_forge_pop(&words.forge, &sequence);
}

LV2_State_Status save_words(const WordList& words, Shared& shared, LV2_State_Store_Function store,
                            LV2_State_Handle handle, const LV2_Feature* const* features)
{
    if (!words.key) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    std::string path;
    {
        const std::lock_guard<std::mutex> lock(shared.word_list_mutex);
        path = shared.word_list;
    }
    // The host may keep the file with the session, or name it relative to one.
    const auto* map_path = static_cast<const LV2_State_Map_Path*>(lv2_features_data(features, LV2_STATE__mapPath));
    char* abstract = map_path ? map_path->abstract_path(map_path->handle, path.c_str()) : nullptr;
    const char* stored = abstract ? abstract : path.c_str();
    const LV2_State_Status status = store(handle, words.key, stored, std::strlen(stored) + 1, words.path_type,
                                          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    if (abstract) {
        free_path(features, abstract);
    }
    return status;
}

// Outside run(): the recogniser's thread starts again with the list.
LV2_State_Status restore_words(WordList& words, Shared& shared, Listener*& listener,
                               LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                               const LV2_Feature* const* features)
{
    if (!words.key) {
        return LV2_STATE_ERR_NO_FEATURE;
    }
    std::size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const auto* stored = static_cast<const char*>(retrieve(handle, words.key, &size, &type, &flags));
    if (!stored || type != words.path_type || size == 0 || stored[size - 1] != '\0') {
        return stored ? LV2_STATE_ERR_BAD_TYPE : LV2_STATE_SUCCESS;
    }
    const auto* map_path = static_cast<const LV2_State_Map_Path*>(lv2_features_data(features, LV2_STATE__mapPath));
    char* absolute = map_path ? map_path->absolute_path(map_path->handle, stored) : nullptr;
    const char* path = absolute ? absolute : stored;
    Path in_effect;
    const bool fits = to_path(path, std::strlen(path) + 1, in_effect);
    if (fits) {
        stop_listener(shared, listener);
        {
            const std::lock_guard<std::mutex> lock(shared.word_list_mutex);
            shared.word_list = path;
        }
        listener = start_listener(shared);
        words.in_effect = in_effect;
        words.tell = true;
    }
    if (absolute) {
        free_path(features, absolute);
    }
    return fits ? LV2_STATE_SUCCESS : LV2_STATE_ERR_BAD_TYPE;
}

LV2_Worker_Status work_words(Shared& shared, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                             uint32_t size, const void* data)
{
    Path asked;
    if (!to_path(static_cast<const char*>(data), size, asked)) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    Path in_effect;
    load_word_list(shared, asked.text, in_effect);
    return respond(handle, static_cast<uint32_t>(std::strlen(in_effect.text) + 1), in_effect.text);
}

LV2_Worker_Status take_work_answer(WordList& words, uint32_t size, const void* data)
{
    if (!to_path(static_cast<const char*>(data), size, words.in_effect)) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    words.tell = true;
    return LV2_WORKER_SUCCESS;
}

} // namespace zendrik_live

// SPDX-License-Identifier: ISC
// zendrik live's word list as hosts see it: the plugin's state, and a path
// parameter that patch:Set changes and patch:Get reads on the control port,
// the list in effect told on the notify port. A new list is read and its
// recogniser loaded off the audio thread: by the host's worker where it
// offers one, otherwise by the recogniser's own thread.
//
// The worker loads while the recogniser goes on listening with the list
// before, so the change costs no decoding time. Decoding itself stays on the
// plugin's thread: a window takes up to a second, too long to hold a worker
// that hosts may share or run in step with run() while they freewheel.
#ifndef ZENDRIK_LIVE_WORDS_H
#define ZENDRIK_LIVE_WORDS_H

#include "listener.h"

#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

namespace zendrik_live {

// Plain data, zeroed with the instance: no word list messages without the
// host's URID map.
struct WordList {
    const LV2_Atom_Sequence* control;
    LV2_Atom_Sequence* notify;
    const LV2_Worker_Schedule* schedule; // null: the recogniser's thread loads
    LV2_Atom_Forge forge;
    LV2_URID key; // the word list's property
    LV2_URID path_type;
    LV2_URID urid_type;
    LV2_URID patch_set;
    LV2_URID patch_get;
    LV2_URID patch_property;
    LV2_URID patch_value;
    Path in_effect; // as run() last learnt it
    bool tell;      // the list in effect goes out with the next run
};

// From instantiate, before the recogniser's thread starts: the host's
// features, the shipped list the plugin starts with.
void start_words(WordList& words, Shared& shared, const LV2_Feature* const* features, const char* shipped);

// From run(): the messages taken, a new list handed off, the answers written.
void run_words(WordList& words, Shared& shared);

LV2_State_Status save_words(const WordList& words, Shared& shared, LV2_State_Store_Function store,
                            LV2_State_Handle handle, const LV2_Feature* const* features);
LV2_State_Status restore_words(WordList& words, Shared& shared, Listener*& listener,
                               LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                               const LV2_Feature* const* features);

// The worker's job and its answer, back on the audio thread.
LV2_Worker_Status work_words(Shared& shared, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                             uint32_t size, const void* data);
LV2_Worker_Status take_work_answer(WordList& words, uint32_t size, const void* data);

} // namespace zendrik_live

#endif

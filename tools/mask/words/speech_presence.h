// SPDX-License-Identifier: ISC
// Where someone speaks in a file: each 10 ms frame's loudness against the
// file's own noise floor and speech level. The recogniser, whose listed
// words are made likelier, invents them in room noise, breath and pauses
// too; a word heard where nothing rises above the floor was not said.
#ifndef ZENDRIK_MASK_SPEECH_PRESENCE_H
#define ZENDRIK_MASK_SPEECH_PRESENCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zendrik_mask {

class SpeechPresence {
public:
    // The file's samples at the recogniser's rate, in order, in any blocks.
    void add(const int16_t* samples, std::size_t count);
    // Once every sample is in: the levels the decisions are taken against.
    void finish();

    // Whether a word heard from `start` to `end` (seconds from the first
    // sample) was spoken: enough of it stands clear of the file's noise floor.
    bool holds_speech(double start, double end) const;

    double noise_floor_db() const { return floor_db_; }
    double speech_level_db() const { return speech_db_; }
    double threshold_db() const { return threshold_db_; }

private:
    std::vector<float> frame_db_; // each whole frame's mean power, dBFS
    double power_ = 0;            // of the frame being filled
    std::size_t filled_ = 0;
    double floor_db_ = 0;
    double speech_db_ = 0;
    double threshold_db_ = 0;
};

} // namespace zendrik_mask

#endif

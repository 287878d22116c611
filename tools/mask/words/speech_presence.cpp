// SPDX-License-Identifier: ISC
#include "speech_presence.h"

#include "recogniser.h"

#include <algorithm>
#include <cmath>

namespace zendrik_mask {

namespace {

constexpr std::size_t FRAME = RECOGNISER_RATE / 100;
// Frames quieter than this are digital silence (a file's padding, an edit),
// not the room: they would put the floor at nothing.
constexpr double SILENCE_DB = -90;
// The floor is the level a tenth of the file's sounding frames stay under,
// the speech level what a twentieth exceed: a file whose pauses are shorter
// than a tenth of it still has quieter moments between words.
constexpr double FLOOR_SHARE = 0.10;
constexpr double SPEECH_SHARE = 0.95;
// A frame is speech when it stands this far above the floor, or this near
// the speech level in a file without noise, whose quietest sounding frames
// are speech themselves; and never when this far below the speech level.
constexpr double FLOOR_MARGIN_DB = 15;
constexpr double SPEECH_HEADROOM_DB = 10;
constexpr double SPEECH_RANGE_DB = 30;
// A word is spoken when this share of its frames are speech. The words
// invented in pauses run long, over the room's noise, touching speech only
// at an edge. Calibrated on the tuning part of bench/words_eval.sh: every
// true find, clean and over music, had half or more; the words invented in
// its pauses over pink noise at -60 dBFS under a third (nine in ten under a
// fifth).
constexpr double SPOKEN_SHARE = 0.4;

double to_db(double power)
{
    return power > 0 ? 10 * std::log10(power) : -120.0;
}

} // namespace

void SpeechPresence::add(const int16_t* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const double sample = samples[i] / 32768.0;
        power_ += sample * sample;
        if (++filled_ == FRAME) {
            frame_db_.push_back(static_cast<float>(to_db(power_ / FRAME)));
            power_ = 0;
            filled_ = 0;
        }
    }
}

void SpeechPresence::finish()
{
    if (filled_ > 0) {
        frame_db_.push_back(static_cast<float>(to_db(power_ / static_cast<double>(filled_))));
        power_ = 0;
        filled_ = 0;
    }
    std::vector<float> sounding;
    std::copy_if(frame_db_.begin(), frame_db_.end(), std::back_inserter(sounding),
                 [](float db) { return db > SILENCE_DB; });
    if (sounding.empty()) {
        floor_db_ = speech_db_ = -120.0;
        threshold_db_ = SILENCE_DB;
        return;
    }
    const auto level_under = [&](double share) {
        const auto nth = sounding.begin()
            + static_cast<std::ptrdiff_t>(std::min(
                sounding.size() - 1, static_cast<std::size_t>(share * static_cast<double>(sounding.size()))));
        std::nth_element(sounding.begin(), nth, sounding.end());
        return static_cast<double>(*nth);
    };
    floor_db_ = level_under(FLOOR_SHARE);
    speech_db_ = level_under(SPEECH_SHARE);
    threshold_db_ = std::max({std::min(floor_db_ + FLOOR_MARGIN_DB, speech_db_ - SPEECH_HEADROOM_DB),
                              speech_db_ - SPEECH_RANGE_DB, SILENCE_DB});
}

bool SpeechPresence::holds_speech(double start, double end) const
{
    const std::size_t frames = frame_db_.size();
    if (frames == 0) {
        return false;
    }
    const auto frame_at = [&](double seconds) {
        return static_cast<std::size_t>(std::clamp(seconds * 100, 0.0, static_cast<double>(frames)));
    };
    const std::size_t first = std::min(frame_at(start), frames - 1);
    const std::size_t last = std::max(first + 1, frame_at(std::ceil(end * 100) / 100));
    const auto speech = std::count_if(frame_db_.begin() + static_cast<std::ptrdiff_t>(first),
                                      frame_db_.begin() + static_cast<std::ptrdiff_t>(last),
                                      [&](float db) { return db >= threshold_db_; });
    return static_cast<double>(speech) >= SPOKEN_SHARE * static_cast<double>(last - first);
}

} // namespace zendrik_mask

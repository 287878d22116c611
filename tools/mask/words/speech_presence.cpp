// SPDX-License-Identifier: ISC
#include "speech_presence.h"

#include "recogniser.h"

#include <algorithm>
#include <cmath>

namespace zendrik_mask {

namespace {

constexpr std::size_t FRAME = RECOGNISER_RATE / 100;
// A word's loudness is that of its loudest 30 ms: a vowel, which every word has.
constexpr std::size_t PEAK_FRAMES = 3;
// Frames quieter than this are digital silence (a file's padding, an edit),
// not the room: they would put the floor at nothing.
constexpr double SILENCE_DB = -90;
// The floor is the level a tenth of the file's sounding frames stay under,
// the speech level what a twentieth exceed: a file whose pauses are shorter
// than a tenth of it still has quieter moments between words.
constexpr double FLOOR_SHARE = 0.10;
constexpr double SPEECH_SHARE = 0.95;
// A spoken word's loudest moment stands this far above the floor, and lies
// no further below the file's speech: calibrated on the tuning part of
// bench/words_eval.sh, where every true find stood 45 dB above the floor
// and within 8 dB of the speech, and the words invented in the pauses
// under pink noise at -60 dBFS within 10 dB of the floor.
constexpr double FLOOR_MARGIN_DB = 15;
constexpr double SPEECH_RANGE_DB = 30;
// Nor is a spoken word asked to come nearer the speech level than this: in
// a file without noise (digital silence between the words) the quietest
// sounding frames are speech themselves.
constexpr double SPEECH_HEADROOM_DB = 10;

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
    std::size_t first = std::min(frame_at(start), frames - 1);
    const std::size_t last = std::max(first + 1, std::min(frames, static_cast<std::size_t>(std::ceil(end * 100))));
    // A word shorter than the peak's span is taken whole.
    const std::size_t span = std::min(PEAK_FRAMES, last - first);
    double loudest = -120.0;
    for (; first + span <= last; ++first) {
        double power = 0;
        for (std::size_t i = first; i < first + span; ++i) {
            power += std::pow(10.0, frame_db_[i] / 10.0);
        }
        loudest = std::max(loudest, to_db(power / static_cast<double>(span)));
    }
    return loudest >= threshold_db_;
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
// How late a recording holds a reference, and how far from it it strays:
//   delay_check REFERENCE RECORDING
// prints "lag SECONDS worst DIFFERENCE". The loudest 50 ms of the reference
// are looked for in the recording (least absolute difference), then the
// whole reference is compared at that lag.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

bool read(const char* path, std::vector<float>& samples, int& rate)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file || info.channels != 1) {
        std::fprintf(stderr, "delay_check: cannot read %s as mono\n", path);
        return false;
    }
    samples.resize(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    rate = info.samplerate;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<float> reference, recording;
    int rate = 0, recorded_rate = 0;
    if (argc != 3 || !read(argv[1], reference, rate) || !read(argv[2], recording, recorded_rate)) {
        return 2;
    }
    const auto window = static_cast<std::size_t>(rate / 20);
    if (rate != recorded_rate || reference.size() < window || recording.size() < reference.size()) {
        std::fprintf(stderr, "delay_check: the recording is too short or not at the reference's rate\n");
        return 1;
    }
    std::size_t loudest = 0;
    double most = -1.0;
    for (std::size_t start = 0; start + window <= reference.size(); start += window / 4) {
        double energy = 0.0;
        for (std::size_t i = 0; i < window; ++i) {
            energy += static_cast<double>(reference[start + i]) * reference[start + i];
        }
        if (energy > most) {
            most = energy;
            loudest = start;
        }
    }
    std::size_t found = 0;
    double least = std::numeric_limits<double>::max();
    for (std::size_t at = 0; at + window <= recording.size(); ++at) {
        double difference = 0.0;
        for (std::size_t i = 0; i < window && difference < least; ++i) {
            difference += std::fabs(recording[at + i] - reference[loudest + i]);
        }
        if (difference < least) {
            least = difference;
            found = at;
        }
    }
    if (found < loudest || found - loudest + reference.size() > recording.size()) {
        std::fprintf(stderr, "delay_check: the reference does not lie whole in the recording\n");
        return 1;
    }
    const std::size_t lag = found - loudest;
    double worst = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        worst = std::fmax(worst, std::fabs(recording[lag + i] - reference[i]));
    }
    std::printf("lag %.6f worst %.6g\n", static_cast<double>(lag) / rate, worst);
    return 0;
}

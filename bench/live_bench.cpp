// SPDX-License-Identifier: ISC
// zendrik live through a host at 48 kHz. Without a file: the LibriVox
// readings (resampled by sox), played at the pace of a sound card, for delays
// of 2, 3 and 5 s. For each: the recogniser's lag (median, 99th percentile,
// maximum, from the lag port after every block), the share of the words a
// freewheeling run bleeps that the live run bleeps too late or not at all,
// and the processor time of the recogniser's thread and of run() against the
// time played. With a file (bench/live_eval.sh makes them): `paced` prints
// that row for it; `finds` runs it freewheeling with no pad and prints each
// bleep as input seconds, then the words the plugin counted.
//   live_bench [REPEATS]   (LV2_PATH must hold the bundle)
//   live_bench paced|finds IN.wav LIST DELAY
#include "tests/live/live_host.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double RATE = 48000.0;
constexpr uint32_t BLOCK = 1024;

double thread_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double process_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + 1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

struct Run {
    std::vector<float> out;
    std::vector<float> lags;
    double run_cpu = 0.0;
    double other_cpu = 0.0;
    float words = 0.0f;
};

// A negative pad leaves the plugin's default.
Run play(const std::vector<float>& in, float delay, const std::string& list, bool freewheel, float pad = -1.0f)
{
    zendrik_test::LiveHost host(RATE);
    host.restore_words(list);
    host.control("delay") = delay;
    host.control("freewheel") = freewheel ? 1.0f : 0.0f;
    if (pad >= 0.0f) {
        host.control("pad") = pad;
    }
    Run run;
    run.out.resize(in.size());
    const double process_before = process_seconds();
    const double thread_before = thread_seconds();
    auto due = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < in.size(); at += BLOCK) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(BLOCK, in.size() - at));
        const double before = thread_seconds();
        host.run(in.data() + at, run.out.data() + at, n);
        run.run_cpu += thread_seconds() - before;
        run.lags.push_back(host.control("lag"));
        if (!freewheel) {
            due += std::chrono::microseconds(static_cast<long>(1e6 * n / RATE));
            std::this_thread::sleep_until(due);
        }
    }
    run.other_cpu = (process_seconds() - process_before) - (thread_seconds() - thread_before);
    run.words = host.control("bleeped");
    return run;
}

// The bleeped stretches of a run, as [start, end) input positions.
std::vector<std::pair<std::size_t, std::size_t>> bleeps(const std::vector<float>& in, const std::vector<float>& out,
                                                        std::size_t delay)
{
    std::vector<std::pair<std::size_t, std::size_t>> found;
    for (std::size_t heard = 0; heard + delay < out.size(); ++heard) {
        if (out[heard + delay] != in[heard]) {
            if (found.empty() || found.back().second != heard) {
                found.emplace_back(heard, heard + 1);
            } else {
                found.back().second = heard + 1;
            }
        }
    }
    return found;
}

// The first channel of a 48 kHz file (bench/live_eval.sh writes both alike).
std::vector<float> first_channel(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file || info.samplerate != static_cast<int>(RATE)) {
        throw std::runtime_error("cannot read " + path + " at 48 kHz");
    }
    std::vector<float> frames(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = frames[i * static_cast<std::size_t>(info.channels)];
    }
    return samples;
}

// One paced run of `speech` against a freewheeling one: a row of the table.
void paced_row(std::vector<float> in, float delay, const std::string& list)
{
    const auto samples = static_cast<std::size_t>(delay * RATE);
    in.insert(in.end(), samples, 0.0f);
    const Run reference = play(in, delay, list, true);
    const Run live = play(in, delay, list, false);
    const auto wanted = bleeps(in, reference.out, samples);
    const auto got = bleeps(in, live.out, samples);
    std::size_t late = 0;
    for (const auto& [from, to] : wanted) {
        std::size_t covered = 0;
        for (const auto& [start, end] : got) {
            covered += std::max(from, start) < std::min(to, end) ? std::min(to, end) - std::max(from, start) : 0;
        }
        late += covered * 10 < (to - from) * 8 ? 1 : 0;
    }
    std::vector<float> lags = live.lags;
    std::sort(lags.begin(), lags.end());
    const double played = static_cast<double>(in.size()) / RATE;
    std::printf("%4.0f s  %8.2f s  %5.2f s  %5.2f s  %3zu of %3zu       %5.1f %%         %5.2f %%\n",
                static_cast<double>(delay), static_cast<double>(lags[lags.size() / 2]),
                static_cast<double>(lags[lags.size() * 99 / 100]), static_cast<double>(lags.back()), late,
                wanted.size(), 100.0 * live.other_cpu / played, 100.0 * live.run_cpu / played);
    std::fflush(stdout);
}

const char* const HEADER = "delay  lag median  p99     max     late or missed  recogniser CPU  run() CPU  (%.1f s)\n";

int readings(int repeats)
{
    char dir[] = "/tmp/zendrik-live-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        return 1;
    }
    const std::string list = std::string(dir) + "/words.txt";
    std::ofstream(list) << "dashwood\nleisure\ndisposed\nselfish\namiable\nrespectable\nmarried\nprudently\n"
                           "consider\nhearted\nwoman\nyoung man\n";
    const std::vector<float> speech = zendrik_test::readings();
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open((std::string(dir) + "/speech.wav").c_str(), SFM_WRITE, &info);
    sf_writef_float(file, speech.data(), static_cast<sf_count_t>(speech.size()));
    sf_close(file);
    const std::string resample = std::string("sox ") + dir + "/speech.wav -r 48000 " + dir + "/speech48.wav";
    if (std::system(resample.c_str()) != 0) {
        return 1;
    }
    const std::vector<float> once = first_channel(std::string(dir) + "/speech48.wav");
    std::vector<float> in;
    for (int i = 0; i < repeats; ++i) {
        in.insert(in.end(), once.begin(), once.end());
    }
    std::printf(HEADER, static_cast<double>(in.size()) / RATE);
    for (const float delay : {2.0f, 3.0f, 5.0f}) {
        paced_row(in, delay, list);
    }
    std::system((std::string("rm -rf ") + dir).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        return readings(argc > 1 ? std::atoi(argv[1]) : 3);
    }
    const std::string mode = argv[1];
    std::vector<float> in = first_channel(argv[2]);
    const std::string list = argv[3];
    const auto delay = static_cast<float>(std::atof(argv[4]));
    if (mode == "paced") {
        std::printf(HEADER, static_cast<double>(in.size()) / RATE);
        paced_row(in, delay, list);
        return 0;
    }
    // No pad, as zendrik-mask --pad 0: each bleep is the words found.
    const auto samples = static_cast<std::size_t>(delay * RATE);
    in.insert(in.end(), samples, 0.0f);
    const Run run = play(in, delay, list, true, 0.0f);
    for (const auto& [from, to] : bleeps(in, run.out, samples)) {
        std::printf("%.4f\t%.4f\n", static_cast<double>(from) / RATE, static_cast<double>(to) / RATE);
    }
    std::printf("# words %.0f\n", static_cast<double>(run.words));
    return 0;
}

// SPDX-License-Identifier: ISC
#include "job.h"

#include "audio_file.h"
#include "errors.h"
#include "formats.h"
#include "host.h"
#include "progress.h"
#include "ranges.h"
#include "temp_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

std::vector<TimeRange> read_ranges(const Options& o)
{
    std::vector<TimeRange> ranges;
    for (const std::string& m : o.masks) {
        ranges.push_back(parse_range(m));
        ranges.back().origin = "--mask " + m;
    }
    for (const std::string& path : o.label_files) {
        std::ifstream in(path);
        if (!in) {
            throw bad_input("cannot read label file '" + path + "': " + std::strerror(errno));
        }
        for (TimeRange& r : parse_labels(in, path)) {
            ranges.push_back(std::move(r));
        }
    }
    return ranges;
}

void configure_plugin(Lv2Host& host, const Options& o)
{
    if (!o.preset.empty()) {
        bool found = false;
        for (const Preset& p : host.presets()) {
            if (o.preset == p.name || o.preset == p.uri || o.preset == p.label ||
                o.preset == "preset-" + p.name) {
                for (const auto& [symbol, value] : p.values) {
                    host.set_control(symbol, value);
                }
                found = true;
                break;
            }
        }
        if (!found) {
            throw bad_input("no preset '" + o.preset + "' (see --list-presets)");
        }
    }
    const std::pair<const char*, const std::optional<float>*> settings[] = {
        {"frequency", &o.frequency}, {"level", &o.level}};
    for (const auto& [symbol, value] : settings) {
        if (!value->has_value()) {
            continue;
        }
        const ControlInfo info = host.control(symbol);
        const float v = **value;
        if (!(v >= info.minimum && v <= info.maximum)) {
            char msg[160];
            std::snprintf(msg, sizeof msg, "--%s %g is outside the plugin's range %g to %g", symbol,
                          static_cast<double>(v), static_cast<double>(info.minimum),
                          static_cast<double>(info.maximum));
            throw bad_input(msg);
        }
        host.set_control(symbol, v);
    }
}

// The output must not be the input, under any name, nor a folder. Returns the
// permissions the output gets: those of the file it replaces, or a new file's.
mode_t check_output(const std::string& output, const struct stat& input_status)
{
    struct stat output_status {};
    const bool exists = stat(output.c_str(), &output_status) == 0;
    if (exists && output_status.st_dev == input_status.st_dev && output_status.st_ino == input_status.st_ino) {
        throw bad_input("output '" + output + "' is the input file; choose another name");
    }
    if (exists && S_ISDIR(output_status.st_mode)) {
        throw bad_input("output '" + output + "' is a folder");
    }
    if (exists) {
        return output_status.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

struct Totals {
    int64_t frames = 0;
    int64_t masked = 0;
};

// The plugin runs over every frame, its blocks cut at range edges.
Totals run_blocks(const Plan& plan, Lv2Host& host, InputFile& input, FrameBuffer& buffer, OutputFile& output,
                  bool show_progress)
{
    const auto channel_count = static_cast<unsigned>(input.info().channels);
    Schedule schedule(plan.ranges);
    Progress progress(show_progress, input.frames());
    Totals totals;
    while (const std::size_t read = buffer.read(input)) {
        std::size_t offset = 0;
        while (offset < read) {
            const Schedule::Block block =
                schedule.next(totals.frames + static_cast<int64_t>(offset), static_cast<int64_t>(read - offset));
            const auto length = static_cast<std::size_t>(block.length);
            host.set_enable(block.on);
            for (unsigned c = 0; c < channel_count; ++c) {
                host.run(c, buffer.plugin_input(c, offset), buffer.plugin_output(c, offset),
                         static_cast<uint32_t>(length));
            }
            // Outside the ranges, files whose samples a float cannot carry
            // whole keep their own; inside, every file takes the tone.
            if (buffer.takes_all_plugin_output() || block.on) {
                buffer.take_plugin_output(offset, length);
            }
            if (block.on) {
                totals.masked += block.length;
            }
            offset += length;
        }
        buffer.write(output, read);
        totals.frames += static_cast<int64_t>(read);
        progress.update(totals.frames);
    }
    return totals;
}

void process(const Options& options)
{
    if (options.block < 1 || options.block > (1 << 20)) {
        throw bad_input("--block must be 1 to 1048576 frames");
    }
    const std::vector<TimeRange> time_ranges = read_ranges(options);
    InputFile input(options.input);
    const SF_INFO& input_info = input.info();
    const mode_t output_mode = check_output(options.output, input.status());
    const Plan plan = plan_ranges(time_ranges, input_info.samplerate, input.frames());
    SF_INFO output_info{};
    output_info.samplerate = input_info.samplerate;
    output_info.channels = input_info.channels;
    output_info.format = output_format(options.format, {input_info.format, input_info.samplerate, input_info.channels});

    Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
    configure_plugin(host, options);
    host.instantiate(input_info.samplerate, static_cast<unsigned>(input_info.channels));
    // Everything is checked: now the warnings are worth reading.
    for (const std::string& warning : plan.warnings) {
        warn(options.quiet, warning);
    }

    TempFile temp(options.output, output_mode);
    OutputFile output(temp.fd(), output_info, options.output, input);
    const std::unique_ptr<FrameBuffer> buffer =
        FrameBuffer::make(input_info.format, output.info().format, static_cast<std::size_t>(options.block),
                          static_cast<std::size_t>(input_info.channels));
    const Totals totals =
        run_blocks(plan, host, input, *buffer, output, !options.quiet && isatty(STDERR_FILENO));
    // Frames missing from the input would be missing from the output.
    input.check_read_whole(totals.frames);
    output.close();
    temp.commit(options.output);

    if (!options.quiet) {
        const int64_t rate = input_info.samplerate;
        std::fprintf(stderr, "zendrik-mask: masked %zu range%s (%s) of %s in '%s'\n", plan.ranges.size(),
                     plan.ranges.size() == 1 ? "" : "s", format_time(totals.masked * 1000000000 / rate).c_str(),
                     format_time(totals.frames * 1000000000 / rate).c_str(), options.output.c_str());
    }
}

} // namespace

std::string fallback_lv2_dir()
{
#ifdef ZENDRIK_MASK_BUILD_BIN_DIR
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    if (n <= 0) {
        return {};
    }
    exe[n] = '\0';
    std::string dir(exe);
    dir = dir.substr(0, dir.rfind('/'));
    char built[PATH_MAX + 1];
    struct stat st {};
    if (realpath(ZENDRIK_MASK_BUILD_BIN_DIR, built) && dir == built &&
        stat(ZENDRIK_MASK_BUILD_LV2_DIR, &st) == 0 && S_ISDIR(st.st_mode)) {
        return ZENDRIK_MASK_BUILD_LV2_DIR;
    }
#endif
    return {};
}

int run_job(const Options& options)
{
    install_signal_handlers();
    try {
        process(options);
        return 0;
    } catch (const Error& e) {
        return report(e);
    } catch (const std::bad_alloc&) {
        return report(write_failed("out of memory"));
    } catch (const std::exception& e) {
        // Caught so that the temporary output is removed on the way out.
        return report(write_failed(e.what()));
    }
}

int list_presets()
{
    try {
        Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
        for (const Preset& p : host.presets()) {
            std::string values;
            for (const auto& [symbol, value] : p.values) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%s%s=%g", values.empty() ? "" : ", ", symbol.c_str(),
                              static_cast<double>(value));
                values += buf;
            }
            std::printf("%-12s %s (%s)\n", p.name.c_str(), p.label.c_str(), values.c_str());
        }
        return 0;
    } catch (const Error& e) {
        return report(e);
    }
}

} // namespace zendrik_mask

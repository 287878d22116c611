// SPDX-License-Identifier: ISC
#include "formats.h"

#include "errors.h"
#include "sndfile_open.h"
#include "text.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>

namespace zendrik_mask {

namespace {

struct Name {
    const char* name;
    int format;
};

const Name CONTAINERS[] = {
    {"wav", SF_FORMAT_WAV},   {"wavex", SF_FORMAT_WAVEX}, {"w64", SF_FORMAT_W64}, {"rf64", SF_FORMAT_RF64},
    {"aiff", SF_FORMAT_AIFF}, {"aif", SF_FORMAT_AIFF},    {"au", SF_FORMAT_AU},   {"caf", SF_FORMAT_CAF},
    {"flac", SF_FORMAT_FLAC}, {"ogg", SF_FORMAT_OGG},     {"oga", SF_FORMAT_OGG}, {"opus", SF_FORMAT_OGG},
    {"mp3", SF_FORMAT_MPEG},
};

const Name ENCODINGS[] = {
    {"pcm8", SF_FORMAT_PCM_S8},   {"pcm16", SF_FORMAT_PCM_16},       {"pcm24", SF_FORMAT_PCM_24},
    {"pcm32", SF_FORMAT_PCM_32},  {"float", SF_FORMAT_FLOAT},        {"double", SF_FORMAT_DOUBLE},
    {"vorbis", SF_FORMAT_VORBIS}, {"opus", SF_FORMAT_OPUS},          {"ulaw", SF_FORMAT_ULAW},
    {"alaw", SF_FORMAT_ALAW},     {"mp3", SF_FORMAT_MPEG_LAYER_III},
};

std::string names_of(const Name* begin, const Name* end, const char* separator)
{
    std::string out;
    for (const Name* n = begin; n != end; ++n) {
        out += (out.empty() ? "" : separator) + std::string(n->name);
    }
    return out;
}

int lookup(const std::string& text, const Name* begin, const Name* end, const char* what)
{
    const std::string lower = lower_case(text);
    for (const Name* n = begin; n != end; ++n) {
        if (lower == n->name) {
            return n->format;
        }
    }
    throw bad_input("unknown " + std::string(what) + " '" + text + "' (one of " + names_of(begin, end, ", ") + ")");
}

// Containers an output's extension names. The WAV family shares ".wav", so
// ".wav" keeps a WAVEX or RF64 input as it is.
const char* const EXTENSIONS[]
    = {"wav", "flac", "ogg", "oga", "opus", "mp3", "aiff", "aif", "caf", "w64", "rf64", "au"};

// The container the path's extension names, "" for none.
std::string container_of_path(const std::string& path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return "";
    }
    const std::string extension = lower_case(path.substr(dot + 1));
    const auto known = std::find(std::begin(EXTENSIONS), std::end(EXTENSIONS), extension);
    return known == std::end(EXTENSIONS) ? "" : extension;
}

// Two container names for the same output: Ogg with Opus inside counts apart.
bool same_container(const std::string& a, const std::string& b)
{
    const auto major = [](const std::string& name) {
        return lookup(name, std::begin(CONTAINERS), std::end(CONTAINERS), "container");
    };
    return major(a) == major(b) && (lower_case(a) == "opus") == (lower_case(b) == "opus");
}

// A virtual file that takes every byte and keeps none, for trial openings.
struct Discard {
    sf_count_t position = 0;
    sf_count_t length = 0;

    static SF_VIRTUAL_IO* callbacks()
    {
        static SF_VIRTUAL_IO io{
            [](void* self) { return static_cast<Discard*>(self)->length; },
            [](sf_count_t offset, int whence, void* self) {
                auto* d = static_cast<Discard*>(self);
                d->position = whence == SEEK_SET ? offset : (whence == SEEK_CUR ? d->position : d->length) + offset;
                return d->position;
            },
            [](void*, sf_count_t, void*) -> sf_count_t { return 0; },
            [](const void*, sf_count_t count, void* self) {
                auto* d = static_cast<Discard*>(self);
                d->position += count;
                d->length = std::max(d->length, d->position);
                return count;
            },
            [](void* self) { return static_cast<Discard*>(self)->position; },
        };
        return &io;
    }
};

// Whether libsndfile takes `format` at the input's rate and channels; with
// `by_writing`, whether it writes it too. sf_format_check alone accepts
// combinations its writers then refuse (MPEG Layer III in WAV): an encoding
// chosen for the user is tried. One the user names is left to the opening
// of the output, whose error says more (Opus's rates, for instance).
bool format_ok(int format, const StreamFormat& in, bool by_writing = false)
{
    SF_INFO probe{};
    probe.samplerate = in.samplerate;
    probe.channels = in.channels;
    probe.format = format;
    if (sf_format_check(&probe) == 0) {
        return false;
    }
    if (!by_writing) {
        return true;
    }
    Discard sink;
    SNDFILE* trial = open_sndfile([&] { return sf_open_virtual(Discard::callbacks(), SFM_WRITE, &probe, &sink); }).file;
    if (trial == nullptr) {
        return false;
    }
    sf_close(trial);
    return true;
}

} // namespace

int output_format(const std::string& given_request, const StreamFormat& in, const std::string& output_path,
                  std::string* conflict)
{
    const int in_major = in.format & SF_FORMAT_TYPEMASK;
    const int in_sub = in.format & SF_FORMAT_SUBMASK;
    int major = in_major;
    int sub = 0;
    std::string request = given_request;
    const std::string named = container_of_path(output_path);
    const std::string requested = request.substr(0, request.find(':'));
    const bool wav_family = in_major == SF_FORMAT_WAV || in_major == SF_FORMAT_WAVEX || in_major == SF_FORMAT_RF64;
    // What messages call the request.
    std::string asked = "--format " + given_request;
    if (!named.empty() && requested.empty() && !(named == "wav" && wav_family)) {
        request = named + request;
        asked = (given_request.empty() ? "" : asked + " with ") + "the extension ." + named;
    } else if (!named.empty() && !requested.empty() && !same_container(named, requested) && conflict != nullptr) {
        *conflict = "--format " + given_request + " wins over the extension of '" + output_path + "' (" + named
            + "): the output is " + lower_case(requested) + " whatever its name";
    }
    if (!request.empty()) {
        const auto colon = request.find(':');
        const std::string container = request.substr(0, colon);
        if (!container.empty()) {
            major = lookup(container, std::begin(CONTAINERS), std::end(CONTAINERS), "container");
        }
        if (colon != std::string::npos) {
            sub = lookup(request.substr(colon + 1), std::begin(ENCODINGS), std::end(ENCODINGS), "encoding");
        }
        if (lower_case(container) == "opus" && sub == 0) {
            sub = SF_FORMAT_OPUS;
        }
        if (major == SF_FORMAT_MPEG && sub == 0) {
            sub = SF_FORMAT_MPEG_LAYER_III;
        }
    }
    const int endian = major == in_major ? (in.format & SF_FORMAT_ENDMASK) : 0;
    if (sub != 0) {
        // 8-bit PCM is unsigned in some containers.
        for (int s : std::initializer_list<int>{sub, sub == SF_FORMAT_PCM_S8 ? SF_FORMAT_PCM_U8 : sub}) {
            if (format_ok(major | s | endian, in)) {
                return major | s | endian;
            }
        }
        throw bad_input(asked + ": that container cannot hold that encoding at " + std::to_string(in.samplerate)
                        + " Hz, " + std::to_string(in.channels) + " channels");
    }
    const bool precise = in_sub == SF_FORMAT_FLOAT || in_sub == SF_FORMAT_DOUBLE;
    const bool lossy = in_sub == SF_FORMAT_VORBIS || in_sub == SF_FORMAT_OPUS
        || (in_sub >= SF_FORMAT_MPEG_LAYER_I && in_sub <= SF_FORMAT_MPEG_LAYER_III);
    const int first = precise || lossy ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24;
    for (int s : std::initializer_list<int>{in_sub, first, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_VORBIS,
                                            SF_FORMAT_MPEG_LAYER_III}) {
        if (format_ok(major | s | endian, in, true)) {
            return major | s | endian;
        }
    }
    throw bad_input(asked + ": no encoding of that container fits the input (" + std::to_string(in.samplerate) + " Hz, "
                    + std::to_string(in.channels) + " channels)");
}

std::string container_names(const char* separator)
{
    return names_of(std::begin(CONTAINERS), std::end(CONTAINERS), separator);
}

std::string encoding_names(const char* separator)
{
    return names_of(std::begin(ENCODINGS), std::end(ENCODINGS), separator);
}

} // namespace zendrik_mask

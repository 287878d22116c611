// SPDX-License-Identifier: ISC
#include "review_page.h"

#include "sound_clips.h"
#include "still_frame.h"

#include <nlohmann/json.hpp>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include <algorithm>
#include <memory>

namespace zendrik_mask {

namespace {

// Seconds of sound heard before and after a bleep, and the most a clip holds:
// enough to know where one is, small enough for 50 KB a find.
constexpr double CONTEXT_SECONDS = 1.5;
constexpr double LONGEST_CLIP_SECONDS = 10;

std::string base64(const std::string& bytes)
{
    std::string text(static_cast<std::size_t>(AV_BASE64_SIZE(bytes.size())), '\0');
    av_base64_encode(text.data(), static_cast<int>(text.size()), reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    text.resize(text.find('\0'));
    return text;
}

// The hash a Content-Security-Policy names to allow one inline script or style, and nothing else.
std::string csp_hash(const std::string& text)
{
    const std::unique_ptr<AVSHA, void (*)(void*)> sha(av_sha_alloc(), av_free);
    av_sha_init(sha.get(), 256);
    av_sha_update(sha.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::string digest(32, '\0');
    av_sha_final(sha.get(), reinterpret_cast<uint8_t*>(digest.data()));
    return "'sha256-" + base64(digest) + "'";
}

// JSON that stays data inside a script element: no "</script>", no "<!--",
// no line separators that older parsers end strings at. Outside strings JSON
// holds none of these characters, so each is escaped where it can only be text.
std::string script_safe_json(const nlohmann::json& value)
{
    const std::string json = value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    std::string safe;
    safe.reserve(json.size());
    for (const char c : json) {
        switch (c) {
        case '<': safe += "\\u003c"; break;
        case '>': safe += "\\u003e"; break;
        case '&': safe += "\\u0026"; break;
        default: safe += c;
        }
    }
    return safe;
}

ClipWindow window_around(const PageItem& item)
{
    const double start = static_cast<double>(item.start_ns) / 1e9;
    const double end = static_cast<double>(item.end_ns) / 1e9;
    const double middle = (start + end) / 2;
    const double half = std::min(LONGEST_CLIP_SECONDS / 2, (end - start) / 2 + CONTEXT_SECONDS);
    return {std::max(0.0, middle - half), middle + half};
}

} // namespace

std::string review_page_html(const PageData& data)
{
    std::vector<ClipWindow> windows;
    for (const PageItem& item : data.items) {
        windows.push_back(window_around(item));
    }
    const std::vector<SoundClip> clips = read_sound_clips(data.input, windows);
    std::vector<double> times;
    for (const PageItem& item : data.items) {
        times.push_back(static_cast<double>(item.start_ns + item.end_ns) / 2e9);
    }
    const std::vector<std::string> stills = still_frames(data.input, times);
    nlohmann::json items = nlohmann::json::array();
    for (std::size_t i = 0; i < data.items.size(); ++i) {
        const PageItem& item = data.items[i];
        const SoundClip& clip = clips[i];
        items.push_back({{"listed", item.listed},
                         {"heard", item.heard},
                         {"source", item.source},
                         {"confidence", item.confidence ? nlohmann::json(*item.confidence) : nullptr},
                         {"start_ns", item.start_ns},
                         {"end_ns", item.end_ns},
                         {"label", item.label},
                         {"near_miss", item.near_miss},
                         {"clip_start", clip.start},
                         {"clip_end", clip.end},
                         {"peaks", clip.peaks},
                         {"sound", clip.ogg_opus.empty() ? "" : "data:audio/ogg;base64," + base64(clip.ogg_opus)},
                         {"still", stills[i].empty() ? "" : "data:image/jpeg;base64," + base64(stills[i])}});
    }
    const nlohmann::json page = {{"input", data.input},
                                 {"output", data.output},
                                 {"frequency", data.frequency},
                                 {"level", data.level},
                                 {"tone_options", data.tone_options},
                                 {"items", items}};
    const std::string style = PAGE_STYLE;
    const std::string script = PAGE_SCRIPT;
    // Nothing runs but the page's own script, nothing loads but its own data.
    const std::string policy = "default-src 'none'; script-src " + csp_hash(script) + "; style-src " + csp_hash(style)
        + "; media-src data:; img-src data:";
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\""
        + policy + "\">\n<title>zendrik-mask review</title>\n<style>" + style
        + "</style>\n</head>\n<body>\n<script type=\"application/json\" id=\"data\">" + script_safe_json(page)
        + "</script>\n<script>" + script + "</script>\n</body>\n</html>\n";
}

} // namespace zendrik_mask

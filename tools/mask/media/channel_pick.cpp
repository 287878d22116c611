// SPDX-License-Identifier: ISC
#include "channel_pick.h"

#include "errors.h"

#include <sstream>

namespace zendrik_mask {

namespace {

std::string layout_name(const AVChannelLayout& layout)
{
    char name[128] = "";
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_describe(&layout, name, sizeof name) < 0) {
        return std::to_string(layout.nb_channels) + " channels, their layout unknown";
    }
    return name;
}

} // namespace

std::vector<bool> picked_channels(const AVChannelLayout& layout, const std::string& names, int stream,
                                  const std::string& path)
{
    if (names.empty()) {
        return std::vector<bool>(static_cast<std::size_t>(layout.nb_channels), true);
    }
    std::vector<bool> picked(static_cast<std::size_t>(layout.nb_channels), false);
    std::istringstream list(names);
    std::string name;
    while (std::getline(list, name, ',')) {
        const bool centre = name == "centre" || name == "center";
        const AVChannel channel = centre ? AV_CHAN_FRONT_CENTER : av_channel_from_string(name.c_str());
        if (channel == AV_CHAN_NONE || channel == AV_CHAN_UNKNOWN) {
            throw bad_input("--channels: no channel named '" + name
                            + "' (give centre, or FFmpeg's names such as FC, LFE, FL, FR, SL, SR)");
        }
        const int index = av_channel_layout_index_from_channel(&layout, channel);
        if (index < 0) {
            char full[64] = "";
            av_channel_description(full, sizeof full, channel);
            throw bad_input("--channels " + names + ": audio stream " + std::to_string(stream) + " of '" + path + "' ("
                            + layout_name(layout) + ") has no " + full + " channel"
                            + (channel == AV_CHAN_FRONT_CENTER ? "; the centre is the dialogue's in 5.1 and 7.1" : "")
                            + " (--stream picks the streams to mask)");
        }
        picked[static_cast<std::size_t>(index)] = true;
    }
    return picked;
}

bool is_surround_channel(const AVChannelLayout& layout, int index)
{
    switch (av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(index))) {
    case AV_CHAN_BACK_LEFT:
    case AV_CHAN_BACK_RIGHT:
    case AV_CHAN_BACK_CENTER:
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_SIDE_RIGHT: return true;
    default: return false;
    }
}

bool is_lfe_channel(const AVChannelLayout& layout, int index)
{
    const AVChannel channel = av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(index));
    return channel == AV_CHAN_LOW_FREQUENCY || channel == AV_CHAN_LOW_FREQUENCY_2;
}

} // namespace zendrik_mask

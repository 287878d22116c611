// SPDX-License-Identifier: ISC
#include "tag_check.h"

#include "errors.h"
#include "tag_copy.h"

#include <sndfile.h>
#include <taglib/flacfile.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>

#include <memory>

namespace zendrik_mask {

namespace {

std::unique_ptr<TagLib::File> open_tagged(const std::string& path, int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC: return std::make_unique<TagLib::FLAC::File>(path.c_str(), false);
    case SF_FORMAT_MPEG: return std::make_unique<TagLib::MPEG::File>(path.c_str(), false);
    default: break;
    }
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS) {
        return std::make_unique<TagLib::Ogg::Opus::File>(path.c_str(), false);
    }
    return std::make_unique<TagLib::Ogg::Vorbis::File>(path.c_str(), false);
}

} // namespace

void check_tags_read_back(const std::string& path, int format, const std::string& name)
{
    if (!has_taglib_tags(format)) {
        return;
    }
    const std::unique_ptr<TagLib::File> file = open_tagged(path, format);
    if (!file->isValid() || file->tag() == nullptr) {
        throw write_failed("cannot write '" + name + "': the tags written do not read back");
    }
}

} // namespace zendrik_mask

// SPDX-License-Identifier: ISC
#include "tag_copy.h"

#include "errors.h"

#include <sndfile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <memory>
#include <set>

namespace zendrik_mask {

namespace {

enum class TagKind { None, Flac, Vorbis, Opus, Mpeg };

TagKind tag_kind(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC: return TagKind::Flac;
    case SF_FORMAT_MPEG: return TagKind::Mpeg;
    case SF_FORMAT_OGG:
        switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_VORBIS: return TagKind::Vorbis;
        case SF_FORMAT_OPUS: return TagKind::Opus;
        default: return TagKind::None;
        }
    default: return TagKind::None;
    }
}

struct Picture {
    int type;
    TagLib::String mime, description;
    int width, height, depth, colours;
    TagLib::ByteVector data;
};

struct Tags {
    bool read = false; // TagLib could parse the input
    TagLib::PropertyMap properties;
    std::vector<Picture> pictures;
    // From an MP3: every ID3v2 frame as written, in the tag's version.
    std::vector<TagLib::ByteVector> id3v2_frames;
    int id3v2_version = 4;
    bool id3v1 = false;
    bool chapters = false;
};

Picture from_flac(const TagLib::FLAC::Picture& p)
{
    return {p.type(), p.mimeType(), p.description(), p.width(), p.height(), p.colorDepth(), p.numColors(), p.data()};
}

TagLib::FLAC::Picture* to_flac(const Picture& p)
{
    auto* out = new TagLib::FLAC::Picture;
    out->setType(static_cast<TagLib::FLAC::Picture::Type>(p.type));
    out->setMimeType(p.mime);
    out->setDescription(p.description);
    out->setWidth(p.width);
    out->setHeight(p.height);
    out->setColorDepth(p.depth);
    out->setNumColors(p.colours);
    out->setData(p.data);
    return out;
}

TagLib::ID3v2::AttachedPictureFrame* to_apic(const Picture& p)
{
    auto* out = new TagLib::ID3v2::AttachedPictureFrame;
    out->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(p.type));
    out->setMimeType(p.mime);
    out->setDescription(p.description);
    out->setPicture(p.data);
    return out;
}

void read_xiph(TagLib::Ogg::XiphComment* comment, Tags& tags)
{
    if (comment == nullptr) {
        return;
    }
    tags.properties = comment->properties();
    for (const TagLib::FLAC::Picture* p : comment->pictureList()) {
        tags.pictures.push_back(from_flac(*p));
    }
}

Tags read_tags(const std::string& path, TagKind kind)
{
    Tags tags;
    switch (kind) {
    case TagKind::Flac: {
        TagLib::FLAC::File file(path.c_str(), false);
        tags.read = file.isValid();
        if (TagLib::Ogg::XiphComment* comment = file.xiphComment()) {
            tags.properties = comment->properties();
        }
        for (const TagLib::FLAC::Picture* p : file.pictureList()) {
            tags.pictures.push_back(from_flac(*p));
        }
        break;
    }
    case TagKind::Vorbis: {
        TagLib::Ogg::Vorbis::File file(path.c_str(), false);
        tags.read = file.isValid();
        read_xiph(file.tag(), tags);
        break;
    }
    case TagKind::Opus: {
        TagLib::Ogg::Opus::File file(path.c_str(), false);
        tags.read = file.isValid();
        read_xiph(file.tag(), tags);
        break;
    }
    case TagKind::Mpeg: {
        TagLib::MPEG::File file(path.c_str(), false);
        tags.read = file.isValid();
        tags.id3v1 = file.hasID3v1Tag();
        if (!file.hasID3v2Tag()) {
            break;
        }
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
        tags.properties = tag->properties();
        tags.id3v2_version = static_cast<int>(tag->header()->majorVersion());
        for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
            tags.id3v2_frames.push_back(frame->render());
            const TagLib::ByteVector id = frame->frameID();
            tags.chapters = tags.chapters || id == "CHAP" || id == "CTOC";
            if (const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame)) {
                tags.pictures.push_back(
                    {apic->type(), apic->mimeType(), apic->description(), 0, 0, 0, 0, apic->picture()});
            }
        }
        break;
    }
    case TagKind::None: break;
    }
    return tags;
}

// Fields libsndfile's strings carry into any format (its names, as TagLib
// calls them), and only their first value. Plain strings: TagLib's compare
// by wmemcmp, which valgrind takes for reads past the end.
const std::set<std::string> AS_STRINGS = {"TITLE",   "ARTIST",    "ALBUM",   "DATE",      "TRACKNUMBER", "GENRE",
                                          "COMMENT", "COPYRIGHT", "LICENSE", "ENCODEDBY", "ENCODER"};

// What of `tags` has no place in an output TagLib does not write.
std::vector<std::string> left_out(const Tags& tags)
{
    std::vector<std::string> lost;
    for (const auto& [key, values] : tags.properties) {
        const std::string name = key.to8Bit(true);
        if (AS_STRINGS.count(name) == 0) {
            lost.push_back("tag " + name);
        } else if (values.size() > 1) {
            lost.push_back("second " + name);
        }
    }
    if (!tags.pictures.empty()) {
        lost.emplace_back("pictures");
    }
    if (tags.chapters) {
        lost.emplace_back("chapters");
    }
    return lost;
}

void check_saved(bool saved)
{
    if (!saved) {
        throw write_failed("TagLib cannot save its tags");
    }
}

// Sets `tags` on a Vorbis comment; returns the fields it refused.
std::vector<std::string> write_xiph(TagLib::Ogg::XiphComment* comment, const Tags& tags)
{
    std::vector<std::string> lost;
    for (const auto& [key, values] : comment->setProperties(tags.properties)) {
        lost.push_back("tag " + key.to8Bit(true));
    }
    comment->removeAllPictures();
    for (const Picture& p : tags.pictures) {
        comment->addPicture(to_flac(p));
    }
    return lost;
}

std::vector<std::string> write_mpeg(const std::string& path, const Tags& tags, TagKind from)
{
    std::vector<std::string> lost;
    TagLib::MPEG::File file(path.c_str(), false);
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    // From other formats 2.4: 2.3 has no repeated values nor frames such as
    // mood (TMOO), and TagLib would drop them.
    auto version = TagLib::ID3v2::v4;
    if (from == TagKind::Mpeg && !tags.id3v2_frames.empty()) {
        // Between MP3 files the frames go over whole, chapters and all.
        version = tags.id3v2_version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
        TagLib::ID3v2::Header header;
        header.setMajorVersion(static_cast<unsigned>(tags.id3v2_version));
        while (!tag->frameList().isEmpty()) {
            tag->removeFrame(tag->frameList().front());
        }
        for (const TagLib::ByteVector& data : tags.id3v2_frames) {
            if (TagLib::ID3v2::Frame* frame = TagLib::ID3v2::FrameFactory::instance()->createFrame(data, &header)) {
                tag->addFrame(frame);
            }
        }
    } else if (from != TagKind::None && from != TagKind::Mpeg) {
        for (const auto& [key, values] : tag->setProperties(tags.properties)) {
            lost.push_back("tag " + key.to8Bit(true));
        }
        tag->removeFrames("APIC");
        for (const Picture& p : tags.pictures) {
            tag->addFrame(to_apic(p));
        }
    }
    // The encoder adds an ID3v1 tag; it stays only when the input had one.
    const int kinds = TagLib::MPEG::File::ID3v2 | (tags.id3v1 ? TagLib::MPEG::File::ID3v1 : 0);
    check_saved(file.save(kinds, TagLib::File::StripOthers, version));
    return lost;
}

} // namespace

bool has_taglib_tags(int format)
{
    return tag_kind(format) != TagKind::None;
}

std::vector<std::string> copy_tags(const std::string& input, int input_format, const std::string& output,
                                   int output_format)
{
    const TagKind to = tag_kind(output_format);
    const Tags tags = read_tags(input, tag_kind(input_format));
    // An input TagLib cannot parse would only wipe the strings libsndfile wrote.
    const TagKind from = tags.read ? tag_kind(input_format) : TagKind::None;
    switch (to) {
    case TagKind::None: return left_out(tags);
    case TagKind::Mpeg: return write_mpeg(output, tags, from);
    default: break;
    }
    // Into a Vorbis comment, from an input that has tags TagLib reads;
    // otherwise libsndfile's strings are all there is.
    if (from == TagKind::None) {
        return {};
    }
    std::vector<std::string> lost;
    if (to == TagKind::Flac) {
        TagLib::FLAC::File file(output.c_str(), false);
        lost = write_xiph(file.xiphComment(true), tags);
        // FLAC keeps pictures in their own blocks rather than in the comment.
        file.xiphComment(true)->removeAllPictures();
        file.removePictures();
        for (const Picture& p : tags.pictures) {
            file.addPicture(to_flac(p));
        }
        check_saved(file.save());
    } else if (to == TagKind::Vorbis) {
        TagLib::Ogg::Vorbis::File file(output.c_str(), false);
        lost = write_xiph(file.tag(), tags);
        check_saved(file.save());
    } else {
        TagLib::Ogg::Opus::File file(output.c_str(), false);
        lost = write_xiph(file.tag(), tags);
        check_saved(file.save());
    }
    if (from == TagKind::Mpeg && tags.chapters) {
        lost.emplace_back("chapters");
    }
    return lost;
}

} // namespace zendrik_mask

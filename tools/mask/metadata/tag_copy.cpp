// SPDX-License-Identifier: ISC
#include "tag_copy.h"

#include "errors.h"
#include "file_patch.h"

#include <sndfile.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <memory>
#include <set>

namespace zendrik_mask {

namespace {

// Wav and Aiff only as inputs: their text comes from libsndfile, and an
// ID3 chunk they hold is an ID3v2 tag for an MP3 output.
enum class TagKind { None, Flac, Vorbis, Opus, Mpeg, Wav, Aiff };

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

TagKind input_tag_kind(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX: return TagKind::Wav;
    case SF_FORMAT_AIFF: return TagKind::Aiff;
    default: return tag_kind(format);
    }
}

bool is_xiph(TagKind kind)
{
    return kind == TagKind::Flac || kind == TagKind::Vorbis || kind == TagKind::Opus;
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
    // From an MP3 or an ID3 chunk: every ID3v2 frame as written, in the tag's version, and the frames no field stands for.
    std::vector<TagLib::ByteVector> id3v2_frames;
    int id3v2_version = 4;
    std::vector<std::string> unsupported_frames;
    TagLib::ByteVector id3v1; // as written, 128 bytes
    // Text of a WAV or AIFF file that its ID3 chunk holds other values for.
    std::vector<std::string> text_left_out;
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

void read_id3v2(TagLib::ID3v2::Tag* tag, Tags& tags)
{
    tags.properties = tag->properties();
    tags.id3v2_version = static_cast<int>(tag->header()->majorVersion());
    for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
        tags.id3v2_frames.push_back(frame->render());
        const TagLib::ByteVector id = frame->frameID();
        tags.chapters = tags.chapters || id == "CHAP" || id == "CTOC";
        if (const auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame)) {
            tags.pictures.push_back({apic->type(), apic->mimeType(), apic->description(), 0, 0, 0, 0, apic->picture()});
        }
    }
    // Named by TagLib as "PRIV" or "UFID/owner"; pictures and chapters are named apart.
    std::set<std::string> names;
    for (const TagLib::String& entry : tags.properties.unsupportedData()) {
        const std::string id = entry.substr(0, 4).to8Bit(true);
        if (id != "APIC" && id != "CHAP" && id != "CTOC" && names.insert(id).second) {
            tags.unsupported_frames.push_back("frame " + id);
        }
    }
}

// Fields libsndfile read that the ID3 chunk has not, added to its own.
void add_text(Tags& tags, const TextFields& text)
{
    for (const auto& [name, value] : text) {
        const TagLib::String field(value, TagLib::String::UTF8);
        if (!tags.properties.contains(name)) {
            tags.properties.insert(name, field);
        } else if (!tags.properties[name].contains(field)) {
            tags.text_left_out.push_back("second " + name);
        }
    }
}

template <typename File>
void read_id3_chunk(const std::string& path, Tags& tags)
{
    File file(path.c_str(), false);
    if (file.isValid() && file.hasID3v2Tag()) {
        read_id3v2(file.tag(), tags);
    }
}

Tags read_tags(const std::string& path, TagKind kind, const TextFields& text)
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
        if (tags.read && file.hasID3v1Tag()) {
            // Kept as it is: TagLib would write it again from the ID3v2
            // tag, in other text and genre numbers.
            file.seek(-128, TagLib::File::End);
            tags.id3v1 = file.readBlock(128);
        }
        if (file.hasID3v2Tag()) {
            read_id3v2(file.ID3v2Tag(), tags);
        } else if (tags.read && file.hasID3v1Tag()) {
            // An ID3v1 tag alone: TagLib reads its Latin-1 text and genre number.
            tags.properties = file.ID3v1Tag()->properties();
        }
        break;
    }
    case TagKind::Wav: read_id3_chunk<TagLib::RIFF::WAV::File>(path, tags); break;
    case TagKind::Aiff: read_id3_chunk<TagLib::RIFF::AIFF::File>(path, tags); break;
    case TagKind::None: break;
    }
    if (kind == TagKind::Wav || kind == TagKind::Aiff || kind == TagKind::None) {
        // The text is libsndfile's, also when TagLib cannot parse the file.
        tags.read = true;
        add_text(tags, text);
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
    lost.insert(lost.end(), tags.unsupported_frames.begin(), tags.unsupported_frames.end());
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

// The ID3v2 tag of the MP3 file `path`, without an ID3v1 tag.
std::vector<std::string> write_id3v2(const std::string& path, const Tags& tags, TagKind from)
{
    std::vector<std::string> lost;
    TagLib::MPEG::File file(path.c_str(), false);
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    while (!tag->frameList().isEmpty()) {
        tag->removeFrame(tag->frameList().front());
    }
    // From other formats 2.4: 2.3 has no repeated values nor frames such as
    // mood (TMOO), and TagLib would drop them.
    auto version = TagLib::ID3v2::v4;
    if (!tags.id3v2_frames.empty()) {
        // An ID3v2 tag, of an MP3 or an ID3 chunk, goes over whole, chapters
        // and all.
        version = tags.id3v2_version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
        TagLib::ID3v2::Header header;
        header.setMajorVersion(static_cast<unsigned>(tags.id3v2_version));
        for (const TagLib::ByteVector& data : tags.id3v2_frames) {
            if (TagLib::ID3v2::Frame* frame = TagLib::ID3v2::FrameFactory::instance()->createFrame(data, &header)) {
                tag->addFrame(frame);
            }
        }
    }
    if (is_xiph(from)) {
        for (const auto& [key, values] : tag->setProperties(tags.properties)) {
            lost.push_back("tag " + key.to8Bit(true));
        }
    } else if (from != TagKind::Mpeg) {
        // The text is added where the frames of an ID3 chunk lack it; setting
        // properties would write those frames again, in other languages.
        const TagLib::PropertyMap framed = tag->properties();
        for (const auto& [key, values] : tags.properties) {
            if (!framed.contains(key)) {
                tag->addFrame(TagLib::ID3v2::Frame::createTextualFrame(key, values));
            }
        }
    }
    if (is_xiph(from)) {
        for (const Picture& p : tags.pictures) {
            tag->addFrame(to_apic(p));
        }
    }
    // The encoder's ID3v1 tag goes.
    check_saved(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, version));
    return lost;
}

std::vector<std::string> write_mpeg(const std::string& path, const Tags& tags, TagKind from)
{
    // TagLib writes the end of its buffer when the file is closed.
    std::vector<std::string> lost = write_id3v2(path, tags, from);
    lost.insert(lost.end(), tags.text_left_out.begin(), tags.text_left_out.end());
    // The input's ID3v1 tag is put back as it was.
    if (!tags.id3v1.isEmpty()) {
        append_bytes(path, std::string(tags.id3v1.data(), tags.id3v1.size()));
    }
    return lost;
}

} // namespace

bool has_taglib_tags(int format)
{
    return tag_kind(format) != TagKind::None;
}

TextFields first_tag_values(const std::string& input, int input_format)
{
    TextFields fields;
    const Tags tags = read_tags(input, tag_kind(input_format), {});
    for (const auto& [key, values] : tags.properties) {
        if (!values.isEmpty()) {
            fields.emplace_back(key.to8Bit(true), values.front().to8Bit(true));
        }
    }
    return fields;
}

std::vector<std::string> copy_tags(const std::string& input, int input_format, const std::string& output,
                                   int output_format, const TextFields& text)
{
    const TagKind to = tag_kind(output_format);
    // Into a Vorbis comment only from inputs that have tags TagLib reads:
    // otherwise libsndfile's strings are all there is.
    if (is_xiph(to) && !has_taglib_tags(input_format)) {
        return {};
    }
    const Tags tags = read_tags(input, input_tag_kind(input_format), text);
    // An input TagLib cannot parse would only wipe the strings libsndfile wrote.
    if (!tags.read) {
        return {};
    }
    const TagKind from = input_tag_kind(input_format);
    switch (to) {
    case TagKind::None: return left_out(tags);
    case TagKind::Mpeg: return write_mpeg(output, tags, from);
    default: break;
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
    if (tags.chapters) {
        lost.emplace_back("chapters");
    }
    lost.insert(lost.end(), tags.unsupported_frames.begin(), tags.unsupported_frames.end());
    return lost;
}

} // namespace zendrik_mask

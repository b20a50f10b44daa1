#include "cli/input/AudioTags.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tag.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include "cli/output/AtomicFile.h"

namespace cli {
namespace {

const char* const LYRICS_FIELD = "LYRICS";
const char* const MP4_LYRICS_ITEM = "\xA9lyr";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool XiphHasLyrics(const TagLib::Ogg::XiphComment* comment) {
  if (comment == nullptr || !comment->contains(LYRICS_FIELD)) return false;
  for (const TagLib::String& value : comment->fieldListMap()[LYRICS_FIELD])
    if (!Trim(value.to8Bit(true)).empty()) return true;
  return false;
}

bool HasLyrics(TagLib::File* file) {
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    if (!mpeg->hasID3v2Tag()) return false;
    for (TagLib::ID3v2::Frame* frame : mpeg->ID3v2Tag()->frameList("USLT"))
      if (!Trim(frame->toString().to8Bit(true)).empty()) return true;
    return false;
  }
  if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file))
    return flac->hasXiphComment() && XiphHasLyrics(flac->xiphComment());
  if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) return XiphHasLyrics(vorbis->tag());
  if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file)) return XiphHasLyrics(opus->tag());
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    TagLib::MP4::Tag* tag = mp4->tag();
    if (tag == nullptr || !tag->contains(MP4_LYRICS_ITEM)) return false;
    for (const TagLib::String& value : tag->item(MP4_LYRICS_ITEM).toStringList())
      if (!Trim(value.to8Bit(true)).empty()) return true;
  }
  return false;
}

bool EmbedIntoMpeg(TagLib::MPEG::File& file, const TagLib::String& text) {
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
  // Keep the tag's own version: rewriting a v2.3 tag as v2.4 would change
  // every other frame's bytes. TagLib writes v2.3 and v2.4 only.
  const bool v3 = file.hasID3v2Tag() && tag->header()->majorVersion() == 3;
  tag->removeFrames("USLT");
  auto frame = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(v3 ? TagLib::String::UTF16
                                                                             : TagLib::String::UTF8);
  frame->setLanguage("XXX");  // ID3's code for "language unknown"
  frame->setText(text);
  tag->addFrame(frame.release());
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, v3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate);
}

bool EmbedIntoCopy(const std::string& copy, const std::string& lyrics, std::string& error) {
  TagLib::FileRef ref(copy.c_str(), false);
  if (ref.isNull() || !ref.file()->isValid()) {
    error = "TagLib cannot read the copy";
    return false;
  }
  const TagLib::String text(lyrics, TagLib::String::UTF8);
  TagLib::File* file = ref.file();
  bool saved = false;
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    saved = EmbedIntoMpeg(*mpeg, text);
  } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
    flac->xiphComment(true)->addField(LYRICS_FIELD, text, true);
    saved = flac->save();
  } else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
    vorbis->tag()->addField(LYRICS_FIELD, text, true);
    saved = vorbis->save();
  } else if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file)) {
    opus->tag()->addField(LYRICS_FIELD, text, true);
    saved = opus->save();
  } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    mp4->tag()->setItem(MP4_LYRICS_ITEM, TagLib::MP4::Item(TagLib::StringList(text)));
    saved = mp4->save();
  } else {
    error = "no lyrics tag for this kind of file";
    return false;
  }
  if (!saved) error = "TagLib could not save the tag";
  return saved;
}

}  // namespace

bool AudioTagsAvailable() { return true; }

bool IsAudioFileName(const std::string& fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string ext = Lower(fileName.substr(dot + 1));
  return ext == "mp3" || ext == "flac" || ext == "ogg" || ext == "oga" || ext == "opus" || ext == "m4a" ||
         ext == "mp4";
}

SAudioTags ReadAudioTags(const std::string& path) {
  SAudioTags result;
  TagLib::FileRef ref(path.c_str(), false);
  if (ref.isNull() || !ref.file()->isValid()) {
    result.strError = "not a readable audio file";
    return result;
  }
  // TagLib accepts any file named .mp3; one without a single MPEG frame is
  // not audio.
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(ref.file()); mpeg != nullptr && mpeg->firstFrameOffset() < 0) {
    result.strError = "no MPEG audio frames";
    return result;
  }
  result.bReadable = true;
  if (TagLib::Tag* tag = ref.tag()) {
    result.strArtist = Trim(tag->artist().to8Bit(true));
    result.strTitle = Trim(tag->title().to8Bit(true));
  }
  result.bHasLyrics = HasLyrics(ref.file());
  return result;
}

bool EmbedLyrics(const std::string& path, const std::string& lyrics, std::string& error) {
  return EditFileAtomically(
      path, [&lyrics](const std::string& copy, std::string& reason) { return EmbedIntoCopy(copy, lyrics, reason); },
      error);
}

}  // namespace cli

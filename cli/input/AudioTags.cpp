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
#include <taglib/tfilestream.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include "cli/output/AtomicFile.h"
#include "cli/input/AudioPayload.h"

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

// A TagLib file on a duplicate of `handle`: the same open file, never the
// name again (which could meanwhile lead elsewhere).
struct STagFile {
  std::unique_ptr<TagLib::FileStream> pStream;
  std::unique_ptr<TagLib::FileRef> pRef;
  TagLib::File* File() const { return pRef && !pRef->isNull() && pRef->file()->isValid() ? pRef->file() : nullptr; }
};

bool OpenTagFile(safesys::Handle handle, bool readOnly, STagFile& out) {
  int fd = safesys::RuntimeDescriptor(handle);
  if (fd < 0) return false;
  int code = 0;
  if (!safesys::Seek(handle, 0, code)) return false;
  out.pStream = std::make_unique<TagLib::FileStream>(fd, readOnly);  // owns fd now
  if (!out.pStream->isOpen()) return false;
  out.pRef = std::make_unique<TagLib::FileRef>(out.pStream.get(), false);
  return out.File() != nullptr;
}

std::string Extension(const std::string& path) {
  size_t dot = path.rfind('.');
  size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return Lower(path.substr(dot + 1));
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

// The lyrics the file's lyrics tag holds now (the first value).
std::string LyricsOf(TagLib::File* file) {
  auto xiph = [](TagLib::Ogg::XiphComment* comment) {
    if (comment == nullptr || !comment->contains(LYRICS_FIELD)) return std::string();
    return comment->fieldListMap()[LYRICS_FIELD].front().to8Bit(true);
  };
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
    if (!mpeg->hasID3v2Tag()) return std::string();
    TagLib::ID3v2::FrameList frames = mpeg->ID3v2Tag()->frameList("USLT");
    return frames.isEmpty() ? std::string() : frames.front()->toString().to8Bit(true);
  }
  if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file))
    return flac->hasXiphComment() ? xiph(flac->xiphComment()) : std::string();
  if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) return xiph(vorbis->tag());
  if (auto* opus = dynamic_cast<TagLib::Ogg::Opus::File*>(file)) return xiph(opus->tag());
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
    TagLib::MP4::Tag* tag = mp4->tag();
    if (tag == nullptr || !tag->contains(MP4_LYRICS_ITEM)) return std::string();
    TagLib::StringList values = tag->item(MP4_LYRICS_ITEM).toStringList();
    return values.isEmpty() ? std::string() : values.front().to8Bit(true);
  }
  return std::string();
}

bool EmbedIntoCopy(safesys::Handle copy, const std::string& lyrics, std::string& error) {
  STagFile tagged;
  if (!OpenTagFile(copy, false, tagged)) {
    error = "TagLib cannot read the copy";
    return false;
  }
  const TagLib::String text(lyrics, TagLib::String::UTF8);
  TagLib::File* file = tagged.File();
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
  return saved;  // `tagged` closes its stream here, flushing what TagLib buffered
}

// The checks a copy passes before it may replace the original: TagLib reads
// it back with the new lyrics, sees the size the file has, and the audio is
// the original's.
bool VerifyCopy(const std::string& path, safesys::Handle original, safesys::Handle copy, const std::string& lyrics,
                std::string& error) {
  safesys::SIdentity identity;
  int code = 0;
  if (!safesys::Identify(copy, identity, code)) {
    error = safesys::ErrorText(code);
    return false;
  }
  {
    STagFile tagged;
    if (!OpenTagFile(copy, true, tagged)) {
      error = "the edited copy is not a readable audio file";
      return false;
    }
    if (static_cast<uint64_t>(tagged.File()->length()) != identity.nSize) {
      error = "the edited copy is " + std::to_string(identity.nSize) + " bytes, TagLib reports " +
              std::to_string(tagged.File()->length());
      return false;
    }
    if (Trim(LyricsOf(tagged.File())) != Trim(lyrics)) {
      error = "the lyrics did not land in the edited copy";
      return false;
    }
  }
  return SamePayload(original, copy, Extension(path), error);
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
  int code = 0;
  // Never a FIFO or device: those would block or never end. A link is
  // read through (an edit opens the resolved file, never through a link).
  safesys::Handle handle = safesys::OpenRegular(path, false, true, code);
  if (handle == safesys::NO_HANDLE) {
    result.strError = safesys::ErrorText(code);
    return result;
  }
  STagFile tagged;
  bool opened = safesys::Identify(handle, result.identity, code) && OpenTagFile(handle, true, tagged);
  safesys::Close(handle);
  if (!opened) {
    result.strError = "not a readable audio file";
    return result;
  }
  TagLib::FileRef& ref = *tagged.pRef;
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

bool EmbedLyrics(const std::string& path, const std::string& lyrics, std::string& error, const SEditRules& rules) {
  return EditFileAtomically(
      path, rules,
      [&lyrics](safesys::Handle copy, const std::string&, std::string& reason) {
        return EmbedIntoCopy(copy, lyrics, reason);
      },
      [&](safesys::Handle original, safesys::Handle copy, std::string& reason) {
        return VerifyCopy(path, original, copy, lyrics, reason);
      },
      error);
}

}  // namespace cli

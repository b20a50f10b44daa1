// Tags of real audio files made at run time: reading artist and title,
// noticing lyrics, and embedding lyrics without touching the audio or the
// other tags. MP3 and MP4 files are built here byte by byte; FLAC, Ogg Vorbis
// and Opus files come from the flac, oggenc and opusenc tools, which
// scripts/install-deps.sh installs. A missing tool fails the test.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/tag.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/tpropertymap.h>

#include "cli/output/AtomicFile.h"
#include "cli/input/AudioTags.h"
#include "support/TempDir.h"

namespace {

const char* const LYRICS = "First line, \xC3\xA0 la claire fontaine\nSecond line\n\nAfter a blank line";

std::string Be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

std::string Box(const std::string& type, const std::string& payload) {
  return Be32(static_cast<uint32_t>(8 + payload.size())) + type + payload;
}

// Twenty MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, 417 bytes) of
// silence, with a recognisable pattern in the unused main data.
std::string SilentMpegFrames() {
  std::string frames;
  for (int i = 0; i < 20; ++i) {
    std::string frame(417, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xFB);
    frame[2] = static_cast<char>(0x90);
    frame[3] = static_cast<char>(0x00);
    for (size_t k = 40; k < frame.size(); k += 7) frame[k] = static_cast<char>(i + k);
    frames += frame;
  }
  return frames;
}

// ftyp, a movie header, and a media data box holding `media`.
std::string MinimalMp4(const std::string& media) {
  std::string mvhd = std::string(4, '\0') + Be32(0) + Be32(0) + Be32(1000) + Be32(0) + Be32(0x00010000) +
                     std::string("\x01\x00", 2) + std::string(10, '\0');
  const uint32_t matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
  for (uint32_t m : matrix) mvhd += Be32(m);
  mvhd += std::string(24, '\0') + Be32(2);
  return Box("ftyp", std::string("M4A ") + Be32(0) + "M4A isom") + Box("moov", Box("mvhd", mvhd)) +
         Box("mdat", media);
}

// The payload of the first top-level box of `type`.
std::string TopLevelBox(const std::string& bytes, const std::string& type) {
  size_t at = 0;
  while (at + 8 <= bytes.size()) {
    uint32_t size = (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
                    (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    if (size < 8 || at + size > bytes.size()) break;
    if (bytes.compare(at + 4, 4, type) == 0) return bytes.substr(at + 8, size - 8);
    at += size;
  }
  return std::string();
}

// The bytes after a FLAC stream's metadata blocks: the audio frames.
std::string FlacFrames(const std::string& bytes) {
  if (bytes.compare(0, 4, "fLaC") != 0) return std::string();
  size_t at = 4;
  for (;;) {
    if (at + 4 > bytes.size()) return std::string();
    bool last = (static_cast<unsigned char>(bytes[at]) & 0x80) != 0;
    size_t length = (static_cast<unsigned char>(bytes[at + 1]) << 16) |
                    (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    at += 4 + length;
    if (last) return bytes.substr(at);
  }
}

// Every packet of an Ogg stream but the comment header (packet 1).
std::string OggPacketsButComments(const std::string& path) {
  TagLib::FileRef ref(path.c_str(), false);
  auto* ogg = dynamic_cast<TagLib::Ogg::File*>(ref.file());
  if (ogg == nullptr) return std::string();
  std::string all;
  for (unsigned i = 0; i < 100000; ++i) {
    TagLib::ByteVector packet = ogg->packet(i);
    if (packet.isEmpty()) break;
    if (i == 1) continue;
    all += std::to_string(packet.size()) + ":" + std::string(packet.data(), packet.size());
  }
  return all;
}

std::string LyricsTag(const std::string& path) {
  TagLib::FileRef ref(path.c_str(), false);
  if (ref.isNull()) return std::string();
  if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(ref.file())) {
    if (!mpeg->hasID3v2Tag()) return std::string();
    TagLib::ID3v2::FrameList frames = mpeg->ID3v2Tag()->frameList("USLT");
    return frames.isEmpty() ? std::string() : frames.front()->toString().to8Bit(true);
  }
  if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(ref.file())) {
    TagLib::StringList values = mp4->tag()->item("\xA9lyr").toStringList();
    return values.isEmpty() ? std::string() : values.front().to8Bit(true);
  }
  TagLib::StringList values = ref.file()->properties()["LYRICS"];
  return values.isEmpty() ? std::string() : values.front().to8Bit(true);
}

void SetTags(const std::string& path, const char* artist, const char* title) {
  TagLib::FileRef ref(path.c_str(), false);
  ASSERT_FALSE(ref.isNull()) << path;
  ref.tag()->setArtist(TagLib::String(artist, TagLib::String::UTF8));
  ref.tag()->setTitle(TagLib::String(title, TagLib::String::UTF8));
  TagLib::PropertyMap properties = ref.file()->properties();
  properties["ALBUM"] = TagLib::StringList("Kept Album");
  ref.file()->setProperties(properties);
  ASSERT_TRUE(ref.save()) << path;
}

// One second of silence as a WAV file, the input of the encoders.
std::string SilentWav(const CTempDir& dir) {
  const uint32_t samples = 44100;
  std::string data(samples * 2, '\0');
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  std::string wav = "RIFF" + le32(36 + data.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(44100) +
                    le32(88200) + le16(2) + le16(16) + "data" + le32(data.size()) + data;
  std::string path = dir.File("silence.wav");
  WriteFileBytes(path, wav);
  return path;
}

// Runs an encoder; a missing tool is a failure, never a skip.
void Encode(const std::string& command, const std::string& tool) {
  int rc = std::system((command + " >/dev/null 2>&1").c_str());
  ASSERT_EQ(rc, 0) << tool << " failed or is not installed (scripts/install-deps.sh installs it): " << command;
}

class AudioTagsTest : public ::testing::Test {
 protected:
  std::string MakeMp3(const std::string& name) {
    std::string path = m_dir.File(name);
    WriteFileBytes(path, SilentMpegFrames());
    TagLib::MPEG::File file(path.c_str(), false);
    file.ID3v2Tag(true)->setArtist("Quillfeather");
    file.ID3v2Tag(true)->setTitle("Salt Road");
    file.ID3v2Tag(true)->setAlbum("Kept Album");
    file.ID3v1Tag(true)->setArtist("Quillfeather");
    file.ID3v1Tag(true)->setTitle("Salt Road");
    // v2.3, so that a rewrite in another version would show.
    EXPECT_TRUE(file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v3));
    return path;
  }

  std::string MakeEncoded(const std::string& name, const std::string& command, const std::string& tool) {
    std::string path = m_dir.File(name);
    Encode(command + " " + path, tool);
    if (!FileExists(path)) return std::string();
    SetTags(path, "Corrie Fen", "Loch Lomond");
    return path;
  }

  // Embeds, then checks the lyrics, the kept tags and the unchanged audio.
  void EmbedAndCheck(const std::string& path, std::string (*audio)(const std::string& path)) {
    ASSERT_FALSE(path.empty());
    const std::string audioBefore = audio(path);
    ASSERT_FALSE(audioBefore.empty()) << "no audio found in " << path;
    cli::SAudioTags before = cli::ReadAudioTags(path);
    ASSERT_TRUE(before.bReadable) << before.strError;
    EXPECT_FALSE(before.bHasLyrics);

    std::string error;
    ASSERT_TRUE(cli::EmbedLyrics(path, LYRICS, error)) << error;
    EXPECT_EQ(audio(path), audioBefore) << "audio changed in " << path;
    cli::SAudioTags after = cli::ReadAudioTags(path);
    EXPECT_TRUE(after.bHasLyrics);
    EXPECT_EQ(after.strArtist, before.strArtist);
    EXPECT_EQ(after.strTitle, before.strTitle);
    EXPECT_EQ(LyricsTag(path), LYRICS);
    TagLib::FileRef ref(path.c_str(), false);
    EXPECT_EQ(ref.tag()->album().to8Bit(true), "Kept Album");

    // A second embed replaces the lyrics instead of adding a second copy.
    ASSERT_TRUE(cli::EmbedLyrics(path, "Replaced", error)) << error;
    EXPECT_EQ(LyricsTag(path), "Replaced");
    EXPECT_EQ(audio(path), audioBefore);
    for (const std::string& name : m_dir.List())
      EXPECT_NE(name.rfind(cli::TEMP_FILE_PREFIX, 0), 0u) << "temporary file left: " << name;
  }

  CTempDir m_dir;
};

std::string Mp3Audio(const std::string& path) {
  std::string bytes = ReadFileBytes(path);
  std::string frames = SilentMpegFrames();
  size_t at = bytes.find(frames);
  // The ID3v1 tag (the last 128 bytes) belongs to the untouched part too.
  return at == std::string::npos ? std::string() : frames + bytes.substr(bytes.size() - 128);
}

std::string Mp4Audio(const std::string& path) { return TopLevelBox(ReadFileBytes(path), "mdat"); }
std::string FlacAudio(const std::string& path) { return FlacFrames(ReadFileBytes(path)); }

TEST_F(AudioTagsTest, Mp3GetsAnId3v2LyricsFrameAndKeepsItsFramesAndId3v1Tag) {
  std::string path = MakeMp3("song.mp3");
  cli::SAudioTags tags = cli::ReadAudioTags(path);
  EXPECT_EQ(tags.strArtist, "Quillfeather");
  EXPECT_EQ(tags.strTitle, "Salt Road");
  std::string id3v1 = ReadFileBytes(path).substr(ReadFileBytes(path).size() - 128);
  ASSERT_EQ(id3v1.compare(0, 3, "TAG"), 0);
  EmbedAndCheck(path, Mp3Audio);
  TagLib::MPEG::File file(path.c_str(), false);
  ASSERT_TRUE(file.hasID3v2Tag());
  EXPECT_EQ(file.ID3v2Tag()->header()->majorVersion(), 3u) << "the tag's version must not change";
}

TEST_F(AudioTagsTest, Mp3WithOnlyAnId3v1TagIsReadAndGainsAnId3v2Tag) {
  std::string path = m_dir.File("old.mp3");
  WriteFileBytes(path, SilentMpegFrames());
  {
    TagLib::MPEG::File file(path.c_str(), false);
    file.ID3v1Tag(true)->setArtist("Corrie Fen");
    file.ID3v1Tag(true)->setTitle("Loch Lomond");
    file.ID3v1Tag(true)->setAlbum("Kept Album");
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
  }
  cli::SAudioTags tags = cli::ReadAudioTags(path);
  EXPECT_EQ(tags.strArtist, "Corrie Fen");
  EXPECT_EQ(tags.strTitle, "Loch Lomond");
  EmbedAndCheck(path, Mp3Audio);
}

TEST_F(AudioTagsTest, FlacGetsALyricsCommentAndKeepsItsFrames) {
  std::string wav = SilentWav(m_dir);
  EmbedAndCheck(MakeEncoded("song.flac", "flac --silent -f " + wav + " -o", "flac"), FlacAudio);
}

TEST_F(AudioTagsTest, OggVorbisGetsALyricsCommentAndKeepsItsAudioPackets) {
  std::string wav = SilentWav(m_dir);
  EmbedAndCheck(MakeEncoded("song.ogg", "oggenc -Q " + wav + " -o", "oggenc"), OggPacketsButComments);
}

TEST_F(AudioTagsTest, OpusGetsALyricsCommentAndKeepsItsAudioPackets) {
  std::string wav = SilentWav(m_dir);
  std::string path = m_dir.File("song.opus");
  Encode("opusenc --quiet " + wav + " " + path, "opusenc");
  ASSERT_TRUE(FileExists(path));
  SetTags(path, "Corrie Fen", "The Parting Glass");
  EmbedAndCheck(path, OggPacketsButComments);
}

TEST_F(AudioTagsTest, Mp4GetsALyricsItemAndKeepsItsMediaData) {
  std::string path = m_dir.File("song.m4a");
  WriteFileBytes(path, MinimalMp4(SilentMpegFrames()));
  SetTags(path, "Quillfeather", "Greensleeves");
  EXPECT_EQ(cli::ReadAudioTags(path).strTitle, "Greensleeves");
  EmbedAndCheck(path, Mp4Audio);
}

TEST_F(AudioTagsTest, ExistingLyricsAreNoticedOnlyWhenTheyHoldText) {
  std::string path = MakeMp3("song.mp3");
  std::string error;
  ASSERT_TRUE(cli::EmbedLyrics(path, "  \n ", error)) << error;
  EXPECT_FALSE(cli::ReadAudioTags(path).bHasLyrics);
  ASSERT_TRUE(cli::EmbedLyrics(path, "words", error)) << error;
  EXPECT_TRUE(cli::ReadAudioTags(path).bHasLyrics);
}

TEST_F(AudioTagsTest, ReadOnlyFileIsLeftUntouchedAndPermissionsAreKept) {
  std::string path = MakeMp3("song.mp3");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  const std::string before = ReadFileBytes(path);
  std::string error;
  EXPECT_FALSE(cli::EmbedLyrics(path, LYRICS, error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(error.find(cli::TEMP_FILE_PREFIX), std::string::npos) << "temporary names stay out of messages";
  EXPECT_EQ(ReadFileBytes(path), before);
  EXPECT_EQ(m_dir.List().size(), 1u);

  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(cli::EmbedLyrics(path, LYRICS, error)) << error;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(AudioTagsTest, FilesThatAreNotAudioAreUnreadableAndNeverWritten) {
  std::string path = m_dir.File("junk.flac");
  WriteFileBytes(path, "this is not a FLAC stream at all");
  cli::SAudioTags tags = cli::ReadAudioTags(path);
  EXPECT_FALSE(tags.bReadable);
  EXPECT_FALSE(tags.strError.empty());
  std::string error;
  EXPECT_FALSE(cli::EmbedLyrics(path, LYRICS, error));
  EXPECT_EQ(ReadFileBytes(path), "this is not a FLAC stream at all");
  EXPECT_EQ(m_dir.List().size(), 1u) << "the copy must be removed";
  EXPECT_FALSE(cli::ReadAudioTags(m_dir.File("missing.mp3")).bReadable);
  WriteFileBytes(m_dir.File("junk.mp3"), std::string(2000, 'x'));
  EXPECT_FALSE(cli::ReadAudioTags(m_dir.File("junk.mp3")).bReadable);
}

TEST(AudioFileNames, KnownExtensionsInAnyCase) {
  for (const char* name : {"a.mp3", "b.FLAC", "c.ogg", "d.oga", "e.Opus", "f.m4a", "g.mp4"})
    EXPECT_TRUE(cli::IsAudioFileName(name)) << name;
  for (const char* name : {"a.txt", "mp3", ".mp3", "a.mp3.part", "a.wav", "a."})
    EXPECT_FALSE(cli::IsAudioFileName(name)) << name;
}

}  // namespace

// Artist, title and lyrics in the tags of audio files, through TagLib.
//
// Formats: MP3 (ID3v2 and ID3v1), FLAC, Ogg Vorbis, Opus and MP4/M4A,
// recognised by file extension (IsAudioFileName). Lyrics live in
//   MP3           the ID3v2 USLT frame (an ID3v2 tag is added when the file
//                 has only ID3v1; the ID3v1 tag is left as it is),
//   FLAC          the LYRICS field of the Vorbis comment,
//   Ogg, Opus     the LYRICS field of the stream's comment header,
//   MP4           the "\xA9lyr" item.
// EmbedLyrics edits a copy and renames it over the file (EditFileAtomically),
// so an interrupted run leaves each file as it was or complete. Only the
// lyrics change: the audio data is copied by TagLib untouched, and the other
// tags keep their values (an ID3v2 tag is written in its own version).
//
// Failure: ReadAudioTags reports an unreadable file in `strError`;
// EmbedLyrics returns false with a reason and leaves the file untouched.
// Threads: any thread; TagLib objects are never shared between calls.
#ifndef VERSEWELL_CLI_AUDIO_TAGS_H
#define VERSEWELL_CLI_AUDIO_TAGS_H

#include <string>

namespace cli {

struct SAudioTags {
  bool bReadable = false;
  std::string strError;   // why the file could not be read
  std::string strArtist;  // UTF-8, trimmed; empty when the tag is missing
  std::string strTitle;
  bool bHasLyrics = false;  // a non-empty lyrics tag exists
};

// True for the extensions handled here (case-insensitive).
// False in a build without a tag reader (the Windows build has no TagLib):
// the `library` command is then refused as a usage error, and the functions
// below report every file as unreadable.
bool AudioTagsAvailable();

bool IsAudioFileName(const std::string& fileName);

SAudioTags ReadAudioTags(const std::string& path);

// Writes `lyrics` (UTF-8) into the file's lyrics tag, replacing any earlier
// lyrics.
bool EmbedLyrics(const std::string& path, const std::string& lyrics, std::string& error);

}  // namespace cli

#endif  // VERSEWELL_CLI_AUDIO_TAGS_H

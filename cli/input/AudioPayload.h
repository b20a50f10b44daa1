// Where the audio itself lies in a tagged audio file: the bytes a tag edit
// must leave exactly as they were. An edit is accepted only when the edited
// copy's payload equals the original's byte for byte and nothing follows it
// that should not (a full disk that cut the copy short fails here).
//
//   MP3   everything after the leading ID3v2 tag (a trailing ID3v1 tag
//         included: it is not edited);
//   FLAC  everything after the last metadata block (an ID3v2 tag before
//         "fLaC" is skipped);
//   Ogg   the bodies of the pages from the first audio page on (header
//         pages carry granule position 0; page numbers and checksums may
//         change when the comment header grows, the bodies may not);
//   MP4   the contents of the top-level "mdat" boxes.
//
// Failure: false with `error` set when the file does not parse as its
// format (a truncated copy usually does not). Threads: any thread.
#ifndef VERSEWELL_CLI_AUDIO_PAYLOAD_H
#define VERSEWELL_CLI_AUDIO_PAYLOAD_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/sys/SafeFileSystem.h"

namespace cli {

// Byte ranges (offset, length) holding the payload, in order.
using PayloadRanges = std::vector<std::pair<uint64_t, uint64_t>>;

// `extension` in lower case without the dot ("mp3", "flac", "ogg", "oga",
// "opus", "m4a", "mp4").
bool FindAudioPayload(safesys::Handle file, const std::string& extension, PayloadRanges& ranges, std::string& error);

// True when both files' payloads hold the same bytes.
bool SamePayload(safesys::Handle original, safesys::Handle copy, const std::string& extension, std::string& error);

}  // namespace cli

#endif  // VERSEWELL_CLI_AUDIO_PAYLOAD_H

// CVersewell: the concrete plug-in object handed out by GetDllInterface.
//
// Construction fills the identity (version, source name "Versewell", code
// page 65001, site host) on top of the common part, which also computes the
// module fingerprint; destruction removes the object from
// g_InterfaceRegistry. The three search operations live in search/.
// Threads: one host thread at a time per object.
#ifndef VERSEWELL_PLUGIN_VERSEWELL_H
#define VERSEWELL_PLUGIN_VERSEWELL_H

#include "plugin/LyricsDllCommon.h"

class CVersewell : public CLyricsDllCommon {
 public:
  CVersewell();
  ~CVersewell() override;

  // Slot 4 (search/ArtistLookup.cpp).
  BOOL FindArtistUrl(const CString& artist, CString& artistUrl) override;
  // Slot 5 (search/SongList.cpp).
  int FindArtistSongList(const CString& artist, std::list<SongListEntry>& songs) override;
  // Slot 6 (search/LyricsPage.cpp).
  BOOL GetLyrics(const CString& songUrl, CString& lyrics) override;
};

#endif  // VERSEWELL_PLUGIN_VERSEWELL_H

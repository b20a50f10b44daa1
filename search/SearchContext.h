// ISearchContext: what the three searches need from the object that runs
// them, and nothing more: the download, the host's stop question, the
// artist cache, the site host and the host's match threshold, plus the
// identity song entries carry, the artist lookup as the host calls it, and
// the sink the text routines report to.
//
// The plug-in object implements it (plugin/Versewell.cpp); a test may hand
// a search a context of its own.
//
// Ownership: the context outlives the search call; ArtistCache() may be
//   null (no cache) and stays owned by the context.
// Failure: Download returns 0 for a failed or stopped download; the other
//   calls do not fail.
// Threads: the thread that runs the search, one search at a time.
#ifndef VERSEWELL_SEARCH_SEARCH_CONTEXT_H
#define VERSEWELL_SEARCH_SEARCH_CONTEXT_H

#include <versewell/plugin.h>

#include "text/ReportSink.h"

class CLocalCache;

class ISearchContext {
 public:
  virtual ~ISearchContext() = default;

  // Downloads `url` (site host + path) into `page`; 1 on success.
  virtual BOOL Download(const CString& url, CString& page) = 0;
  // The host's stop question (true without a host).
  virtual bool IsStopRequested() = 0;
  // The artist cache, or null.
  virtual CLocalCache* ArtistCache() = 0;
  // The lyrics site's host name: "lyrics.wiki.example".
  virtual const CString& SiteHost() const = 0;
  // The host's largest accepted artist name difference; `threshold` keeps
  // its value when the host has none.
  virtual void AskMaxMatchDifference(float& threshold) = 0;
  // Source name and id written into every song entry.
  virtual const CString& SourceName() const = 0;
  virtual const CString& SourceId() const = 0;
  // The artist lookup as the host calls it (with its exception boundary);
  // the song list starts from it.
  virtual BOOL FindArtistUrl(const CString& artist, CString& artistUrl) = 0;
  // Where bad character references on the pages are reported.
  virtual ITextReportSink& Reports() = 0;
};

#endif  // VERSEWELL_SEARCH_SEARCH_CONTEXT_H

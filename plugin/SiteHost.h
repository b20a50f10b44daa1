// The lyrics site's host name, a bare host (no scheme, no trailing "/").
// Set at configure time through the CMake cache variable
// VERSEWELL_SITE_HOST (default "lyrics.wiki.example").
#ifndef VERSEWELL_PLUGIN_SITE_HOST_H
#define VERSEWELL_PLUGIN_SITE_HOST_H

#ifndef VERSEWELL_SITE_HOST
#define VERSEWELL_SITE_HOST "lyrics.wiki.example"
#endif

#define VERSEWELL_WIDEN2(x) L##x
#define VERSEWELL_WIDEN(x) VERSEWELL_WIDEN2(x)
#define VERSEWELL_SITE_HOST_W VERSEWELL_WIDEN(VERSEWELL_SITE_HOST)

#endif  // VERSEWELL_PLUGIN_SITE_HOST_H

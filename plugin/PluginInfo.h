// PLUGIN_INFO: the fixed plug-in information string in the module's
// read-only data, for whoever inspects the module file. The program never
// reads it.
#ifndef VERSEWELL_PLUGIN_PLUGIN_INFO_H
#define VERSEWELL_PLUGIN_PLUGIN_INFO_H

extern const char* const PLUGIN_INFO;

#endif  // VERSEWELL_PLUGIN_PLUGIN_INFO_H

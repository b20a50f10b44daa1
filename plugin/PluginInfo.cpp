#include "plugin/PluginInfo.h"

#include "platform/Export.h"

// Kept in .rodata even though nothing reads it; not exported.
extern "C" VERSEWELL_USED const char g_szPluginInfo[] =
    "###_PluginInfo_###"
    "Name=\"Versewell\";"
    "Type=search;"
    "Version=2.1.2000.0;"
    "VersionInt=2.1;"
    "Author=\"Merrowgate\";"
    "Desc=\"Search plugin for Versewell\";"
    "InfoUrl=\"http://www.merrowgate.example/\";"
    "###";

const char* const PLUGIN_INFO = g_szPluginInfo;

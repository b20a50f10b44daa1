// The file path of the module (shared library or executable) that contains
// the plug-in's code: the GetModuleFileNameW stand-in. Any thread may call it.
#ifndef VERSEWELL_PLATFORM_MODULE_H
#define VERSEWELL_PLATFORM_MODULE_H

#include <string>

namespace platform {

// Full path of the module holding this function; empty when unknown.
std::wstring GetOwnModulePath();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_MODULE_H

// Symbol export and static-initialisation ordering attributes for the
// platform's toolchain, chosen in CMake by the include path of the backend.
#ifndef VERSEWELL_PLATFORM_EXPORT_H
#define VERSEWELL_PLATFORM_EXPORT_H

#include "ExportBackend.h"  // from the backend folder chosen in CMake

#endif  // VERSEWELL_PLATFORM_EXPORT_H

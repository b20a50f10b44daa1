// The fingerprint of the plug-in's own module file: the MD5 digest of its
// bytes as 32 lower-case hexadecimal digits. It is the plug-in's source id
// and names the per-build folder of the artist cache.
//
// The digest is taken once per process for each version of the file (its
// identity: volume, file number, size and write time); a module replaced on
// disk, or written to, is read and hashed again.
//
// Failure: MakeModuleFingerprint never throws a file error; it logs
//   "Can not make MD5hash, CFileException: " + the error text at level 10
//   and returns an empty string. Other exceptions (allocation) pass on.
// Threads: any thread.
#ifndef VERSEWELL_DIAG_MODULE_FINGERPRINT_H
#define VERSEWELL_DIAG_MODULE_FINGERPRINT_H

#include <versewell/cstring.h>

// MD5 of the module that contains the plug-in's code; empty on failure.
CString MakeModuleFingerprint();
// MD5 of the file at `path`, remembered for the file's identity (see
// above); raises CFileException when it cannot be opened or read.
CString GetFileFingerprint(const CString& path);
// MD5 of the file at `path`, always read afresh; raises CFileException when it cannot be opened
// or read.
CString GetFileMD5(const CString& path);

#endif  // VERSEWELL_DIAG_MODULE_FINGERPRINT_H

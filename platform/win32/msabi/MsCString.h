// Reading and writing MFC CStringW objects of the other side of the Windows
// plug-in boundary, and the string manager of our own side.
//
// Reading uses the characters and the header's data length. Writing goes
// through the manager named in the target's own header, as CSimpleStringT
// does: a shared buffer (more than one reference, the nil string included)
// is never written in place - a new one comes from Clone()->Allocate, the
// text is copied, and the old buffer is released (freed through its own
// manager when its count reaches 0); a buffer of our own that is too small
// is grown with the manager's Reallocate; a locked buffer (count below 0) is
// written in place when it is large enough, and otherwise not at all.
//
// CLocalStringMgr is the manager of the strings this side creates for the
// other (the name passed to GetHostValue, the preset empty "HttpProxy"
// target, the arguments versewell.exe passes to the plug-in). Its buffers
// come from this module's own heap; the other side may assign to, copy
// (AddRef) and free them from any thread. It lives as long as the module.
//
// Every call into a string manager goes through the SEH guard
// (GuardedCall.h): a manager of the other side that raises an exception of
// Microsoft's C++ runtime fails the operation instead of unwinding through
// this side's frames.
//
// Failure: AssignCString returns false with a reason and leaves the target
//   as it was - except when the manager raised while freeing the target's
//   old buffer, which is released last: then the target already holds the
//   new text (consistent, the old buffer its manager's) and the call still
//   reports the failure. ReleaseCString does not report a Free that raised
//   (the buffer is its manager's either way; this side releases only its
//   own strings that way). MakeCString throws std::bad_alloc. Nothing else
//   fails.
// Threads: reference counts change atomically, as CStringData's do; one
//   CString object must not be written by two threads at once.
#ifndef VERSEWELL_PLATFORM_WIN32_MSABI_MS_CSTRING_H
#define VERSEWELL_PLATFORM_WIN32_MSABI_MS_CSTRING_H

#include <string>

#include "platform/win32/msabi/MsLayout.h"

namespace msabi {

// The text of `s` (its data length; an unset pointer reads as empty).
std::wstring ReadCString(const SCString& s);

// Writes `length` characters of `text` into `target` through its manager.
// On false, `reason` says why (for the caller's trace line).
bool AssignCString(SCString* target, const wchar_t* text, size_t length, const wchar_t*& reason);

// Drops `s`'s reference to its buffer (CStringData::Release) and unsets it.
void ReleaseCString(SCString* s);

// Our own manager, for CStrings this side creates.
class CLocalStringMgr {
 public:
  static SStringMgr* Get();
  // Buffers handed out and not yet freed (the nil string not counted).
  static long Outstanding();
};

// Sets `s` (raw) to a new buffer of CLocalStringMgr holding the text; an
// empty text takes the nil string.
void MakeCString(SCString* s, const wchar_t* text, size_t length);
inline void MakeCString(SCString* s, const std::wstring& text) { MakeCString(s, text.data(), text.size()); }

// A CString of our own for the length of a scope.
class CLocalCString {
 public:
  CLocalCString() { MakeCString(&m_str, L"", 0); }
  explicit CLocalCString(const std::wstring& text) { MakeCString(&m_str, text); }
  ~CLocalCString() { ReleaseCString(&m_str); }
  CLocalCString(const CLocalCString&) = delete;
  CLocalCString& operator=(const CLocalCString&) = delete;
  SCString* Get() { return &m_str; }
  std::wstring Text() const { return ReadCString(m_str); }

 private:
  SCString m_str;
};

}  // namespace msabi

#endif  // VERSEWELL_PLATFORM_WIN32_MSABI_MS_CSTRING_H

// The framework's file classes, as the system uses them: CFile (an open
// file handle with Windows open, sharing and creation semantics), CStdioFile
// (the same with a buffered stream and line reading and writing), and the
// exceptions they raise, CFileException and CInvalidArgException.
//
// Open flags are the framework's values; they combine an access mode, a
// sharing mode, creation bits and a text or binary type. Classes derived
// from these (CStdioFileEx) add flags of their own above 0xFFFFF.
//
// Stand-in choices, the same on every target:
// - Exceptions are thrown by value and caught by reference (there is no
//   exception object to delete).
// - Sharing denials are advisory on posix (see platform/FileIo.h).
// - CStdioFile never translates line breaks: it reads and writes
//   untranslated, whether or not typeText is given, and its wide line calls
//   read and write UTF-16LE code units (the runtime's fgetws and fputws on an
//   untranslated stream). Where wchar_t is 32 bits a surrogate pair read from
//   a file becomes one character, and characters above U+FFFF are written as
//   pairs.
// - Writes go straight to the file; only reading is buffered. The path is
//   kept as given, not made absolute.
//
// Ownership: a file object owns its handle and closes it when destroyed
// (without raising). Failure: Open with an exception object reports failure
// only through its result and that object; every other operation on an
// open file raises CFileException when the system call fails.
// Threads: one file object belongs to one thread at a time.
#ifndef VERSEWELL_PLATFORM_FILE_H
#define VERSEWELL_PLATFORM_FILE_H

#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>

#include <versewell/cstring.h>

#include "platform/FileSystem.h"
#include "platform/Types.h"

typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;

// The framework's invalid-argument exception.
class CInvalidArgException : public std::invalid_argument {
 public:
  CInvalidArgException() : std::invalid_argument("invalid argument") {}
};

class CFileException : public std::exception {
 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile,
  };

  explicit CFileException(int cause = none, long osError = -1, const wchar_t* fileName = nullptr)
      : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

  // The error text ("Access to <file> was denied." and the like) into
  // `buffer` of `maxChars` characters, cut to fit. FALSE when the buffer is
  // null or has no room.
  BOOL GetErrorMessage(wchar_t* buffer, UINT maxChars, UINT* helpContext = nullptr) const;
  CString GetErrorMessage() const;
  const char* what() const noexcept override { return "CFileException"; }

  // The cause that a Windows error code stands for.
  static int OsErrorToException(long osError);
  [[noreturn]] static void ThrowOsError(long osError, const wchar_t* fileName = nullptr);

  int m_cause;
  long m_lOsError;
  CString m_strFileName;
};

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
    osNoBuffer = 0x10000,
    osWriteThrough = 0x20000,
    osRandomAccess = 0x40000,
    osSequentialScan = 0x80000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
  static constexpr platform::FileHandle hFileNull = platform::INVALID_FILE_HANDLE;

  CFile();
  // Opens at once; raises CFileException on failure.
  CFile(const wchar_t* fileName, UINT openFlags);
  virtual ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  virtual ULONGLONG GetPosition() const;
  virtual void SetFilePath(const wchar_t* newName);
  // Nonzero on success. On failure `error`, when given, receives the cause,
  // the system error code and the file name.
  virtual BOOL Open(const wchar_t* fileName, UINT openFlags, CFileException* error = nullptr);
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  virtual ULONGLONG GetLength() const;
  // Bytes read; fewer than `count` only at the end of the file.
  virtual UINT Read(void* buffer, UINT count);
  virtual void Write(const void* buffer, UINT count);
  virtual void Flush();
  // Closes; raises CFileException when the system reports a failure (the
  // handle is released either way).
  virtual void Close();
  // Closes without raising.
  virtual void Abort();

  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  // The name without its folder.
  CString GetFileName() const;
  // The path as given to Open or SetFilePath.
  CString GetFilePath() const { return m_strFileName; }
  bool IsOpen() const { return m_hFile != hFileNull; }

  platform::FileHandle m_hFile;

 protected:
  [[noreturn]] void ThrowLastError() const;

  CString m_strFileName;
};

class CStdioFile : public CFile {
 public:
  static constexpr UINT STREAM_BUFFER_SIZE = 4096;

  CStdioFile();
  CStdioFile(const wchar_t* fileName, UINT openFlags);
  ~CStdioFile() override;

  ULONGLONG GetPosition() const override;
  BOOL Open(const wchar_t* fileName, UINT openFlags, CFileException* error = nullptr) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetLength() const override;
  UINT Read(void* buffer, UINT count) override;
  void Write(const void* buffer, UINT count) override;
  void Flush() override;
  void Close() override;
  void Abort() override;

  // Writes the text's UTF-16LE code units (no terminator).
  virtual void WriteString(const wchar_t* text);
  // Reads at most maxChars - 1 characters, up to and including a line feed,
  // and terminates them; null at the end of the file (fgetws).
  virtual wchar_t* ReadString(wchar_t* buffer, UINT maxChars);
  // Reads one line without its line feed; false at the end of the file.
  virtual BOOL ReadString(CString& line);

 protected:
  // fgetws: reads UTF-16LE code units into `out` until a line feed (kept)
  // or `maxChars` characters; a surrogate pair counts as one character. No
  // terminator is written. False when nothing could be read. Read errors end
  // the line like the end of the file.
  bool StreamReadWide(wchar_t* out, size_t maxChars, size_t* count);
  // fgets: the same with bytes.
  bool StreamReadNarrow(char* out, size_t maxBytes, size_t* count);

 private:
  bool FillBuffer(size_t wanted);
  void DropBuffer();

  std::unique_ptr<unsigned char[]> m_pStreamBuffer;
  size_t m_nBufferPos;     // next unread byte in the buffer
  size_t m_nBufferLength;  // valid bytes in the buffer
  ULONGLONG m_nBufferStart;  // file offset of the buffer's first byte
  bool m_bBufferValid;
};

#endif  // VERSEWELL_PLATFORM_FILE_H

// MD5 (RFC 1321) and the module fingerprint.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "diag/MD5Checksum.h"
#include "diag/ModuleFingerprint.h"
#include "diag/TraceLevels.h"
#include "platform/File.h"
#include "platform/FileIo.h"
#include "platform/Module.h"
#include "plugin/Versewell.h"
#include "support/FailingFileIo.h"
#include "support/ReferenceMd5.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

CString Md5(const std::string& bytes, size_t chunk = 0) {
  CMD5Checksum md5;
  if (chunk == 0) chunk = bytes.size() + 1;
  for (size_t i = 0; i < bytes.size(); i += chunk)
    md5.Update(reinterpret_cast<const unsigned char*>(bytes.data()) + i, std::min(chunk, bytes.size() - i));
  return md5.Final();
}

// An oracle independent of our code: a plain MD5 of the file's bytes.
std::string SystemMd5(const std::string& path) { return ReferenceMd5(ReadFileBytes(path)); }

}  // namespace

TEST(MD5Checksum, Rfc1321TestSuite) {
  EXPECT_EQ(Md5(""), L"d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5("a"), L"0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5("abc"), L"900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5("message digest"), L"f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5("abcdefghijklmnopqrstuvwxyz"), L"c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            L"d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            L"57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Md5(std::string(1000000, 'a')), L"7707d6ae4e027c70eea2a935c2296f21");
}

TEST(MD5Checksum, ChunkingAndPaddingBoundariesDoNotChangeTheDigest) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7 + 3);
  // Lengths around the 56-byte padding limit and the 64-byte block.
  for (size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    std::string bytes = data.substr(0, length);
    CString whole = Md5(bytes);
    for (size_t chunk : {1u, 3u, 63u, 64u, 100u}) EXPECT_EQ(Md5(bytes, chunk), whole) << length << "/" << chunk;
  }
  // Final starts a new message.
  CMD5Checksum md5;
  md5.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
  md5.Final();
  EXPECT_EQ(md5.Final(), L"d41d8cd98f00b204e9800998ecf8427e");
}

TEST(ModuleFingerprint, FileDigestMatchesTheReferenceDigest) {
  CTempDir dir;
  WriteFileBytes(dir.File("empty.bin"), "");
  EXPECT_EQ(GetFileMD5(FromUtf8(dir.File("empty.bin"))), L"d41d8cd98f00b204e9800998ecf8427e");
  std::string bytes;
  for (int i = 0; i < 3 * 1024 + 5; ++i) bytes += static_cast<char>((i * 31) ^ (i >> 3));
  WriteFileBytes(dir.File("data.bin"), bytes);
  CString digest = GetFileMD5(FromUtf8(dir.File("data.bin")));
  EXPECT_EQ(digest, Md5(bytes));
  EXPECT_EQ(ToUtf8(digest.Str()), SystemMd5(dir.File("data.bin")));
  try {
    GetFileMD5(FromUtf8(dir.File("missing.bin")));
    ADD_FAILURE() << "no exception";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  }
}

TEST(ModuleFingerprint, IsTheDigestOfTheModuleFile) {
  std::string module = ToUtf8(platform::GetOwnModulePath());
  ASSERT_FALSE(module.empty());
  CString fingerprint = MakeModuleFingerprint();
  EXPECT_EQ(fingerprint.GetLength(), 32);
  EXPECT_EQ(ToUtf8(fingerprint.Str()), SystemMd5(module));
}

TEST(ModuleFingerprint, FailureGivesAnEmptyIdAndTheErrorLine) {
  CTraceCapture capture(TRACE_ERROR);
  std::wstring module = platform::GetOwnModulePath();
  CFailingFileIo io;
  io.FailOpenOf(module, 5);  // ERROR_ACCESS_DENIED
  ScopedFileIo scoped(io);
  EXPECT_EQ(MakeModuleFingerprint(), L"");
  EXPECT_EQ(capture.Count(L"Can not make MD5hash, CFileException: Access to " + module + L" was denied.", TRACE_ERROR),
            1);
}

// A plug-in object reads its module only when its source id is first
// needed: creating one, even with a cache folder, reads nothing; the
// property (or the cache's first file name) does, once.
TEST(ModuleFingerprint, IsMadeWhenTheSourceIdIsFirstNeeded) {
  CTraceCapture capture(TRACE_ERROR);
  const std::wstring module = platform::GetOwnModulePath();
  const std::wstring failure = L"Can not make MD5hash, CFileException: Access to " + module + L" was denied.";
  CFailingFileIo io;
  io.FailOpenOf(module, 5);  // ERROR_ACCESS_DENIED: every read of the module shows in the trace
  ScopedFileIo scoped(io);
  CTempDir dir;
  CVersewell plugin;
  CString folder(FromUtf8(dir.Path()));
  ASSERT_EQ(plugin.SetProperty(L"LocalCacheFolder", &folder), 1);
  EXPECT_EQ(capture.Count(failure, TRACE_ERROR), 0);
  CString id = L"unset";
  ASSERT_EQ(plugin.GetProperty(L"SourceId", &id), 1);
  EXPECT_EQ(id, L"");
  EXPECT_EQ(capture.Count(failure, TRACE_ERROR), 1);
  ASSERT_EQ(plugin.GetProperty(L"SourceId", &id), 1);
  EXPECT_EQ(capture.Count(failure, TRACE_ERROR), 1) << "made once per object";
}

// The digest is taken once per file version: a second call reads nothing, a
// file replaced by another (rename over it) or rewritten in place is read and
// hashed again, and the reads are large.
TEST(ModuleFingerprint, IsTakenOncePerFileVersion) {
  CTempDir dir;
  auto content = [](size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
    return bytes;
  };
  const std::string first = content(300 * 1024 + 7, 1);
  const std::string replacement = content(300 * 1024 + 7, 2);  // same size
  const std::string rewritten = content(120 * 1024, 3);
  const std::string module = dir.File("module.bin");
  WriteFileBytes(module, first);
  const CString path = FromUtf8(module);

  CFailingFileIo io;
  ScopedFileIo scoped(io);
  EXPECT_EQ(GetFileFingerprint(path), Md5(first));
  const int firstReads = io.readCalls;
  EXPECT_GE(io.largestRead.load(), 64u * 1024);
  EXPECT_LE(firstReads, 6);
  EXPECT_EQ(GetFileFingerprint(path), Md5(first));
  EXPECT_EQ(io.readCalls, firstReads) << "the same file version was read again";

  WriteFileBytes(dir.File("module.new"), replacement);
  std::filesystem::rename(std::filesystem::u8path(dir.File("module.new")), std::filesystem::u8path(module));
  EXPECT_EQ(GetFileFingerprint(path), Md5(replacement));
  const int replacedReads = io.readCalls;
  EXPECT_GT(replacedReads, firstReads);

  WriteFileBytes(module, rewritten);
  EXPECT_EQ(GetFileFingerprint(path), Md5(rewritten));
  EXPECT_GT(io.readCalls, replacedReads);
  EXPECT_EQ(GetFileFingerprint(path), Md5(rewritten));

  // The plain digest always reads the file.
  const int before = io.readCalls;
  EXPECT_EQ(GetFileMD5(path), Md5(rewritten));
  EXPECT_GT(io.readCalls, before);
}

// Objects made one after another report the same module digest, and the
// module file is read only for the first of them.
TEST(ModuleFingerprint, ModuleIsReadOncePerProcess) {
  const CString expected = MakeModuleFingerprint();
  ASSERT_EQ(expected.GetLength(), 32);
  CFailingFileIo io;
  ScopedFileIo scoped(io);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(MakeModuleFingerprint(), expected);
  EXPECT_EQ(io.readCalls, 0);
  EXPECT_EQ(io.openCalls, 3);
}

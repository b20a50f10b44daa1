// CUtf8StreamDecoder against the whole-body paths it replaces: the body
// collected first and decoded by ConvertBytesToWide, and one
// MultiByteToWideChar call over it. Pieces are cut at every position, so
// every multi-byte sequence, invalid run, byte-order mark and NUL byte is cut
// at every one of its offsets.
#include "text/Utf8StreamDecoder.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "support/TraceCapture.h"
#include "text/CodePageConversion.h"

namespace {

// The straightforward path: the whole body, up to its first NUL byte, in
// one conversion call.
std::wstring WholeConversion(const std::string& bytes) {
  int needed = platform::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(needed), L'\0');
  platform::MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, &out[0], needed);
  out.resize(static_cast<size_t>(needed) - 1);
  return out;
}

std::wstring Streamed(const std::string& bytes, const std::vector<size_t>& cuts) {
  CUtf8StreamDecoder decoder;
  size_t from = 0;
  for (size_t cut : cuts) {
    decoder.Append(bytes.data() + from, cut - from);
    from = cut;
  }
  decoder.Append(bytes.data() + from, bytes.size() - from);
  return decoder.Finish();
}

// Valid sequences of every length, the boundary code points, a byte-order
// mark, and the ill-formed families: stray continuation bytes, lead bytes
// never allowed (C0, C1, F5-FF), sequences cut short by ASCII or another
// lead, overlong and surrogate forms, values above U+10FFFF.
const std::vector<std::string>& Samples() {
  static const std::vector<std::string> samples = {
      "plain ascii text",
      "\xEF\xBB\xBF" "BOM then text",
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5 \xF4\x8F\xBF\xBF \xC2\x80 \xEF\xBF\xBF",
      "\x80\xBF\x80\x80\x80 stray",
      "\xC0\xAF \xC1\xBF \xF5\x80\x80\x80 \xFF\xFE",
      "\xE2\x82 cut \xF0\x9F\x8E cut \xC3",
      "\xE0\x80\x80 \xE0\x9F\xBF \xED\xA0\x80 \xED\xBF\xBF \xF0\x80\x80\x80 \xF4\x90\x80\x80",
      "\xF0\x9F\x8E\xB5\xF0\x9F\x8E\xB5\xE2\x82\xAC\xE2\x82\xAC\xC3\xA9\xC3\xA9",
      "\xE2\xE2\x82\xAC\xF0\xF0\x9F\x8E\xB5\xC3\xC3\xA9",
      "ends in a lead \xF0",
      "ends cut \xF0\x9F\x8E",
      std::string("before\0\xC3\xA9" "after", 13),
      std::string("cut by NUL \xE2\x82\0\xAC", 15),
      std::string("\0", 1),
  };
  return samples;
}

}  // namespace

TEST(Utf8StreamDecoder, TwoAndThreePiecesCutAnywhereGiveTheWholeBodysText) {
  CTraceCapture trace;
  for (const std::string& bytes : Samples()) {
    const std::wstring expected = WholeConversion(bytes);
    ASSERT_EQ(expected, ConvertBytesToWide(bytes, CP_UTF8));
    for (size_t i = 0; i <= bytes.size(); ++i) {
      ASSERT_EQ(expected, Streamed(bytes, {i})) << "cut at " << i << " of sample " << &bytes - &Samples()[0];
      for (size_t j = i; j <= bytes.size(); ++j)
        ASSERT_EQ(expected, Streamed(bytes, {i, j})) << "cuts at " << i << ", " << j;
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < bytes.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(expected, Streamed(bytes, everyByte)) << "one byte at a time";
  }
  EXPECT_TRUE(trace.Messages().empty());
}

// Long random bodies, biased towards the bytes that matter (leads,
// continuations, invalid leads, ASCII, now and then a NUL), in random
// pieces: the property above over text the list did not think of, with the
// decoder's inner blocks (a few thousand bytes) cut as well.
TEST(Utf8StreamDecoder, RandomBodiesInRandomPiecesGiveTheWholeBodysText) {
  std::mt19937 rng(25);
  const unsigned char palette[] = {'a', ' ', '\n', 0x80, 0x8F, 0xA0, 0xBF, 0xC2, 0xC3, 0xDF, 0xE0,
                                   0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xC0, 0xF5, 0xFF, 0xBB};
  for (int round = 0; round < 300; ++round) {
    std::string bytes(1 + rng() % 9000, 'x');
    for (char& c : bytes) c = static_cast<char>(palette[rng() % sizeof palette]);
    if (round % 10 == 0) bytes[rng() % bytes.size()] = '\0';
    std::vector<size_t> cuts;
    for (size_t at = rng() % 40; at < bytes.size(); at += 1 + rng() % (round % 2 == 0 ? 7 : 3000)) cuts.push_back(at);
    ASSERT_EQ(WholeConversion(bytes), Streamed(bytes, cuts)) << "round " << round;
  }
}

TEST(Utf8StreamDecoder, FinishEmptiesTheDecoderForTheNextBody) {
  CUtf8StreamDecoder decoder;
  decoder.Reserve(100);
  decoder.Append("ab\xC3", 3);
  EXPECT_EQ(std::wstring(L"ab\uFFFD"), decoder.Finish());
  decoder.Append(std::string("x\0y", 3).data(), 3);
  EXPECT_EQ(std::wstring(L"x"), decoder.Finish());
  decoder.Append("\xA9z", 2);  // nothing waits from before: a stray byte
  EXPECT_EQ(std::wstring(L"\uFFFDz"), decoder.Finish());
  EXPECT_EQ(std::wstring(), decoder.Finish());
}

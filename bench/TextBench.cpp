// Cost of entity decoding and page decoding as the text grows: 1 KB, 100 KB
// and 1 MB of text, and 500, 5,000 and 50,000 distinct references. For
// near-linear code the time per byte stays about the same at every size.
// Every iteration decodes a fresh copy (the copy is part of the measured
// time; it is small next to the decoding).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "text/CodePageConversion.h"
#include "text/HtmlEntities.h"

namespace {

// Ordinary lyrics: mostly plain text, a few named and numeric references.
std::wstring MakeLyrics(size_t size) {
  const std::wstring verse =
      L"I&#39;ve been walking down this road &amp; I don&#39;t know why,\n"
      L"the night is &quot;long&quot; and the river&nbsp;runs dry.\n"
      L"Caf&eacute; lights are fading, <br /> so we sing along &mdash;\n"
      L"oh oh oh, this is where the chorus goes, it&#8217;s our song.\n\n";
  std::wstring text;
  while (text.size() < size) text += verse;
  text.resize(size);
  return text;
}

// A non-Latin page: every letter is a numeric reference (Cyrillic).
std::wstring MakeAllNumeric(size_t size) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> letter(0x410, 0x44F);
  std::wstring text;
  while (text.size() < size) {
    text += L"&#" + std::to_wstring(letter(random)) + L";";
    if (random() % 6 == 0) text += L' ';
  }
  text.resize(size);
  return text;
}

// `count` references, all different.
std::wstring MakeDistinct(int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += L"&#" + std::to_wstring(1000 + i) + L";";
  return text;
}

// A UTF-8 page: markup, Latin text with accents, Cyrillic and CJK.
std::string MakeUtf8Page(size_t size) {
  const std::string block =
      "<div class=\"lyricbox\">Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e<br />"
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
      "and plain ASCII words that make up most of a page</div>\n";
  std::string page;
  while (page.size() < size) page += block;
  page.resize(size);  // may cut a character in two: the decoder replaces it
  return page;
}

void BM_DecodeLyrics(benchmark::State& state) {
  const std::wstring input = MakeLyrics(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::wstring text = input;
    DecodeHtmlEntities(text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_DecodeAllNumeric(benchmark::State& state) {
  const std::wstring input = MakeAllNumeric(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::wstring text = input;
    DecodeHtmlEntities(text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_DecodeDistinctReferences(benchmark::State& state) {
  const std::wstring input = MakeDistinct(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::wstring text = input;
    DecodeHtmlEntities(text);
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["chars"] = static_cast<double>(input.size());
}

void BM_ConvertBytesToWide(benchmark::State& state) {
  const std::string page = MakeUtf8Page(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::wstring text = ConvertBytesToWide(page, CP_UTF8);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_DecodeLyrics)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAllNumeric)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeDistinctReferences)->Arg(500)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertBytesToWide)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

// The artist name distance on arbitrary pairs of names (wide characters of
// two input bytes each; the first byte splits the pair). Only what holds for
// every pair is asserted: the distance is finite and not negative, a name
// against itself is 0, and GetDistanceBelow agrees with GetDistance about
// being below a limit.
#include <cmath>

#include "FuzzSupport.h"
#include "search/ArtistNameMatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 2048) return 0;
  const size_t split = std::min<size_t>(size - 1, 2u * data[0]);
  const std::wstring a = BytesToWide16(data + 1, split);
  const std::wstring b = BytesToWide16(data + 1 + split, size - 1 - split);
  CArtistNameMatcher matcher;
  const float d = matcher.GetDistance(a, b);
  FuzzCheck(std::isfinite(d), "the distance is finite");
  FuzzCheck(d >= 0.0f, "the distance is not negative");
  FuzzCheck(matcher.GetDistance(a, a) == 0.0f, "a name against itself is 0");
  FuzzCheck(matcher.GetDistance(b, b) == 0.0f, "a name against itself is 0");
  const float limits[] = {0.0f, 1.0f, 100.0f, d, std::nextafter(d, 1e30f)};
  for (float limit : limits)
    FuzzCheck((matcher.GetDistanceBelow(a, b, limit) < limit) == (d < limit), "GetDistanceBelow agrees");
  return 0;
}

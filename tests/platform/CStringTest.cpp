#include <gtest/gtest.h>

#include <versewell/cstring.h>

TEST(CString, FormatUsesWindowsWideConventions) {
  CString s;
  s.Format(L"%s_%04d%02d_%X.txt|%c|%S", L"C:/Logs/Src", 2024, 1, 6700, L'x', "narrow");
  EXPECT_EQ(s, L"C:/Logs/Src_202401_1A2C.txt|x|narrow");
  s.Format(L"100%% %d", 5);
  EXPECT_EQ(s, L"100% 5");
}

TEST(CString, FormatGrowsBeyondTheInitialBuffer) {
  std::wstring big(5000, L'z');
  CString s;
  s.Format(L"<%s>", big.c_str());
  EXPECT_EQ(s.GetLength(), 5002);
}

TEST(CString, TrimRemovesWhiteSpaceAtBothEndsOnly) {
  CString s(L" \t\r\n a b \x3000\x0B\f");
  s.Trim();
  EXPECT_EQ(s, L"a b");
  CString blank(L" \r\n ");
  blank.Trim();
  EXPECT_TRUE(blank.IsEmpty());
}

TEST(CString, ReplaceIsLeftToRightWithoutOverlap) {
  CString s(L"aaaa");
  EXPECT_EQ(s.Replace(L"aa", L"a"), 2);
  EXPECT_EQ(s, L"aa");
  CString t(L"a b c");
  EXPECT_EQ(t.Replace(L' ', L'+'), 2);
  EXPECT_EQ(t, L"a+b+c");
  EXPECT_EQ(t.Replace(L"", L"x"), 0);
}

TEST(CString, FindMidLeftRightClampLikeTheFramework) {
  CString s(L"Hello World");
  EXPECT_EQ(s.Find(L"World"), 6);
  EXPECT_EQ(s.Find(L'o', 5), 7);
  EXPECT_EQ(s.Find(L"zz"), -1);
  EXPECT_EQ(s.Mid(6), L"World");
  EXPECT_EQ(s.Mid(6, 100), L"World");
  EXPECT_EQ(s.Mid(50), L"");
  EXPECT_EQ(s.Left(5), L"Hello");
  EXPECT_EQ(s.Right(5), L"World");
  EXPECT_EQ(s.Right(50), s);
}

TEST(CString, ComparisonAndConcatenation) {
  CString a(L"abc");
  EXPECT_TRUE(a == L"abc");
  EXPECT_TRUE(L"abc" == a);
  EXPECT_TRUE(a != CString(L"ABC"));
  EXPECT_EQ(a.CompareNoCase(L"ABC"), 0);
  EXPECT_EQ(CString(L"x") + a + L"y" + L'z', L"xabcyz");
  CString null(static_cast<const wchar_t*>(nullptr));
  EXPECT_TRUE(null.IsEmpty());
}

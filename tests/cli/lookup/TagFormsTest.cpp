// The normalised forms of tag text (featured artists, suffixes, "&" and
// "and", accents, multi-artist tags) and the title choice that uses them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/lookup/TagForms.h"
#include "cli/lookup/TitleMatch.h"

namespace {

bool Has(const std::vector<std::wstring>& forms, const std::wstring& form) {
  return std::find(forms.begin(), forms.end(), form) != forms.end();
}

TEST(TagForms, FeaturedArtistPartsAreDropped) {
  EXPECT_EQ(cli::StripFeatured(L"Amberlight feat. Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::StripFeatured(L"Amberlight ft Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::StripFeatured(L"Amberlight FEATURING Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::StripFeatured(L"Amberlight with Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::StripFeatured(L"Salt Road (feat. Corrie Fen)"), L"Salt Road");
  EXPECT_EQ(cli::StripFeatured(L"Salt Road [ft. Corrie Fen] (Live)"), L"Salt Road");
  // A featuring word needs something after it, and something before it.
  EXPECT_EQ(cli::StripFeatured(L"Feat Of Clay"), L"Feat Of Clay");
  EXPECT_EQ(cli::StripFeatured(L"Stay With"), L"Stay With");
  // In a title a bare "with" is part of the title.
  EXPECT_EQ(cli::TitleKey(L"Drink to Me Only with Thine Eyes"), L"drink to me only with thine eyes");
  EXPECT_EQ(cli::TitleKey(L"Loch Lomond (with Corrie Fen)"), L"loch lomond");
}

TEST(TagForms, BracketedAndDashedSuffixesAreDropped) {
  EXPECT_EQ(cli::StripSuffixes(L"Greensleeves (Live)"), L"Greensleeves");
  EXPECT_EQ(cli::StripSuffixes(L"Greensleeves [Remastered] (Radio Edit)"), L"Greensleeves");
  EXPECT_EQ(cli::StripSuffixes(L"Greensleeves - Remastered 2011"), L"Greensleeves");
  EXPECT_EQ(cli::StripSuffixes(L"Greensleeves \u2013 2011 Remaster"), L"Greensleeves");
  EXPECT_EQ(cli::StripSuffixes(L"Greensleeves (Live (Encore))"), L"Greensleeves");
  // Nothing left: the text stays.
  EXPECT_EQ(cli::StripSuffixes(L"(Untitled)"), L"(Untitled)");
  EXPECT_EQ(cli::StripSuffixes(L"- 2011 -"), L"- 2011 -");
  // An unbalanced bracket is text.
  EXPECT_EQ(cli::StripSuffixes(L"Salt Road)"), L"Salt Road)");
}

TEST(TagForms, AmpersandPlusAndTheWordAndAreOne) {
  EXPECT_EQ(cli::UnifyAnd(L"Quill & Ink"), L"Quill and Ink");
  EXPECT_EQ(cli::UnifyAnd(L"Quill  +  Ink"), L"Quill and Ink");
  EXPECT_EQ(cli::TitleKey(L"Quill & Ink"), cli::TitleKey(L"Quill AND Ink"));
  EXPECT_EQ(cli::TitleKey(L"Rock&Roll"), cli::TitleKey(L"Rock and Roll"));
  // A word merely containing "and" is not touched.
  EXPECT_EQ(cli::UnifyAnd(L"Andover Sands"), L"Andover Sands");
}

TEST(TagForms, CaseAndAccentsAreFolded) {
  EXPECT_EQ(cli::FoldAccents(L"\u00c4mberlight \u00c9mile \u0141\u00f3d\u017a Stra\u00dfe \u00c6ther"),
            L"Amberlight Emile Lodz Strasse AEther");
  EXPECT_EQ(cli::FoldAccents(L"\u00d7 \u00f7 \u65e5\u672c"), L"\u00d7 \u00f7 \u65e5\u672c");  // no letters to fold
  EXPECT_EQ(cli::TitleKey(L"\u00c0 LA CLAIRE FONTAINE"), cli::TitleKey(L"A la claire fontaine"));
}

TEST(TagForms, TheFirstArtistOfAMultiArtistTag) {
  EXPECT_EQ(cli::FirstArtist(L"Amberlight & Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight, Corrie Fen, Hollin Reed"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight / Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight; Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight x Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight vs. Corrie Fen"), L"Amberlight");
  EXPECT_EQ(cli::FirstArtist(L"Amberlight"), L"Amberlight");
}

TEST(TagForms, ArtistFormsComeInOrderWithoutRepeats) {
  EXPECT_TRUE(cli::ArtistForms(L"Quillfeather").empty()) << "nothing to normalise costs no download";
  EXPECT_TRUE(cli::ArtistForms(L"  quillfeather ").empty());
  std::vector<std::wstring> forms = cli::ArtistForms(L"Bramble and Briar feat. Corrie Fen");
  ASSERT_FALSE(forms.empty());
  EXPECT_EQ(forms.front(), L"Bramble and Briar");
  EXPECT_TRUE(Has(forms, L"Bramble & Briar"));
  EXPECT_TRUE(Has(forms, L"Bramble"));
  EXPECT_LT(std::find(forms.begin(), forms.end(), L"Bramble & Briar") - forms.begin(),
            std::find(forms.begin(), forms.end(), L"Bramble") - forms.begin())
      << "the whole name before its first part";
  forms = cli::ArtistForms(L"\u00c4mberlight");
  EXPECT_EQ(forms, std::vector<std::wstring>{L"Amberlight"});
}

TEST(TagForms, OneSwappedPairOfLetters) {
  EXPECT_TRUE(cli::IsOneSwapApart(L"salt raod", L"salt road"));
  EXPECT_TRUE(cli::IsOneSwapApart(L"ab", L"ba"));
  EXPECT_FALSE(cli::IsOneSwapApart(L"salt raod", L"salt raod"));
  EXPECT_FALSE(cli::IsOneSwapApart(L"slat raod", L"salt road")) << "two swaps";
  EXPECT_FALSE(cli::IsOneSwapApart(L"salt rodd", L"salt road"));
  EXPECT_FALSE(cli::IsOneSwapApart(L"salt roa", L"salt road"));
}

// Real-world tag shapes against a song list: which title each one picks and how.
TEST(TagForms, RealWorldTitleShapes) {
  const std::vector<std::wstring> titles = {L"Salt Road", L"Quill and Ink", L"Greensleeves",
                                            L"\u00c0 la claire fontaine", L"Harbour Bells (Radio Edit)",
                                            L"Who Will Shoe Your Pretty Little Foot?"};
  const std::vector<std::wstring> pages(titles.size());
  struct SCase {
    const wchar_t* tag;
    size_t index;
    const char* how;  // "exact", "normalised", "close"
  };
  const SCase cases[] = {
      {L"Greensleeves (Live)", 2, "normalised"},
      {L"Greensleeves - Remastered 2011", 2, "normalised"},
      {L"Greensleeves [2011 Remaster] (Radio Edit)", 2, "normalised"},
      {L"greensleeves (feat. Corrie Fen)", 2, "normalised"},
      {L"Quill & Ink", 1, "normalised"},
      {L"Quill + Ink (Acoustic)", 1, "normalised"},
      {L"A LA CLAIRE FONTAINE", 3, "normalised"},
      {L"Harbour Bells", 4, "normalised"},
      {L"Who Will Shoe Your Pretty Little Foot", 5, "normalised"},
      {L"Salt Raod", 0, "close"},
      {L"SALT ROAD", 0, "exact"},
  };
  for (const SCase& c : cases) {
    cli::STitleChoice choice = cli::ChooseTitle(titles, pages, c.tag);
    ASSERT_NE(choice.nIndex, std::wstring::npos) << std::string(c.how);
    EXPECT_EQ(choice.nIndex, c.index) << "tag #" << (&c - cases);
    const char* how = choice.bExact ? "exact" : choice.bNormalised ? "normalised" : choice.bClose ? "close" : "none";
    EXPECT_STREQ(how, c.how) << "tag #" << (&c - cases);
    EXPECT_EQ(choice.strForm.empty(), !choice.bNormalised);
  }
  // Not every tag finds a song: a different title stays unmatched.
  cli::STitleChoice other = cli::ChooseTitle(titles, pages, L"Barbara Allen (Live)");
  EXPECT_FALSE(other.bClose);
  // A short title with a swap is still close, where two edits in five would not be.
  cli::STitleChoice shortSwap = cli::ChooseTitle({L"Road"}, {L""}, L"Raod");
  EXPECT_TRUE(shortSwap.bClose);
}

}  // namespace

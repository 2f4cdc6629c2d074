#include "codec/clTranslator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/TestStreams.h"

namespace qv {
namespace {

// The charset tables in their published notation: every byte maps to itself except the listed
// ones; "80–AF→C0–EF" maps a range in order onto another.
struct PublishedTable {
  const char* name;
  const char* fromCharSet;
  const char* toCharSet;
};

const PublishedTable kPublished[] = {
    {"ISO-8859-1", "identity", "identity"},
    {"ISO-8859-2", "A1→A5, A6→8C, AC→8F, B1→B9, B6→9C, BC→9F",
     "8C→A6, 8F→AC, 9C→B6, 9F→BC, A5→A1, B9→B1"},
    {"Windows-1250", "identity", "identity"},
    {"ibm866", "80–AF→C0–EF, E0–EF→F0–FF, F0→A8, F1→A3",
     "A3→F1, A8→F0, B3→F0, C0–EF→80–AF, F0–FF→E0–EF"},
    {"ISO-8859-5", "90–EF→A0–FF", "A0–FF→90–EF"},
    {"koi8-r",
     "A3→B8, B3→A8, B8→A3, C0→FE, C1–C2→E0–E1, C3→F6, C4–C5→E4–E5, C6→F4, C7→E3, C8→F5, "
     "C9–D0→E8–EF, D1→FF, D2–D5→F0–F3, D6→E6, D7→E2, D8→FC, D9→FB, DA→E7, DB→F8, DC→FD, DD→F9, "
     "DE→F7, DF→FA, E0→DE, E1–E2→C0–C1, E3→D6, E4–E5→C4–C5, E6→D4, E7→C3, E8→D5, E9–F0→C8–CF, "
     "F1→DF, F2–F5→D0–D3, F6→C6, F7→C2, F8→DC, F9→DB, FA→C7, FB→D8, FC→DD, FD→D9, FE→D7, FF→DA",
     "A3→B8, A8→B3, B8→A3, C0–C1→E1–E2, C2→F7, C3→E7, C4–C5→E4–E5, C6→F6, C7→FA, C8–CF→E9–F0, "
     "D0–D3→F2–F5, D4→E6, D5→E8, D6→E3, D7→FE, D8→FB, D9→FD, DA→FF, DB→F9, DC→F8, DD→FC, DE→E0, "
     "DF→F1, E0–E1→C1–C2, E2→D7, E3→C7, E4–E5→C4–C5, E6→D6, E7→DA, E8–EF→C9–D0, F0–F3→D2–D5, "
     "F4→C6, F5→C8, F6→C3, F7→DE, F8→DB, F9→DD, FA→DF, FB→D9, FC→D8, FD→DC, FE→C0, FF→D1"},
    {"koi8-u",
     "A3→B8, A4→BA, A6→B3, A7→BF, AD→B4, B3→A8, B4→AA, B6→B2, B7→AF, BD→A5, C0→FE, C1–C2→E0–E1, "
     "C3→F6, C4–C5→E4–E5, C6→F4, C7→E3, C8→F5, C9–D0→E8–EF, D1→FF, D2–D5→F0–F3, D6→E6, D7→E2, "
     "D8→FC, D9→FB, DA→E7, DB→F8, DC→FD, DD→F9, DE→F7, DF→FA, E0→DE, E1–E2→C0–C1, E3→D6, "
     "E4–E5→C4–C5, E6→D4, E7→C3, E8→D5, E9–F0→C8–CF, F1→DF, F2–F5→D0–D3, F6→C6, F7→C2, F8→DC, "
     "F9→DB, FA→C7, FB→D8, FC→DD, FD→D9, FE→D7, FF→DA",
     "A5→BD, A8→B3, AA→B4, AF→B7, B2→B6, B3→A6, B4→AD, B8→A3, BA→A4, BF→A7, C0–C1→E1–E2, C2→F7, "
     "C3→E7, C4–C5→E4–E5, C6→F6, C7→FA, C8–CF→E9–F0, D0–D3→F2–F5, D4→E6, D5→E8, D6→E3, D7→FE, "
     "D8→FB, D9→FD, DA→FF, DB→F9, DC→F8, DD→FC, DE→E0, DF→F1, E0–E1→C1–C2, E2→D7, E3→C7, "
     "E4–E5→C4–C5, E6→D6, E7→DA, E8–EF→C9–D0, F0–F3→D2–D5, F4→C6, F5→C8, F6→C3, F7→DE, F8→DB, "
     "F9→DD, FA→DF, FB→D9, FC→D8, FD→DC, FE→C0, FF→D1"},
    {"KOI8-WIN",
     "9A→DA, A1→E7, C0→D7, C1→DE, C2→C0, C3→C6, C6→D2, C7→D6, C8→D3, C9→D5, CA–D0→C8–CE, D2→CF, "
     "D3→DF, D4–D5→D0–D1, D6→D4, D7→C1, D8→DD, D9→D8, DA→C3, DB→DC, DC→D9, DD→DB, DE→C2, DF→C7, "
     "E0→F7, E1→FE, E2→E0, E3→E6, E6→F2, E7→F6, E8→F3, E9→F5, EA–F0→E8–EE, F1→FA, F2→EF, F3→FF, "
     "F4–F5→F0–F1, F6→F4, F7→E1, F8→FD, F9→F8, FA→E3, FB→FC, FC→F9, FD→FB, FE→E2",
     "C0→C2, C1→D7, C2→DE, C3→DA, C6→C3, C7→DF, C8–CE→CA–D0, CF→D2, D0–D1→D4–D5, D2→C6, D3→C8, "
     "D4→D6, D5→C9, D6→C7, D7→C0, D8→D9, D9→DC, DA→9A, DB→DD, DC→DB, DD→D8, DE→C1, DF→D3, E0→E2, "
     "E1→F7, E2→FE, E3→FA, E6→E3, E7→A1, E8–EE→EA–F0, EF→F2, F0–F1→F4–F5, F2→E6, F3→E8, F4→F6, "
     "F5→E9, F6→E7, F7→E0, F8→F9, F9→FC, FA→F1, FB→FD, FC→FB, FD→F8, FE→E1, FF→F3"},
    {"WIN-KOI8",
     "95→FF, C0–C1→E1–E2, C2→F7, C3→E7, C4–C5→E4–E5, C6→F6, C7→FA, C9–CF→EA–F0, D0–D3→F2–F5, "
     "D4→E6, D5→E8, D6→E3, D7→FE, D8→FB, D9→FD, DB→F9, DC→F8, DD→FC, DE→E0, DF→F1, E0–E1→C1–C2, "
     "E2→D7, E3→C7, E4–E5→C4–C5, E6→D6, E7→FF, E9–EF→CA–D0, F0–F3→D2–D5, F4→C6, F5→C8, F6→C3, "
     "F7→DE, F8→DB, F9→DD, FA→DF, FB→D9, FC→D8, FD→DC, FE→C0, FF→D1",
     "C0→FE, C1–C2→E0–E1, C3→F6, C4–C5→E4–E5, C6→F4, C7→E3, C8→F5, CA–D0→E9–EF, D1→FF, "
     "D2–D5→F0–F3, D6→E6, D7→E2, D8→FC, D9→FB, DB→F8, DC→FD, DD→F9, DE→F7, DF→FA, E0→DE, "
     "E1–E2→C0–C1, E3→D6, E4–E5→C4–C5, E6→D4, E7→C3, E8→D5, EA–F0→C9–CF, F1→DF, F2–F5→D0–D3, "
     "F6→C6, F7→C2, F8→DC, F9→DB, FA→C7, FB→D8, FC→DD, FD→D9, FE→D7, FF→E7"},
    {"Windows-1251", "identity", "identity"},
    {"x-mac-cyrillic", "80–9F→C0–DF, DD→A8, DE→B8, DF→FF", "A8→DD, B8→DE, C0–DF→80–9F, FF→DF"},
    {"Latin1", "identity", "identity"},

};

// Reads the published notation independently of the translator's own table builder.
std::map<int, int> ParseMappings(std::string text) {
  std::map<int, int> result;
  if (text == "identity") return result;
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"\u2192", ">"}, {"\u2013", "-"}, {",", " "}}) {
    for (std::size_t p; (p = text.find(from)) != std::string::npos;)
      text.replace(p, from.size(), to);
  }
  std::size_t p = 0;
  while (p < text.size()) {
    if (text[p] == ' ') {
      ++p;
      continue;
    }
    const std::size_t end = text.find(' ', p);
    const std::string item = text.substr(p, end == std::string::npos ? std::string::npos : end - p);
    p = end == std::string::npos ? text.size() : end;
    const std::size_t arrow = item.find('>');
    const std::string left = item.substr(0, arrow), right = item.substr(arrow + 1);
    auto range = [](const std::string& r) {
      const std::size_t dash = r.find('-');
      const int lo = std::stoi(r.substr(0, dash), nullptr, 16);
      const int hi = dash == std::string::npos ? lo : std::stoi(r.substr(dash + 1), nullptr, 16);
      return std::pair{lo, hi};
    };
    const auto [fromLo, fromHi] = range(left);
    const auto [toLo, toHi] = range(right);
    EXPECT_EQ(fromHi - fromLo, toHi - toLo) << item;
    for (int k = 0; k <= fromHi - fromLo; ++k)
      result[fromLo + k] = toLo + k;
  }
  return result;
}

std::string AllBytes() {
  std::string s(256, '\0');
  for (int i = 0; i < 256; ++i)
    s[static_cast<std::size_t>(i)] = static_cast<char>(i);
  return s;
}

TEST(CharSetTables, EveryPublishedMappingHoldsAndAllOtherBytesStay) {
  ASSERT_EQ(std::size(kPublished), static_cast<std::size_t>(TclCharSetTranslator::kCharSetCount));
  for (std::size_t t = 0; t < std::size(kPublished); ++t) {
    const PublishedTable& pub = kPublished[t];
    SCOPED_TRACE(pub.name);
    EXPECT_EQ(TclCharSetTranslator::CharSetName(static_cast<int>(t)), pub.name);
    const CharSetTable table = TclCharSetTranslator::GetCharSetTable(pub.name);
    ASSERT_EQ(table.name, pub.name);
    const auto from = ParseMappings(pub.fromCharSet);
    const auto to = ParseMappings(pub.toCharSet);
    const std::string fromText = TclCharSetTranslator::TranslateFromCharSet(pub.name, AllBytes());
    const std::string toText = TclCharSetTranslator::TranslateToCharSet(pub.name, AllBytes());
    for (int b = 0; b < 256; ++b) {
      const auto ub = static_cast<std::size_t>(b);
      const int wantFrom = from.count(b) ? from.at(b) : b;
      const int wantTo = to.count(b) ? to.at(b) : b;
      EXPECT_EQ(table.fromCharSet[ub], wantFrom) << "from byte " << b;
      EXPECT_EQ(table.toCharSet[ub], wantTo) << "to byte " << b;
      EXPECT_EQ(static_cast<unsigned char>(fromText[ub]), wantFrom) << "from byte " << b;
      EXPECT_EQ(static_cast<unsigned char>(toText[ub]), wantTo) << "to byte " << b;
    }
  }
}

// Whether a text part is blank (no byte above blank before a NUL) does not depend on its charset:
// a message's outline tells it from the untranslated content.
TEST(CharSetTables, KeepNulBlanksAndTextApart) {
  for (int t = 0; t < TclCharSetTranslator::kCharSetCount; ++t) {
    const std::string_view name = TclCharSetTranslator::CharSetName(t);
    SCOPED_TRACE(name);
    const CharSetTable table = TclCharSetTranslator::GetCharSetTable(name);
    for (std::size_t b = 0; b < 256; ++b) {
      if (b <= 32)
        EXPECT_EQ(table.fromCharSet[b], b);
      else
        EXPECT_GT(table.fromCharSet[b], 32) << b;
    }
  }
}

TEST(CharSetTables, SampleEntriesOfEveryTable) {
  struct Case {
    const char* charSet;
    unsigned char in;
    unsigned char fromCharSet;
    unsigned char toCharSet;
  };
  const Case cases[] = {
      {"ISO-8859-1", 0xE9, 0xE9, 0xE9},     {"ISO-8859-2", 0xA1, 0xA5, 0xA1},
      {"ISO-8859-2", 0xA5, 0xA5, 0xA1},     {"ISO-8859-2", 0xE9, 0xE9, 0xE9},
      {"Windows-1250", 0x8C, 0x8C, 0x8C},   {"ibm866", 0xF1, 0xA3, 0xE1},
      {"ibm866", 0x80, 0xC0, 0x80},         {"ibm866", 0xB3, 0xB3, 0xF0},
      {"ISO-8859-5", 0x90, 0xA0, 0x90},     {"ISO-8859-5", 0xFF, 0xFF, 0xEF},
      {"koi8-r", 0xC1, 0xE0, 0xE2},         {"koi8-r", 0xE1, 0xC0, 0xC2},
      {"koi8-u", 0xA4, 0xBA, 0xA4},         {"koi8-u", 0xBA, 0xBA, 0xA4},
      {"KOI8-WIN", 0x9A, 0xDA, 0x9A},       {"KOI8-WIN", 0xDA, 0xC3, 0x9A},
      {"WIN-KOI8", 0x95, 0xFF, 0x95},       {"WIN-KOI8", 0xFF, 0xD1, 0xE7},
      {"Windows-1251", 0xC0, 0xC0, 0xC0},   {"x-mac-cyrillic", 0xDF, 0xFF, 0x9F},
      {"x-mac-cyrillic", 0x9F, 0xDF, 0x9F}, {"Latin1", 0xA4, 0xA4, 0xA4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charSet);
    const std::string in(1, static_cast<char>(c.in));
    EXPECT_EQ(TclCharSetTranslator::TranslateFromCharSet(c.charSet, in),
              std::string(1, static_cast<char>(c.fromCharSet)));
    EXPECT_EQ(TclCharSetTranslator::TranslateToCharSet(c.charSet, in),
              std::string(1, static_cast<char>(c.toCharSet)));
  }
}

TEST(CharSetLookup, IgnoresCaseAndTakesFirstMatch) {
  EXPECT_EQ(TclCharSetTranslator::GetCharSetTable("KOI8-R").name, "koi8-r");
  EXPECT_EQ(TclCharSetTranslator::GetCharSetTable("iso-8859-2").name, "ISO-8859-2");
  EXPECT_EQ(TclCharSetTranslator::TranslateFromCharSet("KOI8-R", "\xC1\xE1"), "\xE0\xC0");
  EXPECT_EQ(TclCharSetTranslator::TranslateFromCharSet("koi8-r", "\xC1\xE1"), "\xE0\xC0");
  for (const char* unknown : {"US-ASCII", "utf-8", "", "koi8", "ISO-8859-1 ", "Latin-1"}) {
    SCOPED_TRACE(unknown);
    EXPECT_TRUE(TclCharSetTranslator::GetCharSetTable(unknown).name.empty());
  }
}

TEST(CharSetTranslation, UnknownAndIdentityCharSetsPassBytesThrough) {
  const std::string all = AllBytes();
  for (const char* cs : {"Windows-1251", "ISO-8859-1", "Latin1", "US-ASCII", "utf-8", ""}) {
    SCOPED_TRACE(cs);
    EXPECT_EQ(TclCharSetTranslator::TranslateToCharSet(cs, all), all);
    EXPECT_EQ(TclCharSetTranslator::TranslateFromCharSet(cs, all), all);
  }
  EXPECT_EQ(TclCharSetTranslator::TranslateFromCharSet("koi8-r", ""), "");
  EXPECT_EQ(TclCharSetTranslator::TranslateToCharSet("koi8-r", ""), "");
}

TEST(CharSetStreams, TranslateWholeSourceAndRestorePositions) {
  for (const char* cs : {"koi8-r", "no-such-charset"}) {
    SCOPED_TRACE(cs);
    const std::string text = AllBytes() + AllBytes();
    test::TrickleStream source(text);
    source.SetPosition(100);
    // The destination is written from its start and keeps what lies beyond the written bytes.
    TMemoryStream destination(std::string(600, 'x'));
    destination.SetPosition(7);
    TclCharSetTranslator::TranslateStreamFromCharSet(cs, source, destination);
    EXPECT_EQ(source.Position(), 100);
    EXPECT_EQ(destination.Position(), 7);
    EXPECT_EQ(destination.DataString().substr(0, text.size()),
              TclCharSetTranslator::TranslateFromCharSet(cs, text));
    EXPECT_EQ(destination.DataString().substr(text.size()), std::string(600 - text.size(), 'x'));

    TMemoryStream back;
    TclCharSetTranslator::TranslateStreamToCharSet(cs, destination, back);
    EXPECT_EQ(back.DataString().substr(0, text.size()),
              TclCharSetTranslator::TranslateToCharSet(
                  cs, destination.DataString().substr(0, text.size())));
  }
}

TEST(CharSetStreams, LargeSourceMatchesStringForm) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += static_cast<char>((i * 7919) & 0xFF);
  TMemoryStream source(text);
  TMemoryStream destination;
  TclCharSetTranslator::TranslateStreamToCharSet("WIN-KOI8", source, destination);
  EXPECT_EQ(destination.DataString(), TclCharSetTranslator::TranslateToCharSet("WIN-KOI8", text));
}

}  // namespace
}  // namespace qv

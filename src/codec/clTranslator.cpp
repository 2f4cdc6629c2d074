#include "codec/clTranslator.h"

#include <algorithm>

#include "base/StringUtils.h"

namespace qv {

namespace {

using ByteTable = std::array<std::uint8_t, 256>;

// The tables are written as lists of exceptions to the identity: "A1>A5" maps one byte,
// "80-AF>C0-EF" maps a range onto a range of the same length, in order. A malformed list, ranges
// of different lengths or a byte mapped twice stop the compilation.
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw "bad hexadecimal digit in a charset table";
}

constexpr ByteTable BuildTable(std::string_view mappings) {
  ByteTable table{};
  std::array<bool, 256> mapped{};
  for (int i = 0; i < 256; ++i)
    table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  std::size_t p = 0;
  auto readByte = [&]() {
    if (p + 2 > mappings.size()) throw "charset table ends early";
    const int v = HexValue(mappings[p]) * 16 + HexValue(mappings[p + 1]);
    p += 2;
    return v;
  };
  auto readRange = [&](int& lo, int& hi) {
    lo = hi = readByte();
    if (p < mappings.size() && mappings[p] == '-') {
      ++p;
      hi = readByte();
    }
    if (hi < lo) throw "descending range in a charset table";
  };
  while (p < mappings.size()) {
    while (p < mappings.size() && (mappings[p] == ',' || mappings[p] == ' '))
      ++p;
    if (p == mappings.size()) break;
    int fromLo = 0, fromHi = 0, toLo = 0, toHi = 0;
    readRange(fromLo, fromHi);
    if (p >= mappings.size() || mappings[p] != '>') throw "missing '>' in a charset table";
    ++p;
    readRange(toLo, toHi);
    if (fromHi - fromLo != toHi - toLo) throw "ranges of different length in a charset table";
    for (int k = 0; k <= fromHi - fromLo; ++k) {
      const auto b = static_cast<std::size_t>(fromLo + k);
      if (mapped[b]) throw "byte mapped twice in a charset table";
      mapped[b] = true;
      table[b] = static_cast<std::uint8_t>(toLo + k);
    }
  }
  return table;
}

struct BuiltInCharSet {
  std::string_view name;
  ByteTable fromCharSet;
  ByteTable toCharSet;
};

constexpr BuiltInCharSet Entry(std::string_view name, std::string_view from, std::string_view to) {
  return {name, BuildTable(from), BuildTable(to)};
}

// In lookup order; the first name that matches wins.
constexpr std::array<BuiltInCharSet, TclCharSetTranslator::kCharSetCount> kCharSets = {{
    Entry("ISO-8859-1", "", ""),
    Entry("ISO-8859-2", "A1>A5, A6>8C, AC>8F, B1>B9, B6>9C, BC>9F",
          "8C>A6, 8F>AC, 9C>B6, 9F>BC, A5>A1, B9>B1"),
    Entry("Windows-1250", "", ""),
    Entry("ibm866", "80-AF>C0-EF, E0-EF>F0-FF, F0>A8, F1>A3",
          "A3>F1, A8>F0, B3>F0, C0-EF>80-AF, F0-FF>E0-EF"),
    Entry("ISO-8859-5", "90-EF>A0-FF", "A0-FF>90-EF"),
    Entry("koi8-r",
          "A3>B8, B3>A8, B8>A3, C0>FE, C1-C2>E0-E1, C3>F6, C4-C5>E4-E5, C6>F4, C7>E3, C8>F5, "
          "C9-D0>E8-EF, D1>FF, D2-D5>F0-F3, D6>E6, D7>E2, D8>FC, D9>FB, DA>E7, DB>F8, DC>FD, "
          "DD>F9, DE>F7, DF>FA, E0>DE, E1-E2>C0-C1, E3>D6, E4-E5>C4-C5, E6>D4, E7>C3, E8>D5, "
          "E9-F0>C8-CF, F1>DF, F2-F5>D0-D3, F6>C6, F7>C2, F8>DC, F9>DB, FA>C7, FB>D8, FC>DD, "
          "FD>D9, FE>D7, FF>DA",
          "A3>B8, A8>B3, B8>A3, C0-C1>E1-E2, C2>F7, C3>E7, C4-C5>E4-E5, C6>F6, C7>FA, "
          "C8-CF>E9-F0, D0-D3>F2-F5, D4>E6, D5>E8, D6>E3, D7>FE, D8>FB, D9>FD, DA>FF, DB>F9, "
          "DC>F8, DD>FC, DE>E0, DF>F1, E0-E1>C1-C2, E2>D7, E3>C7, E4-E5>C4-C5, E6>D6, E7>DA, "
          "E8-EF>C9-D0, F0-F3>D2-D5, F4>C6, F5>C8, F6>C3, F7>DE, F8>DB, F9>DD, FA>DF, FB>D9, "
          "FC>D8, FD>DC, FE>C0, FF>D1"),
    Entry("koi8-u",
          "A3>B8, A4>BA, A6>B3, A7>BF, AD>B4, B3>A8, B4>AA, B6>B2, B7>AF, BD>A5, C0>FE, "
          "C1-C2>E0-E1, C3>F6, C4-C5>E4-E5, C6>F4, C7>E3, C8>F5, C9-D0>E8-EF, D1>FF, "
          "D2-D5>F0-F3, D6>E6, D7>E2, D8>FC, D9>FB, DA>E7, DB>F8, DC>FD, DD>F9, DE>F7, DF>FA, "
          "E0>DE, E1-E2>C0-C1, E3>D6, E4-E5>C4-C5, E6>D4, E7>C3, E8>D5, E9-F0>C8-CF, F1>DF, "
          "F2-F5>D0-D3, F6>C6, F7>C2, F8>DC, F9>DB, FA>C7, FB>D8, FC>DD, FD>D9, FE>D7, FF>DA",
          "A5>BD, A8>B3, AA>B4, AF>B7, B2>B6, B3>A6, B4>AD, B8>A3, BA>A4, BF>A7, C0-C1>E1-E2, "
          "C2>F7, C3>E7, C4-C5>E4-E5, C6>F6, C7>FA, C8-CF>E9-F0, D0-D3>F2-F5, D4>E6, D5>E8, "
          "D6>E3, D7>FE, D8>FB, D9>FD, DA>FF, DB>F9, DC>F8, DD>FC, DE>E0, DF>F1, E0-E1>C1-C2, "
          "E2>D7, E3>C7, E4-E5>C4-C5, E6>D6, E7>DA, E8-EF>C9-D0, F0-F3>D2-D5, F4>C6, F5>C8, "
          "F6>C3, F7>DE, F8>DB, F9>DD, FA>DF, FB>D9, FC>D8, FD>DC, FE>C0, FF>D1"),
    Entry("KOI8-WIN",
          "9A>DA, A1>E7, C0>D7, C1>DE, C2>C0, C3>C6, C6>D2, C7>D6, C8>D3, C9>D5, CA-D0>C8-CE, "
          "D2>CF, D3>DF, D4-D5>D0-D1, D6>D4, D7>C1, D8>DD, D9>D8, DA>C3, DB>DC, DC>D9, DD>DB, "
          "DE>C2, DF>C7, E0>F7, E1>FE, E2>E0, E3>E6, E6>F2, E7>F6, E8>F3, E9>F5, EA-F0>E8-EE, "
          "F1>FA, F2>EF, F3>FF, F4-F5>F0-F1, F6>F4, F7>E1, F8>FD, F9>F8, FA>E3, FB>FC, FC>F9, "
          "FD>FB, FE>E2",
          "C0>C2, C1>D7, C2>DE, C3>DA, C6>C3, C7>DF, C8-CE>CA-D0, CF>D2, D0-D1>D4-D5, D2>C6, "
          "D3>C8, D4>D6, D5>C9, D6>C7, D7>C0, D8>D9, D9>DC, DA>9A, DB>DD, DC>DB, DD>D8, DE>C1, "
          "DF>D3, E0>E2, E1>F7, E2>FE, E3>FA, E6>E3, E7>A1, E8-EE>EA-F0, EF>F2, F0-F1>F4-F5, "
          "F2>E6, F3>E8, F4>F6, F5>E9, F6>E7, F7>E0, F8>F9, F9>FC, FA>F1, FB>FD, FC>FB, FD>F8, "
          "FE>E1, FF>F3"),
    Entry("WIN-KOI8",
          "95>FF, C0-C1>E1-E2, C2>F7, C3>E7, C4-C5>E4-E5, C6>F6, C7>FA, C9-CF>EA-F0, "
          "D0-D3>F2-F5, D4>E6, D5>E8, D6>E3, D7>FE, D8>FB, D9>FD, DB>F9, DC>F8, DD>FC, DE>E0, "
          "DF>F1, E0-E1>C1-C2, E2>D7, E3>C7, E4-E5>C4-C5, E6>D6, E7>FF, E9-EF>CA-D0, "
          "F0-F3>D2-D5, F4>C6, F5>C8, F6>C3, F7>DE, F8>DB, F9>DD, FA>DF, FB>D9, FC>D8, FD>DC, "
          "FE>C0, FF>D1",
          "C0>FE, C1-C2>E0-E1, C3>F6, C4-C5>E4-E5, C6>F4, C7>E3, C8>F5, CA-D0>E9-EF, D1>FF, "
          "D2-D5>F0-F3, D6>E6, D7>E2, D8>FC, D9>FB, DB>F8, DC>FD, DD>F9, DE>F7, DF>FA, E0>DE, "
          "E1-E2>C0-C1, E3>D6, E4-E5>C4-C5, E6>D4, E7>C3, E8>D5, EA-F0>C9-CF, F1>DF, "
          "F2-F5>D0-D3, F6>C6, F7>C2, F8>DC, F9>DB, FA>C7, FB>D8, FC>DD, FD>D9, FE>D7, FF>E7"),
    Entry("Windows-1251", "", ""),
    Entry("x-mac-cyrillic", "80-9F>C0-DF, DD>A8, DE>B8, DF>FF", "A8>DD, B8>DE, C0-DF>80-9F, FF>DF"),
    Entry("Latin1", "", ""),
}};

const BuiltInCharSet* FindCharSet(std::string_view name) noexcept {
  for (const auto& cs : kCharSets)
    if (SameText(cs.name, name)) return &cs;
  return nullptr;
}

void TranslateBytes(const ByteTable& table, char* data, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i)
    data[i] = static_cast<char>(table[static_cast<std::uint8_t>(data[i])]);
}

enum class Direction { ToCharSet, FromCharSet };

void TranslateStream(std::string_view charSet, TStream& source, TStream& destination,
                     Direction direction) {
  const BuiltInCharSet* cs = FindCharSet(charSet);
  const std::int64_t sourcePos = source.Position();
  const std::int64_t destinationPos = destination.Position();
  source.SetPosition(0);
  destination.SetPosition(0);
  // An unknown charset copies the source unchanged.
  const ByteTable* table = nullptr;
  if (cs) table = direction == Direction::ToCharSet ? &cs->toCharSet : &cs->fromCharSet;
  std::int64_t remaining = source.Size();
  char buffer[16384];
  while (remaining > 0) {
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(remaining, static_cast<std::int64_t>(sizeof buffer)));
    const std::size_t got = source.Read(buffer, want);
    if (got == 0) break;  // the source held less than its size promised
    if (table) TranslateBytes(*table, buffer, got);
    destination.WriteBuffer(buffer, got);
    remaining -= static_cast<std::int64_t>(got);
  }
  source.SetPosition(sourcePos);
  destination.SetPosition(destinationPos);
}

std::string TranslateString(std::string_view charSet, std::string_view text, Direction direction) {
  std::string result(text);
  if (const BuiltInCharSet* cs = FindCharSet(charSet))
    TranslateBytes(direction == Direction::ToCharSet ? cs->toCharSet : cs->fromCharSet,
                   result.data(), result.size());
  return result;
}

}  // namespace

CharSetTable TclCharSetTranslator::GetCharSetTable(std::string_view charSet) {
  CharSetTable result;
  if (const BuiltInCharSet* cs = FindCharSet(charSet)) {
    result.name = std::string(cs->name);
    result.fromCharSet = cs->fromCharSet;
    result.toCharSet = cs->toCharSet;
  }
  return result;
}

std::string_view TclCharSetTranslator::CharSetName(int i) {
  if (i < 0 || i >= kCharSetCount) return {};
  return kCharSets[static_cast<std::size_t>(i)].name;
}

void TclCharSetTranslator::TranslateStreamToCharSet(std::string_view charSet, TStream& source,
                                                    TStream& destination) {
  TranslateStream(charSet, source, destination, Direction::ToCharSet);
}

void TclCharSetTranslator::TranslateStreamFromCharSet(std::string_view charSet, TStream& source,
                                                      TStream& destination) {
  TranslateStream(charSet, source, destination, Direction::FromCharSet);
}

std::string TclCharSetTranslator::TranslateToCharSet(std::string_view charSet,
                                                     std::string_view text) {
  return TranslateString(charSet, text, Direction::ToCharSet);
}

std::string TclCharSetTranslator::TranslateFromCharSet(std::string_view charSet,
                                                       std::string_view text) {
  return TranslateString(charSet, text, Direction::FromCharSet);
}

}  // namespace qv

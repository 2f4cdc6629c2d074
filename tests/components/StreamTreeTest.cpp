// The generic reader and its text form, as `qvrepair-cli dump` prints it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Sample.h"
#include "base/Errors.h"
#include "components/ComponentStream.h"
#include "components/StreamTree.h"
#include "support/TestStreams.h"

namespace qv::test {
namespace {

// Appends the text of the stream's tree to `text`; a failure propagates.
void Dump(TStream& in, std::string& text) {
  WriteStreamTree(in, [&text](std::string_view piece) { text += piece; });
}

TEST(StreamTree, EveryValueKindHasAReadableForm) {
  const std::string file =
      "TPF0" + Hex("F2 02 03") + Str("TThing") + Str("Thing1") + Str("A") + Hex("02 FF") +
      Str("B") + Hex("13 00 00 00 80 00 00 00 00") + Str("C") +
      Hex("05 00 00 00 00 00 80 3F 97 0E 40") + Str("D") + Hex("06 04 61 22 5C 0A") + Str("E") +
      Hex("07") + Str("clRed") + Str("F") + Hex("08") + Str("G") + Hex("0B") + Str("x") + Str("y") +
      Hex("00") + Str("H") + Hex("0A 02 00 00 00 AB 01") + Str("I") + Hex("0E 00") + Str("J") +
      Hex("0E 02 04 01") + Str("K") + Hex("09 00 00") + Str("L") + Hex("01 02 01 06 01 7A 00") +
      Str("M") + Hex("12 01 00 00 00 E9 00") + Str("N") + Hex("10 10 27 00 00 00 00 00 00") +
      Str("O") + Hex("15 9A 99 99 99 99 99 B9 3F") + Str("P") + Hex("0D") + Hex("00") +
      "\x00"
      "" +
      Str("TKid") + Str("Kid") + Hex("00 00") + Hex("00");
  TMemoryStream in(file);
  std::string text;
  Dump(in, text);
  EXPECT_EQ(text,
            "object Thing1: TThing [3]\n"
            "  A = -1\n"
            "  B = 2147483648\n"
            "  C = 38719.5\n"
            "  D = \"a\\\"\\\\\\n\"\n"
            "  E = clRed\n"
            "  F = False\n"
            "  G = [x, y]\n"
            "  H = {AB01}\n"
            "  I = <>\n"
            "  J = <\n"
            "    item [4]\n"
            "      K = True\n"
            "    end\n"
            "  >\n"
            "  L = (\n"
            "    1\n"
            "    \"z\"\n"
            "  )\n"
            "  M = \"\xC3\xA9\"\n"
            "  N = 1.0000\n"
            "  O = 0.1\n"
            "  P = nil\n"
            "  object Kid: TKid\n"
            "  end\n"
            "end\n");
}

TEST(StreamTree, AFailureKeepsWhatWasReadWithoutClosingLines) {
  TSample s(nullptr);
  s.SetName("S");
  s.SetI32(5);
  s.Items().NewItem().SetCaption("first");
  s.Items().NewItem().SetCaption("second");
  TMemoryStream out;
  WriteComponentStream(out, s);
  const std::string bytes = out.DataString();
  const std::size_t cut = bytes.find("second") + 2;
  TMemoryStream in(bytes.substr(0, cut));
  std::string text;
  EXPECT_THROW(Dump(in, text), EReadError);
  EXPECT_EQ(text,
            "object S: TSample\n"
            "  I32 = 5\n"
            "  Items = <\n"
            "    item\n"
            "      Caption = \"first\"\n"
            "      Value = 0\n"
            "    end\n"
            "    item\n");
}

TEST(StreamTree, ReadsWhatTheModelWouldRejectAndRejectsWhatIsMalformed) {
  TMemoryStream ok("TPF0" + Str("TUnknown") + Str("") + Str("Whatever") +
                   Hex("11 00 00 00 00 00 00 F0 3F 00 00"));
  std::string text;
  Dump(ok, text);
  EXPECT_EQ(text, "object : TUnknown\n  Whatever = 1\nend\n");

  for (const std::string& bad :
       {std::string("TPF1"), "TPF0" + Str("T") + Str("") + Str("X") + Hex("16 00 00"),
        "TPF0" + Str("T") + Str("") + Str("X") + Hex("0C FF FF FF FF")}) {
    TMemoryStream in(bad);
    std::string ignored;
    EXPECT_THROW(Dump(in, ignored), EReadError);
  }
}

// The stream of a sample named "S" with `items` numbered items.
std::string SampleWithItems(int items) {
  TSample s(nullptr);
  s.SetName("S");
  s.SetText("caf\xE9");
  for (int i = 0; i < items; ++i)
    s.Items().NewItem().SetValue(i);
  TMemoryStream out;
  WriteComponentStream(out, s);
  return out.DataString();
}

TEST(StreamTree, TrickleInputGivesTheSameTree) {
  TMemoryStream whole(SampleWithItems(20));
  TrickleStream trickle(SampleWithItems(20));
  std::string a, b;
  Dump(whole, a);
  Dump(trickle, b);
  EXPECT_EQ(a, b);
}

// An index of any size is shown in little memory: its text goes out while it is read.
TEST(StreamTree, TheTextGoesOutWhileTheStreamIsRead) {
  TMemoryStream in(SampleWithItems(6000));
  std::vector<std::int64_t> readWhenWritten;
  WriteStreamTree(in, [&](std::string_view) { readWhenWritten.push_back(in.Position()); });
  ASSERT_GT(readWhenWritten.size(), 2u);
  EXPECT_LT(readWhenWritten.front(), in.Size() / 2);
}

}  // namespace
}  // namespace qv::test

// What the component stream writer puts in the file, rule by rule.
#include <gtest/gtest.h>

#include "Sample.h"
#include "base/Errors.h"
#include "components/ComponentStream.h"
#include "support/TestStreams.h"

namespace qv::test {
namespace {

const std::string kHeader = "TPF0" + Str("TSample") + Str("S");
const std::string kTail = Hex("00 00");

std::string Save(TComponent& c) {
  TMemoryStream s;
  WriteComponentStream(s, c);
  return s.TakeData();
}

// The entries of a sample between its header and the two end markers.
std::string Entries(TSample& s) {
  const std::string all = Save(s);
  EXPECT_EQ(all.substr(0, kHeader.size()), kHeader);
  EXPECT_EQ(all.substr(all.size() - 2), kTail);
  return all.substr(kHeader.size(), all.size() - kHeader.size() - 2);
}

struct SampleFixture : ::testing::Test {
  TSample s{nullptr};
  SampleFixture() { s.SetName("S"); }
};

using StreamWriter = SampleFixture;

TEST_F(StreamWriter, RootWithNothingStoredIsHeaderAndTwoEndMarkers) {
  TComponent bare(nullptr);
  bare.SetName("C");
  EXPECT_EQ(Save(bare), "TPF0" + Str("TComponent") + Str("C") + kTail);
  // A collection is written even when empty.
  EXPECT_EQ(Save(s), kHeader + Str("Items") + Hex("0E 00") + kTail);
}

TEST_F(StreamWriter, IntegersTakeTheSmallestSignedForm) {
  const struct {
    std::int32_t value;
    const char* bytes;
  } cases[] = {
      {1, "02 01"},
      {127, "02 7F"},
      {128, "03 80 00"},
      {-128, "02 80"},
      {-129, "03 7F FF"},
      {32767, "03 FF 7F"},
      {32768, "04 00 80 00 00"},
      {-32768, "03 00 80"},
      {-32769, "04 FF 7F FF FF"},
      {INT32_MIN, "04 00 00 00 80"},
  };
  for (const auto& c : cases) {
    s.SetI32(c.value);
    EXPECT_EQ(Entries(s), Str("I32") + Hex(c.bytes) + Hex("05 49 74 65 6D 73 0E 00")) << c.value;
  }
}

TEST_F(StreamWriter, UnsignedValuesFollowTheSignedRanges) {
  s.SetU16(40000);
  EXPECT_EQ(Entries(s).substr(0, 9), Str("U16") + Hex("04 40 9C 00 00"));
  s.SetU16(200);
  EXPECT_EQ(Entries(s).substr(0, 7), Str("U16") + Hex("03 C8 00"));
}

TEST_F(StreamWriter, SixtyFourBitValuesUseTag13OnlyOutsideThirtyTwoBits) {
  const struct {
    std::int64_t value;
    const char* bytes;
  } cases[] = {
      {1234, "03 D2 04"},
      {2147483647, "04 FF FF FF 7F"},
      {2147483648LL, "13 00 00 00 80 00 00 00 00"},
      {-2147483649LL, "13 FF FF FF 7F FF FF FF FF"},
      {INT64_MIN, "13 00 00 00 00 00 00 00 80"},
  };
  for (const auto& c : cases) {
    s.SetBig(c.value);
    EXPECT_EQ(Entries(s).substr(0, 4 + std::string(c.bytes).size() / 3 + 1),
              Str("Big") + Hex(c.bytes))
        << c.value;
  }
  s.SetBig(0);
  EXPECT_EQ(Entries(s).find(Str("Big")), std::string::npos);
}

TEST_F(StreamWriter, StringsFollowTheStringRule) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"Ann", Hex("06 03 41 6E 6E")},
      {std::string(300, 'a'), Hex("0C 2C 01 00 00") + std::string(300, 'a')},
      {"caf\xE9", Hex("14 05 00 00 00 63 61 66 C3 A9")},
      {"\xE9", Hex("12 01 00 00 00 E9 00")},
      {std::string(255, 'x'), Hex("06 FF") + std::string(255, 'x')},
      {std::string(256, 'x'), Hex("0C 00 01 00 00") + std::string(256, 'x')},
      {"\x80", Hex("12 01 00 00 00 AC 20")},  // the euro sign: 3 UTF-8 bytes for 1 code unit
  };
  for (const auto& c : cases) {
    s.SetText(c.text);
    EXPECT_EQ(Entries(s).substr(0, 5 + c.bytes.size()), Str("Text") + c.bytes) << c.text;
  }
}

TEST_F(StreamWriter, DeclaredDefaultsAreLeftOutAndOtherValuesWritten) {
  s.SetDefaulted(3);
  EXPECT_EQ(Entries(s).find(Str("Defaulted")), std::string::npos);
  s.SetDefaulted(0);
  EXPECT_NE(Entries(s).find(Str("Defaulted") + Hex("02 00")), std::string::npos);
  s.SetTag(0);
  EXPECT_EQ(Entries(s).find(Str("Tag")), std::string::npos);
  s.SetTag(-5);
  EXPECT_EQ(Entries(s).substr(0, 6), Str("Tag") + Hex("02 FB"));
}

TEST_F(StreamWriter, OrdinalKindsAreWrittenAsIdentifiersWhereTheyHaveOne) {
  s.SetColour(2);
  s.SetEnabled(true);
  s.SetColours(0b101);
  s.SetSize(200);
  s.SetLetter('\xE9');
  const std::string e = Entries(s);
  EXPECT_NE(e.find(Str("Colour") + Hex("07") + Str("clBlue")), std::string::npos);
  EXPECT_NE(e.find(Str("Enabled") + Hex("09")), std::string::npos);
  EXPECT_NE(e.find(Str("Colours") + Hex("0B") + Str("clRed") + Str("clBlue") + Hex("00")),
            std::string::npos);
  EXPECT_NE(e.find(Str("Size") + Hex("07") + Str("szLarge")), std::string::npos);
  EXPECT_NE(e.find(Str("Letter") + Hex("14 02 00 00 00 C3 A9")), std::string::npos);
  s.SetSize(201);  // no identifier: an integer
  EXPECT_NE(Entries(s).find(Str("Size") + Hex("03 C9 00")), std::string::npos);
  s.SetLetter('Z');
  EXPECT_NE(Entries(s).find(Str("Letter") + Hex("06 01 5A")), std::string::npos);
}

TEST_F(StreamWriter, FloatsAreExtendedAndZeroIsLeftOut) {
  EXPECT_EQ(Entries(s).find(Str("Real")), std::string::npos);
  s.SetReal(38719.5);
  EXPECT_NE(Entries(s).find(Str("Real") + Hex("05 00 00 00 00 00 80 3F 97 0E 40")),
            std::string::npos);
}

TEST_F(StreamWriter, SubObjectsAreDottedEntriesAndLeaveNoTraceWhenDefault) {
  EXPECT_EQ(Entries(s).find("Sub."), std::string::npos);
  s.Sub().SetDepth(9);
  s.Sub().SetFlag(true);
  EXPECT_EQ(Entries(s).substr(0, 22),
            Str("Sub.Depth") + Hex("02 09") + Str("Sub.Flag") + Hex("09"));
}

TEST_F(StreamWriter, CollectionItemsAreWrittenWithoutNumbersOrPrefix) {
  s.Items().NewItem().SetCaption("a");
  s.Items().NewItem().SetValue(1);
  EXPECT_EQ(Entries(s), Str("Items") + Hex("0E 01") + Str("Caption") + Hex("06 01 61") +
                            Str("Value") + Hex("02 00 00 01") + Str("Value") + Hex("02 01 00 00"));
}

TEST_F(StreamWriter, StringListsAreTheirListEntryWhenNotEmpty) {
  s.Lines().List().Add("one");
  s.Lines().List().Add("");
  EXPECT_NE(Entries(s).find(Str("Lines.Strings") + Hex("01 06 03 6F 6E 65 06 00 00")),
            std::string::npos);
}

TEST_F(StreamWriter, ComponentReferencesAreStoredByName) {
  TComponent owned(&s);
  owned.SetName("Child");
  TComponent other(nullptr);
  other.SetName("Other");
  TComponent otherChild(&other);
  otherChild.SetName("Inner");
  TComponent nameless(&s);
  const struct {
    TComponent* target;
    std::string stored;  // empty: not written
  } cases[] = {
      {&owned, "Child"},       {&s, "Owner"},   {&otherChild, "Other.Inner"},
      {&other, "Other.Owner"}, {&nameless, ""},
  };
  for (const auto& c : cases) {
    s.SetLink(c.target);
    const std::string e = Entries(s);
    if (c.stored.empty()) {
      EXPECT_EQ(e.find(Str("Link")), std::string::npos);
    } else {
      EXPECT_NE(e.find(Str("Link") + Hex("07") + Str(c.stored)), std::string::npos) << c.stored;
    }
  }
}

TEST_F(StreamWriter, EventsAreWrittenOnlyForMethodsOfTheRoot) {
  s.SetOnPing({&s, "Ping"});
  EXPECT_NE(Entries(s).find(Str("OnPing") + Hex("07") + Str("Ping")), std::string::npos);
  TSample other(nullptr);
  s.SetOnPing({&other, "Ping"});
  EXPECT_EQ(Entries(s).find(Str("OnPing")), std::string::npos);
  s.SetOnPing({&s, "Unknown"});
  EXPECT_EQ(Entries(s).find(Str("OnPing")), std::string::npos);
}

TEST_F(StreamWriter, ExtraDefinitionsFollowThePublishedProperties) {
  s.SetDesignLeft(8);
  s.SetDesignTop(40000);
  s.blob = "xy";
  s.pairs = {1, 300};
  EXPECT_EQ(Entries(s), Str("Items") + Hex("0E 00") + Str("Left") + Hex("02 08") + Str("Top") +
                            Hex("04 40 9C 00 00") + Str("Blob") + Hex("0A 02 00 00 00 78 79") +
                            Str("Pairs") + Hex("01 02 01 03 2C 01 00"));
}

TEST_F(StreamWriter, NamesLongerThan255BytesAreCut) {
  const std::string longName(300, 'N');
  s.SetName(longName);
  const std::string all = Save(s);
  EXPECT_EQ(all.substr(4 + 8, 256), Str(longName.substr(0, 255)));
}

TEST_F(StreamWriter, LargeOutputIsIdenticalAcrossTheBufferBoundary) {
  for (int i = 0; i < 500; ++i)
    s.Items().NewItem().SetCaption(std::string(40, 'c'));
  const std::string bytes = Save(s);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  TSample back(nullptr);
  TMemoryStream in(bytes);
  ReadComponentStream(in, back);
  EXPECT_EQ(Save(back), bytes);
}

TEST_F(StreamWriter, AShortWriteFailsWithStreamWriteError) {
  for (int i = 0; i < 200; ++i)
    s.Items().NewItem().SetCaption(std::string(40, 'c'));
  for (std::size_t limit : {0u, 3u, 4095u, 4096u, 5000u}) {
    FailingStream out(limit);
    try {
      WriteComponentStream(out, s);
      ADD_FAILURE() << "no failure at " << limit;
    } catch (const EWriteError& e) {
      EXPECT_STREQ(e.what(), "Stream write error");
    }
    EXPECT_LE(out.Size(), static_cast<std::int64_t>(limit));
  }
}

}  // namespace
}  // namespace qv::test

// Reading component streams into existing objects: values by kind, the strict failures with their
// exact messages, names, references, and what happens to the stream.
#include <gtest/gtest.h>

#include "Sample.h"
#include "base/Errors.h"
#include "components/ComponentStream.h"
#include "support/TestStreams.h"

namespace qv::test {
namespace {

std::string Save(TComponent& c) {
  TMemoryStream s;
  WriteComponentStream(s, c);
  return s.TakeData();
}

// A file whose root record holds the given entries.
std::string File(const std::string& entries, const std::string& name = "S") {
  return "TPF0" + Str("TSample") + Str(name) + entries + Hex("00 00");
}

void Load(TComponent& c, const std::string& bytes) {
  TMemoryStream s(bytes);
  ReadComponentStream(s, c);
}

// The message of the failure reading bytes into a fresh sample named S.
template <class E = EReadError>
std::string Failure(const std::string& bytes) {
  TSample s(nullptr);
  try {
    Load(s, bytes);
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong class: ") + e.what();
  }
  return "no failure";
}

TEST(StreamReader, ReadsEveryKind) {
  TSample s(nullptr);
  Load(s,
       File(Str("I8") + Hex("03 FF 00") +  // kept in its own width: -1
            Str("U16") + Hex("04 40 9C 00 00") + Str("I32") + Hex("04 00 00 00 80") + Str("size") +
            Hex("07") + Str("SZLARGE") + Str("Letter") + Hex("14 02 00 00 00 C3 A9") +
            Str("Colour") + Hex("07") + Str("clgreen") + Str("Enabled") + Hex("09") +
            Str("Colours") + Hex("0B") + Str("clBlue") + Str("clRed") + Hex("00") + Str("Real") +
            Hex("04 10 27 00 00") + Str("Big") + Hex("13 00 00 00 80 00 00 00 00") + Str("Text") +
            Hex("12 02 00 00 00 41 00 AC 20") + Str("Sub.Depth") + Hex("02 05") +
            Str("Lines.Strings") + Hex("01 06 01 61 0C 01 00 00 00 62 00") + Str("Blob") +
            Hex("0A 01 00 00 00 7A") + Str("Pairs") + Hex("01 02 05 00") + Str("Left") +
            Hex("04 01 00 01 00") + Str("Top") + Hex("02 FF")));
  EXPECT_EQ(s.I8(), -1);
  EXPECT_EQ(s.U16(), 40000);
  EXPECT_EQ(s.I32(), INT32_MIN);
  EXPECT_EQ(s.Size(), 200);
  EXPECT_EQ(s.Letter(), '\xE9');
  EXPECT_EQ(s.Colour(), 1);
  EXPECT_TRUE(s.Enabled());
  EXPECT_EQ(s.Colours(), 0b101u);
  EXPECT_EQ(s.Real(), 10000.0);
  EXPECT_EQ(s.Big(), 2147483648LL);
  EXPECT_EQ(s.Text(), "A\x80");
  EXPECT_EQ(s.Sub().Depth(), 5);
  EXPECT_EQ(s.Lines().List().Text(), "a\r\nb\r\n");
  EXPECT_EQ(s.blob, "z");
  EXPECT_EQ(s.pairs, std::vector<std::int64_t>{5});
  EXPECT_EQ(s.DesignLeft(), 1);  // low 16 bits
  EXPECT_EQ(s.DesignTop(), 0xFFFF);
}

TEST(StreamReader, FloatsAcceptExtendedDoubleAndIntegers) {
  const struct {
    const char* bytes;
    double value;
  } cases[] = {
      {"05 00 00 00 00 00 80 3F 97 0E 40", 38719.5},
      {"15 00 00 00 00 00 00 F8 3F", 1.5},
      {"02 FE", -2},
      {"13 00 00 00 00 01 00 00 00", 4294967296.0},
  };
  for (const auto& c : cases) {
    TSample s(nullptr);
    Load(s, File(Str("Real") + Hex(c.bytes)));
    EXPECT_EQ(s.Real(), c.value) << c.bytes;
  }
}

TEST(StreamReader, MalformedAndMismatchedValuesFailWithTheirMessages) {
  const auto wrapped = [](const char* name, const char* inner) {
    return std::string("Error reading S.") + name + ": " + inner;
  };
  const struct {
    std::string entries;
    std::string message;
  } cases[] = {
      {Str("Real") + Hex("11 00 00 00 00 00 00 F8 3F"), wrapped("Real", "Invalid property value")},
      {Str("Real") + Hex("0F 00 00 C0 3F"), wrapped("Real", "Invalid property value")},
      {Str("I32") + Hex("13 01 00 00 00 00 00 00 00"), wrapped("I32", "Invalid property value")},
      {Str("I32") + Hex("07") + Str("clRed"), wrapped("I32", "Invalid property value")},
      {Str("Size") + Hex("07") + Str("szSmall"), wrapped("Size", "Invalid property value")},
      {Str("Letter") + Hex("06 02 61 62"), wrapped("Letter", "Invalid property value")},
      {Str("Colour") + Hex("07") + Str("clPink"), wrapped("Colour", "Invalid property value")},
      {Str("Enabled") + Hex("02 01"), wrapped("Enabled", "Invalid property value")},
      {Str("Colours") + Hex("0B") + Str("clPink") + Str("clRed") + Hex("00"),
       wrapped("Colours", "Invalid property value")},
      {Str("Text") + Hex("02 01"), wrapped("Text", "Invalid property value")},
      {Str("Big") + Hex("05 00 00 00 00 00 80 3F 97 0E 40"),
       wrapped("Big", "Invalid property value")},
      {Str("Items") + Hex("06 00"), wrapped("Items", "Invalid property value")},
      {Str("Items") + Hex("0E 02 00 00"), wrapped("Items", "Invalid property value")},
      {Str("Sub") + Hex("07") + Str("Other"), wrapped("Sub", "Invalid property value")},
      {Str("Sub") + Hex("0D"), wrapped("Sub", "Cannot assign a nil to a TSampleSub")},
      {Str("OnPing") + Hex("07") + Str("Pong"), wrapped("OnPing", "Invalid property value")},
      {Str("Nope") + Hex("02 01"), wrapped("Nope", "Property Nope does not exist")},
      {Str("Nope.Depth") + Hex("02 01"), wrapped("Nope.Depth", "Property Nope does not exist")},
      {Str("Sub.Nope") + Hex("02 01"), wrapped("Sub.Nope", "Property Nope does not exist")},
      {Str("Text.Depth") + Hex("02 01"), wrapped("Text.Depth", "Invalid property path")},
      {Str("Fixed") + Hex("02 01"), wrapped("Fixed", "Property is read-only")},
      {Str("Items") + Hex("0E 01") + Str("Bogus") + Hex("02 01 00 00"),
       wrapped("Items", "Error reading TSampleItem.Bogus: Property Bogus does not exist")},
      {Str("Blob") + Hex("06 00"), wrapped("Blob", "Invalid property value")},
      {Str("Real") + Hex("16"), wrapped("Real", "Invalid property value")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Failure(File(c.entries)), c.message);
}

TEST(StreamReader, AnUnknownEntryIsSkippedBeforeFailing) {
  // The value is consumed, so a value that is itself cut short fails as a read error.
  EXPECT_EQ(Failure(File(Str("Nope") + Hex("0C 05 00 00 00 61"))),
            "Error reading S.Nope: Stream read error");
}

TEST(StreamReader, SignatureAndNamesAreChecked) {
  EXPECT_EQ(Failure("TPF1" + Str("TSample") + Str("S") + Hex("00 00")), "Invalid stream format");
  EXPECT_EQ(Failure<EComponentError>(File("", "1abc")), "''1abc'' is not a valid component name");
  EXPECT_EQ(Failure<EComponentError>(File("", "a-b")), "''a-b'' is not a valid component name");
}

TEST(StreamReader, TheStoredClassNameIsIgnoredAndNameTaken) {
  TSample s(nullptr);
  s.SetName("Before");
  Load(s, "TPF0" + Str("TSomethingElse") + Str("After_1") + Str("I32") + Hex("02 05 00 00"));
  EXPECT_EQ(s.Name(), "After_1");
  EXPECT_EQ(s.I32(), 5);
  Load(s, "TPF0" + Str("X") + Str("") + Hex("00 00"));
  EXPECT_EQ(s.Name(), "");
}

TEST(StreamReader, PrefixBytesAreAcceptedAndIgnored) {
  for (const char* prefix : {"F0", "F1", "F4", "F2 02 07", "F3 04 01 02 03 04"}) {
    TSample s(nullptr);
    Load(s, "TPF0" + Hex(prefix) + Str("TSample") + Str("P") + Str("I32") + Hex("02 09 00 00"));
    EXPECT_EQ(s.Name(), "P") << prefix;
    EXPECT_EQ(s.I32(), 9) << prefix;
  }
}

TEST(StreamReader, RootNamesAreMadeUniqueAgainstTopLevelComponents) {
  TComponentRegistry app;
  TComponent form(nullptr);
  form.SetName("Form1");
  app.Add(form);
  TComponent other(nullptr);
  other.SetName("form1_1");
  app.Add(other);
  TSample s(&form);
  Load(s, File("", "Form1"));
  EXPECT_EQ(s.Name(), "Form1_2");
  // A component not registered at top level does not count.
  TSample s2(nullptr);
  Load(s2, File("", "Form1"));
  EXPECT_EQ(s2.Name(), "Form1");
}

TEST(StreamReader, ANameAnotherComponentOfTheOwnerBearsFailsBeforeAnyProperty) {
  TComponent form(nullptr);
  TSample a(&form);
  a.SetName("First");
  TSample b(&form);
  b.SetName("Second");
  try {
    Load(b, File(Str("I32") + Hex("02 05"), "FIRST"));
    ADD_FAILURE();
  } catch (const EComponentError& e) {
    EXPECT_STREQ(e.what(), "A component named FIRST already exists");
  }
  EXPECT_EQ(b.Name(), "Second");
  EXPECT_EQ(b.I32(), 0);
  // A change of case alone is allowed.
  Load(b, File("", "SECOND"));
  EXPECT_EQ(b.Name(), "SECOND");
}

TEST(StreamReader, CollectionsAreFilledInPlace) {
  TSample s(nullptr);
  s.Items().NewItem().SetCaption("old");
  s.Items().updates = 0;
  Load(s, File(Str("Items") + Hex("0E 00")));
  ASSERT_EQ(s.Items().Count(), 1);  // an empty collection leaves the items
  EXPECT_EQ(s.Items().ItemAt(0).Caption(), "old");
  s.Items().updates = 0;

  Load(s, File(Str("Items") + Hex("0E 02 05 01") + Str("Caption") + Hex("06 01 61 00") +
               Hex("04 09 00 00 00 01 00 01") + Str("Value") + Hex("02 07 00 00")));
  ASSERT_EQ(s.Items().Count(), 3);  // item numbers skipped, old items replaced
  EXPECT_EQ(s.Items().ItemAt(0).Caption(), "a");
  EXPECT_EQ(s.Items().ItemAt(1).Caption(), "");
  EXPECT_EQ(s.Items().ItemAt(2).Value(), 7);
  EXPECT_EQ(s.Items().updates, 1);  // change handling ran once
}

TEST(StreamReader, WhatWasReadBeforeAFailureStays) {
  TSample s(nullptr);
  s.SetName("Old");
  EXPECT_THROW(Load(s, File(Str("I32") + Hex("02 05") + Str("Items") + Hex("0E 01") +
                                Str("Caption") + Hex("06 01 61 00 01") + Str("Nope") + Hex("02 00"),
                            "New")),
               EReadError);
  EXPECT_EQ(s.Name(), "New");
  EXPECT_EQ(s.I32(), 5);
  EXPECT_EQ(s.Items().Count(), 2);
  EXPECT_FALSE(s.Loading());
  EXPECT_EQ(s.ComponentState() & (csLoading | csReading), 0u);
}

TEST(StreamReader, TheRootIsMarkedLoadingWhileRead) {
  TSample s(nullptr);
  Load(s, File(Str("I32") + Hex("02 01")));
  EXPECT_TRUE(s.loadingSeen_);
  EXPECT_FALSE(s.Loading());
}

TEST(StreamReader, ComponentReferencesResolveAfterTheRoot) {
  TComponentRegistry app;
  TComponent form(nullptr);
  form.SetName("Form1");
  app.Add(form);
  TSample s(&form);
  TComponent child(&s);
  child.SetName("Child");
  Load(s, File(Str("Link") + Hex("07") + Str("child")));
  EXPECT_EQ(s.Link(), &child);
  Load(s, File(Str("Link") + Hex("07") + Str("Owner")));
  EXPECT_EQ(s.Link(), &s);
  Load(s, File(Str("Link") + Hex("07") + Str("Missing")));
  EXPECT_EQ(s.Link(), nullptr);
  Load(s, File(Str("Link") + Hex("0D")));
  EXPECT_EQ(s.Link(), nullptr);

  // A dotted name that does not resolve waits for a later read.
  Load(s, File(Str("Link") + Hex("07") + Str("Later.Inner")));
  EXPECT_EQ(s.Link(), nullptr);
  EXPECT_EQ(app.PendingGlobalFixups(), 1u);
  TSample later(nullptr);
  TComponent inner(&later);
  inner.SetName("Inner");
  app.Add(later);
  Load(later, "TPF0" + Str("TSample") + Str("Later") + Hex("00 00"));
  EXPECT_EQ(s.Link(), &inner);
  EXPECT_EQ(app.PendingGlobalFixups(), 0u);
}

TEST(StreamReader, WaitingReferencesOfDestroyedObjectsAreDropped) {
  TComponentRegistry app;
  TComponent form(nullptr);
  app.Add(form);
  {
    TSample s(&form);
    Load(s, File(Str("Link") + Hex("07") + Str("Later.Inner")));
  }
  TSample later(nullptr);
  app.Add(later);
  Load(later, "TPF0" + Str("TSample") + Str("Later") + Hex("00 00"));
  EXPECT_EQ(app.PendingGlobalFixups(), 0u);
}

TEST(StreamReader, EventsNameMethodsOfTheRoot) {
  TSample s(nullptr);
  Load(s, File(Str("OnPing") + Hex("07") + Str("Ping")));
  EXPECT_EQ(s.OnPing(), (TMethod{&s, "Ping"}));
  Load(s, File(Str("OnPing") + Hex("0D")));
  EXPECT_FALSE(s.OnPing().Assigned());
}

TEST(StreamReader, ChildRecordsAreRejected) {
  EXPECT_EQ(Failure("TPF0" + Str("TSample") + Str("S") + Hex("00") + Str("TChild") + Str("C") +
                    Hex("00 00 00")),
            "Class TChild not found");
}

TEST(StreamReader, TheStreamIsLeftJustAfterTheRootRecord) {
  TSample src(nullptr);
  src.SetName("S");
  for (int i = 0; i < 300; ++i)
    src.Items().NewItem().SetCaption("item");
  const std::string bytes = Save(src);
  const std::string data = bytes + "TRAILING";
  {
    TSample s(nullptr);
    TMemoryStream in(data);
    ReadComponentStream(in, s);
    EXPECT_EQ(in.Position(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(s.Items().Count(), 300);
  }
  {
    TSample s(nullptr);
    TrickleStream in(data);
    ReadComponentStream(in, s);
    EXPECT_EQ(in.Position(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(Save(s), bytes);
  }
}

TEST(StreamReader, EveryTruncationFailsWithStreamReadError) {
  TSample src(nullptr);
  src.SetName("S");
  src.SetI32(70000);
  src.SetText(std::string(300, 't'));
  src.SetReal(2.5);
  src.Sub().SetDepth(1);
  src.Items().NewItem().SetCaption("caf\xE9");
  src.Lines().List().Add("\xE9");
  src.blob = "bin";
  src.pairs = {1, 2};
  src.SetDesignLeft(3);
  const std::string bytes = Save(src);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::string msg = Failure(bytes.substr(0, n));
    EXPECT_TRUE(msg.ends_with("Stream read error")) << n << ": " << msg;
  }
  // One extra byte does not matter.
  TSample s(nullptr);
  Load(s, bytes + "x");
  EXPECT_EQ(Save(s), bytes);
}

TEST(StreamReader, HostileLengthsFailWithoutAllocating) {
  for (const char* value :
       {"0C FF FF FF 7F 61", "12 FF FF FF 7F 61 00", "14 F0 FF FF FF 61", "0A FF FF FF FF 00"}) {
    const std::string name = std::string(value).starts_with("0A") ? "Blob" : "Text";
    EXPECT_EQ(Failure(File(Str(name) + Hex(value))),
              "Error reading S." + name + ": Stream read error")
        << value;
  }
  // The same inside an entry that is skipped.
  EXPECT_EQ(Failure(File(Str("Nope") + Hex("0C FF FF FF 7F 61"))),
            "Error reading S.Nope: Stream read error");
}

TEST(StreamReader, NestingIsBounded) {
  std::string deep = Str("Nope");
  for (int i = 0; i < 100000; ++i)
    deep += Hex("01");
  EXPECT_EQ(Failure(File(deep)), "Error reading S.Nope: Invalid stream format");
  std::string items = Str("Nope") + Hex("0E");
  for (int i = 0; i < 100; ++i)
    items += Hex("01") + Str("X") + Hex("0E");
  EXPECT_EQ(Failure(File(items)), "Error reading S.Nope: Invalid stream format");
}

TEST(StreamReader, TrickleInputGivesTheSameResult) {
  TSample src(nullptr);
  src.SetName("S");
  src.SetText("caf\xE9");
  src.SetBig(-5000000000LL);
  for (int i = 0; i < 50; ++i)
    src.Items().NewItem().SetValue(i * 1000);
  src.blob = std::string(5000, 'b');
  const std::string bytes = Save(src);
  TSample a(nullptr), b(nullptr);
  TMemoryStream whole(bytes);
  ReadComponentStream(whole, a);
  TrickleStream trickle(bytes);
  ReadComponentStream(trickle, b);
  EXPECT_EQ(Save(a), bytes);
  EXPECT_EQ(Save(b), bytes);
}

}  // namespace
}  // namespace qv::test

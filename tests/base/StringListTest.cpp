#include "base/StringList.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace qv {
namespace {

TEST(StringList, LookupIsCaseInsensitiveFirstMatch) {
  TStringList l{"subject", "From", "subject"};
  EXPECT_EQ(l.IndexOf("SUBJECT"), 0);
  EXPECT_EQ(l.IndexOf("from"), 1);
  EXPECT_EQ(l.IndexOf("to"), -1);
  EXPECT_EQ(l.IndexOf("subject "), -1);
}

TEST(StringList, ObjectsTravelWithTheirItems) {
  TStringList l;
  l.AddObject("a", 10);
  l.AddObject("b", 20);
  l.Insert(0, "z", 5);
  EXPECT_EQ(l.Objects(0), 5);
  EXPECT_EQ(l.Objects(2), 20);
  l.Delete(1);
  EXPECT_EQ(l.Strings(1), "b");
  EXPECT_EQ(l.Objects(1), 20);
  TStringList copy;
  copy.Assign(l);
  EXPECT_EQ(copy, l);
}

TEST(StringList, IndexOutOfRangeFailsWithListError) {
  TStringList l{"a"};
  try {
    (void)l.Strings(1);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_THROW(l.Delete(-1), EListError);
  EXPECT_THROW(l.Insert(3, "x"), EListError);
}

TEST(StringList, TextPutsCrLfAfterEveryItem) {
  TStringList l{"a", "", "b"};
  EXPECT_EQ(l.Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(TStringList().Text(), "");
}

TEST(StringList, AssigningTextSplitsAtEveryKindOfBreak) {
  struct Case {
    std::string text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\r\n\r\n", {"a", ""}},
      {"x,y", {"x,y"}},
  };
  for (const auto& c : cases) {
    TStringList l{"old"};
    l.SetText(c.text);
    ASSERT_EQ(l.Count(), static_cast<int>(c.items.size())) << c.text;
    for (int i = 0; i < l.Count(); ++i)
      EXPECT_EQ(l[i], c.items[static_cast<std::size_t>(i)]);
  }
}

TEST(StringList, CommaTextQuotesOnlyWhatNeedsIt) {
  struct Case {
    TStringList list;
    std::string text;
  };
  const Case cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"", ""}, ","},
      {{"a@b.c", "d@e.f"}, "a@b.c,d@e.f"},
      {{"John Doe <j@d.o>"}, "\"John Doe <j@d.o>\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"a,b"}, "\"a,b\""},
      {{"tab\there"}, "\"tab\there\""},
      {{"\xE9t\xE9"}, "\xE9t\xE9"},
      {{"semi;colon"}, "semi;colon"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.list.CommaText(), c.text);
}

TEST(StringList, CommaTextReadsBackWhatItWrote) {
  const TStringList samples[] = {
      {"a", "b c", "d\"e", "f,g", "h"},
      {"x"},
      {"", "y"},
  };
  for (const auto& s : samples) {
    TStringList back;
    back.SetCommaText(s.CommaText());
    EXPECT_EQ(back, s) << s.CommaText();
  }
  TStringList l;
  l.SetCommaText("a b,c");
  EXPECT_EQ(l.Count(), 3);
}

TEST(StringList, ChangeNotificationRunsOncePerUpdateBracket) {
  TStringList l;
  int changes = 0;
  l.OnChange = [&] { ++changes; };
  l.Add("a");
  EXPECT_EQ(changes, 1);
  l.BeginUpdate();
  l.Add("b");
  l.Add("c");
  l.BeginUpdate();
  l.Delete(0);
  l.EndUpdate();
  EXPECT_EQ(changes, 1);
  l.EndUpdate();
  EXPECT_EQ(changes, 2);
  l.SetText("x\r\ny");
  EXPECT_EQ(changes, 3);
  l.Clear();
  EXPECT_EQ(changes, 4);
  l.Clear();  // already empty: nothing changed
  EXPECT_EQ(changes, 4);
}

TEST(StringList, ClearIntoHandsOverTheTextsWithTheirStorage) {
  TStringList l;
  int changes = 0;
  const std::string longLine(100, 'x');
  l.Add("short");
  l.Add(longLine);
  const char* storage = l[1].data();
  l.OnChange = [&] { ++changes; };
  std::vector<std::string> spare{"kept"};
  l.ClearInto(spare);
  EXPECT_TRUE(l.Empty());
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(spare, (std::vector<std::string>{"kept", "short", longLine}));
  EXPECT_EQ(spare[2].data(), storage);
  l.ClearInto(spare);  // already empty: nothing changed, nothing handed over
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(spare.size(), 3u);
}

}  // namespace
}  // namespace qv

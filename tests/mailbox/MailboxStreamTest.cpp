// The mailbox index as the mail client stores it: exact bytes written, and what reading accepts and
// rejects.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "base/Errors.h"
#include "base/Stream.h"
#include "components/ComponentStream.h"
#include "mailbox/qvMailbox.h"
#include "support/Hex.h"
#include "support/TestStreams.h"

namespace qv {
namespace {

using test::Hex;

std::string Save(TComponent& c) {
  TMemoryStream s;
  WriteComponentStream(s, c);
  return s.TakeData();
}

void Load(TComponent& c, const std::string& bytes) {
  TMemoryStream s(bytes);
  ReadComponentStream(s, c);
}

// The window that owns the two mailboxes, as the repair program has it.
struct Window {
  TComponentRegistry app;
  TComponent form{nullptr};
  TqvMailBox mailBox{&form};
  TqvMailBox scratch{&form};
  Window() {
    form.SetName("Form1");
    app.Add(form);
    mailBox.SetName("MailBox");
    mailBox.SetDesignLeft(8);
    mailBox.SetDesignTop(56);
    scratch.SetName("qvMailBox");
    scratch.SetDesignLeft(304);
    scratch.SetDesignTop(56);
  }
};

const std::string kWorkedExample =
    Hex("54 50 46 30 0A 54 71 76 4D 61 69 6C 42 6F 78 07 4D 61 69 6C 42 6F 78"
        " 09 54 72 65 65 49 74 65 6D 73 0E 01"
        " 05 49 6E 64 65 78 02 00 05 4C 65 76 65 6C 02 00 04 54 65 78 74 06 05 49 6E 62 6F 78"
        " 08 45 78 70 61 6E 64 65 64 08 0A 49 6D 61 67 65 49 6E 64 65 78 02 00"
        " 0D 53 65 6C 65 63 74 65 64 49 6E 64 65 78 02 00 09 49 73 56 69 73 69 62 6C 65 09"
        " 0B 49 73 50 72 6F 74 65 63 74 65 64 09 06 55 6E 72 65 61 64 02 01 00 00"
        " 09 4D 61 69 6C 49 74 65 6D 73 0E 01"
        " 02 46 30 06 08 5F 6D 73 49 6E 62 6F 78 02 46 31 08 02 46 32 06 03 69 64 31"
        " 02 46 33 02 FF 02 46 34 08 02 46 35 08 02 46 37 06 03 41 6E 6E 02 46 39 06 02 48 69"
        " 03 46 31 30 03 D2 04 03 46 31 31 05 00 00 00 00 00 80 3F 97 0E 40"
        " 03 46 31 32 05 00 00 00 00 00 80 3F 97 0E 40 03 46 31 33 02 00 03 46 31 36 08"
        " 03 46 31 37 08 03 46 31 38 02 00 00 00"
        " 07 4D 61 69 6C 44 69 72 06 05 5C 6D 61 69 6C 02 46 31 02 00 02 46 32 02 00"
        " 04 4C 65 66 74 02 08 03 54 6F 70 02 38 00 00");

void FillWorkedExample(TqvMailBox& box) {
  TMailTreeItem& folder = box.TreeItems().NewItem();
  folder.SetText("Inbox");
  folder.SetIsVisible(true);
  folder.SetIsProtected(true);
  folder.SetUnread(1);
  TMailMessageItem& m = box.MailItems().NewItem();
  m.SetFolderKey("_msInbox");
  m.SetMessageId("id1");
  m.SetPriority(-1);
  m.SetSender("Ann");
  m.SetSubject("Hi");
  m.SetBlockSize(1234);
  m.SetDate(38719.5);
  m.SetReceivedDate(38719.5);
}

TEST(MailboxStream, WorkedExampleIsReproducedByteForByte) {
  Window w;
  FillWorkedExample(w.mailBox);
  const std::string bytes = Save(w.mailBox);
  ASSERT_EQ(bytes.size(), 303u);
  EXPECT_EQ(bytes, kWorkedExample);
}

TEST(MailboxStream, WorkedExampleReadsBackToEqualObjects) {
  Window w;
  TqvMailBox loaded(nullptr);
  Load(loaded, kWorkedExample);
  EXPECT_EQ(loaded.Name(), "MailBox");
  EXPECT_EQ(loaded.DesignLeft(), 8);
  EXPECT_EQ(loaded.DesignTop(), 56);
  ASSERT_EQ(loaded.TreeItems().Count(), 1);
  const TMailTreeItem& f = loaded.TreeItems().ItemAt(0);
  EXPECT_EQ(f.Text(), "Inbox");
  EXPECT_TRUE(f.IsVisible());
  EXPECT_TRUE(f.IsProtected());
  EXPECT_EQ(f.Unread(), 1);
  ASSERT_EQ(loaded.MailItems().Count(), 1);
  const TMailMessageItem& m = loaded.MailItems().ItemAt(0);
  EXPECT_EQ(m.FolderKey(), "_msInbox");
  EXPECT_EQ(m.MessageId(), "id1");
  EXPECT_EQ(m.Priority(), -1);
  EXPECT_EQ(m.Sender(), "Ann");
  EXPECT_EQ(m.Subject(), "Hi");
  EXPECT_EQ(m.BlockSize(), 1234);
  EXPECT_EQ(m.Date(), 38719.5);
  EXPECT_EQ(m.ReceivedDate(), 38719.5);
  EXPECT_EQ(Save(loaded), kWorkedExample);
}

std::string Str(std::string_view s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(s);
}

TEST(MailboxStream, AFreshMailboxWritesItsCollectionsAndNonEmptyValues) {
  TqvMailBox box(nullptr);
  box.SetName("B");
  EXPECT_EQ(Save(box), "TPF0" + Str("TqvMailBox") + Str("B") + Str("TreeItems") + Hex("0E 00") +
                           Str("MailItems") + Hex("0E 00") + Str("MailDir") + Hex("06") +
                           Str("\\mail") + Str("F1") + Hex("02 00") + Str("F2") +
                           Hex("02 00 00 00"));
}

TEST(MailboxStream, AFreshMessageItemHasExactlyEightProperties) {
  TqvMailBox box(nullptr);
  box.SetName("B");
  box.MailItems().NewItem();
  const std::string bytes = Save(box);
  const std::string item = Hex("0E 01") + Str("F1") + Hex("08") + Str("F3") + Hex("02 00") +
                           Str("F4") + Hex("08") + Str("F5") + Hex("08") + Str("F13") +
                           Hex("02 00") + Str("F16") + Hex("08") + Str("F17") + Hex("08") +
                           Str("F18") + Hex("02 00") + Hex("00 00");
  EXPECT_NE(bytes.find(Str("MailItems") + item), std::string::npos);
}

TEST(MailboxStream, TreeItemSettersNotifyOnlyRealChanges) {
  TqvMailBox box(nullptr);
  int fired = 0;
  box.TreeItems().SetOnTreeChangedHandler([&](TPersistent* sender) {
    EXPECT_EQ(sender, &box.TreeItems());
    ++fired;
  });
  TMailTreeItem& f = box.TreeItems().NewItem();
  f.SetText("Inbox");
  f.SetText("Inbox");
  f.SetExpanded(false);
  f.SetUnread(0);
  EXPECT_EQ(fired, 1);
  f.SetLevel(2);
  f.SetUnread(3);
  EXPECT_EQ(fired, 3);

  // Copying sets everything but Unread through the setters.
  TqvMailBox other(nullptr);
  TMailTreeItem& g = other.TreeItems().NewItem();
  g.SetUnread(9);
  g.SetIndex(4);
  fired = 0;
  f.CopyFrom(&g);
  EXPECT_EQ(f.Unread(), 3);
  EXPECT_EQ(f.Index(), 4);
  EXPECT_EQ(f.Text(), "");
  EXPECT_EQ(fired, 3);  // Index, Level and Text changed
  EXPECT_EQ(f.DisplayName(), "TMailTreeItem");
}

TEST(MailboxStream, CopiesAcceptOnlyTheirOwnClass) {
  TqvMailBox box(nullptr);
  TMailTreeItem& f = box.TreeItems().NewItem();
  TMailMessageItem& m = box.MailItems().NewItem();
  const auto message = [](auto&& action) {
    try {
      action();
    } catch (const EConvertError& e) {
      return std::string(e.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(message([&] { f.CopyFrom(&m); }),
            "Cannot assign a TMailMessageItem to a TMailTreeItem");
  EXPECT_EQ(message([&] { m.CopyFrom(nullptr); }), "Cannot assign a nil to a TMailMessageItem");
  EXPECT_EQ(message([&] { box.SetTreeItems(&f); }), "Cannot assign a TMailTreeItem to a TMailTree");
  EXPECT_EQ(message([&] { box.SetTreeItems(&box.MailItems()); }),
            "Cannot assign a TMailMessageItem to a TMailTreeItem");
  try {
    box.MailItems().ItemAt(1);
    ADD_FAILURE();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  m.SetMessageId("id");
  EXPECT_EQ(m.DisplayName(), "id");
}

TEST(MailboxStream, SettingACollectionCopiesTheItems) {
  Window w;
  FillWorkedExample(w.scratch);
  w.mailBox.MailItems().NewItem().SetFolderKey("old");
  w.mailBox.SetMailItems(&w.scratch.MailItems());
  ASSERT_EQ(w.mailBox.MailItems().Count(), 1);
  EXPECT_EQ(w.mailBox.MailItems().ItemAt(0).Date(), 38719.5);
  EXPECT_NE(&w.mailBox.MailItems().ItemAt(0), &w.scratch.MailItems().ItemAt(0));
  w.mailBox.SetTreeItems(&w.scratch.TreeItems());
  EXPECT_EQ(w.mailBox.TreeItems().ItemAt(0).Unread(), 0);  // not copied
  EXPECT_EQ(w.mailBox.TreeItems().ItemAt(0).Text(), "Inbox");
}

TEST(MailboxStream, LoadingTheScratchIndexNameIntoMailBoxFails) {
  Window w;
  std::string file = kWorkedExample;
  file.replace(15, 8, Str("qvMailBox"));
  try {
    Load(w.mailBox, file);
    ADD_FAILURE();
  } catch (const EComponentError& e) {
    EXPECT_STREQ(e.what(), "A component named qvMailBox already exists");
  }
  EXPECT_EQ(w.mailBox.Name(), "MailBox");
  EXPECT_EQ(w.mailBox.TreeItems().Count(), 0);
}

TEST(MailboxStream, ARootNamedLikeTheWindowIsRenamed) {
  Window w;
  std::string file = kWorkedExample;
  file.replace(15, 8, Str("Form1"));
  Load(w.mailBox, file);
  EXPECT_EQ(w.mailBox.Name(), "Form1_1");
  Load(w.mailBox, kWorkedExample);  // its own name is kept
  EXPECT_EQ(w.mailBox.Name(), "MailBox");
}

TEST(MailboxStream, AProfileLoadsIntoAMailboxOnlyWhileItsNamesExist) {
  Window w;
  Load(w.mailBox, "TPF0" + Str("TqvProfile") + Str("MailBox") + Str("Language") + Hex("06") +
                      Str("en") + Hex("00 00"));
  EXPECT_EQ(w.mailBox.Language(), "en");
  try {
    Load(w.mailBox,
         "TPF0" + Str("TqvProfile") + Str("MailBox") + Str("WinLaunch") + Hex("08 00 00"));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Error reading MailBox.WinLaunch: Property WinLaunch does not exist");
  }
}

TEST(MailboxStream, AnUnknownItemPropertyIsWrappedTwice) {
  Window w;
  std::string file = kWorkedExample;
  file.replace(file.find(Str("F18")), 4, Str("F99"));
  try {
    Load(w.mailBox, file);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(),
                 "Error reading MailBox.MailItems: Error reading TMailMessageItem.F99: "
                 "Property F99 does not exist");
  }
}

TEST(MailboxStream, ReaderEdgeCases) {
  const std::string head = "TPF0" + Str("TqvMailBox") + Str("MailBox");
  {
    Window w;
    Load(w.mailBox, head + Str("MailItems") + Hex("0E 01") + Str("F11") + Hex("04 05 00 00 00") +
                        Str("F9") + Hex("14 05 00 00 00 63 61 66 C3 A9") + Hex("00 00 00 00"));
    EXPECT_EQ(w.mailBox.MailItems().ItemAt(0).Date(), 5.0);
    EXPECT_EQ(w.mailBox.MailItems().ItemAt(0).Subject(), "caf\xE9");
  }
  {
    Window w;
    try {
      Load(w.mailBox, head + Str("MailItems") + Hex("0E 01") + Str("F11") +
                          Hex("11 00 00 00 00 00 00 F0 3F 00 00 00 00"));
      ADD_FAILURE();
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(),
                   "Error reading MailBox.MailItems: Error reading TMailMessageItem.F11: "
                   "Invalid property value");
    }
  }
  {
    Window w;
    w.mailBox.TreeItems().NewItem().SetText("kept");
    Load(w.mailBox, head + Str("TreeItems") + Hex("0E 00") + Str("MailItems") +
                        Hex("0E 02 05 01 00 03 00 01 01 00 00 00 00"));
    EXPECT_EQ(w.mailBox.TreeItems().ItemAt(0).Text(), "kept");
    EXPECT_EQ(w.mailBox.MailItems().Count(), 2);
  }
  {
    // A Treeview reference finds no component and leaves Treeview unset.
    Window w;
    Load(w.mailBox, head + Str("Treeview") + Hex("07") + Str("TreeView1") + Hex("00 00"));
    EXPECT_EQ(w.mailBox.Treeview(), nullptr);
  }
}

TEST(MailboxStream, EveryTruncationOfAnIndexFailsCleanly) {
  for (std::size_t n = 0; n < kWorkedExample.size(); ++n) {
    Window w;
    try {
      Load(w.mailBox, kWorkedExample.substr(0, n));
      ADD_FAILURE() << n;
    } catch (const EReadError& e) {
      EXPECT_TRUE(std::string(e.what()).ends_with("Stream read error")) << n << ": " << e.what();
    }
  }
  Window w;
  TMemoryStream in(kWorkedExample + Hex("00 FF"));
  ReadComponentStream(in, w.mailBox);
  EXPECT_EQ(in.Position(), 303);
}

std::string RandomText(std::mt19937& rng) {
  std::uniform_int_distribution<int> len(0, 300), byte(1, 255), pick(0, 3);
  std::string s(static_cast<std::size_t>(len(rng) * (pick(rng) == 0)), ' ');
  for (char& c : s)
    c = static_cast<char>(pick(rng) ? byte(rng) % 96 + 32 : byte(rng));
  return s;
}

TEST(MailboxStream, RandomIndexesRoundTripByteForByte) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<std::int64_t> big(INT64_MIN, INT64_MAX);
  std::uniform_int_distribution<int> small(-70000, 70000), coin(0, 1), count(0, 6);
  for (int round = 0; round < 40; ++round) {
    TqvMailBox box(nullptr);
    box.SetName("Box" + std::to_string(round));
    box.SetDesignLeft(static_cast<std::uint16_t>(small(rng)));
    box.SetTag(small(rng));
    box.SetMailDir("\\" + RandomText(rng));  // empty is not stored, and starts as "\mail"
    box.SetLanguage(RandomText(rng));
    box.SetPassword(RandomText(rng));
    box.SetF1(small(rng));
    box.SetF3(RandomText(rng));
    for (int i = count(rng); i > 0; --i) {
      TMailTreeItem& f = box.TreeItems().NewItem();
      f.SetIndex(small(rng));
      f.SetText(RandomText(rng));
      f.SetStatus(RandomText(rng));
      f.SetIsVisible(coin(rng));
      f.SetUnread(small(rng));
    }
    for (int i = count(rng); i > 0; --i) {
      TMailMessageItem& m = box.MailItems().NewItem();
      m.SetFolderKey(RandomText(rng));
      m.SetRead(coin(rng));
      m.SetAccount(RandomText(rng));
      m.SetBlockSize(coin(rng) ? big(rng) : small(rng));
      m.SetDate(std::ldexp(static_cast<double>(small(rng)), small(rng) % 1100));
      m.SetReceivedDate(static_cast<double>(big(rng)) / 7);
      m.SetOffset(big(rng));
      m.SetNumber18(small(rng));
      m.SetText20(RandomText(rng));
    }
    const std::string first = Save(box);
    TqvMailBox back(nullptr);
    Load(back, first);
    EXPECT_TRUE(Save(back) == first) << round;
    TqvMailBox trickled(nullptr);
    qv::test::TrickleStream in(first);
    ReadComponentStream(in, trickled);
    EXPECT_TRUE(Save(trickled) == first) << round;
  }
}

}  // namespace
}  // namespace qv

// The user profile: the entries the mail client writes, and loading them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/Errors.h"
#include "base/Stream.h"
#include "components/ComponentStream.h"
#include "mailbox/qvProfile.h"
#include "support/Hex.h"
#include "support/TestStreams.h"

namespace qv {
namespace {

using test::Hex;

std::string Str(std::string_view s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(s);
}

std::string Save(TComponent& c) {
  TMemoryStream s;
  WriteComponentStream(s, c);
  return s.TakeData();
}

void Load(TComponent& c, const std::string& bytes) {
  TMemoryStream s(bytes);
  ReadComponentStream(s, c);
}

// The entries of a profile at its initial values, as the mail client writes them.
const char* const kTabulated[] = {
    "08 41 63 63 6F 75 6E 74 73 0E 00",
    "09 57 69 6E 4C 61 75 6E 63 68 08",
    "0C 43 68 65 63 6B 4D 69 6E 75 74 65 73 02 00",
    "0D 43 6F 6D 70 46 6F 6E 74 53 74 79 6C 65 0B 00",
    "0C 43 6F 6D 70 46 6F 6E 74 43 68 61 72 07 0C 41 4E 53 49 5F 43 48 41 52 53 45 54",
    "12 50 72 69 76 61 74 65 48 6F 74 4B 65 79 2E 63 4B 65 79 09",
    "12 50 72 69 76 61 74 65 48 6F 74 4B 65 79 2E 6F 4B 65 79 02 50",
    "0D 52 65 74 75 72 6E 52 65 63 65 69 70 74 07 07 72 72 4E 65 76 65 72",
};

TEST(Profile, PropertiesAreDeclaredInStreamOrder) {
  const auto& props = TqvProfile::StaticClassInfo().Properties();
  ASSERT_EQ(props.size(), 127u);  // Name, then the 126 stored ones
  EXPECT_STREQ(props[1].name, "Tag");
  EXPECT_STREQ(props[2].name, "Accounts");
  EXPECT_STREQ(props[20].name, "PermenentDelete");
  EXPECT_STREQ(props[91].name, "ReturnReceipt");
  EXPECT_STREQ(props[126].name, "ID");
  EXPECT_EQ(TAccount::StaticClassInfo().Properties().size(), 28u);
  EXPECT_STREQ(TAccount::StaticClassInfo().Properties()[27].name, "ServerIndex");
}

TEST(Profile, AFreshProfileWritesTheTabulatedEntries) {
  TqvProfile p(nullptr);
  p.SetName("Profile");
  const std::string bytes = Save(p);
  std::size_t at = 0;
  for (const char* entry : kTabulated) {
    const std::size_t found = bytes.find(Hex(entry), at);
    ASSERT_NE(found, std::string::npos) << entry;
    at = found;
  }
  EXPECT_NE(bytes.find(Str("JunkActivate") + Hex("09")), std::string::npos);
  EXPECT_EQ(bytes.find(Str("JunkSuspend")), std::string::npos);  // date 0
  EXPECT_EQ(bytes.find(Str("Mailbox")), std::string::npos);      // empty string
  EXPECT_EQ(bytes.find("PrivateHotKey.aKey"), bytes.find("PrivateHotKey.cKey") + 20);
}

TEST(Profile, AClientProfileLoadsWithMailboxAndAccounts) {
  const std::string account1 = Hex("01") + Str("Account") + Hex("06") + Str("Work") +
                               Str("Server") + Hex("06") + Str("pop.example.com") + Str("Port") +
                               Hex("02 6E") + Str("Remember") + Hex("09") + Hex("00");
  const std::string account2 = Hex("01") + Str("Account") + Hex("06") + Str("Home") +
                               Str("Server") + Hex("06") + Str("mail.example.org") + Hex("00");
  std::string file = "TPF0" + Str("TqvProfile") + Str("qvProfile");
  file += Str("Accounts") + Hex("0E") + account1 + account2 + Hex("00");
  file += Str("Version") + Hex("06") + Str("2.1");
  file += Str("Mailbox") + Hex("06") + Str("private");
  for (std::size_t i = 1; i < std::size(kTabulated); ++i)
    file += Hex(kTabulated[i]);
  file += Str("PrivateHotKey.oKey") + Hex("04 40 9C 00 00");
  file += Str("CompFontChar") + Hex("07") + Str("russian_charset");
  file += Str("ReturnReceipt") + Hex("07") + Str("rrPrompt");
  file += Str("ID") + Hex("05 00 00 00 00 00 80 3F 97 0E 40");
  file += Hex("00 00");

  TqvProfile p(nullptr);
  p.SetName("qvProfile");
  TqvProfile blank(nullptr);
  Load(p, file);
  EXPECT_EQ(p.Mailbox(), "private");
  ASSERT_EQ(p.Accounts().Count(), 2);
  EXPECT_EQ(p.Accounts().ItemAt(0).Account(), "Work");
  EXPECT_EQ(p.Accounts().ItemAt(0).Server(), "pop.example.com");
  EXPECT_EQ(p.Accounts().ItemAt(0).Port(), 110);
  EXPECT_TRUE(p.Accounts().ItemAt(0).Remember());
  EXPECT_EQ(p.Accounts().ItemAt(1).Server(), "mail.example.org");
  EXPECT_EQ(p.Accounts().ItemAt(1).DisplayName(), "Home");
  EXPECT_EQ(p.PrivateHotKey().oKey(), 40000);
  EXPECT_TRUE(p.PrivateHotKey().cKey());
  EXPECT_EQ(p.CompFontChar(), 204);
  EXPECT_EQ(p.ReturnReceipt(), rrPrompt);
  EXPECT_EQ(p.ID(), 38719.5);
  EXPECT_TRUE(p.JunkActivate());  // absent: keeps its initial True
  EXPECT_THROW(p.Accounts().ItemAt(2), EListError);
}

TEST(Profile, CharsetsReadAsIdentifiersOrIntegersAndWriteIdentifiersWhenKnown) {
  const std::string head = "TPF0" + Str("TqvProfile") + Str("P");
  TqvProfile p(nullptr);
  Load(p, head + Str("CompFontChar") + Hex("03 CC 00") + Hex("00 00"));
  EXPECT_EQ(p.CompFontChar(), 204);
  EXPECT_NE(Save(p).find(Str("CompFontChar") + Hex("07") + Str("RUSSIAN_CHARSET")),
            std::string::npos);
  p.SetCompFontChar(99);
  EXPECT_NE(Save(p).find(Str("CompFontChar") + Hex("02 63")), std::string::npos);
  p.SetCompFontStyle(1 << fsItalic | 1 << fsStrikeOut);
  EXPECT_NE(Save(p).find(Str("CompFontStyle") + Hex("0B") + Str("fsItalic") + Str("fsStrikeOut") +
                         Hex("00")),
            std::string::npos);
  try {
    Load(p, head + Str("CompFontChar") + Hex("07") + Str("KLINGON_CHARSET") + Hex("00 00"));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Error reading P.CompFontChar: Invalid property value");
  }
}

TEST(Profile, AnUnknownPropertyStopsTheLoadWithEarlierValuesSet) {
  TqvProfile p(nullptr);
  try {
    Load(p, "TPF0" + Str("TqvProfile") + Str("P") + Str("Mailbox") + Hex("06") + Str("box") +
                Str("PermanentDelete") + Hex("08") + Str("Version") + Hex("06 01 32 00 00"));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(),
                 "Error reading P.PermanentDelete: Property PermanentDelete does not exist");
  }
  EXPECT_EQ(p.Mailbox(), "box");
  EXPECT_EQ(p.Version(), "");
  try {
    Load(p, "TPF0" + Str("TqvProfile") + Str("P") + Str("PrivateHotKey.xKey") + Hex("08 00 00"));
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Error reading P.PrivateHotKey.xKey: Property xKey does not exist");
  }
}

TEST(Profile, CopiesOfAccountsAndHotKey) {
  TqvProfile a(nullptr), b(nullptr);
  a.Accounts().NewItem().SetSMTPPassword("x");
  a.PrivateHotKey().SetoKey(7);
  b.SetAccounts(&a.Accounts());
  b.SetPrivateHotKey(&a.PrivateHotKey());
  EXPECT_EQ(b.Accounts().ItemAt(0).SMTPPassword(), "x");
  EXPECT_EQ(b.PrivateHotKey().oKey(), 7);
  EXPECT_THROW(b.SetPrivateHotKey(nullptr), EConvertError);
  try {
    b.Accounts().ItemAt(0).CopyFrom(&a.PrivateHotKey());
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a THotKey_Private to a TAccount");
  }
}

TEST(Profile, RandomProfilesRoundTripByteForByte) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> any(INT32_MIN, INT32_MAX), coin(0, 1), byte(0, 255), n(0, 3);
  for (int round = 0; round < 30; ++round) {
    TqvProfile p(nullptr);
    p.SetName("P");
    p.SetMailbox(coin(rng) ? "mailbox" : "");
    p.SetCheckMinutes(any(rng));
    p.SetPermenentDelete(coin(rng));
    p.SetCompFontChar(static_cast<TFontCharset>(byte(rng)));
    p.SetCompFontStyle(static_cast<TFontStyles>(byte(rng) & 15));
    p.SetReturnReceipt(static_cast<TReturnReceipt>(n(rng) % 3));
    p.SetJunkSuspend(any(rng) / 1000.0);
    p.SetJunkActivate(coin(rng));
    p.SetCompQuoteChar(
        std::string(static_cast<std::size_t>(n(rng)), static_cast<char>(byte(rng) | 1)));
    p.PrivateHotKey().SetoKey(static_cast<std::uint16_t>(any(rng)));
    p.PrivateHotKey().SetwKey(coin(rng));
    p.PrivateHotKey().SetcKey(coin(rng));
    for (int i = n(rng); i > 0; --i) {
      TAccount& a = p.Accounts().NewItem();
      a.SetAccount("acc" + std::to_string(i));
      a.SetPort(any(rng));
      a.SetLeaveLarge(coin(rng));
      a.SetSMTPUserName(std::string(300, 'u'));
    }
    const std::string first = Save(p);
    TqvProfile back(nullptr);
    Load(back, first);
    EXPECT_TRUE(Save(back) == first) << round;
    TqvProfile trickled(nullptr);
    test::TrickleStream in(first);
    ReadComponentStream(in, trickled);
    EXPECT_TRUE(Save(trickled) == first) << round;
  }
}

}  // namespace
}  // namespace qv

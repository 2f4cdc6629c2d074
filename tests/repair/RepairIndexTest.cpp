// One index entry per message: the values the scan gives each entry, the account it is filed
// under, and the address on the new separator line.
#include <gtest/gtest.h>

#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

class RepairIndex : public RepairFixture {};

const char kOpen[] = "From a@b.c Mon Jan 05 10:00:00 2004\n";

TEST(RepairHelpers, ExtractAngleAddressTakesTheTrimmedTextInBrackets) {
  const std::pair<const char*, const char*> cases[] = {
      {"Ann <ann@x.org>", "ann@x.org"},
      {"\"Ann\" < ann@x.org >", "ann@x.org"},
      {"ann@x.org", "ann@x.org"},
      {"", ""},
      {"a <b", "a <b"},
      {"a > b <c>", ""},  // the first ">" comes before the "<"
      {"<a> <b>", "a"},
      {"<>", ""},
      {"x <\tq@r\r> y", "q@r"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(ExtractAngleAddress(in), out) << in;
}

TEST(RepairHelpers, SeparatorDateHasFixedWidthFields) {
  EXPECT_EQ(FormatSeparatorDate(EncodeDateTime(2004, 1, 5, 9, 3, 7), platform::EnglishNames()),
            "Mon Jan 05 09:03:07 2004");
  EXPECT_EQ(FormatSeparatorDate(EncodeDateTime(1999, 12, 31, 23, 59, 59), platform::EnglishNames()),
            "Fri Dec 31 23:59:59 1999");
  EXPECT_EQ(FormatSeparatorDate(EncodeDateTime(999, 1, 2, 0, 0, 0), platform::EnglishNames()),
            "Wed Jan 02 00:00:00 0999");
}

TEST_F(RepairIndex, AccountForRecipientsTakesTheLastServerHoldingTheFirstDomain) {
  TForm1 form(fake_.services(), view_, registry_);
  EXPECT_EQ(form.AccountForRecipients("bob@example.org"), "Default");
  auto add = [&](const char* name, const char* server) {
    auto& a = form.qvProfile.Accounts().NewItem();
    a.SetAccount(name);
    a.SetServer(server);
  };
  add("Home", "pop.home.net");
  add("Work", "POP.Example.ORG");
  const std::pair<const char*, const char*> cases[] = {
      {"bob@example.org", "Work"},           // the server name is lower-cased
      {"bob@nowhere.com", "Home"},           // no match: the first account
      {"bob@EXAMPLE.org", "Home"},           // the domain text is not
      {"a@example.org,b@home.net", "Work"},  // the first recipient only
      {"a@home.net,b@example.org", "Home"},
      {"\"Bob <bob@example.org>\"", "Home"},  // ends in a quote and matches nothing
      {",bob@example.org", "Home"},           // the comma first: empty domain text
      {"", "Home"},
      {"example", "Work"},  // no "@": the text from its start
      {"x@pop", "Work"},    // both servers hold it: the last wins
  };
  for (const auto& [to, account] : cases)
    EXPECT_EQ(form.AccountForRecipients(to), account) << to;
}

TEST_F(RepairIndex, EntriesCarryTheParsedMessage) {
  WriteProfile("mailbox", {{"Home", "pop.home.net"}, {"Work", "pop.example.org"}});
  const std::string store =
      std::string(kOpen) +
      "From: \"Ann Smith\" <ann@x.org>\nTo: bob@example.org\nSubject: high\nX-Priority: 1\n"
      "Date: Mon, 5 Jan 2004 10:00:00 +0000\n\nbody\n" +
      kOpen + "From: plain@y.org\nTo: Bob Jones <bob@example.org>\nX-Priority: 5\n\nlow\n" + kOpen +
      "Subject: no sender\nMessage-ID: <3@x>\n\n" + kOpen +
      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
      "Content-Type: text/plain\n\ntext\n--b\nContent-Type: image/png; name=\"p.png\"\n"
      "Content-Transfer-Encoding: base64\n\niVBORw0KGgo=\n--b--\n" +
      kOpen +
      "MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b\"\n\n--b\n"
      "Content-Type: text/plain\n\ntext\n--b\nContent-Type: text/html\n\n<p>x</p>\n--b--\n" +
      kOpen +
      "MIME-Version: 1.0\nContent-Type: application/octet-stream; name=\"a.bin\"\n"
      "Content-Disposition: attachment; filename=\"a.bin\"\nContent-Transfer-Encoding: base64\n\n"
      "AAEC\n";
  auto form = Repair(store);
  ASSERT_TRUE(form->Replaced()) << (view_.errors.empty() ? "" : view_.errors[0]);
  const std::string repaired = ReadFile(File("mailbox.mbx"));
  EXPECT_EQ(repaired.rfind(Sep("ann@x.org"), 0), 0u);
  EXPECT_NE(repaired.find(Sep("plain@y.org")), std::string::npos);
  EXPECT_NE(repaired.find(Sep("") + "Subject: no sender"), std::string::npos);

  TqvMailBox& box = LoadIndex();
  ASSERT_EQ(box.MailItems().Count(), 6);
  const auto& high = box.MailItems().ItemAt(0);
  EXPECT_EQ(high.FolderKey(), "_msInbox");
  EXPECT_FALSE(high.Read());
  EXPECT_EQ(high.MessageId(), "");
  EXPECT_EQ(high.Priority(), 2);
  EXPECT_FALSE(high.HasAttachment());
  EXPECT_EQ(high.Account(), "Work");
  EXPECT_EQ(high.Sender(), "Ann Smith <ann@x.org>");
  EXPECT_EQ(high.Recipients(), "bob@example.org");
  EXPECT_EQ(high.Subject(), "high");
  EXPECT_EQ(high.Date(), EncodeDateTime(2004, 1, 5, 10, 0, 0));
  EXPECT_EQ(high.ReceivedDate(), high.Date());
  EXPECT_EQ(high.Number13(), 0);
  EXPECT_EQ(high.Text14(), "");
  EXPECT_EQ(high.Offset(), 0);

  const auto& low = box.MailItems().ItemAt(1);
  EXPECT_EQ(low.Priority(), -1);
  EXPECT_EQ(low.Sender(), "plain@y.org");
  // The item holds blanks and quotes, so the comma text quotes it and doubles its quotes.
  EXPECT_EQ(low.Recipients(), "\"\"\"Bob Jones\"\" <bob@example.org>\"");
  EXPECT_EQ(low.Account(), "Home");

  const auto& noSender = box.MailItems().ItemAt(2);
  EXPECT_EQ(noSender.MessageId(), "<3@x>");
  EXPECT_EQ(noSender.Sender(), "");
  EXPECT_EQ(noSender.Recipients(), "");
  EXPECT_EQ(noSender.Account(), "Home");

  EXPECT_TRUE(box.MailItems().ItemAt(3).HasAttachment());   // text and image parts
  EXPECT_FALSE(box.MailItems().ItemAt(4).HasAttachment());  // text parts only
  EXPECT_FALSE(box.MailItems().ItemAt(5).HasAttachment());  // one part, even an attachment

  std::int64_t offset = 0;
  for (int i = 0; i < box.MailItems().Count(); ++i) {
    const auto& e = box.MailItems().ItemAt(i);
    EXPECT_EQ(e.Offset(), offset) << i;
    EXPECT_FALSE(e.Flag5());
    EXPECT_FALSE(e.Flag16());
    EXPECT_EQ(e.Number19(), 0);
    EXPECT_EQ(e.Text20(), "");
    offset += e.BlockSize();
  }
  EXPECT_EQ(offset, static_cast<std::int64_t>(repaired.size()));
}

}  // namespace
}  // namespace qv::test

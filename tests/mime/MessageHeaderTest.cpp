// The message header: properties filled from the fields, priorities, dates, extra fields, the
// reset between messages and the change notification.
#include <gtest/gtest.h>

#include "MimeTestUtil.h"
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Items;
using test::Lines;
using test::TestNow;
using Strings = std::vector<std::string>;

class MessageHeader : public ::testing::Test {
 protected:
  FixedClock clock_{TestNow(), 1.0 / 24};  // local time is UTC + 1 hour
  TclMailMessage msg_{nullptr, clock_};
};

TEST_F(MessageHeader, FieldsFillTheProperties) {
  msg_.LoadMessage(
      Lines("From: \"Doe, John\" <john@example.com>\n"
            "To: a@example.com, B <b@example.com>\n"
            "cc: c@example.com\n"
            "Bcc: =?iso-8859-1?Q?J=F6rg?= <j@example.com>\n"
            "Subject: =?iso-8859-1?Q?Caf=E9?= menu\n"
            "Message-ID: <id1@example.com>\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=\"iso-8859-2\"; type=x\n"
            "Content-Transfer-Encoding: Quoted-Printable\n"
            "Content-Disposition: inline; filename=a.txt\n"
            "Reply-To: R <r@example.com>\n"
            "Disposition-Notification-To: N <n@example.com>\n"
            "Newsgroups: comp.a,comp.b\n"
            "References: <r1@x> <r2@x>\n"
            "X-MimeOLE: Produced by X\n"
            "\n"
            "Body\n"));
  EXPECT_EQ(msg_.From(), "\"Doe, John\" <john@example.com>");
  EXPECT_EQ(Items(msg_.ToList()), (Strings{"a@example.com", "B <b@example.com>"}));
  EXPECT_EQ(Items(msg_.CCList()), (Strings{"c@example.com"}));
  EXPECT_EQ(Items(msg_.BCCList()), (Strings{"J\xF6rg <j@example.com>"}));
  EXPECT_EQ(msg_.Subject(), "Caf\xE9 menu");
  EXPECT_EQ(msg_.MessageID(), "<id1@example.com>");
  EXPECT_EQ(msg_.MessageFormat(), mfMIME);
  EXPECT_EQ(msg_.ContentType(), "text/plain");
  EXPECT_EQ(msg_.CharSet(), "iso-8859-2");
  EXPECT_EQ(msg_.ContentSubType(), "x");
  EXPECT_EQ(msg_.Encoding(), cmMIMEQuotedPrintable);
  EXPECT_EQ(msg_.ContentDisposition(), "inline");
  EXPECT_EQ(msg_.ReplyTo(), "R <r@example.com>");
  EXPECT_EQ(msg_.ReadReceiptTo(), "N <n@example.com>");
  EXPECT_EQ(Items(msg_.NewsGroups()), (Strings{"comp.a", "comp.b"}));
  EXPECT_EQ(Items(msg_.References()), (Strings{"<r1@x>", "<r2@x>"}));
  EXPECT_EQ(msg_.MimeOLE(), "Produced by X");
  EXPECT_EQ(msg_.ExtraFields().Count(), 0);
  EXPECT_EQ(msg_.RawHeader().Count(), 15);
  EXPECT_FALSE(msg_.IsMultipart());
}

TEST_F(MessageHeader, AddressListsSplitAtEveryCommaAndKeepBlanks) {
  msg_.LoadMessage(Lines("To: \"Doe, J\" <j@x>, k@y\n\n"));
  // The comma inside the quoted name splits too; pieces without brackets stay as written,
  // pieces with them are read as addresses.
  EXPECT_EQ(Items(msg_.ToList()), (Strings{"\"Doe", "J <j@x>", " k@y"}));
  msg_.LoadMessage(Lines("To:\n\n"));
  EXPECT_EQ(msg_.ToList().Count(), 0);
}

TEST_F(MessageHeader, MimeHeaderDecidesTheMessageFormat) {
  msg_.LoadMessage(Lines("Subject: x\n\nbody\n"));
  EXPECT_EQ(msg_.MessageFormat(), mfUUencode);
  EXPECT_EQ(msg_.ContentType(), "");
  EXPECT_EQ(msg_.CharSet(), "");
  EXPECT_EQ(msg_.MimeOLE(), "");

  msg_.LoadMessage(Lines("MIME-Version: 1.0\n\nbody\n"));
  EXPECT_EQ(msg_.MessageFormat(), mfMIME);
  EXPECT_EQ(msg_.ContentType(), "");
}

TEST_F(MessageHeader, FirstMatchingPriorityFieldDecides) {
  const struct {
    const char* header;
    TclMessagePriority expected;
  } cases[] = {
      {"X-Priority: 1\n", mpHigh},
      {"X-Priority: 1 (Highest)\n", mpNormal},  // the whole value is compared
      {"X-Priority: 5\n", mpLow},
      {"X-Priority: 3\n", mpNormal},
      {"Importance: low\n", mpLow},
      {"Importance: HIGH\n", mpHigh},
      {"X-MSMail-Priority: Low\n", mpLow},
      {"X-MSMail-Priority: high\n", mpHigh},
      {"Importance: High\nX-Priority: 5\n", mpHigh},
      {"X-Priority: 5\nImportance: High\n", mpHigh},  // field order in the header does not count
      {"Importance: Normal\nX-Priority: 5\n", mpLow},
      {"Importance: urgent\nX-Priority: 2\nX-MSMail-Priority: High\n", mpHigh},
      {"X-Priority: 1\nX-MSMail-Priority: Low\n", mpHigh},
      {"Importance: High (comment)\nX-MSMail-Priority: Low\n", mpLow},
      {"Importance:\nX-Priority: 1\n", mpHigh},
  };
  for (const auto& c : cases) {
    msg_.LoadMessage(Lines(std::string("Subject: p\n") + c.header + "\nbody\n"));
    EXPECT_EQ(msg_.Priority(), c.expected) << c.header;
  }
}

TEST_F(MessageHeader, DateComesFromDateElseTopmostReceived) {
  const TDateTime hour = 1.0 / 24;
  const TDateTime june1 = EncodeDateTime(2004, 6, 1, 8, 30, 0) + hour;  // 10:30 +0200 as UTC+1
  const struct {
    const char* header;
    TDateTime expected;
  } cases[] = {
      {"Date: Tue, 1 Jun 2004 10:30:00 +0200\n", june1},
      {"date: Tue, 1 Jun 2004 10:30:00 +0200\n"
       "Received: from a by b; Wed, 2 Jun 2004 10:30:00 +0200\n",
       june1},
      {"Received: from a by b; Tue, 1 Jun 2004 10:30:00 +0200\n"
       "Received: from c by a; Wed, 2 Jun 2004 10:30:00 +0200\n",
       june1},
      {"Received: from a (x; y)\n\tby b; Tue, 1 Jun 2004 10:30:00 +0200\n", june1},
      {"Received: from a by b;\n Tue, 1 Jun 2004 10:30:00 +0200\n", june1},
      {"Received: from a by b\n", TestNow()},  // no ";"
      {"Subject: no date\n", TestNow()},
      {"Date: \n", TestNow()},
      // Dates that do not parse leave the moment of parsing.
      {"Date: Wed, 31 Jun 2004 10:30:00 +0200\n", TestNow()},
      {"Date: 1 Jun 2004 25:00:00 +0200\n", TestNow()},
      {"Date: 1 Jun 2004 10:30:00 +02z0\n", TestNow()},
      {"Date: 1 Jun 99999 10:30:00 +0200\n", TestNow()},
      {"Date: garbage\n", TestNow()},
      {"Received: x; 31 Feb 2004 10:00:00 +0000\n", TestNow()},
  };
  for (const auto& c : cases) {
    ASSERT_NO_THROW(msg_.LoadMessage(Lines(std::string(c.header) + "\nbody\n"))) << c.header;
    EXPECT_NEAR(msg_.Date(), c.expected, 1e-8) << c.header;
  }
}

TEST_F(MessageHeader, ExtraFieldsKeepTheirSpellingAndUnfold) {
  msg_.LoadMessage(
      Lines("X-Custom : spaced\n"
            "x-lower: v\n"
            "Received: from a\n"
            "\tby b\n"
            "  id 7\n"
            "subject: known in lower case\n"
            "Subject: second subject\n"
            "X-Dup: 1\n"
            "X-Dup:2\n"
            "NoColonLine\n"
            "X-Empty:\n"
            "\n"
            "body\n"));
  EXPECT_EQ(Items(msg_.ExtraFields()),
            (Strings{"X-Custom : spaced", "x-lower: v", "Received: from aby bid 7", "X-Dup: 1",
                     "X-Dup: 2", "X-Empty: "}));
  EXPECT_EQ(msg_.Subject(), "known in lower case");
  EXPECT_EQ(msg_.RawHeader().Count(), 11);
  EXPECT_EQ(msg_.RawHeader()[3], "\tby b");
}

TEST_F(MessageHeader, BlankBeforeColonHidesAKnownField) {
  msg_.LoadMessage(Lines("Subject : hidden\n\nbody\n"));
  EXPECT_EQ(msg_.Subject(), "");
  EXPECT_EQ(Items(msg_.ExtraFields()), (Strings{"Subject : hidden"}));
}

TEST_F(MessageHeader, MessageWithoutEmptyLineIsAllHeader) {
  msg_.LoadMessage(Lines("Subject: s\nX-A: 1\nfree text"));
  EXPECT_EQ(msg_.RawHeader().Count(), 3);
  EXPECT_EQ(msg_.Bodies().Count(), 0);
  EXPECT_EQ(msg_.Subject(), "s");
}

TEST_F(MessageHeader, SecondLoadLeavesNothingOfTheFirst) {
  const TStringList rich = Lines(
      "From: A <a@x>\nTo: b@x\nCc: c@x\nBcc: d@x\nSubject: first\n"
      "Date: Tue, 1 Jun 2004 10:30:00 +0200\nX-Priority: 1\nMessage-ID: <m1>\n"
      "Reply-To: r@x\nDisposition-Notification-To: n@x\nNewsgroups: g\nReferences: <x>\n"
      "X-MimeOLE: o\nX-Extra: e\nMIME-Version: 1.0\n"
      "Content-Type: multipart/related; boundary=\"B\"; type=\"text/html\"; charset=koi8-r\n"
      "Content-Transfer-Encoding: base64\nContent-Disposition: attachment\n"
      "\n--B\nContent-Type: text/plain\n\none\n--B\nContent-Type: "
      "application/pdf\n\nAAAA\n--B--\n");
  const TStringList plain = Lines("Subject: second\n\nhello\n");
  msg_.LoadMessage(rich);
  ASSERT_EQ(msg_.Bodies().Count(), 2);
  msg_.LoadMessage(plain);

  FixedClock freshClock{TestNow(), 1.0 / 24};
  TclMailMessage fresh(nullptr, freshClock);
  fresh.LoadMessage(plain);
  EXPECT_EQ(test::Summary(msg_), test::Summary(fresh));
  EXPECT_EQ(msg_.Boundary(), "");
}

TEST_F(MessageHeader, OneChangeNotificationPerLoadAndPerClear) {
  int changes = 0;
  msg_.OnChanged = [&changes](TclMailMessage&) { ++changes; };
  const char* messages[] = {
      "Subject: s\n\nbody\n",
      "Subject: s\n\nbody\n",  // the same again
      "Content-Type: multipart/mixed; boundary=b\n\n--b\n\ntext\n--b\nContent-Type: "
      "multipart/alternative; boundary=c\n\n--c\n\ninner\n--c--\n--b--\n",
      "Date: 31 Feb 2004 10:00:00 +0000\n\n",
      "no empty line",
      "",
  };
  for (const char* text : messages) {
    changes = 0;
    msg_.LoadMessage(Lines(text));
    EXPECT_EQ(changes, 1) << text;
    changes = 0;
    msg_.Clear();
    EXPECT_EQ(changes, 1) << text;
  }
  EXPECT_EQ(msg_.UpdateCount(), 0);
  EXPECT_FALSE(msg_.IsParsing());
}

TEST_F(MessageHeader, ClearRestoresTheDefaults) {
  msg_.SetCharsPerLine(40);
  msg_.SetIncludeRFC822Header(false);
  msg_.LoadMessage(Lines("Subject: s\nX-Priority: 1\nContent-Type: text/html\n\nbody\n"));
  msg_.Clear();
  EXPECT_EQ(msg_.Subject(), "");
  EXPECT_EQ(msg_.Priority(), mpNormal);
  EXPECT_EQ(msg_.CharSet(), "iso-8859-1");
  EXPECT_EQ(msg_.ContentType(), "text/plain");
  EXPECT_EQ(msg_.MimeOLE(), kDefaultMimeOLE);
  EXPECT_EQ(msg_.MessageFormat(), mfNone);
  EXPECT_EQ(msg_.Date(), TestNow());
  EXPECT_EQ(msg_.Bodies().Count(), 0);
  EXPECT_EQ(msg_.RawHeader().Count(), 0);
  EXPECT_EQ(msg_.CharsPerLine(), 40);
  EXPECT_FALSE(msg_.IncludeRFC822Header());
}

TEST(MessageFields, KnownFieldsInOrder) {
  FixedClock clock{TestNow()};
  TclMailMessage msg(nullptr, clock);
  EXPECT_EQ(Items(msg.KnownFields()),
            (Strings{"Content-Type", "Content-Disposition", "Content-Transfer-Encoding", "From",
                     "To", "Cc", "Bcc", "Subject", "Date", "Importance", "X-Priority",
                     "X-MSMail-Priority", "X-MimeOLE", "Reply-To", "Disposition-Notification-To",
                     "Message-ID", "MIME-Version", "Newsgroups", "References"}));
}

}  // namespace
}  // namespace qv

// The message in component streams: its published properties and its bodies ("Bodies.Items"),
// written and read back; and the encoder component.
#include <gtest/gtest.h>

#include "MimeTestUtil.h"
#include "base/Errors.h"
#include "base/StringUtils.h"
#include "components/ComponentStream.h"
#include "mime/clMailMessage.h"
#include "support/TestStreams.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Items;
using test::TestNow;
using Strings = std::vector<std::string>;

std::string Write(TComponent& c) {
  TMemoryStream s;
  WriteComponentStream(s, c);
  return s.DataString();
}

void Read(const std::string& bytes, TComponent& c) {
  TMemoryStream s(bytes);
  ReadComponentStream(s, c);
}

bool Contains(const std::string& bytes, std::string_view what) {
  return bytes.find(what) != std::string::npos;
}

// What the stream keeps of a body: everything but ContentID, Boundary, KnownFields and RawHeader.
std::string Stored(const TclMessageBodies& bodies, const std::string& indent = "");
std::string Stored(const TclMessageBody& b, const std::string& indent) {
  std::string s = indent + b.ClassName() + " type=" + b.ContentType() +
                  " enc=" + IntToStr(b.Encoding()) + " disp=" + b.ContentDisposition() +
                  " extra=[" + b.ExtraFields().CommaText() + "]";
  if (auto* t = dynamic_cast<const TclTextBody*>(&b))
    s += " charset=" + t->CharSet() + " strings=[" + t->Strings().CommaText() + "]";
  if (auto* a = dynamic_cast<const TclAttachmentBody*>(&b)) s += " file=" + a->FileName();
  s += "\n";
  if (auto* m = dynamic_cast<const TclMultipartBody*>(&b))
    s += indent + " sub=" + m->ContentSubType() + "\n" + Stored(m->Bodies(), indent + "  ");
  return s;
}
std::string Stored(const TclMessageBodies& bodies, const std::string& indent) {
  std::string s;
  for (int i = 0; i < bodies.Count(); ++i)
    s += Stored(bodies.Items(i), indent);
  return s;
}

class Persistence : public ::testing::Test {
 protected:
  Persistence() {
    src_.SetName("clImportMsg");
    src_.SetRandomSource([](int) { return 7; });
    dst_.SetRandomSource([](int) { return 3; });
    app_.Add(dst_);
  }

  // One body of every class, a nested multipart with two text parts among them.
  void AddEveryBody() {
    auto& text = src_.Bodies().Add<TclTextBody>();
    text.Strings().SetText("first line\r\n\r\nthird, \"quoted\" line");
    text.SetCharSet("ISO-8859-2");
    text.SetEncoding(cmMIMEQuotedPrintable);
    text.ExtraFields().Add("X-One: 1");
    text.ExtraFields().Add("X-Two: 2");

    auto& att = src_.Bodies().Add<TclAttachmentBody>();
    att.SetFileName("C:\\in\\report.pdf");
    att.SetContentType("application/pdf");
    att.SetContentID("id@here");
    att.SetEncoding(cmMIMEBase64);
    att.SetContentDisposition("inline");
    att.RawHeader().Add("Content-Type: application/pdf");

    auto& img = src_.Bodies().Add<TclImageBody>();
    img.SetFileName("logo.png");
    img.SetContentID("");

    auto& multi = src_.Bodies().Add<TclMultipartBody>();
    multi.SetContentType("multipart/alternative");
    multi.SetContentSubType("text/plain");
    multi.SetBoundary("INNER");
    auto& plain = multi.Bodies().Add<TclTextBody>();
    plain.Strings().Add("plain");
    plain.SetEncoding(cm8Bit);
    auto& html = multi.Bodies().Add<TclTextBody>();
    html.SetContentType("text/html");
    html.SetCharSet("");
    html.Strings().Add("<p>html</p>");
    html.SetContentDisposition("inline");
  }

  FixedClock clock_{TestNow()};
  TComponentRegistry app_;
  TclMailMessage src_{nullptr, clock_};
  TclMailMessage dst_{nullptr, clock_};
};

TEST_F(Persistence, EveryBodyClassRoundTripsAndWritesTheSameBytesAgain) {
  AddEveryBody();
  const std::string bytes = Write(src_);
  ASSERT_TRUE(Contains(bytes, "Bodies.Items"));
  dst_.Bodies().Add<TclTextBody>().Strings().Add("replaced");
  Read(bytes, dst_);

  EXPECT_EQ(dst_.Name(), "clImportMsg");
  EXPECT_EQ(Stored(dst_.Bodies()), Stored(src_.Bodies()));
  ASSERT_EQ(dst_.Bodies().Count(), 4);
  // Not stored: the attachment's identifier, the nested boundary, raw headers; an image makes
  // itself a new identifier when it gets its file name.
  EXPECT_EQ(dynamic_cast<TclAttachmentBody&>(dst_.Bodies().Items(1)).ContentID(), "");
  EXPECT_EQ(dst_.Bodies().Items(1).RawHeader().Count(), 0);
  EXPECT_EQ(dynamic_cast<TclImageBody&>(dst_.Bodies().Items(2)).ContentID(), "logo.png@46082.5.3");
  auto& multi = dynamic_cast<TclMultipartBody&>(dst_.Bodies().Items(3));
  EXPECT_EQ(multi.Boundary(), "");
  ASSERT_EQ(multi.Bodies().Count(), 2);
  EXPECT_EQ(&multi.Bodies().Items(1).MailMessage(), &dst_);
  EXPECT_EQ(dst_.Bodies().Items(0).KnownFields().Count(), 3);

  EXPECT_EQ(Write(dst_), bytes);
}

TEST_F(Persistence, TheBodyListHoldsClassNamesAndFieldsInOrder) {
  src_.SetBoundary("B");
  auto& text = src_.Bodies().Add<TclTextBody>();
  text.Strings().Add("hi");
  auto& multi = src_.Bodies().Add<TclMultipartBody>();
  multi.Bodies().Add<TclTextBody>().Strings().Add("a");
  multi.Bodies().Add<TclTextBody>().Strings().Add("b");
  const std::string bytes = Write(src_);
  auto str = [](std::string_view s) {
    return std::string(1, '\x06') + static_cast<char>(s.size()) + std::string(s);
  };
  // Text: Strings, CharSet, then ExtraFields, ContentType, encoding, ContentDisposition.
  auto textBody = [&](std::string_view line) {
    return str("TclTextBody") + str(std::string(line) + "\r\n") + str("iso-8859-1") + str("") +
           str("text/plain") + std::string("\x02\x00", 2) + str("");
  };
  const std::string expected =
      std::string("\x0C") + "Bodies.Items" + "\x01" + textBody("hi") + str("TclMultipartBody") +
      str("") + "\x01" + textBody("a") + textBody("b") + std::string(1, '\0') + str("") +
      str("multipart/mixed") + std::string("\x02\x00", 2) + str("") + std::string(1, '\0');
  EXPECT_TRUE(Contains(bytes, expected));
}

TEST_F(Persistence, NoBodiesWriteNoBodyEntry) {
  const std::string bytes = Write(src_);
  EXPECT_FALSE(Contains(bytes, "Bodies"));
  dst_.Bodies().Add<TclTextBody>();
  Read(bytes, dst_);
  EXPECT_EQ(dst_.Bodies().Count(), 1);  // nothing stored, nothing replaced
}

TEST_F(Persistence, TheEffectiveEncodingIsWritten) {
  auto& only = src_.Bodies().Add<TclAttachmentBody>();
  only.SetEncoding(cmMIMEQuotedPrintable);
  src_.SetEncoding(cmMIMEBase64);
  Read(Write(src_), dst_);
  ASSERT_EQ(dst_.Bodies().Count(), 1);
  EXPECT_EQ(dst_.Bodies().Items(0).Encoding(), cmMIMEBase64);

  // An attachment of a uuencoded message is written as uuencoded.
  src_.Bodies().Add<TclTextBody>().SetEncoding(cmMIMEQuotedPrintable);
  src_.SetMessageFormat(mfUUencode);
  TclMailMessage again(nullptr, clock_);
  Read(Write(src_), again);
  ASSERT_EQ(again.Bodies().Count(), 2);
  EXPECT_EQ(again.Bodies().Items(0).Encoding(), cmUUEncode);
  EXPECT_EQ(again.Bodies().Items(1).Encoding(), cmMIMEQuotedPrintable);
}

TEST_F(Persistence, AnUnregisteredClassNameFailsAndKeepsWhatWasRead) {
  src_.Bodies().Add<TclTextBody>().Strings().Add("kept");
  src_.Bodies().Add<TclAttachmentBody>().SetFileName("x.bin");
  src_.SetSubject("after the bodies");
  std::string bytes = Write(src_);
  const std::size_t at = bytes.find("TclAttachmentBody");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 17, "TclUnknownXYZBody");
  try {
    Read(bytes, dst_);
    ADD_FAILURE() << "no error";
  } catch (const EReadError& e) {
    EXPECT_TRUE(std::string_view(e.what()).ends_with("Invalid property value")) << e.what();
  }
  ASSERT_EQ(dst_.Bodies().Count(), 1);
  EXPECT_EQ(Items(dynamic_cast<TclTextBody&>(dst_.Bodies().Items(0)).Strings()), (Strings{"kept"}));
  EXPECT_EQ(dst_.Subject(), "");
  EXPECT_FALSE(dst_.Loading());
}

TEST_F(Persistence, AnEncodingOutsideTheRangeIsRejected) {
  src_.Bodies().Add<TclTextBody>();
  std::string bytes = Write(src_);
  // The encoding is the only small integer of the body: "text/plain" then 0x02 0x00.
  const std::size_t at = bytes.find(std::string("text/plain\x02\x00", 12));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 11] = 5;
  EXPECT_THROW(Read(bytes, dst_), EReadError);
}

TEST_F(Persistence, TruncatedStreamsFailCleanlyAndTrickleInputReadsTheSame) {
  AddEveryBody();
  src_.ToList().Add("to@example.com");
  const std::string bytes = Write(src_);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    TclMailMessage m(nullptr, clock_);
    TMemoryStream s(bytes.substr(0, n));
    EXPECT_THROW(ReadComponentStream(s, m), EReadError) << n;
    EXPECT_FALSE(m.Loading()) << n;
  }
  TclMailMessage trickled(nullptr, clock_);
  trickled.SetRandomSource([](int) { return 3; });
  test::TrickleStream s(bytes + "X");
  ReadComponentStream(s, trickled);
  EXPECT_EQ(s.Position(), static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(Write(trickled), bytes);
}

TEST_F(Persistence, PublishedPropertiesRoundTripAndDefaultsAreLeftOut) {
  const std::string fresh = Write(src_);
  for (const char* name : {"Priority", "MessageFormat", "Encoding", "IncludeRFC822Header",
                           "CharsPerLine", "Subject", "ToList", "Bodies", "MessageID", "OnChanged"})
    EXPECT_FALSE(Contains(fresh, name)) << name;
  for (const char* name : {"Date", "CharSet", "ContentType", "MimeOLE"})
    EXPECT_TRUE(Contains(fresh, name)) << name;

  src_.SetSubject("Subject \xE9t\xE9");
  src_.SetFrom("\"Ann\" <ann@example.com>");
  src_.ToList().SetText("a@example.com\r\nb@example.com");
  src_.CCList().Add("c@example.com");
  src_.BCCList().Add("d@example.com");
  src_.SetPriority(mpHigh);
  src_.SetDate(EncodeDateTime(2024, 2, 29, 23, 59, 58) + 0.000001);
  src_.SetCharSet("koi8-r");
  src_.SetContentType("multipart/related");
  src_.SetContentSubType("text/html");
  src_.SetContentDisposition("inline");
  src_.SetMessageFormat(mfMIME);
  src_.SetEncoding(cm8Bit);
  src_.SetMimeOLE("Custom OLE");
  src_.SetIncludeRFC822Header(false);
  src_.SetReplyTo("r@example.com");
  src_.References().Add("<r1@x>");
  src_.NewsGroups().Add("comp.mail");
  src_.ExtraFields().Add("X-Mailer: test");
  src_.SetReadReceiptTo("rr@example.com");
  src_.SetMessageID("<id@example.com>");
  src_.SetCharsPerLine(60);
  src_.SetTag(42);
  int changes = 0;
  dst_.OnChanged = [&changes](TclMailMessage&) { ++changes; };
  const std::string bytes = Write(src_);
  Read(bytes, dst_);
  EXPECT_EQ(changes, 1);  // once, at the end of loading

  EXPECT_EQ(test::Summary(dst_), test::Summary(src_));
  EXPECT_EQ(dst_.IncludeRFC822Header(), false);
  EXPECT_EQ(dst_.CharsPerLine(), 60);
  EXPECT_EQ(dst_.Tag(), 42);
  EXPECT_EQ(Write(dst_), bytes);
}

TEST(EncoderStream, PublishedPropertiesRoundTrip) {
  TclEncoder fresh;
  fresh.SetName("Encoder1");
  const std::string plain = Write(fresh);
  EXPECT_FALSE(Contains(plain, "CharsPerLine"));
  EXPECT_FALSE(Contains(plain, "SuppressCrlf"));

  TclEncoder src;
  src.SetName("Encoder1");
  src.SetCharsPerLine(40);
  src.SetSuppressCrlf(true);
  src.OnProgress = [](TclEncoder&, int, int) {};  // set from code: not stored
  const std::string bytes = Write(src);
  EXPECT_FALSE(Contains(bytes, "OnProgress"));
  TComponentRegistry app;
  TclEncoder dst;
  app.Add(dst);
  Read(bytes, dst);
  EXPECT_EQ(dst.Name(), "Encoder1");
  EXPECT_EQ(dst.CharsPerLine(), 40);
  EXPECT_TRUE(dst.SuppressCrlf());
  EXPECT_EQ(Write(dst), bytes);
  // The defaults read back into a changed encoder leave it as it is.
  Read(plain, dst);
  EXPECT_EQ(dst.CharsPerLine(), 40);
}

}  // namespace
}  // namespace qv

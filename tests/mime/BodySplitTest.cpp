// Splitting a message into body parts: multipart delimiters, the single-body path with uuencoded
// files, the choice of part classes and the nesting bound.
#include <gtest/gtest.h>

#include "MimeTestUtil.h"
#include "base/StringUtils.h"
#include "codec/clEncoder.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Items;
using test::Lines;
using test::TestNow;
using Strings = std::vector<std::string>;

class BodySplit : public ::testing::Test {
 protected:
  TclMailMessage& Load(std::string_view text) {
    msg_.LoadMessage(Lines(text));
    return msg_;
  }
  TclMessageBody& Body(int i) { return msg_.Bodies().Items(i); }
  TclTextBody& Text(int i) {
    auto* t = dynamic_cast<TclTextBody*>(&Body(i));
    if (t == nullptr) throw std::runtime_error("not a text body: " + Body(i).ClassName());
    return *t;
  }
  std::vector<std::string> Classes() {
    std::vector<std::string> v;
    for (int i = 0; i < msg_.Bodies().Count(); ++i)
      v.push_back(Body(i).ClassName());
    return v;
  }

  FixedClock clock_{TestNow()};
  TclMailMessage msg_{nullptr, clock_};
};

constexpr const char* kMixedHeader =
    "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n";

TEST_F(BodySplit, PreambleAndEpilogueReachNoPart) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load(std::string(kMixedHeader) +
       "preamble line\n"
       "--XX\n"
       "Content-Type: text/plain; charset=us-ascii\n"
       "X-Part: 1\n"
       "\n"
       "first\n"
       "\n"
       "--XX\n"
       "Content-Type: application/octet-stream; name=\"a.bin\"\n"
       "Content-Transfer-Encoding: base64\n"
       "\n"
       "QUJD\n"
       "REVG\n"
       "--XX--\n"
       "epilogue line\n");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody", "TclAttachmentBody"}));
  EXPECT_TRUE(msg_.IsMultipart());
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"first"}));
  EXPECT_EQ(Text(0).CharSet(), "us-ascii");
  EXPECT_EQ(Items(Text(0).ExtraFields()), (Strings{"X-Part: 1"}));
  EXPECT_EQ(Items(Text(0).RawHeader()),
            (Strings{"Content-Type: text/plain; charset=us-ascii", "X-Part: 1"}));
  auto& att = dynamic_cast<TclAttachmentBody&>(Body(1));
  EXPECT_EQ(att.FileName(), "a.bin");
  EXPECT_EQ(att.Encoding(), cmMIMEBase64);
  EXPECT_EQ(rec.DataOf("a.bin"), "ABCDEF");
  // The text part saw its data as it arrived; nothing carries the preamble or the epilogue.
  ASSERT_EQ(rec.entries.size(), 2u);
  EXPECT_EQ(rec.entries[0].data, "first\r\n");
  for (const auto& e : rec.entries) {
    EXPECT_EQ(e.data.find("preamble"), std::string::npos);
    EXPECT_EQ(e.data.find("epilogue"), std::string::npos);
  }
}

TEST_F(BodySplit, MissingClosingDelimiterGivesTheRestToTheLastPart) {
  Load(std::string(kMixedHeader) + "--XX\n\none\n--XX\n\na\nb\n\nc\n");
  ASSERT_EQ(msg_.Bodies().Count(), 2);
  EXPECT_EQ(Items(Text(1).Strings()), (Strings{"a", "b", "", "c"}));
}

TEST_F(BodySplit, WithoutAnyDelimiterTheBodyIsOneTextPart) {
  Load(std::string(kMixedHeader) + "line one\n--YY\nline three\n");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody"}));
  EXPECT_EQ(Text(0).ContentType(), "multipart/mixed");
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"line one", "--YY", "line three"}));
  EXPECT_FALSE(msg_.IsMultipart());

  Load(std::string(kMixedHeader) + "  \n\n");
  EXPECT_EQ(msg_.Bodies().Count(), 0);
}

TEST_F(BodySplit, DelimiterIsFoundAnywhereInALine) {
  Load(std::string(kMixedHeader) +
       "--XX\n\none\n"
       "text before --XX and after\n\ntwo\n"
       "see --XX-- here\n"
       "after the closing form\n");
  ASSERT_EQ(msg_.Bodies().Count(), 2);
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"one"}));
  EXPECT_EQ(Items(Text(1).Strings()), (Strings{"two"}));
}

TEST_F(BodySplit, RepeatedDelimiterOpensAnEmptyPart) {
  Load(std::string(kMixedHeader) +
       "--XX\n"
       "--XX\n"
       "Content-Type: text/html\n"
       "\n"
       "hello\n"
       "--XX--\n");
  ASSERT_EQ(msg_.Bodies().Count(), 2);
  // The first part ends at the second delimiter: it has no header of its own and no content.
  EXPECT_EQ(Text(0).ContentType(), "");
  EXPECT_EQ(Text(0).RawHeader().Count(), 0);
  EXPECT_EQ(Text(0).Strings().Count(), 0);
  EXPECT_EQ(Text(1).ContentType(), "text/html");
  EXPECT_EQ(Items(Text(1).Strings()), (Strings{"hello"}));
}

TEST_F(BodySplit, PartHeaderEndsAtTheNextDelimiter) {
  // Part headers that run into the next delimiter do not take fields from the parts after them.
  Load(std::string(kMixedHeader) +
       "--XX\n"
       "X-First: 1\n"
       "--XX\n"
       "Content-Type: application/zip; name=z.zip\n"
       "\n"
       "UEsD\n"
       "--XX--\n"
       "X-After: epilogue\n"
       "\n");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody", "TclAttachmentBody"}));
  EXPECT_EQ(Items(Body(0).RawHeader()), (Strings{"X-First: 1"}));
  EXPECT_EQ(Items(Body(0).ExtraFields()), (Strings{"X-First: 1"}));
  EXPECT_EQ(Items(Body(1).ExtraFields()), (Strings{}));
}

TEST_F(BodySplit, PartWithEmptyHeaderIsTextWithoutType) {
  Load(std::string(kMixedHeader) + "--XX\n\ncontent\n--XX--\n");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody"}));
  EXPECT_EQ(Text(0).ContentType(), "");
  EXPECT_EQ(Text(0).CharSet(), "");
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"content"}));
}

TEST_F(BodySplit, PartDataEndsWithTheLineBeforeTheDelimiter) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load(std::string(kMixedHeader) +
       "--XX\nContent-Type: application/x-a; name=a\n\ntext\n\n"
       "--XX\nContent-Type: application/x-b; name=b\n\n\n"
       "--XX\nContent-Type: application/x-c; name=c\n\n"
       "--XX\nContent-Type: application/x-d; name=d\n\nx\n--XX--\n");
  EXPECT_EQ(rec.DataOf("a"), "text\r\n");  // two CR LF collected, the last one cut
  EXPECT_EQ(rec.DataOf("b"), "");
  EXPECT_EQ(rec.DataOf("c"), "<none>");  // no line at all: nothing is handed over
  EXPECT_EQ(rec.DataOf("d"), "x");
}

TEST_F(BodySplit, DelimiterOnTheLastLineOpensAnEmptyPart) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load("Content-Type: multipart/mixed; boundary=XX\n\n--XX\n\nfirst\n--XX");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody", "TclTextBody"}));
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"first"}));
  // The part opened by the last line must not take a line from the top of the message.
  EXPECT_EQ(Text(1).Strings().Count(), 0);
  ASSERT_EQ(rec.entries.size(), 2u);
  EXPECT_EQ(rec.entries[1].data, "");
}

TEST_F(BodySplit, PartClassFollowsTypeAndDisposition) {
  const struct {
    const char* type;
    const char* disposition;
    const char* expected;
  } cases[] = {
      {"multipart/alternative; boundary=in", "", "TclMultipartBody"},
      {"MULTIPART/Related; boundary=in", "attachment", "TclMultipartBody"},
      {"image/png", "", "TclImageBody"},
      {"Image/GIF", "attachment", "TclImageBody"},
      {"text/plain", "attachment", "TclAttachmentBody"},
      {"text/plain", "ATTACHMENT; filename=x", "TclAttachmentBody"},
      {"application/pdf", "", "TclAttachmentBody"},
      {"message/rfc822", "", "TclAttachmentBody"},
      {"audio/ogg", "inline", "TclAttachmentBody"},
      {"Video/mp4", "", "TclAttachmentBody"},
      {"text/html", "inline", "TclTextBody"},
      {"x-application/foo", "", "TclTextBody"},  // a prefix test, not a substring test
      {"", "", "TclTextBody"},
      {"", "attachments", "TclTextBody"},
  };
  for (const auto& c : cases) {
    std::string part = "--XX\n";
    if (*c.type) part += std::string("Content-Type: ") + c.type + "\n";
    if (*c.disposition) part += std::string("Content-Disposition: ") + c.disposition + "\n";
    Load(std::string(kMixedHeader) + part + "\ndata\n--XX--\n");
    ASSERT_EQ(msg_.Bodies().Count(), 1) << c.type;
    EXPECT_EQ(Body(0).ClassName(), c.expected) << c.type << " / " << c.disposition;
  }
}

TEST_F(BodySplit, SinglePartClassFollowsTheMessageHeader) {
  const struct {
    const char* header;
    const char* expected;
  } cases[] = {
      {"Content-Type: image/png\n", "TclTextBody"},
      {"Content-Type: multipart/mixed\n", "TclTextBody"},
      {"Content-Type: text/plain\n", "TclTextBody"},
      {"Content-Type: Application/Octet-Stream\n", "TclAttachmentBody"},
      {"Content-Type: message/rfc822\n", "TclAttachmentBody"},
      {"Content-Type: audio/basic\n", "TclAttachmentBody"},
      {"Content-Type: video/mpeg\n", "TclAttachmentBody"},
      {"Content-Type: text/plain\nContent-Disposition: Attachment; filename=t.txt\n",
       "TclAttachmentBody"},
      {"Subject: none\n", "TclTextBody"},
  };
  for (const auto& c : cases) {
    Load(std::string(c.header) + "\nsome content\n");
    ASSERT_EQ(msg_.Bodies().Count(), 1) << c.header;
    EXPECT_EQ(Body(0).ClassName(), c.expected) << c.header;
    EXPECT_EQ(Items(Body(0).RawHeader()), Items(msg_.RawHeader())) << c.header;
    EXPECT_EQ(Body(0).ExtraFields().Count(), 0) << c.header;
  }
}

TEST_F(BodySplit, NestedPartsLandInTheirMultipart) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load(
      "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
      "--outer\n"
      "Content-Type: multipart/alternative; boundary=\"inner\"; type=text/plain\n\n"
      "--inner\nContent-Type: text/plain; charset=iso-8859-2\n\nplain \xA1\n"
      "--inner\nContent-Type: text/html\n\n<p>html</p>\n"
      "--inner--\n"
      "--outer\n"
      "Content-Type: image/png; name=\"p.png\"\nContent-Transfer-Encoding: base64\n"
      "Content-ID: <img1>\n\niVBO\n"
      "--outer--\n");
  ASSERT_EQ(Classes(), (Strings{"TclMultipartBody", "TclImageBody"}));
  auto& multi = dynamic_cast<TclMultipartBody&>(Body(0));
  EXPECT_EQ(multi.ContentType(), "multipart/alternative");
  EXPECT_EQ(multi.Boundary(), "inner");
  EXPECT_EQ(multi.ContentSubType(), "text/plain");
  ASSERT_EQ(multi.Bodies().Count(), 2);
  auto& plain = dynamic_cast<TclTextBody&>(multi.Bodies().Items(0));
  auto& html = dynamic_cast<TclTextBody&>(multi.Bodies().Items(1));
  EXPECT_EQ(Items(plain.Strings()), (Strings{"plain \xA5"}));  // translated from iso-8859-2
  EXPECT_EQ(Items(html.Strings()), (Strings{"<p>html</p>"}));
  EXPECT_EQ(&plain.MailMessage(), &msg_);
  auto& image = dynamic_cast<TclImageBody&>(Body(1));
  EXPECT_EQ(image.FileName(), "p.png");
  EXPECT_EQ(image.ContentID(), "img1");
  EXPECT_EQ(image.ContentType(), "image/png");
  // Handlers saw the nested text parts and the image, and nothing for the multipart itself.
  Strings seen;
  for (const auto& e : rec.entries)
    seen.push_back(e.className);
  EXPECT_EQ(seen, (Strings{"TclTextBody", "TclTextBody", "TclImageBody"}));
  EXPECT_EQ(rec.DataOf("p.png"), std::string("\x89PN", 3));
}

TEST_F(BodySplit, AttachmentContentIsGatheredOnlyWhenAHandlerTakesIt) {
  // An attachment nested in a multipart asks the outer message's handler; without a handler its
  // content is not gathered at all, and the parts come out the same.
  const std::string text =
      "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
      "--outer\n"
      "Content-Type: multipart/mixed; boundary=\"inner\"\n\n"
      "--inner\nContent-Type: text/plain\n\nhello\n"
      "--inner\nContent-Type: application/pdf; name=\"a.pdf\"\n"
      "Content-Transfer-Encoding: base64\n\nUERG\n"
      "--inner--\n"
      "--outer--\n";
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load(text);
  EXPECT_TRUE(msg_.SuppliesDataStreams());
  EXPECT_EQ(rec.DataOf("a.pdf"), "PDF");
  auto& inner = dynamic_cast<TclMultipartBody&>(Body(0));
  ASSERT_EQ(inner.Bodies().Count(), 2);
  EXPECT_TRUE(inner.Bodies().Items(1).ReceivesData());

  msg_.OnGetDataStream = nullptr;
  rec.entries.clear();
  Load(text);
  EXPECT_FALSE(msg_.SuppliesDataStreams());
  EXPECT_EQ(rec.DataOf("a.pdf"), "<none>");
  auto& again = dynamic_cast<TclMultipartBody&>(Body(0));
  ASSERT_EQ(again.Bodies().Count(), 2);
  EXPECT_FALSE(again.Bodies().Items(1).ReceivesData());
  EXPECT_TRUE(again.Bodies().Items(0).ReceivesData());
  EXPECT_EQ(dynamic_cast<TclAttachmentBody&>(again.Bodies().Items(1)).FileName(), "a.pdf");
  EXPECT_EQ(Items(dynamic_cast<TclTextBody&>(again.Bodies().Items(0)).Strings()),
            (Strings{"hello"}));
}

// A message whose parts nest `depth` multiparts deep, with the text "deep" at the bottom.
std::string NestedMessage(int depth) {
  std::string tail = "Content-Type: text/plain\n\ndeep\n";
  for (int level = depth - 1; level >= 0; --level) {
    const std::string b = "L" + IntToStr(level) + "X";
    tail = "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\n" + tail + "--" +
           b + "--\n";
  }
  return "Subject: nested\n" + tail;
}

TEST_F(BodySplit, NestingBeyondTheBoundIsKeptAsAttachment) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  ASSERT_NO_THROW(Load(NestedMessage(kMaxBodyNesting + 50)));
  const TclMessageBodies* bodies = &msg_.Bodies();
  int multiparts = 0;
  for (;;) {
    ASSERT_EQ(bodies->Count(), 1);
    auto* multi = dynamic_cast<const TclMultipartBody*>(&bodies->Items(0));
    if (multi == nullptr) break;
    ++multiparts;
    bodies = &multi->Bodies();
  }
  EXPECT_EQ(multiparts, kMaxBodyNesting);
  auto& kept = dynamic_cast<const TclAttachmentBody&>(bodies->Items(0));
  EXPECT_EQ(kept.ClassName(), "TclAttachmentBody");
  EXPECT_EQ(kept.ContentType(), "multipart/mixed");
  // Its raw content holds everything below it, the deepest text included.
  ASSERT_FALSE(rec.entries.empty());
  const std::string& raw = rec.entries.back().data;
  EXPECT_EQ(rec.entries.back().className, "TclAttachmentBody");
  EXPECT_EQ(raw.find("--L" + IntToStr(kMaxBodyNesting + 1) + "X\r\n"), 0u);
  EXPECT_NE(raw.find("\r\ndeep\r\n"), std::string::npos);
  EXPECT_NE(raw.find("--L" + IntToStr(kMaxBodyNesting + 49) + "X--"), std::string::npos);
}

TEST_F(BodySplit, NestingUpToTheBoundIsParsed) {
  Load(NestedMessage(kMaxBodyNesting));
  const TclMessageBodies* bodies = &msg_.Bodies();
  for (int i = 0; i < kMaxBodyNesting - 1; ++i)
    bodies = &dynamic_cast<const TclMultipartBody&>(bodies->Items(0)).Bodies();
  auto& text = dynamic_cast<const TclTextBody&>(bodies->Items(0));
  EXPECT_EQ(Items(text.Strings()), (Strings{"deep"}));
}

std::string UUFile(const std::string& data) {
  TclEncoder enc;
  return enc.EncodeString(data, cmUUEncode);
}

std::string WithLF(const std::string& crlf) {
  std::string s;
  for (char c : crlf)
    if (c != '\r') s += c;
  return s;
}

TEST_F(BodySplit, UuencodedFilesBecomeAttachments) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load("Subject: files\n\nHello\nbegin 644 a.zip\n" + WithLF(UUFile("first file")) +
       "end\nBetween\nbegin 600 b.txt\n" + WithLF(UUFile("second")) + "END\nBye\n\n");
  EXPECT_EQ(msg_.MessageFormat(), mfUUencode);
  ASSERT_EQ(Classes(), (Strings{"TclTextBody", "TclAttachmentBody", "TclAttachmentBody"}));
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"Hello", "Between", "Bye"}));
  auto& a = dynamic_cast<TclAttachmentBody&>(Body(1));
  EXPECT_EQ(a.FileName(), "a.zip");
  EXPECT_EQ(a.Encoding(), cmUUEncode);
  EXPECT_EQ(rec.DataOf("a.zip"), "first file");
  EXPECT_EQ(rec.DataOf("b.txt"), "second");
}

TEST_F(BodySplit, UuencodedFileInMimeMessageSetsTheFormat) {
  Load("MIME-Version: 1.0\n\nbegin 644 a.zip\n" + WithLF(UUFile("x")) + "end\n");
  EXPECT_EQ(msg_.MessageFormat(), mfUUencode);
  ASSERT_EQ(Classes(), (Strings{"TclAttachmentBody"}));  // the blank text part is dropped
}

TEST_F(BodySplit, UuencodedFileWithoutEndGoesToTheText) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  Load("Subject: files\n\nHello\nbegin 644 a.zip\nM86)C\nlast\n");
  ASSERT_EQ(Classes(), (Strings{"TclTextBody", "TclAttachmentBody"}));
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"Hello", "M86)C", "last"}));
  EXPECT_EQ(rec.DataOf("a.zip"), "<none>");
}

TEST_F(BodySplit, EndLineWithoutBeginIsDroppedInPlainMessages) {
  Load("Subject: x\n\none\n  End \ntwo\n");
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"one", "two"}));
  Load("MIME-Version: 1.0\n\none\nend\ntwo\n");
  EXPECT_EQ(Items(Text(0).Strings()), (Strings{"one", "end", "two"}));
}

TEST_F(BodySplit, BeginLookalikes) {
  const struct {
    const char* line;
    bool begins;
    const char* fileName;
  } cases[] = {
      {"begin 644 a.zip", true, "a.zip"},
      {"BEGIN 0 my file.txt ", true, "my file.txt"},
      {"begin   12   spaced", true, "spaced"},
      {"begin 5 words", true, "words"},  // plain text of that form counts
      {"beginning 7 x", true, "x"},
      {"begin -1 a", false, ""},
      {"begin x a", false, ""},
      {"begin 644", false, ""},
      {"begin", false, ""},
      {" begin 644 a", false, ""},
      {"begin 644 ", true, ""},
      {"the begin 644 a", false, ""},
  };
  for (const auto& c : cases) {
    std::string name = "junk";
    EXPECT_EQ(TclMailMessage::IsUUBeginLine(c.line, name), c.begins) << c.line;
    EXPECT_EQ(name, c.fileName) << c.line;
  }
  for (const char* end : {"end", "END", " end\t", "End"})
    EXPECT_TRUE(TclMailMessage::IsUUEndLine(end)) << end;
  for (const char* notEnd : {"ending", "the end", "", "en d"})
    EXPECT_FALSE(TclMailMessage::IsUUEndLine(notEnd)) << notEnd;
}

TEST_F(BodySplit, BlankSingleBodyIsDropped) {
  Load("Subject: x\n\n \n\t\n\n");
  EXPECT_EQ(msg_.Bodies().Count(), 0);
  Load("Subject: x\n\n");
  EXPECT_EQ(msg_.Bodies().Count(), 0);
  Load("Content-Type: application/pdf\n\n");
  EXPECT_EQ(Classes(), (Strings{"TclAttachmentBody"}));  // only text parts are dropped
}

}  // namespace
}  // namespace qv

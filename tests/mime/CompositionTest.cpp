// Composition: the message's "Content-Type" field and the body lines of its parts, pinned line by
// line with a fixed clock and a fixed random source; then composed messages parsed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "MimeTestUtil.h"
#include "base/Errors.h"
#include "base/StringUtils.h"
#include "codec/clUtils.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Items;
using test::TestNow;
using Strings = std::vector<std::string>;

// TestNow() as the boundary and content identifiers write it, with the random number 7.
constexpr const char* kBoundary = "----=_NextPart_46082.5.7";

// Hands attachments their content by file name; a name without content is not handled.
struct SourceFiles {
  std::map<std::string, std::string> content;
  std::vector<std::string> asked;
  void Attach(TclMailMessage& m) {
    m.OnGetDataSourceStream = [this](TclMailMessage&, TclMessageBody&, const std::string& name,
                                     std::unique_ptr<TStream>& data, bool& handled) {
      asked.push_back(name);
      auto it = content.find(name);
      if (it == content.end()) return;
      data = std::make_unique<TMemoryStream>(it->second);
      handled = true;
    };
  }
};

class Composition : public ::testing::Test {
 protected:
  Composition() {
    msg_.SetRandomSource([this](int range) {
      ranges_.push_back(range);
      return 7;
    });
    files_.Attach(msg_);
  }

  Strings ContentType() {
    TStringList lines;
    msg_.BuildContentType(lines);
    return Items(lines);
  }
  Strings Bodies() {
    TStringList lines;
    msg_.BuildBodies(lines);
    return Items(lines);
  }
  TclTextBody& Text(std::initializer_list<const char*> lines, TclEncodeMethod enc = cmNone) {
    auto& t = msg_.Bodies().Add<TclTextBody>();
    for (const char* l : lines)
      t.Strings().Add(l);
    t.SetEncoding(enc);
    return t;
  }

  FixedClock clock_{TestNow()};
  TclMailMessage msg_{nullptr, clock_};
  std::vector<int> ranges_;
  SourceFiles files_;
};

TEST_F(Composition, SingleTextBodyHasNoBoundaryLinesAndNoPartHeader) {
  Text({"Hello", "World"}, cmMIMEBase64);
  msg_.SetEncoding(cmMIMEQuotedPrintable);  // a single body is encoded with the message's method
  EXPECT_EQ(ContentType(), (Strings{"Content-Type: text/plain;", "\tcharset=\"iso-8859-1\""}));
  EXPECT_EQ(Bodies(), (Strings{"Hello", "World"}));
  // The boundary is made all the same, from the clock and a number below 1000.
  EXPECT_EQ(msg_.Boundary(), kBoundary);
  EXPECT_EQ(ranges_, (std::vector<int>{1000}));

  msg_.SetCharSet("");
  msg_.SetContentType("  ");
  EXPECT_EQ(ContentType(), (Strings{"Content-Type: text/plain"}));
  msg_.SetContentType(" text/html ");
  EXPECT_EQ(ContentType(), (Strings{"Content-Type: text/html"}));
}

TEST_F(Composition, TwoTextBodiesAreFramedByBoundaryLines) {
  msg_.SetContentType("multipart/mixed");
  Text({"one"});
  auto& second = Text({"caf\xE9", "two"}, cmMIMEQuotedPrintable);
  second.SetCharSet("");
  second.ExtraFields().Add("X-Note: kept");
  // The header, written first, makes the boundary that the bodies then use.
  const Strings header{"Content-Type: multipart/mixed;",
                       "\tboundary=\"" + std::string(kBoundary) + "\""};
  EXPECT_EQ(ContentType(), header);
  const Strings expected{"--" + std::string(kBoundary),
                         "Content-Type: text/plain;",
                         "\tcharset=\"iso-8859-1\"",
                         "Content-Transfer-Encoding: 7bit",
                         "",
                         "one",
                         "",
                         "--" + std::string(kBoundary),
                         "Content-Transfer-Encoding: quoted-printable",
                         "X-Note: kept",
                         "",
                         "caf=E9",
                         "two",
                         "",
                         "--" + std::string(kBoundary) + "--"};
  EXPECT_EQ(Bodies(), expected);
  // Once made, the boundary stays.
  EXPECT_EQ(ContentType(), header);
  EXPECT_EQ(Bodies(), expected);
  EXPECT_EQ(ranges_.size(), 1u);
}

TEST_F(Composition, MultipartContentTypeWithSubTypeAndDefault) {
  Text({"a"});
  Text({"b"});
  msg_.SetBoundary("B");
  msg_.SetContentType("");
  EXPECT_EQ(ContentType(), (Strings{"Content-Type: multipart/mixed;", "\tboundary=\"B\""}));
  msg_.SetContentType(" multipart/related ");
  msg_.SetContentSubType("text/html");
  EXPECT_EQ(ContentType(), (Strings{"Content-Type: multipart/related;", "\ttype=\"text/html\";",
                                    "\tboundary=\"B\""}));
  msg_.SetMessageFormat(mfUUencode);
  EXPECT_EQ(ContentType(), Strings{});
}

TEST_F(Composition, TransferEncodingNamesFollowTheEffectiveMethod) {
  msg_.SetBoundary("B");
  Text({"x"});
  auto& t = Text({"x"});
  const struct {
    TclEncodeMethod method;
    Strings header;
  } cases[] = {
      {cmNone, {"Content-Transfer-Encoding: 7bit"}},
      {cmMIMEQuotedPrintable, {"Content-Transfer-Encoding: quoted-printable"}},
      {cmMIMEBase64, {"Content-Transfer-Encoding: base64"}},
      {cmUUEncode, {}},
      {cm8Bit, {"Content-Transfer-Encoding: 8bit"}},
  };
  for (const auto& c : cases) {
    t.SetEncoding(c.method);
    TStringList lines;
    t.BuildBodyHeader(lines);
    Strings expected{"Content-Type: text/plain;", "\tcharset=\"iso-8859-1\""};
    expected.insert(expected.end(), c.header.begin(), c.header.end());
    EXPECT_EQ(Items(lines), expected) << c.method;
  }
  // An attachment in a uuencoded message is always uuencoded.
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetEncoding(cmMIMEBase64);
  msg_.SetMessageFormat(mfUUencode);
  EXPECT_EQ(a.GetEncoding(), cmUUEncode);
  TStringList lines;
  a.BuildBodyHeader(lines);
  EXPECT_EQ(Items(lines),
            (Strings{"Content-Type: application/octet-stream", "Content-Disposition: attachment"}));
}

TEST_F(Composition, TextBodyWithoutCharSetIsTranslatedWithTheMessageCharSet) {
  msg_.SetCharSet("ISO-8859-2");
  msg_.SetBoundary("B");
  auto& own = Text({"\xA5"});
  own.SetCharSet("iso-8859-1");
  auto& inherited = Text({"\xA5"});
  inherited.SetCharSet("");
  EXPECT_EQ(Bodies(), (Strings{"--B", "Content-Type: text/plain;", "\tcharset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: 7bit", "", "\xA5", "", "--B",
                               "Content-Transfer-Encoding: 7bit", "", "\xA1", "", "--B--"}));
  // No "Content-Type" either when the part's type is empty.
  own.SetContentType("");
  TStringList lines;
  own.BuildBodyHeader(lines);
  EXPECT_EQ(Items(lines), (Strings{"Content-Transfer-Encoding: 7bit"}));
}

TEST_F(Composition, AttachmentHeaders) {
  msg_.SetBoundary("B");
  Text({"x"});
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  const auto header = [&a] {
    TStringList lines;
    a.BuildBodyHeader(lines);
    return Items(lines);
  };
  a.SetEncoding(cmMIMEBase64);
  // Without a file name and a disposition: plain values, "attachment" by default.
  EXPECT_EQ(header(),
            (Strings{"Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64",
                     "Content-Disposition: attachment"}));
  a.SetFileName("C:\\docs\\report.pdf");
  a.SetContentType("application/pdf");
  a.SetContentDisposition("inline");
  a.SetContentID("part1@here");
  a.ExtraFields().Add("Content-Description: the report");
  EXPECT_EQ(header(), (Strings{"Content-Type: application/pdf;", "\tname=\"report.pdf\"",
                               "Content-Transfer-Encoding: base64", "Content-Disposition: inline;",
                               "\tfilename=\"report.pdf\"", "Content-ID: <part1@here>",
                               "Content-Description: the report"}));
  // An empty type writes no "Content-Type"; a name outside ASCII is an encoded word.
  a.SetContentType("");
  a.SetContentDisposition("");
  a.SetContentID("");
  a.ExtraFields().Clear();
  a.SetFileName("/tmp/r\xE9sum\xE9.txt");
  EXPECT_EQ(header(),
            (Strings{"Content-Transfer-Encoding: base64", "Content-Disposition: attachment;",
                     "\tfilename=\"=?iso-8859-1?Q?r=E9sum=E9.txt?=\""}));
}

TEST_F(Composition, ImagePartHasContentIdAndNoDisposition) {
  msg_.SetBoundary("B");
  Text({"x"});
  auto& img = msg_.Bodies().Add<TclImageBody>();
  img.SetFileName("pics/logo.png");
  EXPECT_EQ(img.ContentID(), "logo.png@46082.5.7");
  EXPECT_EQ(img.ContentType(), "image/png");
  img.SetContentDisposition("attachment");
  TStringList lines;
  img.BuildBodyHeader(lines);
  EXPECT_EQ(Items(lines),
            (Strings{"Content-Type: image/png;", "\tname=\"logo.png\"",
                     "Content-Transfer-Encoding: base64", "Content-ID: <logo.png@46082.5.7>"}));
  // Without a type, no "Content-Type" line.
  img.SetContentType("");
  lines.Clear();
  img.BuildBodyHeader(lines);
  EXPECT_EQ(Items(lines),
            (Strings{"Content-Transfer-Encoding: base64", "Content-ID: <logo.png@46082.5.7>"}));
}

TEST_F(Composition, ContentIdentifierNamesTheFileWithoutItsFolder) {
  EXPECT_EQ(msg_.GenerateContentID("a.gif"), "a.gif@46082.5.7");
  FixedClock early(EncodeDateTime(2000, 1, 2, 6, 0, 0));
  TclMailMessage other(nullptr, early);
  other.SetRandomSource([](int range) { return range - 1; });
  EXPECT_EQ(other.GenerateContentID("b"), "b@36527.25.999");
  other.GenerateBoundary();
  EXPECT_EQ(other.Boundary(), "----=_NextPart_36527.25.999");
}

TEST_F(Composition, NestedMultipartWithOnePartHasTwoEmptyLinesAndNoInnerBoundaries) {
  msg_.SetContentType("multipart/mixed");
  msg_.SetBoundary("OUTER");
  Text({"top"});
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  multi.SetContentType("multipart/alternative");
  multi.SetContentSubType("text/plain");
  multi.ExtraFields().Add("X-Level: 2");
  auto& inner = multi.Bodies().Add<TclTextBody>();
  inner.Strings().Add("nested");
  inner.SetEncoding(cmMIMEBase64);  // a single inner part takes the inner message's method
  EXPECT_EQ(Bodies(), (Strings{"--OUTER", "Content-Type: text/plain;", "\tcharset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: 7bit", "", "top", "", "--OUTER",
                               "Content-Type: multipart/alternative;", "\ttype=\"text/plain\";",
                               "\tboundary=\"" + std::string(kBoundary) + "\"", "X-Level: 2", "",
                               "", "nested", "", "--OUTER--"}));
  EXPECT_EQ(multi.InnerMessage().Boundary(), kBoundary);
}

TEST_F(Composition, NestedMultipartWithTwoPartsFramesThemWithItsOwnBoundary) {
  msg_.SetBoundary("OUTER");
  Text({"top"});
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  auto& a = multi.Bodies().Add<TclTextBody>();
  a.Strings().Add("plain");
  auto& b = multi.Bodies().Add<TclTextBody>();
  b.SetContentType("text/html");
  b.Strings().Add("<b>html</b>");
  b.SetEncoding(cmMIMEBase64);
  const std::string inner = "--" + std::string(kBoundary);
  EXPECT_EQ(Bodies(), (Strings{"--OUTER",
                               "Content-Type: text/plain;",
                               "\tcharset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: 7bit",
                               "",
                               "top",
                               "",
                               "--OUTER",
                               "Content-Type: multipart/mixed;",
                               "\tboundary=\"" + std::string(kBoundary) + "\"",
                               "",
                               "",
                               inner,
                               "Content-Type: text/plain;",
                               "\tcharset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: 7bit",
                               "",
                               "plain",
                               "",
                               inner,
                               "Content-Type: text/html;",
                               "\tcharset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: base64",
                               "",
                               "PGI+aHRtbDwvYj4=",
                               "",
                               inner + "--",
                               "",
                               "--OUTER--"}));
}

// Regression: a part's lines are split wherever they contain a delimiter, so a nested boundary
// that contained the enclosing one ("...5.12" holds "...5.1") cut the nested parts apart.
TEST_F(Composition, NestedBoundaryNeverContainsAnEnclosingOne) {
  std::vector<int> draws{1, 12, 1, 5};
  std::size_t next = 0;
  msg_.SetRandomSource([&](int) { return draws.at(next++); });
  msg_.SetContentType("multipart/mixed");
  Text({"top"});
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  multi.Bodies().Add<TclTextBody>().Strings().Add("one");
  multi.Bodies().Add<TclTextBody>().Strings().Add("two");
  TStringList lines;
  lines.Add("MIME-Version: 1.0");
  msg_.BuildContentType(lines);
  lines.Add("");
  msg_.BuildBodies(lines);
  EXPECT_EQ(msg_.Boundary(), "----=_NextPart_46082.5.1");
  EXPECT_EQ(multi.InnerMessage().Boundary(), "----=_NextPart_46082.5.5");

  TclMailMessage back(nullptr, clock_);
  back.LoadMessage(lines);
  ASSERT_EQ(back.Bodies().Count(), 2);
  auto& m = dynamic_cast<TclMultipartBody&>(back.Bodies().Items(1));
  ASSERT_EQ(m.Bodies().Count(), 2);
  EXPECT_EQ(Items(dynamic_cast<TclTextBody&>(m.Bodies().Items(1)).Strings()), Strings{"two"});
}

// Regression: the only body of a message gets no part header, and the nested parts used to be
// taken from whatever the inner message last held: nothing for a new part.
TEST_F(Composition, MultipartAsTheOnlyBodyWritesItsCurrentParts) {
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  multi.Bodies().Add<TclTextBody>().Strings().Add("one");
  multi.Bodies().Add<TclTextBody>().Strings().Add("two");
  const std::string inner = "--" + std::string(kBoundary);
  const Strings expected{inner,
                         "Content-Type: text/plain;",
                         "\tcharset=\"iso-8859-1\"",
                         "Content-Transfer-Encoding: 7bit",
                         "",
                         "one",
                         "",
                         inner,
                         "Content-Type: text/plain;",
                         "\tcharset=\"iso-8859-1\"",
                         "Content-Transfer-Encoding: 7bit",
                         "",
                         "two",
                         "",
                         inner + "--"};
  EXPECT_EQ(Bodies(), expected);
  // A change of the parts shows in the next composition.
  dynamic_cast<TclTextBody&>(multi.Bodies().Items(1)).Strings().SetText("changed");
  Strings changed = expected;
  changed[12] = "changed";
  EXPECT_EQ(Bodies(), changed);
}

// Nested attachments ask the message's handler for their content.
TEST_F(Composition, NestedAttachmentContentComesFromTheMessageHandler) {
  msg_.SetBoundary("OUTER");
  Text({"top"});
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  multi.Bodies().Add<TclTextBody>().Strings().Add("see file");
  auto& a = multi.Bodies().Add<TclAttachmentBody>();
  a.SetFileName("inner.txt");
  a.SetEncoding(cmMIMEBase64);
  files_.content["inner.txt"] = "abc";
  const Strings lines = Bodies();
  EXPECT_EQ(files_.asked, (Strings{"inner.txt"}));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "YWJj"), lines.end());
}

TEST_F(Composition, UuencodedMessageFramesAttachmentsWithBeginAndEnd) {
  msg_.SetMessageFormat(mfUUencode);
  Text({"see attached"});
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetFileName("C:\\files\\cat.txt");
  files_.content["C:\\files\\cat.txt"] = "Cat";
  EXPECT_EQ(ContentType(), Strings{});
  EXPECT_EQ(Bodies(), (Strings{"see attached", "", "begin 600 cat.txt", "#0V%T", "`", "end", ""}));
  EXPECT_EQ(files_.asked, (Strings{"C:\\files\\cat.txt"}));
}

TEST_F(Composition, AttachmentContentComesFromTheHandlerOrTheFile) {
  msg_.SetBoundary("B");
  Text({"x"});
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetEncoding(cmMIMEBase64);
  a.SetFileName("data.bin");
  files_.content["data.bin"] = std::string("\x00\x01\xFF", 3);
  std::unique_ptr<TMemoryStream> encoded = a.GetEncodedData();
  EXPECT_EQ(encoded->DataString(), "AAH/");
  EXPECT_EQ(encoded->Position(), 0);

  // Handled without data: an empty content.
  msg_.OnGetDataSourceStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                                  std::unique_ptr<TStream>&, bool& handled) { handled = true; };
  EXPECT_EQ(a.GetEncodedData()->DataString(), "");

  // Data given but not handled: the data are dropped and the file is read.
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string path = (dir / "qv_comp6_attachment.bin").string();
  {
    TFileStream f(path, FileMode::Create);
    f.WriteBuffer("file", 4);
  }
  a.SetFileName(path);
  EXPECT_EQ(a.Encoding(), cmNone);  // chosen for the file's content
  a.SetEncoding(cmMIMEBase64);
  msg_.OnGetDataSourceStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                                  std::unique_ptr<TStream>& data,
                                  bool&) { data = std::make_unique<TMemoryStream>("handler"); };
  EXPECT_EQ(a.GetEncodedData()->DataString(), "ZmlsZQ==");
  std::filesystem::remove(path);
}

TEST_F(Composition, MissingAttachmentFileRaisesTheFileError) {
  msg_.SetBoundary("B");
  Text({"x"});
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetFileName("/nonexistent/qv/none.bin");
  TStringList lines;
  try {
    msg_.BuildBodies(lines);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(StartsText("Cannot open file \"/nonexistent/qv/none.bin\".", e.what())) << e.what();
  }
  // Nothing else stops a file error either: no handler at all.
  msg_.OnGetDataSourceStream = nullptr;
  EXPECT_THROW(a.GetEncodedData(), EFOpenError);
}

TEST_F(Composition, EncodingProgressCarriesThePartIndex) {
  msg_.SetBoundary("B");
  Text({"first"});
  Text({"second"}, cmMIMEBase64);
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetFileName("a");
  files_.content["a"] = std::string(100, 'z');
  a.SetEncoding(cmMIMEBase64);
  std::vector<std::vector<int>> events;
  msg_.OnEncodingProgress = [&](TclMailMessage& sender, int no, int done, int total) {
    EXPECT_EQ(&sender, &msg_);
    events.push_back({no, done, total});
  };
  Bodies();
  EXPECT_EQ(events, (std::vector<std::vector<int>>{
                        {0, 0, 5}, {0, 5, 5}, {1, 0, 6}, {1, 6, 6}, {2, 0, 100}, {2, 100, 100}}));
  // After a part is removed, the index is the part's new position.
  msg_.Bodies().Delete(0);
  events.clear();
  Bodies();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()[0], 0);
  EXPECT_EQ(events.back()[0], 1);
}

// --- compose, then parse back ----------------------------------------------------------------

// A message header, the message's "Content-Type" and its body lines.
TStringList ComposeMessage(TclMailMessage& m) {
  TStringList lines;
  lines.Add("From: a@example.com");
  lines.Add("Subject: round trip");
  if (m.MessageFormat() != mfUUencode) lines.Add("MIME-Version: 1.0");
  m.BuildContentType(lines);
  lines.Add("");
  m.BuildBodies(lines);
  return lines;
}

struct Captured {
  std::string fileName;
  std::string data;
};

class RoundTrip : public ::testing::TestWithParam<TclEncodeMethod> {
 protected:
  RoundTrip() {
    // Numbers of equal length: no boundary can contain another.
    src_.SetRandomSource([this](int) { return next_++; });
    files_.Attach(src_);
    dst_.OnGetDataStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                              std::unique_ptr<TStream>& data, bool& handled) {
      data = std::make_unique<TMemoryStream>();
      handled = true;
    };
    dst_.OnDataAdded = [this](TclMailMessage&, TclMessageBody& body, TStream& data) {
      if (auto* a = dynamic_cast<TclAttachmentBody*>(&body))
        captured_.push_back({a->FileName(), data.ReadRest()});
    };
  }

  // Attachment content that survives the method: any bytes under Base64 and uuencode, text lines
  // ending in a line break otherwise (the lines of a part end where its boundary line begins).
  static std::string Content(TclEncodeMethod method, char seed) {
    std::string s;
    if (method == cmMIMEBase64 || method == cmUUEncode) {
      for (int i = 0; i < 300; ++i)
        s += static_cast<char>((i * 7 + seed) & 0xFF);
      return s;
    }
    s = std::string("line one ") + seed + "\r\nsecond line\r\n";
    if (method != cmNone) s += "caf\xE9 = 100%\r\n";
    return s;
  }

  FixedClock clock_{TestNow()};
  TclMailMessage src_{nullptr, clock_};
  TclMailMessage dst_{nullptr, clock_};
  SourceFiles files_;
  std::vector<Captured> captured_;
  int next_ = 100;
};

TEST_P(RoundTrip, MimeMessageParsesBackIntoTheSameParts) {
  const TclEncodeMethod method = GetParam();
  src_.SetContentType("multipart/mixed");
  const std::string accented = method == cmNone ? "plain text" : "na\xEFve caf\xE9";

  auto& text = src_.Bodies().Add<TclTextBody>();
  text.Strings().SetText("Hello,\r\n" + accented + "\r\n\r\n-- \r\nsig");
  text.SetEncoding(method);

  auto& att = src_.Bodies().Add<TclAttachmentBody>();
  att.SetFileName("C:\\out\\report.pdf");
  att.SetContentType("application/pdf");
  att.SetEncoding(method);
  files_.content["C:\\out\\report.pdf"] = Content(method, 'a');

  auto& img = src_.Bodies().Add<TclImageBody>();
  img.SetFileName("logo.gif");
  img.SetEncoding(method == cmNone ? cmMIMEBase64 : method);
  files_.content["logo.gif"] = Content(img.Encoding(), 'g');

  auto& multi = src_.Bodies().Add<TclMultipartBody>();
  multi.SetContentType("multipart/alternative");
  auto& plain = multi.Bodies().Add<TclTextBody>();
  plain.Strings().SetText("inner " + accented);
  plain.SetCharSet("ISO-8859-2");
  plain.SetEncoding(method);
  auto& html = multi.Bodies().Add<TclTextBody>();
  html.SetContentType("text/html");
  html.Strings().SetText("<p>" + accented + "</p>");
  html.SetEncoding(method);

  const TStringList composed = ComposeMessage(src_);
  dst_.LoadMessage(composed);
  SCOPED_TRACE(composed.Text());

  // "8bit" is written but read back as no encoding; the others read back as written.
  const TclEncodeMethod parsed = method == cm8Bit ? cmNone : method;
  EXPECT_EQ(dst_.MessageFormat(), mfMIME);
  EXPECT_EQ(dst_.ContentType(), "multipart/mixed");
  EXPECT_EQ(dst_.Boundary(), src_.Boundary());
  ASSERT_EQ(dst_.Bodies().Count(), 4);

  auto& t = dynamic_cast<TclTextBody&>(dst_.Bodies().Items(0));
  EXPECT_EQ(Items(t.Strings()), Items(text.Strings()));
  EXPECT_EQ(t.CharSet(), "iso-8859-1");
  EXPECT_EQ(t.ContentType(), "text/plain");
  EXPECT_EQ(t.Encoding(), parsed);

  auto* a = dynamic_cast<TclAttachmentBody*>(&dst_.Bodies().Items(1));
  ASSERT_TRUE(a != nullptr && a->BodyClass().name == std::string("TclAttachmentBody"));
  EXPECT_EQ(a->FileName(), "report.pdf");
  EXPECT_EQ(a->ContentType(), "application/pdf");
  EXPECT_EQ(a->ContentDisposition(), "attachment");
  EXPECT_EQ(a->Encoding(), parsed);

  auto* i = dynamic_cast<TclImageBody*>(&dst_.Bodies().Items(2));
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->FileName(), "logo.gif");
  EXPECT_EQ(i->ContentType(), "image/gif");
  EXPECT_EQ(i->ContentID(), "logo.gif@46082.5.100");
  EXPECT_EQ(i->ContentDisposition(), "");

  auto* m = dynamic_cast<TclMultipartBody*>(&dst_.Bodies().Items(3));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->ContentType(), "multipart/alternative");
  EXPECT_EQ(m->Boundary(), multi.InnerMessage().Boundary());
  ASSERT_EQ(m->Bodies().Count(), 2);
  auto& p = dynamic_cast<TclTextBody&>(m->Bodies().Items(0));
  EXPECT_EQ(Items(p.Strings()), Items(plain.Strings()));
  EXPECT_EQ(p.CharSet(), "ISO-8859-2");
  EXPECT_EQ(p.Encoding(), parsed);
  auto& h = dynamic_cast<TclTextBody&>(m->Bodies().Items(1));
  EXPECT_EQ(h.ContentType(), "text/html");
  EXPECT_EQ(Items(h.Strings()), Items(html.Strings()));

  // Attachment content comes back byte for byte.
  ASSERT_EQ(captured_.size(), 2u);
  EXPECT_EQ(captured_[0].fileName, "report.pdf");
  EXPECT_EQ(captured_[0].data, files_.content["C:\\out\\report.pdf"]);
  EXPECT_EQ(captured_[1].fileName, "logo.gif");
  EXPECT_EQ(captured_[1].data, files_.content["logo.gif"]);
}

INSTANTIATE_TEST_SUITE_P(EachTransferEncoding, RoundTrip,
                         ::testing::Values(cmNone, cmMIMEQuotedPrintable, cmMIMEBase64, cm8Bit),
                         [](const auto& info) {
                           return std::string(
                               kEncodeMethodInfo.names[static_cast<std::size_t>(info.param)]);
                         });

TEST_F(Composition, UuencodedMessageParsesBackIntoTextAndAttachments) {
  msg_.SetMessageFormat(mfUUencode);
  Text({"Here are the files:", "", "two of them"});
  auto& a = msg_.Bodies().Add<TclAttachmentBody>();
  a.SetFileName("C:\\x\\one.bin");
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes += static_cast<char>(i);
  files_.content["C:\\x\\one.bin"] = bytes;
  // An image is framed like any attachment and comes back as one.
  auto& img = msg_.Bodies().Add<TclImageBody>();
  img.SetFileName("pic.jpg");
  files_.content["pic.jpg"] = "JFIF";

  const TStringList composed = ComposeMessage(msg_);
  SCOPED_TRACE(composed.Text());
  FixedClock clock{TestNow()};
  TclMailMessage back(nullptr, clock);
  std::vector<Captured> captured;
  back.OnGetDataStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                            std::unique_ptr<TStream>& data, bool& handled) {
    data = std::make_unique<TMemoryStream>();
    handled = true;
  };
  back.OnDataAdded = [&](TclMailMessage&, TclMessageBody& body, TStream& data) {
    if (auto* att = dynamic_cast<TclAttachmentBody*>(&body))
      captured.push_back({att->FileName(), data.ReadRest()});
  };
  back.LoadMessage(composed);
  EXPECT_EQ(back.MessageFormat(), mfUUencode);
  ASSERT_EQ(back.Bodies().Count(), 3);
  auto& t = dynamic_cast<TclTextBody&>(back.Bodies().Items(0));
  EXPECT_EQ(Items(t.Strings()), (Strings{"Here are the files:", "", "two of them"}));
  for (int k = 1; k < 3; ++k)
    EXPECT_EQ(back.Bodies().Items(k).BodyClass().name, std::string("TclAttachmentBody"));
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0].fileName, "one.bin");
  EXPECT_EQ(captured[0].data, bytes);
  EXPECT_EQ(captured[1].fileName, "pic.jpg");
  EXPECT_EQ(captured[1].data, "JFIF");
}

}  // namespace
}  // namespace qv

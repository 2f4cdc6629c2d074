// Body parts: their fields from the part header, the decoding and handing over of content, copying,
// the collection and the class registry.
#include <gtest/gtest.h>

#include "MimeTestUtil.h"
#include "base/Errors.h"
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Items;
using test::Lines;
using test::TestNow;
using Strings = std::vector<std::string>;

class BodyParts : public ::testing::Test {
 protected:
  // Loads a multipart message with the given part (header lines, blank line, content).
  TclMessageBody& LoadPart(const std::string& part) {
    msg_.LoadMessage(
        Lines("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=XX\n\n--XX\n" + part +
              "\n--XX--\n"));
    if (msg_.Bodies().Count() != 1) throw std::runtime_error("expected one part");
    return msg_.Bodies().Items(0);
  }
  TclAttachmentBody& Attachment(const std::string& part) {
    return dynamic_cast<TclAttachmentBody&>(LoadPart(part));
  }

  FixedClock clock_{TestNow()};
  TclMailMessage msg_{nullptr, clock_};
};

TEST_F(BodyParts, AttachmentFileNameRulesInOrder) {
  const struct {
    const char* header;
    const char* expected;
  } cases[] = {
      {"Content-Type: application/pdf; name=n.pdf\n"
       "Content-Disposition: attachment; filename=\"d.pdf\"\nContent-Description: desc\n",
       "d.pdf"},
      {"Content-Type: application/pdf; filename=t.pdf; name=n.pdf\n"
       "Content-Description: desc\n",
       "t.pdf"},
      {"Content-Type: application/pdf; name=n.pdf\nContent-Description: readme\n", "readme.dat"},
      {"Content-Type: application/pdf\nContent-Description: notes.txt\n", "notes.txt"},
      {"Content-Type: application/pdf\nContent-Description: file.jpeg\n", "file.jpeg.dat"},
      {"Content-Type: application/pdf\nContent-Description: abc\n", "abc"},
      {"Content-Type: application/pdf\nContent-Description: ab.c\n", "ab.c.dat"},
      {"Content-Type: application/pdf; name=\"n.pdf\"\n", "n.pdf"},
      {"Content-Type: application/pdf; name=\"=?iso-8859-1?Q?r=E9sum=E9.pdf?=\"\n",
       "r\xE9sum\xE9.pdf"},
      {"Content-Type: application/pdf\n", ""},
      {"Content-Type: text/plain\nContent-Disposition: attachment; FILENAME=up.txt\n", "up.txt"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Attachment(std::string(c.header) + "\ndata").FileName(), c.expected) << c.header;
}

TEST_F(BodyParts, EmbeddedMessageIsNamedByItsSubject) {
  auto& att = Attachment(
      "Content-Type: message/rfc822\n\n"
      "From: a@x\nSubject: =?iso-8859-1?Q?Re=3A?= hello\n\nembedded body");
  EXPECT_EQ(att.FileName(), "=?iso-8859-1?Q?Re=3A?= hello");  // not decoded
  EXPECT_EQ(Attachment("Content-Type: message/rfc822; name=m.eml\n\nSubject: s\n\nb").FileName(),
            "m.eml");
  // A single-part message has no embedded header where the rule looks.
  msg_.LoadMessage(Lines("Content-Type: message/rfc822\n\nSubject: inner\n\nbody\n"));
  EXPECT_EQ(dynamic_cast<TclAttachmentBody&>(msg_.Bodies().Items(0)).FileName(), "");
}

TEST_F(BodyParts, ContentIdLosesItsAngleBrackets) {
  const struct {
    const char* id;
    const char* expected;
  } cases[] = {{"<abc@x>", "abc@x"}, {"abc@x", "abc@x"}, {"<<abc>>", "<abc>"},
               {"<abc", "abc"},      {"abc>", "abc"},    {"<>", ""}};
  for (const auto& c : cases) {
    const std::string header = std::string("Content-Type: application/pdf\nContent-ID: ") + c.id;
    EXPECT_EQ(Attachment(header + "\n\ndata").ContentID(), c.expected) << c.id;
    auto& image = dynamic_cast<TclImageBody&>(
        LoadPart("Content-Type: image/gif\nContent-ID: " + std::string(c.id) + "\n\ndata"));
    EXPECT_EQ(image.ContentID(), c.expected) << c.id;
  }
}

TEST_F(BodyParts, ImageTakesItsNameOnlyFromTheType) {
  auto& withName = dynamic_cast<TclImageBody&>(
      LoadPart("Content-Type: image/png; name=\"a.png\"\nContent-Disposition: inline; "
               "filename=b.png\n\ndata"));
  EXPECT_EQ(withName.FileName(), "a.png");
  EXPECT_EQ(withName.ContentType(), "image/png");
  EXPECT_EQ(withName.ContentID(), "");

  auto& dispositionOnly = dynamic_cast<TclImageBody&>(
      LoadPart("Content-Type: image/png\nContent-Disposition: attachment; filename=b.png\n\ndata"));
  EXPECT_EQ(dispositionOnly.FileName(), "");
  EXPECT_EQ(dispositionOnly.ContentType(), "image/png");
}

TEST_F(BodyParts, ImageNamedOutsideAParseGetsIdAndType) {
  msg_.SetRandomSource([](int range) { return range > 7 ? 7 : 0; });
  auto& image = msg_.Bodies().Add<TclImageBody>();
  EXPECT_EQ(image.ContentType(), "");
  EXPECT_EQ(image.Encoding(), cmMIMEBase64);
  image.SetFileName("no/such/dir/pic.gif");
  EXPECT_EQ(image.ContentID(), "pic.gif@46082.5.7");
  EXPECT_EQ(image.ContentType(), "image/gif");
}

TEST_F(BodyParts, FileExtension) {
  auto& image = msg_.Bodies().Add<TclImageBody>();
  const struct {
    const char* name;
    const char* ext;
  } cases[] = {
      {"a.png", "png"},  {"dir.x\\file", ""},      {"c:a", ""}, {"noext", ""}, {"a.b.jpeg", "jpeg"},
      {"trailing.", ""}, {"c:\\dir\\a.gif", "gif"}};
  for (const auto& c : cases) {
    image.SetFileName(c.name);
    EXPECT_EQ(image.GetFileExtension(), c.ext) << c.name;
  }
}

TEST_F(BodyParts, UndecodableContentArrivesRaw) {
  test::DataRecorder rec;
  rec.Attach(msg_);
  auto& att = Attachment(
      "Content-Type: application/octet-stream; name=bad.bin\n"
      "Content-Transfer-Encoding: base64\n\nQUJD\n*&^%$\n");
  EXPECT_EQ(att.FileName(), "bad.bin");
  EXPECT_EQ(rec.DataOf("bad.bin"), "QUJD\r\n*&^%$\r\n");  // the part's two lines and a blank one

  rec.entries.clear();
  auto& text = dynamic_cast<TclTextBody&>(
      LoadPart("Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\nno base64 here!"));
  EXPECT_EQ(Items(text.Strings()), (Strings{"no base64 here!"}));

  auto& good = Attachment(
      "Content-Type: application/octet-stream; name=good.bin\n"
      "Content-Transfer-Encoding: BASE64\n\nQUJD");
  EXPECT_EQ(good.Encoding(), cmMIMEBase64);
  EXPECT_EQ(rec.DataOf("good.bin"), "ABC");
}

TEST_F(BodyParts, AttachmentsWithoutHandlerGetNoData) {
  std::vector<std::string> added;
  msg_.OnDataAdded = [&added](TclMailMessage&, TclMessageBody& body, TStream& data) {
    added.push_back(body.ClassName() + ":" + data.ReadRest());
  };
  msg_.LoadMessage(
      Lines("Content-Type: multipart/mixed; boundary=XX\n\n"
            "--XX\n\ntext\n"
            "--XX\nContent-Type: application/pdf; name=a.pdf\n\nPDF\n"
            "--XX\nContent-Type: image/gif; name=i.gif\n\nGIF\n"
            "--XX--\n"));
  ASSERT_EQ(msg_.Bodies().Count(), 3);
  EXPECT_EQ(dynamic_cast<TclAttachmentBody&>(msg_.Bodies().Items(1)).FileName(), "a.pdf");
  EXPECT_EQ(added, (Strings{"TclTextBody:text"}));
}

TEST_F(BodyParts, HandlerStreamBelongsToTheBody) {
  // A handler may hand over any stream; the body frees it (checked by the leak sanitizer) and the
  // handler's Handled flag is not consulted.
  int asked = 0;
  msg_.OnGetDataStream = [&asked](TclMailMessage&, TclMessageBody&, const std::string& name,
                                  std::unique_ptr<TStream>& data, bool& handled) {
    ++asked;
    EXPECT_EQ(name, "a.pdf");
    EXPECT_FALSE(handled);
    data = std::make_unique<TMemoryStream>();
  };
  Attachment("Content-Type: application/pdf; name=a.pdf\n\nPDF");
  EXPECT_EQ(asked, 1);
}

TEST_F(BodyParts, TextOfASinglePartMessageUsesTheMessageCharSet) {
  auto& text = msg_.Bodies().Add<TclTextBody>();
  text.SetCharSet("iso-8859-1");
  msg_.SetCharSet("iso-8859-2");
  TMemoryStream data(std::string("\xA1\r\n"));
  text.AddData(data);
  EXPECT_EQ(Items(text.Strings()), (Strings{"\xA5"}));  // translated from iso-8859-2

  msg_.Bodies().Add<TclTextBody>();  // two parts: each part's own charset counts
  TMemoryStream again(std::string("\xA1"));
  text.AddData(again);
  EXPECT_EQ(Items(text.Strings()), (Strings{"\xA5", "\xA1"}));

  msg_.LoadMessage(Lines("Content-Type: text/plain; charset=ISO-8859-2\n\n\xA1\n"));
  EXPECT_EQ(Items(dynamic_cast<TclTextBody&>(msg_.Bodies().Items(0)).Strings()), (Strings{"\xA5"}));
}

TEST_F(BodyParts, EncodingInEffect) {
  msg_.SetEncoding(cmMIMEBase64);
  auto& text = msg_.Bodies().Add<TclTextBody>();
  text.SetEncoding(cmMIMEQuotedPrintable);
  EXPECT_EQ(text.GetEncoding(), cmMIMEBase64);  // one part: the message's
  auto& att = msg_.Bodies().Add<TclAttachmentBody>();
  EXPECT_EQ(text.GetEncoding(), cmMIMEQuotedPrintable);  // several parts: its own
  EXPECT_EQ(att.GetEncoding(), cmNone);
  msg_.SetMessageFormat(mfUUencode);
  EXPECT_EQ(att.GetEncoding(), cmUUEncode);
  EXPECT_EQ(text.GetEncoding(), cmMIMEQuotedPrintable);
}

TEST_F(BodyParts, ClearedBodiesAndTheirKnownFields) {
  auto& text = msg_.Bodies().Add<TclTextBody>();
  auto& att = msg_.Bodies().Add<TclAttachmentBody>();
  auto& image = msg_.Bodies().Add<TclImageBody>();
  auto& multi = msg_.Bodies().Add<TclMultipartBody>();
  EXPECT_EQ(text.ContentType(), "text/plain");
  EXPECT_EQ(text.CharSet(), "iso-8859-1");
  EXPECT_EQ(att.ContentType(), "application/octet-stream");
  EXPECT_EQ(image.ContentType(), "");
  EXPECT_EQ(image.Encoding(), cmMIMEBase64);
  EXPECT_EQ(multi.ContentType(), "multipart/mixed");
  EXPECT_EQ(multi.Encoding(), cmNone);
  const Strings base{"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"};
  Strings attached = base;
  attached.push_back("Content-Description");
  attached.push_back("Content-ID");
  EXPECT_EQ(Items(text.KnownFields()), base);
  EXPECT_EQ(Items(multi.KnownFields()), base);
  EXPECT_EQ(Items(att.KnownFields()), attached);
  EXPECT_EQ(Items(image.KnownFields()), attached);
  EXPECT_EQ(text.Index(), 0);
  EXPECT_EQ(multi.Index(), 3);
  multi.SetBoundary("bb");
  EXPECT_EQ(multi.InnerMessage().Boundary(), "bb");
}

TEST_F(BodyParts, BodyChangesNotifyTheMessage) {
  auto& text = msg_.Bodies().Add<TclTextBody>();
  int changes = 0;
  msg_.OnChanged = [&changes](TclMailMessage&) { ++changes; };
  text.SetContentType("text/html");
  text.SetContentType("text/html");  // unchanged: no notification
  text.Strings().Add("x");
  text.ExtraFields().Add("X-A: 1");
  text.SetCharSet("utf-8");
  EXPECT_EQ(changes, 4);
  msg_.Bodies().Delete(0);
  EXPECT_EQ(changes, 5);
}

TEST_F(BodyParts, CopyFromTakesTheFieldsOfItsOwnClass) {
  auto& src = dynamic_cast<TclTextBody&>(LoadPart(
      "Content-Type: text/html; charset=koi8-r\nContent-Transfer-Encoding: quoted-printable\n"
      "X-A: 1\n\nline"));
  FixedClock clock2{TestNow()};
  TclMailMessage other(nullptr, clock2);
  auto& copy = other.Bodies().Add<TclTextBody>();
  copy.CopyFrom(&src);
  EXPECT_EQ(copy.ContentType(), "text/html");
  EXPECT_EQ(copy.CharSet(), "koi8-r");
  EXPECT_EQ(Items(copy.Strings()), (Strings{"line"}));
  EXPECT_EQ(Items(copy.ExtraFields()), (Strings{"X-A: 1"}));
  EXPECT_EQ(Items(copy.RawHeader()), Items(src.RawHeader()));
  // The source's encoding in effect: its message holds one part now that parsing is over, so
  // the message's own encoding counts.
  EXPECT_EQ(copy.Encoding(), cmNone);

  // Across classes only the fields of the common base are copied.
  auto& att = other.Bodies().Add<TclAttachmentBody>();
  att.SetFileName("keep.bin");
  att.CopyFrom(&src);
  EXPECT_EQ(att.ContentType(), "text/html");
  EXPECT_EQ(att.FileName(), "keep.bin");
  auto& text = other.Bodies().Add<TclTextBody>();
  text.Strings().Add("mine");
  auto& fromAtt = other.Bodies().Add<TclAttachmentBody>();
  fromAtt.SetContentDisposition("attachment");
  text.CopyFrom(&fromAtt);
  EXPECT_EQ(text.ContentType(), "application/octet-stream");
  EXPECT_EQ(text.ContentDisposition(), "attachment");
  EXPECT_EQ(Items(text.Strings()), (Strings{"mine"}));
  EXPECT_EQ(text.CharSet(), "iso-8859-1");

  TclMessageBodies bodies(&other);
  try {
    text.CopyFrom(&bodies);
    FAIL() << "a collection was copied into a body";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TclMessageBodies to a TclTextBody");
  }
  try {
    text.CopyFrom(nullptr);
    FAIL() << "nothing was copied into a body";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a nil to a TclTextBody");
  }
}

TEST_F(BodyParts, CopiedCollectionsHoldDeepCopies) {
  msg_.LoadMessage(
      Lines("Content-Type: multipart/mixed; boundary=o\n\n"
            "--o\nContent-Type: multipart/alternative; boundary=i; type=t\n\n"
            "--i\n\none\n--i\nContent-Type: text/html\n\ntwo\n--i--\n"
            "--o\nContent-Type: image/gif; name=g.gif\nContent-ID: <g>\n\nR0lG\n--o--\n"));
  FixedClock clock2{TestNow()};
  TclMailMessage other(nullptr, clock2);
  other.SetBodies(msg_.Bodies());
  EXPECT_EQ(test::Summary(other.Bodies(), ""), test::Summary(msg_.Bodies(), ""));
  auto& multi = dynamic_cast<TclMultipartBody&>(other.Bodies().Items(0));
  EXPECT_EQ(multi.Boundary(), "i");
  EXPECT_EQ(&multi.Bodies().MailMessage(), &other);
  // The copy is independent of its source.
  msg_.Clear();
  EXPECT_EQ(multi.Bodies().Count(), 2);
  EXPECT_EQ(Items(dynamic_cast<TclTextBody&>(multi.Bodies().Items(1)).Strings()), (Strings{"two"}));

  try {
    other.Bodies().CopyFrom(&multi);
    FAIL() << "a body was copied into a collection";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TclMultipartBody to a TclMessageBodies");
  }
}

TEST_F(BodyParts, CollectionRangeAndOwnership) {
  msg_.Bodies().Add<TclTextBody>();
  try {
    msg_.Bodies().Items(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
  EXPECT_THROW(msg_.Bodies().Delete(-1), EListError);
  auto& second = msg_.Bodies().Add<TclAttachmentBody>();
  auto& third = msg_.Bodies().Add<TclImageBody>();
  EXPECT_EQ(third.Index(), 2);
  msg_.Bodies().Delete(0);
  EXPECT_EQ(second.Index(), 0);  // positions follow a deletion
  EXPECT_EQ(third.Index(), 1);
  msg_.Bodies().Delete(1);
  EXPECT_EQ(second.Index(), 0);
  EXPECT_EQ(msg_.Bodies().Count(), 1);
}

TEST(BodyClasses, MissingOwnerFailsTheAssertion) {
  try {
    TclMessageBodies bodies(nullptr);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Assertion failure");
  }
  for (const TclBodyClass* cls : BodyClassList()) {
    try {
      cls->create(nullptr);
      FAIL() << cls->name;
    } catch (const EAssertionFailed& e) {
      EXPECT_STREQ(e.what(), "Assertion failure") << cls->name;
    }
  }
}

TEST(BodyClasses, RegistryOrderAndLookup) {
  Strings names;
  for (const TclBodyClass* cls : BodyClassList())
    names.push_back(cls->name);
  ASSERT_GE(names.size(), 4u);
  names.resize(4);
  EXPECT_EQ(names,
            (Strings{"TclTextBody", "TclAttachmentBody", "TclMultipartBody", "TclImageBody"}));
  EXPECT_EQ(FindBodyClass("tclimagebody"), &TclImageBody::kClass);
  EXPECT_EQ(FindBodyClass("TclMultipartBody"), &TclMultipartBody::kClass);
  EXPECT_EQ(FindBodyClass("TclMessageBody"), nullptr);
  EXPECT_EQ(FindBodyClass(""), nullptr);

  FixedClock clock{TestNow()};
  TclMailMessage msg(nullptr, clock);
  for (const TclBodyClass* cls : BodyClassList()) {
    TclMessageBody& body = msg.Bodies().Add(*cls);
    EXPECT_EQ(body.ClassName(), cls->name);
    EXPECT_EQ(&body.BodyClass(), cls);
    EXPECT_TRUE(cls->isInstance(body));
  }
  EXPECT_TRUE(TclAttachmentBody::kClass.isInstance(msg.Bodies().Items(3)));  // an image is one
  EXPECT_FALSE(TclImageBody::kClass.isInstance(msg.Bodies().Items(1)));
}

}  // namespace
}  // namespace qv

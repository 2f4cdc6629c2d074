// LoadOutline against LoadMessage: the envelope, the content fields and the class of every part
// must come out the same, over generated mail of every kind and over the cases where the outline
// takes a shortcut (a message's own text part that may be blank, the walk over delimiter lines).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "MimeTestUtil.h"
#include "generator/StoreGenerator.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::OutlineSummary;
using test::TestNow;

// The lines of a message as the store scan gives them: split at LF, a CR before it dropped.
std::vector<std::string> StoreLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!last && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

class Outline : public ::testing::Test {
 protected:
  // Parses the message both ways, each time with the same two message objects, so that nothing
  // an earlier message left may change the result.
  void ExpectAsLoadMessage(std::string_view text) {
    const std::vector<std::string> lines = StoreLines(text);
    TStringList list;
    std::vector<std::string_view> views;
    for (const std::string& line : lines) {
      list.Add(line);
      views.push_back(line);
    }
    whole_.LoadMessage(list);
    outline_.LoadOutline(views);
    EXPECT_EQ(OutlineSummary(outline_), OutlineSummary(whole_)) << text;
    for (int i = 0; i < outline_.Bodies().Count(); ++i) {
      const auto* t = dynamic_cast<const TclTextBody*>(&outline_.Bodies().Items(i));
      EXPECT_TRUE(t == nullptr || t->Strings().Empty()) << "an outline keeps no text";
    }
  }

  FixedClock clock_{TestNow()};
  TclMailMessage whole_{nullptr, clock_};
  TclMailMessage outline_{nullptr, clock_};
};

TEST_F(Outline, AsLoadMessageOverGeneratedMail) {
  // Every kind of message the generator makes, with LF, CR LF and mixed line ends.
  gen::StoreOptions options;
  options.mix = gen::Mix::kVaried;
  options.lineEnds = gen::LineEnds::kMixed;
  options.count = 400;
  gen::StoreGenerator generator(options);
  std::string message;
  while (generator.Next(message)) {
    // Without its separator line, as the scan hands a message on.
    ExpectAsLoadMessage(std::string_view(message).substr(message.find('\n') + 1));
  }
}

// A message of one part with one uuencoded file: it has two parts, or one when its text part is
// blank. `header` ends with its empty line; `text` comes before the file.
std::string WithFile(std::string_view header, std::string_view text) {
  return std::string(header) + std::string(text) + "begin 644 a.bin\n#86)C\n`\nend\n";
}

TEST_F(Outline, TellsABlankTextPartAsLoadMessageDoes) {
  const std::string plain = "Subject: s\n\n";
  const std::string qp =
      "MIME-Version: 1.0\nContent-Type: text/plain\nContent-Transfer-Encoding: "
      "quoted-printable\n\n";
  const std::string b64 =
      "MIME-Version: 1.0\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\n";
  const std::string koi = "MIME-Version: 1.0\nContent-Type: text/plain; charset=koi8-r\n\n";
  const std::string noBoundary = "Content-Type: multipart/mixed; boundary=\"B\"\n\n";
  const std::vector<std::string> cases = {
      // As it stands: text is a byte above blank before any NUL.
      WithFile(plain, ""),
      WithFile(plain, "\n \t\n"),
      WithFile(plain, "text\n"),
      WithFile(plain, std::string("\0abc\n", 5)),
      WithFile(plain, "\x01\x1F\n"),
      WithFile(plain, "\xA0\n"),
      WithFile(plain, "a\rb\n"),
      WithFile(koi, "\xC1\xFF\n"),
      // Quoted-printable: escapes, soft breaks, NUL, broken escapes (taken as they stand).
      WithFile(qp, "=20\n"),
      WithFile(qp, "=41\n"),
      WithFile(qp, "=00abc\n"),
      WithFile(qp, "  =\n\t\n"),
      WithFile(qp, "\tabc\n"),
      WithFile(qp, "=4\n"),
      WithFile(qp, "= x\n"),
      WithFile(qp, "=3D\n"),
      WithFile(qp, std::string("\0=41\n", 5)),
      // Base64: blanks, NUL first, symbols outside the alphabet (taken as they stand).
      WithFile(b64, "ICAg\n"),
      WithFile(b64, "QUJD\n"),
      WithFile(b64, "AEFC\n"),
      WithFile(b64, "QU JD\n"),
      WithFile(b64, "ICAg\nQUJD\n"),
      WithFile(b64, "====\nQUJD\n"),
      WithFile(b64, "\nQUJD\nQU JD\n"),
      WithFile(b64, "QQ\n"),
      WithFile(b64, "IC\nQUJD\n"),
      WithFile(b64, "AA\nQUJD\n"),
      WithFile(b64, std::string("\0QUJD\n", 6)),
      // The first line that is not blank does not tell; a later one does.
      WithFile(plain, "\x01\nabc\n"),
      WithFile(qp, "=20\nabc\n"),
      WithFile(b64, "  \nQUJD\n"),
      // Text after the file, and text gathered across an "end" without a file.
      WithFile(plain, "\n") + "after\n",
      WithFile(plain, "\nend\n") + "\n",
      WithFile(plain, "x\nend\n"),
      // A file without "end": its lines are text of the message's own part.
      plain + "begin 644 a.bin\n#86)C\n",
      plain + "\n begin 644 a.bin\n",
      // Two files, the text blank or not; the message's own part an attachment.
      WithFile(plain, "\n") + "begin 600 b.bin\n#86)C\nend\n",
      WithFile("Content-Type: application/pdf\n\n", ""),
      // A multipart header without delimiter lines is split as one part.
      WithFile(noBoundary, "\n"),
      WithFile(noBoundary, "text\n"),
      noBoundary + "only\n",
      noBoundary + "  \n",
      // No empty line: no part at all.
      "Subject: s\nbegin 644 a.bin\n",
  };
  for (const std::string& text : cases)
    ExpectAsLoadMessage(text);
}

TEST_F(Outline, FindsThePartsOfAMultipartAsLoadMessageDoes) {
  const std::string head = "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"B\"\n\n";
  const std::vector<std::string> cases = {
      head +
          "preamble\n--B\nContent-Type: text/plain\n\ntext\n--B\nContent-Type: image/png\n"
          "\nxx\n--B\nContent-Disposition: attachment\n\nyy\n--B--\nepilogue\n--B\n\n",
      // A part header ended by the next delimiter line, and one that folds onto it.
      head + "--B\nContent-Type: application/zip\n--B\nContent-Type: text/plain\n\nz\n--B--\n",
      head + "--B\nContent-Type: text/plain;\n --B\nContent-Type: audio/x\n\na\n",
      // A delimiter anywhere in a line, a closing one that opens nothing, one on the last line.
      head + "x--By\nContent-Type: video/x\n\n--B-- --B\n--B",
      head + "--B\n\n--B\nContent-Type: message/rfc822\n\nSubject: inner\n\nbody\n--B\n",
      // Nested parts are kept as one part, whatever they hold.
      head +
          "--B\nContent-Type: multipart/alternative; boundary=\"C\"\n\n--C\n\nt\n--C\n"
          "Content-Type: image/gif\n\ng\n--C--\n--B\nContent-Type: text/html\n\n<p>\n--B--\n",
      // Fields on the delimiter line itself are read as the part's header.
      head + "--B Content-Type: image/png\n\nxx\n",
  };
  for (const std::string& text : cases)
    ExpectAsLoadMessage(text);
}

}  // namespace
}  // namespace qv

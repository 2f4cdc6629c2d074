// Generated malformed messages through LoadMessage: cut headers, random bytes, giant lines,
// unbalanced boundaries, nesting far beyond the bound, thousands of parts. Every message must
// load without an exception escaping, and the whole run must stay fast (a step quadratic in
// lines or parts would not finish in time).
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "MimeTestUtil.h"
#include "base/StringUtils.h"
#include "mime/clMailMessage.h"

namespace qv {
namespace {

using test::FixedClock;
using test::Lines;
using test::TestNow;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // the sanitizer runs several times slower
#else
constexpr int kScale = 1;
#endif

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  template <class T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[static_cast<std::size_t>(Int(0, static_cast<int>(N) - 1))];
  }

  std::string Bytes(int n) {
    std::string s(static_cast<std::size_t>(n), '\0');
    for (char& c : s)
      c = static_cast<char>(Int(0, 255));
    return s;
  }

  // One line of a part's or message's header, well formed or not.
  std::string HeaderLine(const std::string& boundary) {
    static const char* const kLines[] = {
        "Content-Type: text/plain; charset=iso-8859-2",
        "Content-Type: text/html; charset=\"koi8-r\"",
        "Content-Type: application/octet-stream; name=\"=?iso-8859-1?Q?a=E9.bin?=\"",
        "Content-Type: image/png; name=x.png",
        "Content-Type: message/rfc822",
        "Content-Type: multipart/mixed; boundary=",
        "Content-Type: multipart/alternative; boundary=\"",
        "Content-Type: ;;;\"\"'",
        "Content-Transfer-Encoding: base64",
        "Content-Transfer-Encoding: quoted-printable",
        "Content-Transfer-Encoding: x-uue",
        "Content-Disposition: attachment; filename=\"f.txt",
        "Content-Description: description",
        "Content-ID: <",
        "Date: Tue, 31 Feb 2004 25:61:61 +99x9",
        "Date: , , , , ,",
        "Received: ;;;;",
        "Received: from a; 1 Jan 1800 00:00:00 -2359",
        "Subject: =?utf-8?B?****?= =?x?q?=ZZ?= =?",
        "From: \"unterminated <a@b",
        "To: ,,,,(,<,>,)",
        "X-Priority: 1",
        "Importance: low",
        "MIME-Version: 1.0",
        "\tcontinuation",
        " ",
        "no colon here",
        ":",
        "",
    };
    std::string line = Pick(kLines);
    if (line.ends_with("boundary=") || line.ends_with("boundary=\"")) line += boundary;
    if (Chance(5)) line += Bytes(Int(1, 40));
    return line;
  }

  std::string BodyLine(const std::string& boundary) {
    switch (Int(0, 11)) {
      case 0:
        return "--" + boundary;
      case 1:
        return "--" + boundary + "--";
      case 2:
        return "x --" + boundary + " y";
      case 3:
        return "begin " + IntToStr(Int(-2, 777)) + " file" + IntToStr(Int(0, 9));
      case 4:
        return "end";
      case 5:
        return "";
      case 6:
        return Bytes(Int(0, 120));
      case 7:
        return "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=";
      case 8:
        return "=E9=3D=\t=ZZ=";
      case 9:
        return HeaderLine(boundary);
      default:
        return "plain text line";
    }
  }

  // A multipart message with parts, nested parts and damage of every kind.
  TStringList Message() {
    TStringList lines;
    const std::string boundary = Chance(90) ? "b" + IntToStr(Int(0, 3)) : "";
    const int headerLines = Int(0, 12);
    for (int i = 0; i < headerLines; ++i)
      lines.Add(HeaderLine(boundary));
    if (Chance(80))
      lines.Add("Content-Type: multipart/" + std::string(Chance(50) ? "mixed" : "related") +
                "; boundary=\"" + boundary + "\"");
    if (Chance(90)) lines.Add("");
    const int bodyLines = Int(0, 80);
    for (int i = 0; i < bodyLines; ++i)
      lines.Add(BodyLine(Chance(70) ? boundary : "b" + IntToStr(Int(0, 3))));
    return lines;
  }

  // A message cut after a random number of lines and bytes.
  TStringList Cut(const TStringList& whole) {
    TStringList lines;
    const int keep = Int(0, whole.Count());
    for (int i = 0; i < keep; ++i)
      lines.Add(whole[i]);
    if (keep < whole.Count()) {
      const std::string& last = whole[keep];
      lines.Add(last.substr(0, static_cast<std::size_t>(Int(0, static_cast<int>(last.size())))));
    }
    return lines;
  }

 private:
  std::mt19937 rng_;
};

// Loads a message with handlers that take every attachment's data, and reads everything back.
void LoadAndRead(TclMailMessage& msg, const TStringList& lines) {
  ASSERT_NO_THROW(msg.LoadMessage(lines));
  const std::string summary = test::Summary(msg);
  EXPECT_FALSE(summary.empty());
  EXPECT_FALSE(msg.IsParsing());
  EXPECT_EQ(msg.UpdateCount(), 0);
}

class Robustness : public ::testing::Test {
 protected:
  Robustness() {
    msg_.OnGetDataStream = [](TclMailMessage&, TclMessageBody&, const std::string&,
                              std::unique_ptr<TStream>& data,
                              bool&) { data = std::make_unique<TMemoryStream>(); };
    msg_.OnDataAdded = [this](TclMailMessage&, TclMessageBody&, TStream& data) {
      bytes_ += data.Size();
    };
  }
  FixedClock clock_{TestNow()};
  TclMailMessage msg_{nullptr, clock_};
  std::int64_t bytes_ = 0;
};

TEST_F(Robustness, ThousandsOfDamagedMessages) {
  Generator gen(20240601);
  const int count = 4000 / kScale;
  for (int n = 0; n < count; ++n) {
    const TStringList whole = gen.Message();
    LoadAndRead(msg_, gen.Chance(30) ? gen.Cut(whole) : whole);
    if (HasFatalFailure()) return;
  }
  // Random byte lines only.
  for (int n = 0; n < count / 4; ++n) {
    TStringList lines;
    const int k = gen.Int(0, 40);
    for (int i = 0; i < k; ++i)
      lines.Add(gen.Bytes(gen.Int(0, 200)));
    LoadAndRead(msg_, lines);
  }
}

TEST_F(Robustness, GiantLines) {
  Generator gen(7);
  const std::size_t mb = kScale > 1 ? std::size_t{1} << 19 : std::size_t{1} << 20;
  const std::string giant(3 * mb, 'A');
  const std::string giantBase64(4 * mb, 'Q');
  const std::vector<TStringList> messages = {
      Lines("Subject: " + giant + "\n\n" + giant + "\n"),
      Lines("Content-Type: multipart/mixed; boundary=" + giant + "\n\n--" + giant + "\n\nx\n"),
      Lines("Content-Type: multipart/mixed; boundary=b\n\n--b\n"
            "Content-Type: application/x; name=" +
            giant +
            "\n"
            "Content-Transfer-Encoding: base64\n\n" +
            giantBase64 + "\n--b--\n"),
      Lines("Received: from a;" + giant + "\n\tx\nDate: " + giant + "\nTo: " + giant + "\n\n"),
      Lines("Subject: x\n\nbegin 644 " + giant + "\n" + giant + "\nend\n"),
      Lines("X-Long: " + std::string(2 * mb, '=') + "?=\nSubject: " + std::string(mb, '=') + "?q?" +
            "\n\n"),
  };
  for (const auto& m : messages) {
    LoadAndRead(msg_, m);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(bytes_, std::int64_t{3 * mb});
}

TEST_F(Robustness, ThousandsOfParts) {
  Generator gen(11);
  TStringList lines = Lines("Content-Type: multipart/mixed; boundary=p\n\n");
  const int parts = 20000 / kScale;
  static const char* const kTypes[] = {"text/plain", "application/pdf", "image/gif",
                                       "multipart/alternative; boundary=q", "message/rfc822"};
  for (int i = 0; i < parts; ++i) {
    lines.Add("--p");
    lines.Add(std::string("Content-Type: ") + gen.Pick(kTypes));
    lines.Add("");
    lines.Add("part " + IntToStr(i));
  }
  lines.Add("--p--");
  LoadAndRead(msg_, lines);
  EXPECT_EQ(msg_.Bodies().Count(), parts);
}

TEST_F(Robustness, DelimitersWithoutBlankLines) {
  // Every part header runs into the next delimiter: each header must stop there, or the work
  // grows with the square of the line count.
  TStringList lines = Lines("Content-Type: multipart/mixed; boundary=d\n\n");
  const int parts = 200000 / kScale;
  for (int i = 0; i < parts; ++i) {
    lines.Add("--d");
    lines.Add("X-Field-" + IntToStr(i % 7) + ": v");
  }
  const auto start = std::chrono::steady_clock::now();
  LoadAndRead(msg_, lines);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(msg_.Bodies().Count(), parts);
  EXPECT_LT(seconds, 60.0);  // a few seconds; a quadratic walk would take hours
  EXPECT_EQ(msg_.Bodies().Items(0).RawHeader().Count(), 1);
}

TEST_F(Robustness, NestingFarBeyondTheBound) {
  Generator gen(3);
  for (int depth : {kMaxBodyNesting + 1, 1000 / kScale}) {
    std::string text = "Content-Type: text/plain\n\ndeep\n";
    for (int level = depth - 1; level >= 0; --level) {
      const std::string b = "N" + IntToStr(level) + "Z";
      // Some levels lose their closing delimiter or gain stray ones.
      std::string closing = gen.Chance(80) ? "--" + b + "--\n" : "";
      if (gen.Chance(5)) closing += "--" + b + "\n";
      text =
          "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\n" + text + closing;
    }
    const std::int64_t before = bytes_;
    LoadAndRead(msg_, Lines(text));
    if (HasFatalFailure()) return;
    EXPECT_GT(bytes_, before) << depth;  // the content reached a handler, nothing was dropped
  }
}

TEST_F(Robustness, ManyUuencodedFiles) {
  TStringList lines = Lines("Subject: uu\n\n");
  const int files = 20000 / kScale;
  for (int i = 0; i < files; ++i) {
    lines.Add("begin 644 f" + IntToStr(i));
    lines.Add("#86)C");
    if (i % 3 != 0) lines.Add("end");
    lines.Add("text " + IntToStr(i));
  }
  LoadAndRead(msg_, lines);
  EXPECT_EQ(msg_.Bodies().Count(), files + 1);
}

}  // namespace
}  // namespace qv

#include "codec/clEncoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/TestStreams.h"

namespace qv {
namespace {

using namespace std::string_literals;

const auto kBadMethod = static_cast<TclEncodeMethod>(5);

std::string Encoded(TclEncodeMethod method, const std::string& data, int chars = 76,
                    bool suppress = false) {
  TclEncoder e;
  e.SetCharsPerLine(chars);
  e.SetSuppressCrlf(suppress);
  TMemoryStream src(data), dst;
  e.Encode(src, dst, method);
  return dst.DataString();
}

std::string Decoded(TclEncodeMethod method, const std::string& data) {
  TclEncoder e;
  TMemoryStream src(data), dst;
  e.Decode(src, dst, method);
  return dst.DataString();
}

// Runs a decoding that must fail; returns the message and what the destination then holds.
std::pair<std::string, std::string> FailedDecode(TclEncodeMethod method, const std::string& data,
                                                 const std::string& before = "") {
  TclEncoder e;
  TMemoryStream src(data), dst(before);
  dst.Seek(0, SeekOrigin::End);
  try {
    e.Decode(src, dst, method);
  } catch (const EclEncoderError& err) {
    return {err.what(), dst.DataString()};
  }
  ADD_FAILURE() << "no error for " << data;
  return {};
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> r;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find("\r\n", start)) != std::string::npos; start = at + 2)
    r.push_back(s.substr(start, at - start));
  r.push_back(s.substr(start));
  return r;
}

std::string RandomBytes(std::size_t n, unsigned seed, bool text) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  static const char kText[] =
      "abcdefghij klmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789.,=\t\r\n";
  for (auto& c : s)
    c = text ? kText[rng() % (sizeof kText - 1)] : static_cast<char>(rng() & 0xFF);
  return s;
}

TEST(EncoderLineLength, FollowsEachMethodsRule) {
  struct Case {
    TclEncodeMethod method;
    int chars, expected;
  };
  const Case cases[] = {
      {cmMIMEQuotedPrintable, 0, 4},
      {cmMIMEQuotedPrintable, 5, 5},
      {cmMIMEQuotedPrintable, 76, 76},
      {cmMIMEQuotedPrintable, 133, 132},
      {cmMIMEBase64, -1, 76},
      {cmMIMEBase64, 75, 76},
      {cmMIMEBase64, 76, 76},
      {cmMIMEBase64, 77, 80},
      {cmMIMEBase64, 81, 80},
      {cmMIMEBase64, 82, 84},
      {cmMIMEBase64, 84, 84},
      {cmMIMEBase64, 85, 88},
      {cmMIMEBase64, 89, 88},
      {cmMIMEBase64, 90, 92},
      {cmMIMEBase64, 100, 100},
      {cmMIMEBase64, 2147483647, 2147483644},
      {cmUUEncode, 0, 3},
      {cmUUEncode, 76, 76},
      {cmUUEncode, 200, 132},
      {cmNone, 0, 76},
      {cm8Bit, 1, 1},
      {cm8Bit, 500, 500},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TclEncoder::EffectiveLineLength(c.method, c.chars), c.expected)
        << int{c.method} << " " << c.chars;
  // Every Base64 length from 77 to 90 as a whole.
  const int from77[] = {80, 80, 80, 80, 80, 84, 84, 84, 88, 88, 88, 88, 88, 92};
  for (int chars = 77; chars <= 90; ++chars)
    EXPECT_EQ(TclEncoder::EffectiveLineLength(cmMIMEBase64, chars), from77[chars - 77]) << chars;
}

TEST(QuotedPrintableEncoding, EscapesAndBreaksLinesByColumn) {
  const std::string a71(71, 'a'), a70(70, 'a'), a69(69, 'a');
  struct Case {
    std::string in;
    int chars;
    bool suppress;
    std::string out;
  };
  const Case cases[] = {
      {std::string(100, 'a'), 76, false, a71 + "=\r\n" + std::string(29, 'a')},
      {a71, 76, false, a71 + "=\r\n"},  // the end coincides with a soft break
      {a70, 76, false, a70},
      {a70 + "=", 76, false, a70 + "=3D=\r\n"},
      {a69 + "\xE9"
             "b",
       76, false, a69 + "=E9=\r\nb"},
      {a71 + "\r\nb", 76, false, a71 + "=\r\n\r\nb"},
      {a70 + "\r\nb", 76, false, a70 + "\r\nb"},
      {std::string(100, 'a'), 76, true, std::string(100, 'a')},
      {std::string(200, 'a'), 500, false, std::string(127, 'a') + "=\r\n" + std::string(73, 'a')},
      {"a=b\tc\nd\xE9\x7F"s + '\0', 76, false, "a=3Db=09c=0Ad=E9=7F=00"},
      {"x\r\ny \r\n_?~ ", 76, false, "x\r\ny \r\n_?~ "},
      {"x\ry\r\r\n", 76, false, "x=0Dy=0D\r\n"},
      {"text\r", 76, false, "text=0D"},  // a final CR is kept (escaped)
      {"abc", 6, false, "a=\r\nb=\r\nc=\r\n"},
      {"abc", 5, false, "a=\r\nb=\r\nc=\r\n"},
      {"abc", 0, false, "a=\r\nb=\r\nc=\r\n"},
      {"a\xE9\r\nb", 4, false, "a=\r\n=E9=\r\n\r\nb=\r\n"},
      {"abcdefg", 8, false, "abc=\r\ndef=\r\ng"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Encoded(cmMIMEQuotedPrintable, c.in, c.chars, c.suppress), c.out)
        << c.in << " / " << c.chars;
}

TEST(QuotedPrintableEncoding, StringModeWritesNoSoftBreaksAndEndsWithTheCall) {
  TclEncoder e;
  EXPECT_EQ(e.EncodeString(std::string(100, 'a'), cmMIMEQuotedPrintable), std::string(100, 'a'));
  EXPECT_EQ(e.EncodeString("a\xE9=\r\n", cmMIMEQuotedPrintable), "a=E9=3D\r\n");
  EXPECT_EQ(e.EncodeString("", cmMIMEQuotedPrintable), "");
  EXPECT_THROW(e.EncodeString("x", kBadMethod), EclEncoderError);
  // The stream form after those calls breaks lines again.
  TMemoryStream src(std::string(72, 'a')), dst;
  e.Encode(src, dst, cmMIMEQuotedPrintable);
  EXPECT_EQ(dst.DataString(), std::string(71, 'a') + "=\r\na");
}

TEST(QuotedPrintableEncoding, EmptiesTheDestinationFirst) {
  TclEncoder e;
  TMemoryStream src(std::string("hi")), dst(std::string("old content"));
  dst.SetPosition(4);
  e.Encode(src, dst, cmMIMEQuotedPrintable);
  EXPECT_EQ(dst.DataString(), "hi");
}

TEST(QuotedPrintableDecoding, JoinsSoftBreaksAndNormalisesHardOnes) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc=\r\ndef", "abcdef"},
      {"=e9=E9=3d", "\xE9\xE9="},
      {"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd"},
      {"a\n\rb", "a\r\n\r\nb"},
      {"\r\n\r\nab\r\n\r\n", "\r\n\r\nab\r\n\r\n"},
      {"ab=\r\n", "ab"},
      {"ab=", "ab"},
      {"ab=4\r\ncd", "abcd"},  // "=" and one digit at a line end is a soft break too
      {"ab=\r\n\r\ncd", "ab\r\ncd"},
      {"ab=\ncd", "abcd"},
      {"=\n=\rx", "x"},
      {"trailing  \r\n", "trailing  \r\n"},
      {"a_b?c\t\xE9", "a_b?c\t\xE9"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(Decoded(cmMIMEQuotedPrintable, in), out) << in;
}

TEST(QuotedPrintableDecoding, BadEscapeFailsKeepingWhatWasDecoded) {
  const std::pair<std::string, std::string> cases[] = {
      {"ab=G1", "ab"}, {"a\r\nb= c", "a\r\nb"}, {"x=4\tc", "x"},
      {"x==41", "x"},  {"=41=4=41", "A"},       {"ok=\r\n=0A=0z", "ok\n"},
  };
  for (const auto& [in, kept] : cases) {
    const auto [message, destination] = FailedDecode(cmMIMEQuotedPrintable, in, "previous");
    EXPECT_EQ(message, "Wrong quoted-printed symbols.");
    EXPECT_EQ(destination, kept) << in;
  }
}

TEST(Base64Encoding, WritesFullLinesWithoutAFinalBreak) {
  const std::string b57 = RandomBytes(57, 1, false), b58 = b57 + "\x01";
  const auto one = Encoded(cmMIMEBase64, b57);
  EXPECT_EQ(one.size(), 76u);
  EXPECT_EQ(one.find('\r'), std::string::npos);
  const auto two = Lines(Encoded(cmMIMEBase64, b58));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], one);
  EXPECT_EQ(two[1].size(), 4u);
  EXPECT_EQ(two[1].substr(2), "==");

  const std::pair<std::string, std::string> padding[] = {
      {"Man", "TWFu"}, {"Ma", "TWE="}, {"M", "TQ=="}, {"\xFF\xFE\xFD", "//79"}};
  for (const auto& [in, out] : padding)
    EXPECT_EQ(Encoded(cmMIMEBase64, in), out);
  EXPECT_EQ(Encoded(cmMIMEBase64, std::string(60, '\0')), std::string(76, 'A') + "\r\nAAAA");

  // Every line but the last holds exactly L characters.
  const std::string data = RandomBytes(1000, 3, false);
  for (const int chars : {0, 76, 77, 82, 90, 100, 132}) {
    const auto lines = Lines(Encoded(cmMIMEBase64, data, chars));
    const std::size_t L = TclEncoder::EffectiveLineLength(cmMIMEBase64, chars);
    ASSERT_EQ(lines.size(), (1000 + L * 3 / 4 - 1) / (L * 3 / 4)) << chars;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
      EXPECT_EQ(lines[i].size(), L) << chars;
  }
  EXPECT_EQ(Encoded(cmMIMEBase64, data, 76, true).size(), 1336u);
}

TEST(Base64Encoding, WritesAtTheDestinationsPosition) {
  TclEncoder e;
  TMemoryStream src(std::string("Man")), dst(std::string("0123456789"));
  dst.SetPosition(2);
  e.Encode(src, dst, cmMIMEBase64);
  EXPECT_EQ(dst.DataString(), "01TWFu6789");
  EXPECT_EQ(dst.Position(), 6);
}

TEST(Base64Decoding, DecodesEachRunOnItsOwn) {
  const std::pair<std::string, std::string> cases[] = {
      {"TWFu", "Man"},
      {"TWE=TWFu", "Ma"},
      {"TWE= this is ignored", "Ma"},
      {"TWF", "Ma"},
      {"TW", "M"},
      {"T", ""},
      {"TW\r\nFu", "M\x16"},  // each line is a run: "TW" and "Fu" give a byte each
      {"TWFu\r\n\r\nTWFu\n", "ManMan"},
      {"\r\n", ""},
      {"//79", "\xFF\xFE\xFD"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(Decoded(cmMIMEBase64, in), out) << in;
}

TEST(Base64Decoding, ForeignSymbolFailsAndWritesNothing) {
  for (const std::string in : {"TW Fu", "TWFu\t", "TWFu\r\nTW-u", "TWFu_", "\xC3"}) {
    const auto [message, destination] = FailedDecode(cmMIMEBase64, in, "kept");
    EXPECT_EQ(message, "Wrong symbols in source stream.");
    EXPECT_EQ(destination, "kept") << in;
  }
}

TEST(UUEncoding, WritesLengthCharactersAndGraveAccentLines) {
  struct Case {
    std::string in;
    int chars;
    bool suppress;
    std::string out;
  };
  const Case cases[] = {
      {"Cat", 76, false, "#0V%T\r\n`\r\n"},
      {"\0\0\0"s, 76, false, "#````\r\n`\r\n"},
      {"Ca", 76, false, "\"0V$\r\n`\r\n"},
      {"C", 76, false, "!0P\r\n`\r\n"},
      {"Cat", 76, true, "#0V%T`"},
      {"abcde", 0, false, "\"86(\r\n\"8V0\r\n!90\r\n`\r\n"},  // L = 3: two bytes per line
      {"abcd", 3, false, "\"86(\r\n\"8V0\r\n`\r\n`\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Encoded(cmUUEncode, c.in, c.chars, c.suppress), c.out) << c.in;

  // Exactly one full line: the full line, the empty chunk's line, the closing line.
  const auto lines = Lines(Encoded(cmUUEncode, std::string(57, 'x')));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), 77u);
  EXPECT_EQ(lines[0][0], 'Y');
  EXPECT_EQ(lines[1], "`");
  EXPECT_EQ(lines[2], "`");
  EXPECT_EQ(lines[3], "");
  // 99 bytes per line at L = 132: the length character wraps to 99 mod 64.
  EXPECT_EQ(Encoded(cmUUEncode, std::string(100, 'x'), 132).substr(0, 1), "C");
}

TEST(UUDecoding, FollowsLengthCharactersUntilTheGraveAccentLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"begin 644 cat.txt\r\n#0V%T\r\n`\r\nend\r\n", "Cat"},
      {"#0V%T\r\n`\r\n#0V%T\r\n", "Cat"},
      {"#0V%T\n \n#0V%T", "Cat"},
      {"!80", "a"},         // one value beyond the count supplies the low bits
      {"!80XYZ\r\n", "a"},  // the rest of the line is ignored
      {"!8", "`"},          // missing values count as 0
      {"\"86(\r\n\"8V0\r\n!90", "abcde"},
      {"#0V%T`", "Cat"},  // the one-line form
      {"\r\n\r\n#0V%T", "Cat"},
      {"#````", "\0\0\0"s},
      {"#    ", "\0\0\0"s},
      {"#0V%T\r\nbegin", "Cat\x14r"},  // only the first line is tested for "begin"
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(Decoded(cmUUEncode, in), out) << in;
}

TEST(UUDecoding, LinesOfMoreThan63BytesDecodeInFull) {
  // Such lines carry their count modulo 64; the line length tells the rest.
  for (const int chars : {86, 100, 132}) {
    const std::string data = RandomBytes(1000, 4, false);
    EXPECT_EQ(Decoded(cmUUEncode, Encoded(cmUUEncode, data, chars)), data) << chars;
  }
  const std::string data = RandomBytes(128, 5, false);
  EXPECT_EQ(Decoded(cmUUEncode, Encoded(cmUUEncode, data, 76, true)), data);
}

TEST(PlainCopies, CopyUnchangedAtTheDestinationsPosition) {
  for (const auto method : {cmNone, cm8Bit}) {
    TclEncoder e;
    TMemoryStream src("a\r\n\xE9="s), dst(std::string("xyz"));
    dst.SetPosition(1);
    e.Encode(src, dst, method);
    EXPECT_EQ(dst.DataString(), "xa\r\n\xE9=");
    EXPECT_EQ(e.DecodeString("=41 \n", method), "=41 \n");
  }
}

TEST(EncoderCalls, ReadTheSourceFromItsStart) {
  TclEncoder e;
  TMemoryStream src(std::string("Man")), dst;
  src.Seek(0, SeekOrigin::End);
  e.Encode(src, dst, cmMIMEBase64);
  EXPECT_EQ(dst.DataString(), "TWFu");
  EXPECT_EQ(src.Position(), 3);
}

TEST(EncoderCalls, UnsupportedMethodFails) {
  TclEncoder e;
  TMemoryStream src(std::string("x")), dst;
  for (const bool decode : {false, true}) {
    try {
      decode ? e.Decode(src, dst, kBadMethod) : e.Encode(src, dst, kBadMethod);
      ADD_FAILURE();
    } catch (const EclEncoderError& err) {
      EXPECT_STREQ(err.what(), "Unsupported format.");
    }
  }
  EXPECT_EQ(dst.Size(), 0);
}

class CountingEncoder : public TclEncoder {
 public:
  std::vector<std::pair<int, int>> events;

 protected:
  void DoProgress(int done, int total) override {
    events.emplace_back(done, total);
    TclEncoder::DoProgress(done, total);
  }
};

TEST(EncoderProgress, FiresTwicePerNonEmptyCall) {
  CountingEncoder e;
  int handlerCalls = 0;
  e.OnProgress = [&](TclEncoder& sender, int, int) {
    EXPECT_EQ(&sender, &e);
    ++handlerCalls;
  };
  const std::vector<std::pair<int, int>> twice = {{0, 5}, {5, 5}};
  for (const auto method : {cmNone, cmMIMEQuotedPrintable, cmMIMEBase64, cmUUEncode, cm8Bit}) {
    e.events.clear();
    e.EncodeString("hello", method);
    EXPECT_EQ(e.events, twice) << int{method};
    e.events.clear();
    test::TrickleStream src(std::string("aGVsb")), dst;
    e.Decode(src, dst, method);
    EXPECT_EQ(e.events, twice) << int{method};
  }
  EXPECT_EQ(handlerCalls, 20);
  e.events.clear();
  EXPECT_EQ(e.EncodeString("", cmMIMEBase64), "");
  EXPECT_EQ(e.DecodeString("", cmMIMEBase64), "");
  EXPECT_TRUE(e.events.empty());
  // A failing call reports its start only.
  EXPECT_THROW(e.DecodeString("a b", cmMIMEBase64), EclEncoderError);
  EXPECT_THROW(e.EncodeString("abc", kBadMethod), EclEncoderError);
  EXPECT_EQ(e.events, (std::vector<std::pair<int, int>>{{0, 3}, {0, 3}}));
}

TEST(PreferredEncoding, ChoosesByControlBytesHighBytesAndLineLength) {
  const std::pair<std::string, TclEncodeMethod> cases[] = {
      {"Hello", cmNone},
      {"", cmNone},
      {std::string(76, 'x') + "\r\nshort", cmNone},
      {std::string(77, 'x'), cmMIMEQuotedPrintable},
      {std::string(77, 'x') + "\r\nshort", cmMIMEQuotedPrintable},
      {"abcd\xE9"
       "efghi",
       cmMIMEQuotedPrintable},
      {"ab\xE9\xE9\xE9\xE9\xE9\xE9"
       "cd",
       cmMIMEBase64},
      {"ab\xE9\xE9\xE9\xE9\xE9"
       "cde",
       cmMIMEQuotedPrintable},
      {"text\twith a tab", cmMIMEBase64},
      {"nul"s + '\0', cmMIMEBase64},
      {"\x1B", cmMIMEBase64},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(TclEncoder::GetPreferredEncoding(text), expected) << text;
}

TEST(PreferredEncoding, StreamFormScansFromThePositionAgainstTheWholeSize) {
  // Six high bytes are more than half of the 10 bytes after the position but not of all 20.
  test::TrickleStream s(std::string(10, '\t') +
                        "ab\xE9\xE9\xE9\xE9\xE9\xE9"
                        "cd");
  s.SetPosition(10);
  EXPECT_EQ(TclEncoder::GetPreferredEncoding(s), cmMIMEQuotedPrintable);
  EXPECT_EQ(s.Position(), 20);
  s.SetPosition(0);
  EXPECT_EQ(TclEncoder::GetPreferredEncoding(s), cmMIMEBase64);
}

TEST(EncoderRoundTrip, RestoresRandomDataForEveryMethodAndLineLength) {
  const std::size_t small[] = {0, 1, 2, 3, 4, 5, 56, 57, 58, 63, 64, 65, 99, 100, 1000, 4099};
  const int lengths[] = {0, 3, 4, 5, 6, 76, 77, 100, 132, 200};
  const TclEncodeMethod methods[] = {cmNone, cmMIMEQuotedPrintable, cmMIMEBase64, cmUUEncode,
                                     cm8Bit};
  unsigned seed = 10;
  for (const auto method : methods)
    for (const int chars : lengths)
      for (const bool suppress : {false, true})
        for (const std::size_t size : small)
          for (const bool text : {false, true}) {
            const std::string data = RandomBytes(size, ++seed, text);
            const std::string enc = Encoded(method, data, chars, suppress);
            ASSERT_EQ(Decoded(method, enc), data) << int{method} << " chars " << chars
                                                  << " suppress " << suppress << " size " << size;
          }
  for (const auto method : methods)
    for (const std::size_t size : {65537u, 300000u}) {
      const std::string data = RandomBytes(size, ++seed, size % 2 == 0);
      EXPECT_EQ(Decoded(method, Encoded(method, data)), data) << int{method} << " " << size;
    }
}

TEST(EncoderRoundTrip, StringFormsMatchTheStreamForms) {
  TclEncoder e;
  const std::string data = RandomBytes(5000, 99, false);
  for (const auto method : {cmMIMEBase64, cmUUEncode, cm8Bit}) {
    EXPECT_EQ(e.EncodeString(data, method), Encoded(method, data));
    EXPECT_EQ(e.DecodeString(e.EncodeString(data, method), method), data);
  }
  // Without soft breaks quoted-printable still round-trips.
  EXPECT_EQ(e.DecodeString(e.EncodeString(data, cmMIMEQuotedPrintable), cmMIMEQuotedPrintable),
            data);
}

TEST(EncoderStreams, ReadingOneByteAtATimeGivesTheSameResult) {
  const std::string data = RandomBytes(3000, 7, true);
  for (const auto method : {cmNone, cmMIMEQuotedPrintable, cmMIMEBase64, cmUUEncode, cm8Bit}) {
    TclEncoder e;
    test::TrickleStream src(data);
    TMemoryStream enc;
    e.Encode(src, enc, method);
    EXPECT_EQ(enc.DataString(), Encoded(method, data)) << int{method};
    test::TrickleStream back(enc.DataString());
    TMemoryStream dec;
    e.Decode(back, dec, method);
    EXPECT_EQ(dec.DataString(), data) << int{method};
  }
  // A failing decode leaves the same destination as from a memory stream.
  TclEncoder e;
  test::TrickleStream bad(std::string("abc\r\ndef=4x"));
  TMemoryStream dst;
  EXPECT_THROW(e.Decode(bad, dst, cmMIMEQuotedPrintable), EclEncoderError);
  EXPECT_EQ(dst.DataString(), "abc\r\ndef");
}

// What a call leaves in a destination that held "prior" (positioned at its end), and its error.
struct CallResult {
  std::string destination, error;
  bool operator==(const CallResult&) const = default;
};

struct StreamCall {
  TclEncodeMethod method;
  bool decode;
  std::string in;
  int chars = 76;
  bool suppress = false;
  bool stringForm = false;

  CallResult Run(TStream& source) const {
    TclEncoder e;
    e.SetCharsPerLine(chars);
    e.SetSuppressCrlf(suppress);
    TMemoryStream dst(std::string("prior"));
    dst.Seek(0, SeekOrigin::End);
    CallResult r;
    try {
      if (decode)
        e.Decode(source, dst, method);
      else if (stringForm)
        e.EncodeString(source, dst, method);
      else
        e.Encode(source, dst, method);
    } catch (const EclEncoderError& err) {
      r.error = err.what();
    }
    r.destination = dst.DataString();
    return r;
  }
};

TEST(EncoderStreams, BlocksOfAnySizeGiveTheWholeSourcesResult) {
  const std::string a70(70, 'a'), b57 = RandomBytes(57, 8, false);
  const StreamCall calls[] = {
      // CR LF split between blocks, a CR that is not followed by LF, a final CR, lines that end
      // at the soft-break column, string mode.
      {cmMIMEQuotedPrintable, false, "ab\r\ncd\r\r\nx\ry\r"},
      {cmMIMEQuotedPrintable, false, a70 + "=\r\n" + a70 + "\r"},
      {cmMIMEQuotedPrintable, false, a70 + "\xE9\xE9\r\nb", 76, false, true},
      {cmMIMEQuotedPrintable, false, "a\xE9\r\nb\r", 4},
      // Escapes, soft breaks and CR LF split at every point; errors after a split escape.
      {cmMIMEQuotedPrintable, true, "ab=4\r\n=41=e9=\r\ncd\r\r\n\n\r=\n=\rx=3D="},
      {cmMIMEQuotedPrintable, true, "ok\r\n=4"},
      {cmMIMEQuotedPrintable, true, "ok=\r\nab=4x"},
      {cmMIMEQuotedPrintable, true, "ok=4\r\n=4 "},
      // Groups of three and lines of 57 bytes across blocks, padding, runs, the first "=".
      {cmMIMEBase64, false, b57 + b57 + "xy"},
      {cmMIMEBase64, false, b57 + "x", 76, true},
      {cmMIMEBase64, true, "TWFu\r\nTW\r\nFu\nTWE=TWFu"},
      {cmMIMEBase64, true, "TWE\r\nTW"},
      {cmMIMEBase64, true, "TWFu\r\nTWFu-=Fu"},
      {cmMIMEBase64, true, "TWFu=\t"},
      // Full lines, the length character of one unbroken line, two bytes per line.
      {cmUUEncode, false, b57 + b57 + "xyz"},
      {cmUUEncode, false, b57 + "xy", 76, true},
      {cmUUEncode, false, "abcde", 3},
      // The "begin" line, a first line that only starts like it, lines of 99 bytes and one of
      // 200 whose length characters wrap, the grave-accent line.
      {cmUUEncode, true, "begin 644 x\r\n" + Encoded(cmUUEncode, b57 + "ab") + "end\r\n"},
      {cmUUEncode, true, "beg\r\n#0V%T"},
      {cmUUEncode, true, Encoded(cmUUEncode, RandomBytes(300, 9, false), 132)},
      {cmUUEncode, true, Encoded(cmUUEncode, RandomBytes(200, 10, false), 76, true)},
      {cmUUEncode, true, "#0V%T\r\n!8\r\n%0V\r\n`\r\n#0V%T"},
      {cmNone, false, "a\r\nb"},
  };
  for (const auto& call : calls) {
    TMemoryStream whole(call.in);
    const CallResult expected = call.Run(whole);
    for (const std::size_t chunk : {1, 2, 3, 5, 64}) {
      test::ChunkStream source(call.in, chunk);
      EXPECT_EQ(call.Run(source), expected)
          << int{call.method} << (call.decode ? " decoding " : " encoding ") << call.in
          << " in blocks of " << chunk;
    }
  }
  // The choice of encoding: a control byte after the high bytes passed the limit, high bytes
  // against the whole size, a long last line, a long line broken between blocks.
  const std::string high6 = "\xE9\xE9\xE9\xE9\xE9\xE9", high5 = high6.substr(1);
  const std::string texts[] = {high6 + "\x01", "ab" + high6 + "\r\n", "ab" + high5 + "cde",
                               "x\r\n" + std::string(77, 'x'), std::string(77, 'x') + "\r\n"};
  for (const auto& text : texts)
    for (const std::size_t chunk : {1, 3}) {
      test::ChunkStream source(text, chunk);
      EXPECT_EQ(TclEncoder::GetPreferredEncoding(source), TclEncoder::GetPreferredEncoding(text))
          << text << " in blocks of " << chunk;
    }
}

// A stream whose size says more than it holds, as a file cut short while it is read.
class ShortStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int64_t Size() override { return TMemoryStream::Size() + 10; }
};

TEST(EncoderStreams, ASourceShorterThanItsSizeEncodesWhatItHolds) {
  // Base64 encoding and unbroken uuencoding once divided by the number of bytes read, 0 here.
  const std::pair<std::string, bool> cases[] = {
      {"Man", false}, {"Man", true}, {"", false}, {"", true}};
  for (const auto& [data, suppress] : cases)
    for (const auto method : {cmMIMEQuotedPrintable, cmMIMEBase64, cmUUEncode}) {
      TclEncoder e;
      e.SetSuppressCrlf(suppress);
      ShortStream src(data);
      TMemoryStream dst;
      e.Encode(src, dst, method);
      const std::string expected = !data.empty()          ? Encoded(method, data, 76, suppress)
                                   : method != cmUUEncode ? ""
                                   : suppress             ? "``"
                                                          : "`\r\n`\r\n";
      EXPECT_EQ(dst.DataString(), expected) << int{method} << " " << data << " " << suppress;
    }
}

}  // namespace
}  // namespace qv

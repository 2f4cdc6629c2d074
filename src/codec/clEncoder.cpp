#include "codec/clEncoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "components/Props.h"

namespace qv {

const TClassInfo& TclEncoder::StaticClassInfo() {
  using E = TclEncoder;
  static const TClassInfo info(
      "TclEncoder", &TComponent::StaticClassInfo(),
      {
          IntegerProp<&E::CharsPerLine, &E::SetCharsPerLine>("CharsPerLine").Default(76),
          BoolProp<&E::SuppressCrlf, &E::SetSuppressCrlf>("SuppressCrlf").Default(0),
          EventProp<&E::OnProgressMethod, &E::SetOnProgressMethod>("OnProgress"),
      });
  return info;
}

namespace {

using Byte = unsigned char;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// --- tables ----------------------------------------------------------------------------------

// Quoted-printable encoding: each byte's output (the byte itself, or "=" and two upper-case
// hexadecimal digits, padded to four so that it can be copied as one word) and its length. CR
// has length 0: it depends on the byte after it.
struct QpOutput {
  std::array<std::array<char, 4>, 256> text{};
  std::array<Byte, 256> length{};
};
constexpr QpOutput kQpOutput = [] {
  QpOutput t;
  for (int c = 0; c < 256; ++c) {
    if (c >= 32 && c <= 126 && c != '=') {
      t.text[c] = {static_cast<char>(c), 0, 0, 0};
      t.length[c] = 1;
    } else {
      t.text[c] = {'=', kHexDigits[c >> 4], kHexDigits[c & 15], 0};
      t.length[c] = 3;
    }
  }
  t.length['\r'] = 0;
  return t;
}();

// Quoted-printable decoding: what ends a plain stretch of a text run.
enum : Byte { kQpText, kQpEquals, kQpBreak };
constexpr auto kQpDecodeClass = [] {
  std::array<Byte, 256> t{};
  t['='] = kQpEquals;
  t['\r'] = kQpBreak;
  t['\n'] = kQpBreak;
  return t;
}();

// Hexadecimal digit values, -1 for every other byte.
constexpr auto kHexValue = [] {
  std::array<signed char, 256> t{};
  t.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    t[c] = static_cast<signed char>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c)
    t[c] = static_cast<signed char>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c)
    t[c] = static_cast<signed char>(c - 'a' + 10);
  return t;
}();

// Base64 encoding: the two alphabet characters of every 12-bit value.
constexpr auto kBase64Pairs = [] {
  std::array<char, 8192> t{};
  for (int v = 0; v < 4096; ++v) {
    t[2 * v] = kBase64Alphabet[v >> 6];
    t[2 * v + 1] = kBase64Alphabet[v & 63];
  }
  return t;
}();

// Base64 decoding: 0..63 for the alphabet, then the bytes that end a run.
constexpr Byte kB64Break = 64;     // CR or LF: ends the run
constexpr Byte kB64Fill = 65;      // "=": ends the run and the decoding
constexpr Byte kB64Invalid = 128;  // anything else
constexpr auto kBase64Value = [] {
  std::array<Byte, 256> t{};
  t.fill(kB64Invalid);
  for (int v = 0; v < 64; ++v)
    t[static_cast<Byte>(kBase64Alphabet[v])] = static_cast<Byte>(v);
  t['\r'] = kB64Break;
  t['\n'] = kB64Break;
  t['='] = kB64Fill;
  return t;
}();

// --- source and destination helpers ----------------------------------------------------------

// The whole content of a source stream, read from its start; the stream is left at its end.
// A plain memory stream is viewed in place; any other stream is read through its interface.
class SourceBytes {
 public:
  SourceBytes(TStream& source, const TStream& destination) {
    source.SetPosition(0);
    if (typeid(source) == typeid(TMemoryStream) && &source != &destination) {
      view_ = static_cast<TMemoryStream&>(source).DataString();
      source.Seek(0, SeekOrigin::End);
      return;
    }
    ReadToEnd(source, copy_);
    view_ = copy_;
  }
  std::string_view View() const noexcept { return view_; }

  // Appends everything from the stream's position to its end; Read may hand out any amount.
  static void ReadToEnd(TStream& source, std::string& into) {
    const std::int64_t pos = source.Position();
    const std::int64_t size = source.Size();
    std::size_t got = into.size();
    into.resize(got + static_cast<std::size_t>(std::max<std::int64_t>(size - pos, 0)));
    while (got < into.size()) {
      const std::size_t n = source.Read(into.data() + got, into.size() - got);
      if (n == 0) break;
      got += n;
    }
    into.resize(got);
    // A stream that holds more than its size said is read on to its real end.
    char more[4096];
    for (std::size_t n; (n = source.Read(more, sizeof more)) > 0;)
      into.append(more, n);
  }

 private:
  std::string copy_;
  std::string_view view_;
};

// Collects output in blocks and hands each full block to the destination. Hot loops keep the
// write pointer in a local and call Flush when it passes High(); every step of those loops writes
// at most kSlack bytes, so the block never overflows. A memory stream destination is given room
// for the expected output at once instead of growing step by step.
class BlockWriter {
 public:
  static constexpr std::size_t kBlock = 1 << 16;
  static constexpr std::size_t kSmallestBlock = 256;
  static constexpr std::size_t kSlack = 16;

  // The block is no larger than the expected output needs: a short part does not pay for
  // allocating a whole block.
  BlockWriter(TStream& destination, std::size_t expected)
      : destination_(destination),
        block_(std::clamp(expected, kSmallestBlock, kBlock)),
        buffer_(new char[block_ + kSlack]) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&destination)) {
      const auto end = static_cast<std::size_t>(memory->Position()) + expected;
      if (end > static_cast<std::size_t>(memory->Size())) memory->Reserve(end);
    }
  }
  char* Begin() const noexcept { return buffer_.get(); }
  const char* High() const noexcept { return buffer_.get() + block_; }
  // Writes everything before p and returns the start of the emptied block.
  char* Flush(char* p) {
    destination_.WriteBuffer(buffer_.get(), static_cast<std::size_t>(p - buffer_.get()));
    return buffer_.get();
  }

 private:
  TStream& destination_;
  std::size_t block_;
  std::unique_ptr<char[]> buffer_;
};

std::size_t Base64Length(std::size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

// Characters of a uuencoded data run of the given byte count (groups are not filled to four).
std::size_t UULength(std::size_t bytes) {
  return bytes / 3 * 4 + (bytes % 3 == 0 ? 0 : bytes % 3 + 1);
}

char UUChar(unsigned v) {
  return v == 0 ? '`' : static_cast<char>(v + 32);
}

// Base64 decoding writes nothing when the source holds a foreign symbol, so a first pass finds
// where decoding stops (the first "=") and checks every byte before it.
void DecodeBase64(std::string_view source, TStream& destination) {
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  std::size_t n = source.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Byte v = kBase64Value[in[i]];
    if (v <= kB64Break) continue;
    if (v == kB64Fill) {
      n = i;
      break;
    }
    throw EclEncoderError(kWrongBase64Symbols);
  }
  BlockWriter writer(destination, n / 4 * 3 + 3);
  char* p = writer.Begin();
  const char* high = writer.High();
  std::uint32_t acc = 0;  // the values of the group being collected
  int count = 0;          // how many
  std::size_t i = 0;
  for (;;) {
    if (count == 0) {
      // Whole groups of four alphabet characters.
      while (i + 4 <= n) {
        const Byte a = kBase64Value[in[i]], b = kBase64Value[in[i + 1]];
        const Byte c = kBase64Value[in[i + 2]], d = kBase64Value[in[i + 3]];
        if ((a | b | c | d) >= 64) break;
        if (p >= high) p = writer.Flush(p);
        const std::uint32_t v = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (c << 6) | d;
        p[0] = static_cast<char>(v >> 16);
        p[1] = static_cast<char>(v >> 8);
        p[2] = static_cast<char>(v);
        p += 3;
        i += 4;
      }
    }
    // The end of a run (a line break or the end of the input) turns a short group of 2 or 3
    // values into 1 or 2 bytes.
    const bool runEnds = i >= n || kBase64Value[in[i]] == kB64Break;
    if (p >= high) p = writer.Flush(p);
    if (runEnds) {
      if (count == 2) {
        *p++ = static_cast<char>(acc >> 4);
      } else if (count == 3) {
        *p++ = static_cast<char>(acc >> 10);
        *p++ = static_cast<char>(acc >> 2);
      }
      acc = 0;
      count = 0;
      if (i >= n) break;
      ++i;
      continue;
    }
    acc = (acc << 6) | kBase64Value[in[i++]];
    if (++count == 4) {
      *p++ = static_cast<char>(acc >> 16);
      *p++ = static_cast<char>(acc >> 8);
      *p++ = static_cast<char>(acc);
      acc = 0;
      count = 0;
    }
  }
  writer.Flush(p);
}

void DecodeUU(std::string_view source, TStream& destination) {
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  const std::size_t n = source.size();
  std::string out;
  out.reserve(n / 4 * 3 + 3);
  auto isBreak = [](Byte c) { return c == '\r' || c == '\n'; };
  std::size_t i = 0;
  if (source.starts_with("begin")) {
    while (i < n && !isBreak(in[i]))
      ++i;
  }
  std::array<unsigned, 4> v{};
  for (;;) {
    while (i < n && isBreak(in[i]))
      ++i;
    if (i >= n) break;
    std::size_t end = i;
    while (end < n && !isBreak(in[end]))
      ++end;
    const std::size_t chars = end - i - 1;  // after the length character
    // The length character holds the byte count modulo 64. A line long enough for 64 (or 128,
    // ...) more bytes than that stands for the larger count: lines written with more than 63
    // bytes each wrap their length character, and the count follows from the line's length.
    std::size_t count = (in[i] - 32u) & 63u;
    while (UULength(count + 64) <= chars)
      count += 64;
    if (count == 0) break;
    const Byte* line = in + i + 1;
    // Value k of the line; characters missing from a short line count as 0.
    auto value = [&](std::size_t k) -> unsigned { return k < chars ? (line[k] - 32u) & 63u : 0u; };
    const std::size_t expected = count * 4 / 3;
    std::size_t k = 0;
    for (; k + 4 <= expected; k += 4) {
      for (int j = 0; j < 4; ++j)
        v[j] = value(k + j);
      out.push_back(static_cast<char>(v[0] << 2 | v[1] >> 4));
      out.push_back(static_cast<char>(v[1] << 4 | v[2] >> 2));
      out.push_back(static_cast<char>(v[2] << 6 | v[3]));
    }
    // A remainder of r values gives r bytes, its last one completed by the value after it.
    const std::size_t rest = expected - k;
    if (rest >= 1) out.push_back(static_cast<char>(value(k) << 2 | value(k + 1) >> 4));
    if (rest >= 2) out.push_back(static_cast<char>(value(k + 1) << 4 | value(k + 2) >> 2));
    i = end;
  }
  destination.WriteBuffer(out.data(), out.size());
}

TclEncodeMethod ScanPreferredEncoding(std::string_view bytes, std::int64_t totalSize) {
  const std::int64_t highLimit = totalSize / 2;
  std::int64_t lineLength = 0;
  std::int64_t highBytes = 0;
  TclEncodeMethod result = cmNone;
  for (const char ch : bytes) {
    const auto c = static_cast<Byte>(ch);
    if (c >= 127) {
      result = cmMIMEQuotedPrintable;
      if (++highBytes > highLimit) return cmMIMEBase64;
    } else if (c >= 32) {
      ++lineLength;
    } else if (c == '\r' || c == '\n') {
      if (lineLength > 76) result = cmMIMEQuotedPrintable;
      lineLength = 0;
    } else {
      return cmMIMEBase64;
    }
  }
  if (result == cmNone && lineLength > 76) result = cmMIMEQuotedPrintable;
  return result;
}

}  // namespace

// --- line lengths ------------------------------------------------------------------------------

int TclEncoder::EffectiveLineLength(TclEncodeMethod method, int charsPerLine) noexcept {
  switch (method) {
    case cmMIMEQuotedPrintable:
      return std::clamp(charsPerLine, 4, 132);
    case cmMIMEBase64: {
      if (charsPerLine < 76) return 76;
      // charsPerLine/4 + 0.25 = (charsPerLine + 1)/4, rounded to the nearest integer with
      // halves going to the even neighbour, then times 4.
      const std::int64_t quarters = std::int64_t{charsPerLine} + 1;
      std::int64_t q = quarters / 4;
      const std::int64_t rem = quarters % 4;
      if (rem > 2 || (rem == 2 && q % 2 != 0)) ++q;
      return static_cast<int>(std::min<std::int64_t>(q * 4, 0x7FFFFFFC));
    }
    case cmUUEncode:
      return std::clamp(charsPerLine, 3, 132);
    default:
      return charsPerLine < 1 ? 76 : charsPerLine;
  }
}

// --- calls -------------------------------------------------------------------------------------

void TclEncoder::DoProgress(int bytesProceed, int totalBytes) {
  if (OnProgress) OnProgress(*this, bytesProceed, totalBytes);
}

void TclEncoder::Encode(TStream& source, TStream& destination, TclEncodeMethod method) {
  const std::int64_t size = source.Size();
  if (size <= 0) return;
  first_line_ = true;
  // The event carries 32-bit counts.
  DoProgress(0, static_cast<int>(size));
  method_ = method;
  if (method > cm8Bit) throw EclEncoderError(kUnsupportedFormat);
  const SourceBytes bytes(source, destination);
  switch (method) {
    case cmMIMEQuotedPrintable:
      EncodeQuotedPrintable(bytes.View(), destination);
      break;
    case cmMIMEBase64:
      EncodeBase64(bytes.View(), destination);
      break;
    case cmUUEncode:
      EncodeUU(bytes.View(), destination);
      break;
    default:
      destination.WriteBuffer(bytes.View().data(), bytes.View().size());
      break;
  }
  DoProgress(static_cast<int>(source.Position()), static_cast<int>(size));
}

void TclEncoder::Decode(TStream& source, TStream& destination, TclEncodeMethod method) {
  const std::int64_t size = source.Size();
  if (size <= 0) return;
  DoProgress(0, static_cast<int>(size));
  pending_escape_ = false;
  method_ = method;
  if (method > cm8Bit) throw EclEncoderError(kUnsupportedFormat);
  const SourceBytes bytes(source, destination);
  switch (method) {
    case cmMIMEQuotedPrintable:
      DecodeQuotedPrintable(bytes.View(), destination);
      break;
    case cmMIMEBase64:
      DecodeBase64(bytes.View(), destination);
      break;
    case cmUUEncode:
      DecodeUU(bytes.View(), destination);
      break;
    default:
      destination.WriteBuffer(bytes.View().data(), bytes.View().size());
      break;
  }
  DoProgress(static_cast<int>(source.Position()), static_cast<int>(size));
}

std::string TclEncoder::EncodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  string_mode_ = true;
  try {
    Encode(source, destination, method);
  } catch (...) {
    string_mode_ = false;
    throw;
  }
  string_mode_ = false;
  return destination.TakeData();
}

std::string TclEncoder::DecodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  Decode(source, destination, method);
  return destination.TakeData();
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(std::string_view text) {
  return ScanPreferredEncoding(text, static_cast<std::int64_t>(text.size()));
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(TStream& source) {
  const std::int64_t total = source.Size();
  std::string rest;
  SourceBytes::ReadToEnd(source, rest);
  return ScanPreferredEncoding(rest, total);
}

// --- quoted-printable --------------------------------------------------------------------------

void TclEncoder::EncodeQuotedPrintable(std::string_view source, TStream& destination) {
  destination.SetSize(0);
  destination.SetPosition(0);
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  const std::size_t n = source.size();
  // Bytes are taken while the column is at most L - 6. Below L = 6 that would admit none, so
  // such lines take one byte each, as with L = 6.
  const std::int64_t lastColumn = std::max(EffectiveLineLength() - 6, 0);
  const bool unbroken = suppress_crlf_;
  // An upper bound of the output, so that a memory stream destination is sized once: every
  // escape adds two characters, and every line holds more than lastColumn of them.
  std::size_t escapes = 0;
  for (std::size_t i = 0; i < n; ++i)
    escapes += kQpOutput.length[in[i]] != 1;
  const std::size_t body = n + 2 * escapes;
  const std::size_t softBreaks =
      unbroken || string_mode_ ? 0 : body / static_cast<std::size_t>(lastColumn + 1) + 1;
  BlockWriter writer(destination, body + 3 * softBreaks);
  char* p = writer.Begin();
  const char* high = writer.High();
  std::size_t i = 0;
  while (i < n) {
    std::int64_t column = 0;
    bool hardBreak = false;
    while (i < n && (unbroken || column <= lastColumn)) {
      if (p >= high) p = writer.Flush(p);
      const Byte c = in[i++];
      const Byte length = kQpOutput.length[c];
      if (length != 0) {
        std::memcpy(p, kQpOutput.text[c].data(), 4);
        p += length;
        column += length;
        continue;
      }
      // CR LF is a hard break; any other CR is escaped, the last byte of the input included
      // (dropping it would lose data).
      if (i < n && in[i] == '\n') {
        *p++ = '\r';
        *p++ = '\n';
        ++i;
        hardBreak = true;
        break;
      }
      std::memcpy(p, "=0D", 4);
      p += 3;
      column += 3;
    }
    // A line that ended at its length gets a soft break, except in string mode, where the next
    // line simply continues the output.
    if (!hardBreak && !unbroken && column > lastColumn && !string_mode_) {
      *p++ = '=';
      *p++ = '\r';
      *p++ = '\n';
    }
  }
  writer.Flush(p);
}

void TclEncoder::DecodeQuotedPrintable(std::string_view source, TStream& destination) {
  destination.SetSize(0);
  destination.SetPosition(0);
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  const std::size_t n = source.size();
  BlockWriter writer(destination, n);
  char* p = writer.Begin();
  const char* high = writer.High();
  // The escape state lives in locals while the loop runs (stores through the output pointer
  // could otherwise alias the members) and is handed back to PendingEscape at the end.
  bool pending = pending_escape_;
  int heldDigit = -1;  // first hexadecimal digit of the escape in progress
  auto fail = [&] {
    writer.Flush(p);
    pending_escape_ = pending;
    throw EclEncoderError(kWrongQuotedPrintable);
  };
  std::size_t i = 0;
  for (;;) {
    // The line breaks in front of the next text run: CR LF, a lone CR and a lone LF count one.
    std::size_t breaks = 0;
    while (i < n && (in[i] == '\r' || in[i] == '\n')) {
      i += (in[i] == '\r' && i + 1 < n && in[i + 1] == '\n') ? 2 : 1;
      ++breaks;
    }
    // A line that ended inside an escape ends with a soft break: one break is dropped and the
    // unfinished escape forgotten. Every other break becomes CR LF.
    if (pending) {
      if (breaks > 0) --breaks;
      pending = false;
      heldDigit = -1;
    }
    for (; breaks > 0; --breaks) {
      if (p >= high) p = writer.Flush(p);
      *p++ = '\r';
      *p++ = '\n';
    }
    if (i >= n) break;
    // The text run, up to the next line break.
    while (i < n) {
      // Plain characters and complete escapes, chosen without a branch between them; anything
      // else (a line break, an unfinished or bad escape, the last two bytes) takes the steps
      // below.
      while (!pending && i + 2 < n) {
        if (p >= high) p = writer.Flush(p);
        const Byte c = in[i];
        const Byte kind = kQpDecodeClass[c];
        const int high4 = kHexValue[in[i + 1]], low4 = kHexValue[in[i + 2]];
        const bool escape = kind == kQpEquals;
        if (kind == kQpBreak || (escape && (high4 | low4) < 0)) break;
        *p++ = static_cast<char>(escape ? (high4 << 4 | low4) : c);
        i += escape ? 3 : 1;
      }
      if (i >= n) break;
      if (p >= high) p = writer.Flush(p);
      const Byte c = in[i];
      if (pending) {
        if (c == '\r' || c == '\n') break;
        const int digit = kHexValue[c];
        if (digit < 0) fail();
        ++i;
        if (heldDigit < 0) {
          heldDigit = digit;
        } else {
          *p++ = static_cast<char>(heldDigit << 4 | digit);
          heldDigit = -1;
          pending = false;
        }
        continue;
      }
      const Byte kind = kQpDecodeClass[c];
      if (kind == kQpText) {
        *p++ = static_cast<char>(c);
        ++i;
        continue;
      }
      if (kind == kQpBreak) break;
      pending = true;
      ++i;
    }
  }
  pending_escape_ = pending;
  writer.Flush(p);
}

// --- Base64 ------------------------------------------------------------------------------------

void TclEncoder::EncodeBase64(std::string_view source, TStream& destination) {
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  const std::size_t n = source.size();
  const bool unbroken = suppress_crlf_;
  const std::size_t perLine = unbroken ? n
                                       : static_cast<std::size_t>(std::min<std::int64_t>(
                                             std::int64_t{EffectiveLineLength()} * 3 / 4, n));
  const std::size_t chunks = (n + perLine - 1) / perLine;
  const std::size_t length = n / perLine * Base64Length(perLine) + Base64Length(n % perLine) +
                             (unbroken ? 0 : 2 * (chunks - 1));
  BlockWriter writer(destination, length);
  char* p = writer.Begin();
  const char* high = writer.High();
  for (std::size_t start = 0; start < n; start += perLine) {
    if (p >= high) p = writer.Flush(p);
    if (!unbroken && !first_line_) {
      *p++ = '\r';
      *p++ = '\n';
    }
    first_line_ = false;
    const Byte* s = in + start;
    const Byte* end = s + std::min(perLine, n - start);
    for (; end - s >= 3; s += 3, p += 4) {
      if (p >= high) p = writer.Flush(p);
      const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
      std::memcpy(p, &kBase64Pairs[2 * (v >> 12)], 2);
      std::memcpy(p + 2, &kBase64Pairs[2 * (v & 0xFFF)], 2);
    }
    if (p >= high) p = writer.Flush(p);
    if (end - s == 1) {
      p[0] = kBase64Alphabet[s[0] >> 2];
      p[1] = kBase64Alphabet[(s[0] & 3) << 4];
      p[2] = '=';
      p[3] = '=';
      p += 4;
    } else if (end - s == 2) {
      p[0] = kBase64Alphabet[s[0] >> 2];
      p[1] = kBase64Alphabet[((s[0] & 3) << 4) | (s[1] >> 4)];
      p[2] = kBase64Alphabet[(s[1] & 15) << 2];
      p[3] = '=';
      p += 4;
    }
  }
  writer.Flush(p);
}

// --- uuencode ----------------------------------------------------------------------------------

void TclEncoder::EncodeUU(std::string_view source, TStream& destination) {
  const auto* in = reinterpret_cast<const Byte*>(source.data());
  const std::size_t n = source.size();
  const bool unbroken = suppress_crlf_;
  const std::size_t perLine =
      unbroken ? n : static_cast<std::size_t>(EffectiveLineLength()) * 3 / 4;
  // floor(n / perLine) + 1 chunks: the last holds the remainder, possibly nothing.
  const std::size_t fullChunks = n / perLine;
  const std::size_t rest = n % perLine;
  const std::size_t breakLength = unbroken ? 0 : 2;
  const std::size_t length = fullChunks * (1 + UULength(perLine) + breakLength) + 1 +
                             UULength(rest) + breakLength + (unbroken ? 0 : 3);
  std::unique_ptr<char[]> out(new char[length]);
  char* p = out.get();
  for (std::size_t chunk = 0; chunk <= fullChunks; ++chunk) {
    const std::size_t count = chunk < fullChunks ? perLine : rest;
    const Byte* s = in + chunk * perLine;
    const Byte* end = s + count;
    *p++ = UUChar(count & 63);
    for (; end - s >= 3; s += 3, p += 4) {
      p[0] = UUChar(s[0] >> 2);
      p[1] = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      p[2] = UUChar(((s[1] & 15) << 2) | (s[2] >> 6));
      p[3] = UUChar(s[2] & 63);
    }
    if (end - s == 1) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar((s[0] & 3) << 4);
    } else if (end - s == 2) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      *p++ = UUChar((s[1] & 15) << 2);
    }
    if (!unbroken) {
      *p++ = '\r';
      *p++ = '\n';
    }
  }
  if (!unbroken) {
    *p++ = '`';
    *p++ = '\r';
    *p++ = '\n';
  }
  destination.WriteBuffer(out.get(), length);
}

}  // namespace qv

#include "codec/clEncoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>
#include <vector>

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

// Reads a stream from its position to its end into `into`; Read may hand out any amount. A
// stream that holds more than its size said is read on to its real end.
void ReadToEnd(TStream& source, std::string& into) {
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
  char more[4096];
  for (std::size_t n; (n = source.Read(more, sizeof more)) > 0;)
    into.append(more, n);
}

// Hands out the content of a source stream from its start to its end in blocks, so that a call
// holds no more than one block of it. A plain memory stream is one block, viewed in place. Any
// other stream gives one block per Read: a stream that hands out little per read gives small
// blocks, and a stream that holds more than its size said is read on to its real end. A source
// that is also the destination is read whole first, since writing would change what is still to
// be read.
class SourceBlocks {
 public:
  static constexpr std::size_t kMaxBlock = 1 << 16;
  static constexpr std::size_t kMinBlock = 1 << 12;

  // size: what the source's Size said.
  SourceBlocks(TStream& source, const TStream& destination, std::int64_t size) : source_(source) {
    source.SetPosition(0);
    if (&source == &destination) {
      ReadToEnd(source, copy_);
      whole_ = copy_;
      in_memory_ = true;
    } else if (typeid(source) == typeid(TMemoryStream)) {
      whole_ = static_cast<TMemoryStream&>(source).DataString();
      source.Seek(0, SeekOrigin::End);
      in_memory_ = true;
    }
    expected_ =
        in_memory_ ? whole_.size() : static_cast<std::size_t>(std::max<std::int64_t>(size, 0));
  }

  // Whether the whole source is in memory, Whole(), and handed out as one block.
  bool InMemory() const noexcept { return in_memory_; }
  std::string_view Whole() const noexcept { return whole_; }
  // The length of the source: exact in memory, otherwise what its size said.
  std::size_t Expected() const noexcept { return expected_; }

  // The next block; empty at the end.
  std::string_view Next() {
    if (in_memory_) {
      if (given_) return {};
      given_ = true;
      return whole_;
    }
    if (!buffer_) {
      block_ = std::clamp(expected_, kMinBlock, kMaxBlock);
      buffer_.reset(new char[block_]);
    }
    return {buffer_.get(), source_.Read(buffer_.get(), block_)};
  }

  // Back to the start for another pass.
  void Rewind() {
    given_ = false;
    if (!in_memory_ && source_.Seek(0, SeekOrigin::Begin) != 0) throw EReadError(kStreamReadError);
  }

 private:
  TStream& source_;
  std::string copy_;
  std::string_view whole_;
  bool in_memory_ = false;
  bool given_ = false;
  std::size_t expected_ = 0;
  std::size_t block_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// Feeds every block of the source to a pass, then ends it.
template <class Pass>
void RunPass(SourceBlocks& source, Pass& pass) {
  for (std::string_view block; !(block = source.Next()).empty();)
    pass.Feed(block);
  pass.Finish();
}

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
  // Appends n bytes at p, flushing as the block fills; returns the new write pointer.
  char* Put(char* p, const char* data, std::size_t n) {
    while (n > 0) {
      if (p >= High()) p = Flush(p);
      const std::size_t k = std::min(n, static_cast<std::size_t>(High() - p));
      std::memcpy(p, data, k);
      p += k;
      data += k;
      n -= k;
    }
    return p;
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

bool IsBreak(Byte c) {
  return c == '\r' || c == '\n';
}

// --- plain copies ------------------------------------------------------------------------------

void CopyBlocks(SourceBlocks& source, TStream& destination) {
  for (std::string_view block; !(block = source.Next()).empty();)
    destination.WriteBuffer(block.data(), block.size());
}

// --- quoted-printable --------------------------------------------------------------------------

class QpEncoder {
 public:
  // Bytes are taken into a line while its column is at most lastColumn, or without limit when
  // unbroken; a line that ended at its length gets a soft break when softBreaks is set (in string
  // mode the next line simply continues the output).
  QpEncoder(TStream& destination, std::size_t expected, std::int64_t lastColumn, bool unbroken,
            bool softBreaks)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        last_column_(lastColumn),
        unbroken_(unbroken),
        soft_breaks_(softBreaks) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    const std::int64_t lastColumn = last_column_;
    const bool unbroken = unbroken_;
    const bool softBreaks = soft_breaks_;
    char* p = p_;
    const char* high = writer_.High();
    std::int64_t column = column_;
    std::size_t i = 0;
    if (held_cr_) {
      // The CR that ended the last block, now that the byte after it is known.
      held_cr_ = false;
      if (p >= high) p = writer_.Flush(p);
      if (in[0] == '\n') {
        *p++ = '\r';
        *p++ = '\n';
        column = 0;
        i = 1;
      } else {
        std::memcpy(p, "=0D", 4);
        p += 3;
        column += 3;
      }
    }
    while (i < n) {
      while (i < n && (unbroken || column <= lastColumn)) {
        if (p >= high) p = writer_.Flush(p);
        const Byte c = in[i++];
        const Byte length = kQpOutput.length[c];
        if (length != 0) {
          std::memcpy(p, kQpOutput.text[c].data(), 4);
          p += length;
          column += length;
          continue;
        }
        // CR LF is a hard break; any other CR is escaped, the last byte of the input included
        // (dropping it would lose data). A CR at the end of a block waits for the next byte.
        if (i == n) {
          held_cr_ = true;
          break;
        }
        if (in[i] == '\n') {
          *p++ = '\r';
          *p++ = '\n';
          ++i;
          column = 0;
          continue;
        }
        std::memcpy(p, "=0D", 4);
        p += 3;
        column += 3;
      }
      // A line that ended at its length.
      if (!unbroken && column > lastColumn) {
        if (softBreaks) p = SoftBreak(p);
        column = 0;
      }
    }
    p_ = p;
    column_ = column;
  }

  void Finish() {
    char* p = p_;
    if (held_cr_) {
      held_cr_ = false;
      if (p >= writer_.High()) p = writer_.Flush(p);
      std::memcpy(p, "=0D", 4);
      p += 3;
      column_ += 3;
      if (!unbroken_ && column_ > last_column_) {
        if (soft_breaks_) p = SoftBreak(p);
        column_ = 0;
      }
    }
    writer_.Flush(p);
  }

 private:
  static char* SoftBreak(char* p) {
    std::memcpy(p, "=\r\n", 3);
    return p + 3;
  }

  BlockWriter writer_;
  char* p_;
  const std::int64_t last_column_;
  const bool unbroken_;
  const bool soft_breaks_;
  std::int64_t column_ = 0;
  bool held_cr_ = false;  // the last block ended in a CR
};

void EncodeQuotedPrintable(SourceBlocks& source, TStream& destination, int lineLength,
                           bool unbroken, bool stringMode) {
  destination.SetSize(0);
  destination.SetPosition(0);
  // Bytes are taken while the column is at most L - 6. Below L = 6 that would admit none, so
  // such lines take one byte each, as with L = 6.
  const std::int64_t lastColumn = std::max(lineLength - 6, 0);
  // An upper bound of the output, so that a memory stream destination is sized once: every
  // escape adds two characters, and every line holds more than lastColumn of them. The escapes
  // are counted only for such a destination, and when the source is in memory; otherwise its
  // size stands for the body.
  std::size_t body = source.Expected();
  if (source.InMemory() && dynamic_cast<TMemoryStream*>(&destination)) {
    const auto* in = reinterpret_cast<const Byte*>(source.Whole().data());
    std::size_t escapes = 0;
    for (std::size_t i = 0; i < body; ++i)
      escapes += kQpOutput.length[in[i]] != 1;
    body += 2 * escapes;
  }
  const std::size_t softBreaks =
      unbroken || stringMode ? 0 : body / static_cast<std::size_t>(lastColumn + 1) + 1;
  QpEncoder pass(destination, body + 3 * softBreaks, lastColumn, unbroken, !stringMode);
  RunPass(source, pass);
}

class QpDecoder {
 public:
  // pendingEscape: the encoder's record of an escape in progress, left set when decoding fails.
  QpDecoder(TStream& destination, std::size_t expected, bool& pendingEscape)
      : writer_(destination, expected), p_(writer_.Begin()), pending_escape_(pendingEscape) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    char* p = p_;
    const char* high = writer_.High();
    // The escape state lives in locals while the loop runs (stores through the output pointer
    // could otherwise alias the members).
    bool pending = pending_;
    int heldDigit = held_digit_;  // first hexadecimal digit of the escape in progress
    std::size_t i = 0;
    // The LF of a CR LF split between blocks belongs to the break already counted.
    if (held_cr_) {
      held_cr_ = false;
      if (in[0] == '\n') i = 1;
    }
    while (i < n) {
      // Plain characters and complete escapes, chosen without a branch between them, and CR LF;
      // anything else (another line break, an unfinished or bad escape, the last two bytes of
      // the block) takes the steps below.
      while (!pending && i + 2 < n) {
        if (p >= high) p = writer_.Flush(p);
        const Byte c = in[i];
        const Byte kind = kQpDecodeClass[c];
        const int high4 = kHexValue[in[i + 1]], low4 = kHexValue[in[i + 2]];
        const bool escape = kind == kQpEquals;
        if (kind == kQpBreak) {
          if (c != '\r' || in[i + 1] != '\n') break;
          *p++ = '\r';
          *p++ = '\n';
          i += 2;
          continue;
        }
        if (escape && (high4 | low4) < 0) break;
        *p++ = static_cast<char>(escape ? (high4 << 4 | low4) : c);
        i += escape ? 3 : 1;
      }
      if (i >= n) break;
      if (p >= high) p = writer_.Flush(p);
      const Byte c = in[i++];
      if (IsBreak(c)) {
        // A line break: CR LF, a lone CR and a lone LF count one each. A line that ended inside
        // an escape ends with a soft break: its break is dropped and the unfinished escape
        // forgotten. Every other break becomes CR LF.
        if (c == '\r') {
          if (i == n)
            held_cr_ = true;
          else if (in[i] == '\n')
            ++i;
        }
        if (pending) {
          pending = false;
          heldDigit = -1;
        } else {
          *p++ = '\r';
          *p++ = '\n';
        }
        continue;
      }
      if (pending) {
        const int digit = kHexValue[c];
        if (digit < 0) Fail(p, pending);
        if (heldDigit < 0) {
          heldDigit = digit;
        } else {
          *p++ = static_cast<char>(heldDigit << 4 | digit);
          heldDigit = -1;
          pending = false;
        }
      } else if (c == '=') {
        pending = true;
      } else {
        *p++ = static_cast<char>(c);
      }
    }
    p_ = p;
    pending_ = pending;
    held_digit_ = heldDigit;
  }

  // An escape left unfinished at the end is dropped, as a soft break would drop it.
  void Finish() {
    pending_escape_ = false;
    writer_.Flush(p_);
  }

 private:
  // A character after "=" that is not a hexadecimal digit: what was decoded before it is kept.
  [[noreturn]] void Fail(char* p, bool pending) {
    p_ = writer_.Flush(p);
    pending_escape_ = pending;
    throw EclEncoderError(kWrongQuotedPrintable);
  }

  BlockWriter writer_;
  char* p_;
  bool& pending_escape_;
  bool pending_ = false;
  int held_digit_ = -1;
  bool held_cr_ = false;  // the last block ended in a CR
};

// --- Base64 ------------------------------------------------------------------------------------

// Characters of the Base64 output of n bytes, perLine bytes to a line (0: one line).
std::size_t Base64EncodedLength(std::size_t n, std::size_t perLine) {
  if (perLine == 0 || n <= perLine) return Base64Length(n);
  const std::size_t lines = (n + perLine - 1) / perLine;
  return n / perLine * Base64Length(perLine) + Base64Length(n % perLine) + 2 * (lines - 1);
}

class Base64Encoder {
 public:
  // perLine: bytes per line, a multiple of 3, or 0 for no line breaks. firstLine: the encoder's
  // record that no line has been written yet in the call.
  Base64Encoder(TStream& destination, std::size_t expected, std::size_t perLine, bool& firstLine)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        breaks_(perLine != 0),
        per_line_(perLine != 0 ? perLine : std::numeric_limits<std::size_t>::max() / 3 * 3),
        first_line_(firstLine) {}

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    std::size_t i = 0;
    char* p = p_;
    // A group begun in the last block.
    while (carried_ != 0 && i < n) {
      carry_[carried_++] = in[i++];
      if (carried_ == 3) {
        p = Group(p, carry_.data());
        carried_ = 0;
      }
    }
    const char* high = writer_.High();
    while (n - i >= 3) {
      if (line_bytes_ == 0) p = StartLine(p);
      const std::size_t take = std::min(per_line_ - line_bytes_, (n - i) / 3 * 3);
      const Byte* s = in + i;
      const Byte* end = s + take;
      for (; s != end; s += 3, p += 4) {
        if (p >= high) p = writer_.Flush(p);
        const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
        std::memcpy(p, &kBase64Pairs[2 * (v >> 12)], 2);
        std::memcpy(p + 2, &kBase64Pairs[2 * (v & 0xFFF)], 2);
      }
      i += take;
      line_bytes_ += take;
      if (line_bytes_ == per_line_) line_bytes_ = 0;
    }
    while (i < n)
      carry_[carried_++] = in[i++];
    p_ = p;
  }

  // A last group of 1 or 2 bytes is filled with "=".
  void Finish() {
    char* p = p_;
    if (carried_ != 0) {
      if (line_bytes_ == 0) p = StartLine(p);
      if (p >= writer_.High()) p = writer_.Flush(p);
      const Byte* s = carry_.data();
      p[0] = kBase64Alphabet[s[0] >> 2];
      if (carried_ == 1) {
        p[1] = kBase64Alphabet[(s[0] & 3) << 4];
        p[2] = '=';
      } else {
        p[1] = kBase64Alphabet[((s[0] & 3) << 4) | (s[1] >> 4)];
        p[2] = kBase64Alphabet[(s[1] & 15) << 2];
      }
      p[3] = '=';
      p += 4;
    }
    writer_.Flush(p);
  }

 private:
  // Every line but the first begins with CR LF, so none follows the last.
  char* StartLine(char* p) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    if (breaks_ && !first_line_) {
      *p++ = '\r';
      *p++ = '\n';
    }
    first_line_ = false;
    return p;
  }

  char* Group(char* p, const Byte* s) {
    if (line_bytes_ == 0) p = StartLine(p);
    if (p >= writer_.High()) p = writer_.Flush(p);
    const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (std::uint32_t{s[1]} << 8) | s[2];
    std::memcpy(p, &kBase64Pairs[2 * (v >> 12)], 2);
    std::memcpy(p + 2, &kBase64Pairs[2 * (v & 0xFFF)], 2);
    line_bytes_ += 3;
    if (line_bytes_ == per_line_) line_bytes_ = 0;
    return p + 4;
  }

  BlockWriter writer_;
  char* p_;
  const bool breaks_;
  const std::size_t per_line_;
  bool& first_line_;
  std::size_t line_bytes_ = 0;  // bytes of the current line written; 0 before a line starts
  std::array<Byte, 3> carry_{};
  std::size_t carried_ = 0;
};

void EncodeBase64(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken,
                  bool& firstLine) {
  const std::size_t perLine = unbroken ? 0 : static_cast<std::size_t>(lineLength) / 4 * 3;
  Base64Encoder pass(destination, Base64EncodedLength(source.Expected(), perLine), perLine,
                     firstLine);
  RunPass(source, pass);
}

class Base64Decoder {
 public:
  Base64Decoder(TStream& destination, std::size_t expected)
      : writer_(destination, expected), p_(writer_.Begin()) {}

  // The block holds alphabet characters and line breaks only.
  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    char* p = p_;
    const char* high = writer_.High();
    std::uint32_t acc = acc_;  // the values of the group being collected
    int count = count_;        // how many
    std::size_t i = 0;
    for (;;) {
      if (count == 0) {
        // Whole groups of four alphabet characters.
        while (i + 4 <= n) {
          const Byte a = kBase64Value[in[i]], b = kBase64Value[in[i + 1]];
          const Byte c = kBase64Value[in[i + 2]], d = kBase64Value[in[i + 3]];
          if ((a | b | c | d) >= 64) break;
          if (p >= high) p = writer_.Flush(p);
          const std::uint32_t v =
              (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (c << 6) | d;
          p[0] = static_cast<char>(v >> 16);
          p[1] = static_cast<char>(v >> 8);
          p[2] = static_cast<char>(v);
          p += 3;
          i += 4;
        }
      }
      if (i >= n) break;
      if (p >= high) p = writer_.Flush(p);
      const Byte v = kBase64Value[in[i++]];
      if (v == kB64Break) {
        p = EndRun(p, acc, count);
        continue;
      }
      acc = (acc << 6) | v;
      if (++count == 4) {
        *p++ = static_cast<char>(acc >> 16);
        *p++ = static_cast<char>(acc >> 8);
        *p++ = static_cast<char>(acc);
        acc = 0;
        count = 0;
      }
    }
    p_ = p;
    acc_ = acc;
    count_ = count;
  }

  void Finish() {
    char* p = p_;
    if (p >= writer_.High()) p = writer_.Flush(p);
    writer_.Flush(EndRun(p, acc_, count_));
  }

 private:
  // The end of a run (a line break or the end of the input) turns a short group of 2 or 3 values
  // into 1 or 2 bytes.
  static char* EndRun(char* p, std::uint32_t& acc, int& count) {
    if (count == 2) {
      *p++ = static_cast<char>(acc >> 4);
    } else if (count == 3) {
      *p++ = static_cast<char>(acc >> 10);
      *p++ = static_cast<char>(acc >> 2);
    }
    acc = 0;
    count = 0;
    return p;
  }

  BlockWriter writer_;
  char* p_;
  std::uint32_t acc_ = 0;
  int count_ = 0;
};

// Base64 decoding writes nothing when the source holds a foreign symbol, so a first pass finds
// where decoding stops (the first "=") and checks every byte before it; the second decodes up to
// there and reads the rest without using it.
void DecodeBase64(SourceBlocks& source, TStream& destination) {
  std::size_t stop = 0;
  for (std::string_view block; !(block = source.Next()).empty(); stop += block.size()) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    std::size_t i = 0;
    while (i < block.size() && kBase64Value[in[i]] <= kB64Break)
      ++i;
    if (i == block.size()) continue;
    if (kBase64Value[in[i]] != kB64Fill) throw EclEncoderError(kWrongBase64Symbols);
    stop += i;
    break;
  }
  source.Rewind();
  Base64Decoder pass(destination, stop / 4 * 3 + 3);
  std::size_t left = stop;
  for (std::string_view block; !(block = source.Next()).empty();) {
    if (left == 0) continue;
    const std::size_t take = std::min(left, block.size());
    pass.Feed(block.substr(0, take));
    left -= take;
  }
  pass.Finish();
}

// --- uuencode ----------------------------------------------------------------------------------

class UUEncoder {
 public:
  // perLine: bytes per line. unbroken: the whole input is one line of `total` bytes, with no
  // line breaks.
  UUEncoder(TStream& destination, std::size_t expected, std::size_t perLine, bool unbroken,
            std::size_t total)
      : writer_(destination, expected),
        p_(writer_.Begin()),
        per_line_(perLine),
        unbroken_(unbroken),
        line_(unbroken ? 3 : perLine) {
    if (unbroken_) *p_++ = UUChar(total & 63);
  }

  void Feed(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    std::size_t i = 0;
    if (unbroken_) {
      // One line: groups of three bytes, a group begun in the last block first.
      while (held_ != 0 && held_ < 3 && i < n)
        line_[held_++] = in[i++];
      if (held_ == 3) {
        p_ = Groups(p_, line_.data(), 3);
        held_ = 0;
      }
      const std::size_t whole = (n - i) / 3 * 3;
      p_ = Groups(p_, in + i, whole);
      for (i += whole; i < n; ++i)
        line_[held_++] = in[i];
      return;
    }
    // Lines of perLine bytes; a line is written once its byte count, which leads it, is known.
    while (i < n) {
      if (held_ == 0 && n - i >= per_line_) {
        p_ = Line(p_, in + i, per_line_);
        i += per_line_;
        continue;
      }
      const std::size_t take = std::min(per_line_ - held_, n - i);
      std::memcpy(line_.data() + held_, in + i, take);
      held_ += take;
      i += take;
      if (held_ == per_line_) {
        p_ = Line(p_, line_.data(), per_line_);
        held_ = 0;
      }
    }
  }

  // The last chunk holds the rest of the input, possibly nothing; then the grave-accent line.
  void Finish() {
    char* p = p_;
    if (unbroken_) {
      p = Tail(p, line_.data(), held_);
      if (p >= writer_.High()) p = writer_.Flush(p);
      *p++ = '`';
    } else {
      p = Line(p, line_.data(), held_);
      if (p >= writer_.High()) p = writer_.Flush(p);
      std::memcpy(p, "`\r\n", 3);
      p += 3;
    }
    writer_.Flush(p);
  }

 private:
  // Four characters for each three of the count bytes at s (a multiple of 3).
  char* Groups(char* p, const Byte* s, std::size_t count) {
    const char* high = writer_.High();
    for (const Byte* end = s + count; s != end; s += 3, p += 4) {
      if (p >= high) p = writer_.Flush(p);
      p[0] = UUChar(s[0] >> 2);
      p[1] = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      p[2] = UUChar(((s[1] & 15) << 2) | (s[2] >> 6));
      p[3] = UUChar(s[2] & 63);
    }
    return p;
  }

  // A last group of 2 bytes gives 3 characters, of 1 byte 2 (no fill to four).
  char* Tail(char* p, const Byte* s, std::size_t count) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    if (count == 1) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar((s[0] & 3) << 4);
    } else if (count == 2) {
      *p++ = UUChar(s[0] >> 2);
      *p++ = UUChar(((s[0] & 3) << 4) | (s[1] >> 4));
      *p++ = UUChar((s[1] & 15) << 2);
    }
    return p;
  }

  // The length character (the count modulo 64), the data and CR LF.
  char* Line(char* p, const Byte* s, std::size_t count) {
    if (p >= writer_.High()) p = writer_.Flush(p);
    *p++ = UUChar(count & 63);
    const std::size_t whole = count / 3 * 3;
    p = Tail(Groups(p, s, whole), s + whole, count - whole);
    *p++ = '\r';
    *p++ = '\n';
    return p;
  }

  BlockWriter writer_;
  char* p_;
  const std::size_t per_line_;
  const bool unbroken_;
  std::vector<Byte> line_;  // bytes of a line (or, unbroken, of a group) not yet written
  std::size_t held_ = 0;
};

void EncodeUU(SourceBlocks& source, TStream& destination, int lineLength, bool unbroken) {
  // The byte count of the one line of unbroken output leads it, so a stream is counted first.
  std::size_t n = source.Expected();
  if (unbroken && !source.InMemory()) {
    n = 0;
    for (std::string_view block; !(block = source.Next()).empty();)
      n += block.size();
    source.Rewind();
  }
  const std::size_t perLine = unbroken ? n : static_cast<std::size_t>(lineLength) * 3 / 4;
  std::size_t length = 0;
  if (unbroken) {
    length = 1 + UULength(n) + 1;
  } else {
    // floor(n / perLine) + 1 chunks: the last holds the remainder, possibly nothing.
    length = n / perLine * (1 + UULength(perLine) + 2) + 1 + UULength(n % perLine) + 2 + 3;
  }
  UUEncoder pass(destination, length, perLine, unbroken, n);
  RunPass(source, pass);
}

class UUDecoder {
 public:
  UUDecoder(TStream& destination, std::size_t expected)
      : writer_(destination, expected), p_(writer_.Begin()) {}

  void Feed(std::string_view block) {
    if (phase_ == kHead) {
      // Only the first line is tested for "begin"; the first bytes are held until that is known.
      const std::size_t take = std::min(kBegin.size() - head_.size(), block.size());
      head_.append(block.substr(0, take));
      block.remove_prefix(take);
      if (head_.size() < kBegin.size() && kBegin.starts_with(head_)) return;
      EndHead();
    }
    Lines(block);
  }

  void Finish() {
    if (phase_ == kHead) EndHead();
    if (in_line_ && !EndLine()) phase_ = kDone;
    writer_.Flush(p_);
  }

 private:
  static constexpr std::string_view kBegin = "begin";
  enum Phase { kHead, kSkipFirstLine, kLines, kDone };

  void EndHead() {
    const std::string head = std::move(head_);
    if (head == kBegin) {
      phase_ = kSkipFirstLine;
      return;
    }
    phase_ = kLines;
    Lines(head);
  }

  void Lines(std::string_view block) {
    const auto* in = reinterpret_cast<const Byte*>(block.data());
    const std::size_t n = block.size();
    auto lineEnd = [&](std::size_t i) {
      while (i < n && !IsBreak(in[i]))
        ++i;
      return i;
    };
    std::size_t i = 0;
    while (i < n && phase_ != kDone) {
      if (phase_ == kSkipFirstLine) {
        i = lineEnd(i);
        if (i < n) phase_ = kLines;
        continue;
      }
      if (!in_line_) {
        while (i < n && IsBreak(in[i]))
          ++i;
        if (i == n) break;
        // A line that lies whole in the block is decoded at once; one that goes on past the
        // block's end is taken piece by piece.
        const std::size_t end = lineEnd(i);
        if (end < n) {
          if (!DecodeLine(in + i, end - i)) phase_ = kDone;
          i = end;
          continue;
        }
        StartLine(in[i++]);
      }
      const std::size_t end = lineEnd(i);
      AddValues(in + i, end - i);
      i = end;
      if (i < n && !EndLine()) phase_ = kDone;
    }
  }

  // The byte count of a line: its length character holds it modulo 64. A line long enough for 64
  // (or 128, ...) more bytes than that stands for the larger count: lines written with more than
  // 63 bytes each wrap their length character, and the count follows from the line's length.
  static std::size_t LineCount(Byte lengthChar, std::size_t chars) {
    std::size_t count = (lengthChar - 32u) & 63u;
    while (UULength(count + 64) <= chars)
      count += 64;
    return count;
  }

  // Decodes a whole line (its length character first); false when its count is 0, which ends
  // the decoding.
  bool DecodeLine(const Byte* line, std::size_t length) {
    const std::size_t chars = length - 1;  // after the length character
    const std::size_t count = LineCount(line[0], chars);
    if (count == 0) return false;
    ++line;
    // Value k of the line; characters missing from a short line count as 0.
    auto value = [&](std::size_t k) -> unsigned { return k < chars ? (line[k] - 32u) & 63u : 0u; };
    const std::size_t expected = count * 4 / 3;
    char* p = p_;
    const char* high = writer_.High();
    std::size_t k = 0;
    for (; k + 4 <= expected; k += 4) {
      if (p >= high) p = writer_.Flush(p);
      const unsigned v0 = value(k), v1 = value(k + 1), v2 = value(k + 2), v3 = value(k + 3);
      p[0] = static_cast<char>(v0 << 2 | v1 >> 4);
      p[1] = static_cast<char>(v1 << 4 | v2 >> 2);
      p[2] = static_cast<char>(v2 << 6 | v3);
      p += 3;
    }
    // A remainder of r values gives r bytes, its last one completed by the value after it.
    if (p >= high) p = writer_.Flush(p);
    const std::size_t rest = expected - k;
    if (rest >= 1) *p++ = static_cast<char>(value(k) << 2 | value(k + 1) >> 4);
    if (rest >= 2) *p++ = static_cast<char>(value(k + 1) << 4 | value(k + 2) >> 2);
    p_ = p;
    return true;
  }

  // A line taken piece by piece gives the same bytes as DecodeLine: the first `count` bytes of
  // its values decoded in groups of four, missing values counting as 0. Since the count is known
  // only at the line's end, the bytes beyond the least count its length so far allows (fewer
  // than 64 and a group) are held until then.
  void StartLine(Byte lengthChar) {
    in_line_ = true;
    length_char_ = lengthChar;
    chars_ = 0;
    least_count_ = LineCount(lengthChar, 0);
    made_ = 0;
    written_ = 0;
    group_ = {};
    group_size_ = 0;
    held_.clear();
  }

  void AddValues(const Byte* s, std::size_t n) {
    chars_ += n;
    while (UULength(least_count_ + 64) <= chars_)
      least_count_ += 64;
    std::size_t k = 0;
    for (; group_size_ != 0 && k < n; ++k)
      AddToGroup(s[k]);
    const std::size_t groups = (n - k) / 4;
    const std::size_t at = held_.size();
    held_.resize(at + 3 * groups);
    char* out = held_.data() + at;
    for (std::size_t g = 0; g < groups; ++g, k += 4, out += 3) {
      const unsigned v0 = (s[k] - 32u) & 63u, v1 = (s[k + 1] - 32u) & 63u;
      const unsigned v2 = (s[k + 2] - 32u) & 63u, v3 = (s[k + 3] - 32u) & 63u;
      out[0] = static_cast<char>(v0 << 2 | v1 >> 4);
      out[1] = static_cast<char>(v1 << 4 | v2 >> 2);
      out[2] = static_cast<char>(v2 << 6 | v3);
    }
    made_ += 3 * groups;
    for (; k < n; ++k)
      AddToGroup(s[k]);
    WriteHeld(std::min(least_count_, made_));
  }

  void AddToGroup(Byte c) {
    group_[group_size_++] = (c - 32u) & 63u;
    if (group_size_ < 4) return;
    const unsigned v0 = group_[0], v1 = group_[1], v2 = group_[2], v3 = group_[3];
    held_.push_back(static_cast<char>(v0 << 2 | v1 >> 4));
    held_.push_back(static_cast<char>(v1 << 4 | v2 >> 2));
    held_.push_back(static_cast<char>(v2 << 6 | v3));
    made_ += 3;
    group_ = {};
    group_size_ = 0;
  }

  // Writes the held bytes of the line up to index `upto`.
  void WriteHeld(std::size_t upto) {
    if (upto <= written_) return;
    const std::size_t n = upto - written_;
    p_ = writer_.Put(p_, held_.data(), n);
    held_.erase(0, n);
    written_ = upto;
  }

  // Ends a line taken piece by piece; false when its count is 0.
  bool EndLine() {
    in_line_ = false;
    const std::size_t count = least_count_;  // the line's length is now known
    if (count == 0) return false;
    WriteHeld(std::min(count, made_));
    // The group in progress, its missing values 0, and zero bytes beyond it.
    const unsigned v0 = group_[0], v1 = group_[1], v2 = group_[2], v3 = group_[3];
    const char last[3] = {static_cast<char>(v0 << 2 | v1 >> 4),
                          static_cast<char>(v1 << 4 | v2 >> 2), static_cast<char>(v2 << 6 | v3)};
    char* p = p_;
    for (std::size_t j = written_; j < count; ++j) {
      if (p >= writer_.High()) p = writer_.Flush(p);
      *p++ = j - made_ < 3 ? last[j - made_] : '\0';
    }
    p_ = p;
    held_.clear();
    return true;
  }

  BlockWriter writer_;
  char* p_;
  Phase phase_ = kHead;
  std::string head_;
  // The line taken piece by piece.
  bool in_line_ = false;
  Byte length_char_ = 0;
  std::size_t chars_ = 0;        // values read
  std::size_t least_count_ = 0;  // the least byte count the line can still have
  std::size_t made_ = 0;         // bytes decoded from complete groups
  std::size_t written_ = 0;      // bytes written
  std::array<unsigned, 4> group_{};
  std::size_t group_size_ = 0;
  std::string held_;  // bytes made but not yet written, from index written_
};

void DecodeUU(SourceBlocks& source, TStream& destination) {
  UUDecoder pass(destination, source.Expected() / 4 * 3 + 3);
  RunPass(source, pass);
}

// --- choice of encoding ------------------------------------------------------------------------

// The scan behind GetPreferredEncoding, over bytes given in any number of pieces. A control byte
// anywhere, or more high bytes than half the total size, make the answer Base64 wherever they
// stand, so the answer does not depend on where a scan stops early.
class PreferredEncodingScan {
 public:
  // Scans the next bytes; false once the answer is Base64 whatever follows. highLimit: half the
  // total size when it is known already (the scan then stops when the high bytes pass it).
  bool Add(std::string_view bytes, std::int64_t highLimit) {
    std::int64_t lineLength = line_length_;
    std::int64_t highBytes = high_bytes_;
    for (const char ch : bytes) {
      const auto c = static_cast<Byte>(ch);
      if (c >= 127) {
        long_or_high_ = true;
        if (++highBytes > highLimit) {
          base64_ = true;
          break;
        }
      } else if (c >= 32) {
        ++lineLength;
      } else if (c == '\r' || c == '\n') {
        if (lineLength > 76) long_or_high_ = true;
        lineLength = 0;
      } else {
        base64_ = true;
        break;
      }
    }
    line_length_ = lineLength;
    high_bytes_ = highBytes;
    return !base64_;
  }

  TclEncodeMethod Result(std::int64_t totalSize) const {
    if (base64_ || high_bytes_ > totalSize / 2) return cmMIMEBase64;
    if (long_or_high_ || line_length_ > 76) return cmMIMEQuotedPrintable;
    return cmNone;
  }

 private:
  std::int64_t line_length_ = 0;  // printable characters since the last line break
  std::int64_t high_bytes_ = 0;
  bool long_or_high_ = false;  // a line longer than 76, or a high byte, was seen
  bool base64_ = false;
};

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
  SourceBlocks blocks(source, destination, size);
  switch (method) {
    case cmMIMEQuotedPrintable:
      EncodeQuotedPrintable(blocks, destination, EffectiveLineLength(), suppress_crlf_,
                            string_mode_);
      break;
    case cmMIMEBase64:
      EncodeBase64(blocks, destination, EffectiveLineLength(), suppress_crlf_, first_line_);
      break;
    case cmUUEncode:
      EncodeUU(blocks, destination, EffectiveLineLength(), suppress_crlf_);
      break;
    default:
      CopyBlocks(blocks, destination);
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
  SourceBlocks blocks(source, destination, size);
  switch (method) {
    case cmMIMEQuotedPrintable: {
      destination.SetSize(0);
      destination.SetPosition(0);
      QpDecoder pass(destination, blocks.Expected(), pending_escape_);
      RunPass(blocks, pass);
      break;
    }
    case cmMIMEBase64:
      DecodeBase64(blocks, destination);
      break;
    case cmUUEncode:
      DecodeUU(blocks, destination);
      break;
    default:
      CopyBlocks(blocks, destination);
      break;
  }
  DoProgress(static_cast<int>(source.Position()), static_cast<int>(size));
}

std::string TclEncoder::EncodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  EncodeString(source, destination, method);
  return destination.TakeData();
}

void TclEncoder::EncodeString(TStream& source, TStream& destination, TclEncodeMethod method) {
  string_mode_ = true;
  try {
    Encode(source, destination, method);
  } catch (...) {
    string_mode_ = false;
    throw;
  }
  string_mode_ = false;
}

std::string TclEncoder::DecodeString(std::string_view text, TclEncodeMethod method) {
  TMemoryStream source{std::string(text)};
  TMemoryStream destination;
  Decode(source, destination, method);
  return destination.TakeData();
}

bool TclEncoder::ReadsSourceTwice(TclEncodeMethod method, bool decoding) const noexcept {
  return decoding ? method == cmMIMEBase64 : method == cmUUEncode && suppress_crlf_;
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(std::string_view text) {
  const auto total = static_cast<std::int64_t>(text.size());
  PreferredEncodingScan scan;
  scan.Add(text, total / 2);
  return scan.Result(total);
}

TclEncodeMethod TclEncoder::GetPreferredEncoding(TStream& source) {
  // The limit of high bytes is known only at the end when the stream grows while it is read, so
  // the scan stops early only at a control byte; the stream is read to its end all the same.
  const std::int64_t rest = source.Size() - source.Position();
  const std::size_t block = std::clamp<std::int64_t>(rest, 1 << 12, 1 << 16);
  const std::unique_ptr<char[]> buffer(new char[block]);
  PreferredEncodingScan scan;
  bool scanning = true;
  for (std::size_t n; (n = source.Read(buffer.get(), block)) > 0;) {
    if (scanning) scanning = scan.Add({buffer.get(), n}, std::numeric_limits<std::int64_t>::max());
  }
  return scan.Result(source.Size());
}

}  // namespace qv
